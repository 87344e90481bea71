// Conversions between UTF-16 (the program's text) and UTF-8 (the JSON
// library's and the native build's byte form).
#pragma once

#include <string>

namespace keystrip {

// Unpaired surrogates become U+FFFD, so the result is always valid UTF-8.
std::string Utf16ToUtf8(const std::u16string& text);
// Malformed sequences become U+FFFD, one per offending byte.
std::u16string Utf8ToUtf16(const std::string& text);
// Convenience for tests and diagnostics: ASCII/UTF-8 literal to UTF-16.
inline std::u16string U16(const std::string& text) {
    return Utf8ToUtf16(text);
}

} // namespace keystrip
