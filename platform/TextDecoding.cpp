#include "platform/TextDecoding.h"

#include "common/Utf.h"

namespace keystrip::platform {

DetectedEncoding DetectEncoding(const uint8_t* data, size_t size) {
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return {TextEncoding::Utf8, 3};
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
        return {TextEncoding::Utf16LE, 2};
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF)
        return {TextEncoding::Utf16BE, 2};
    return {TextEncoding::Ansi, 0};
}

std::u16string DecodeAs(TextEncoding encoding, const uint8_t* data, size_t size) {
    switch (encoding) {
    case TextEncoding::Utf8:
        return Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        std::u16string text;
        text.reserve(size / 2);
        const bool little = encoding == TextEncoding::Utf16LE;
        for (size_t i = 0; i + 1 < size; i += 2) {
            const unsigned lo = little ? data[i] : data[i + 1];
            const unsigned hi = little ? data[i + 1] : data[i];
            text += static_cast<char16_t>(lo | (hi << 8));
        }
        return text;
    }
    case TextEncoding::Ansi:
        break;
    }
    return DecodeAnsi(data, size);
}

std::u16string DecodeText(const uint8_t* data, size_t size) {
    const DetectedEncoding found = DetectEncoding(data, size);
    return DecodeAs(found.encoding, data + found.markSize, size - found.markSize);
}

} // namespace keystrip::platform
