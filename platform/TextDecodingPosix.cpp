// Native build: the system ANSI code page is taken to be Windows-1252.
#include "platform/TextDecoding.h"

namespace keystrip::platform {

namespace {

// 0x80..0x9F of Windows-1252; the five undefined bytes map to themselves,
// as MultiByteToWideChar does for them.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

std::u16string DecodeAnsi(const uint8_t* data, size_t size) {
    std::u16string text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        text += (b >= 0x80 && b < 0xA0) ? kHigh1252[b - 0x80] : static_cast<char16_t>(b);
    }
    return text;
}

} // namespace keystrip::platform
