#include "platform/TextDecoding.h"

#include <windows.h>

#include <climits>

namespace keystrip::platform {

std::u16string DecodeAnsi(const uint8_t* data, size_t size) {
    if (size == 0 || size > INT_MAX)
        return {};
    const auto* bytes = reinterpret_cast<const char*>(data);
    const int n = static_cast<int>(size);
    const int count = MultiByteToWideChar(CP_ACP, 0, bytes, n, nullptr, 0);
    if (count <= 0)
        return {};
    std::u16string text(static_cast<size_t>(count), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, n, reinterpret_cast<wchar_t*>(text.data()), count);
    return text;
}

} // namespace keystrip::platform
