// Decoding bytes (files, resources) into UTF-16 text. A leading byte-order
// mark selects the encoding and is dropped, tested in the order UTF-8
// (EF BB BF), UTF-16 LE (FF FE), UTF-16 BE (FE FF); without one the bytes are
// read in the system ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keystrip::platform {

enum class TextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct DetectedEncoding {
    TextEncoding encoding;
    size_t markSize; // bytes of the byte-order mark, 0 without one
};

DetectedEncoding DetectEncoding(const uint8_t* data, size_t size);

std::u16string DecodeText(const uint8_t* data, size_t size);
inline std::u16string DecodeText(const std::vector<uint8_t>& bytes) {
    return DecodeText(bytes.data(), bytes.size());
}

// Bytes in the given encoding, without a mark. An odd last byte of UTF-16 is dropped.
std::u16string DecodeAs(TextEncoding encoding, const uint8_t* data, size_t size);

// The system ANSI code page: MultiByteToWideChar(CP_ACP) on Windows,
// Windows-1252 in the native build.
std::u16string DecodeAnsi(const uint8_t* data, size_t size);

} // namespace keystrip::platform
