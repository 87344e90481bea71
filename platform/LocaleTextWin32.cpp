#include "platform/LocaleText.h"

#include <windows.h>

#include <climits>

namespace keystrip::platform {

namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

} // namespace

bool UserLocaleSameText(const std::u16string& a, const std::u16string& b) {
    if (a.size() > INT_MAX || b.size() > INT_MAX)
        return false;
    // Explicit lengths: an embedded NUL must not end the comparison early.
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Wide(a), static_cast<int>(a.size()),
                          Wide(b), static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::u16string SystemLocaleUpper(const std::u16string& text) {
    if (text.empty() || text.size() > INT_MAX)
        return text;
    const int n = static_cast<int>(text.size());
    const int count =
        LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, Wide(text), n, nullptr, 0);
    if (count <= 0)
        return text;
    std::u16string upper(static_cast<size_t>(count), u'\0');
    LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, Wide(text), n,
                 reinterpret_cast<wchar_t*>(upper.data()), count);
    return upper;
}

} // namespace keystrip::platform
