// The program's UTF-16 text at the Win32 edge, where wchar_t is 16-bit.
#pragma once

#include "common/Utf.h"

#include <string>

namespace keystrip {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

inline std::wstring AsWide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string FromWide(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}
inline const wchar_t* WidePtr(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline std::wstring WideFromUtf8(const std::string& text) {
    return AsWide(Utf8ToUtf16(text));
}

} // namespace keystrip
