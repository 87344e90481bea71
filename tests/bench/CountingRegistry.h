// Counts the calls that reach a registry, to report calls per deleted key.
#pragma once

#include "platform/Registry.h"

namespace keystrip::bench {

class CountingRegistry final : public platform::IRegistry {
public:
    explicit CountingRegistry(platform::IRegistry& inner) : inner_(inner) {}
    unsigned long long Calls() const { return calls_; }

    long OpenKey(platform::RegKey parent, const std::u16string& subKey, uint32_t options,
                 uint32_t access, platform::RegKey& result) override {
        ++calls_;
        return inner_.OpenKey(parent, subKey, options, access, result);
    }
    long QueryValue(platform::RegKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override {
        ++calls_;
        return inner_.QueryValue(key, name, type, data, size);
    }
    long QuerySubKeyCount(platform::RegKey key, uint32_t& count) override {
        ++calls_;
        return inner_.QuerySubKeyCount(key, count);
    }
    long EnumSubKey(platform::RegKey key, uint32_t index, std::u16string& name) override {
        ++calls_;
        return inner_.EnumSubKey(key, index, name);
    }
    long DeleteValue(platform::RegKey key, const std::u16string& name) override {
        ++calls_;
        return inner_.DeleteValue(key, name);
    }
    long DeleteKey(platform::RegKey parent, const std::u16string& subKey) override {
        ++calls_;
        return inner_.DeleteKey(parent, subKey);
    }
    long DeleteOpenKey(platform::RegKey key) override {
        ++calls_;
        return inner_.DeleteOpenKey(key);
    }
    long CloseKey(platform::RegKey key) noexcept override {
        ++calls_;
        return inner_.CloseKey(key);
    }

private:
    platform::IRegistry& inner_;
    unsigned long long calls_ = 0;
};

// The shape of the tree: a top key, 99 children and 100 grandchildren each,
// 10,000 keys in all, each with one value.
constexpr int kChildren = 99;
constexpr int kGrandchildren = 100;
constexpr int kKeys = 1 + kChildren + kChildren * kGrandchildren;

} // namespace keystrip::bench
