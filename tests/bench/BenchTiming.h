// What the preview benchmarks share: medians of timed runs, and planted keys.
#pragma once

#include "platform/Registry.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace keystrip::bench {

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Run> double Milliseconds(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Creates the key (and its path) and sets a string value on it.
inline void Plant(platform::IRegistry& registry, platform::RegKey root, const std::u16string& path,
                  const std::u16string& name) {
    platform::RegKey key = 0;
    bool created = false;
    if (registry.CreateKey(root, path, 0, platform::kKeyAllAccess, key, created) !=
        platform::kErrorSuccess)
        return;
    registry.SetValue(key, name, platform::kRegSz, {'x', 0, 0, 0});
    registry.CloseKey(key);
}

} // namespace keystrip::bench
