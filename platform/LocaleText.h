// Locale-aware text comparison, for the two places where the program does not
// use its plain ASCII case folding: the presence test of a command-line switch
// (user's locale) and the interface-text lookups (system locale). On Windows
// these are CompareStringW and LCMapStringW; the native build folds the
// common alphabets by a fixed table so that behaviour stays comparable.
#pragma once

#include <string>

namespace keystrip::platform {

// Equal when only letter case differs, under the user's default locale
// (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE) on Windows).
bool UserLocaleSameText(const std::u16string& a, const std::u16string& b);

// The text upper-cased by the system locale's rules
// (LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE) on Windows).
std::u16string SystemLocaleUpper(const std::u16string& text);

} // namespace keystrip::platform
