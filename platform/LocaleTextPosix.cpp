// Native build: simple one-to-one case mapping of Latin-1, Latin Extended-A,
// Greek and Cyrillic, which is what the Windows locales do for these letters.
#include "platform/LocaleText.h"

namespace keystrip::platform {

namespace {

char16_t SimpleUpper(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A: pairs, upper case on the even code point, except in
    // 0x139..0x148 and 0x179..0x17E where the pairs start on the odd one.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    if (c == 0x131)
        return u'I';
    if (c >= 0x100 && c <= 0x177 && c != 0x138 && c != 0x149)
        return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
    if (c == 0x17F)
        return u'S';
    // Greek.
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)
        return static_cast<char16_t>(c - 0x20);
    if (c == 0x3C2)
        return 0x3A3;
    if (c == 0x3AC)
        return 0x386;
    if (c >= 0x3AD && c <= 0x3AF)
        return static_cast<char16_t>(c - 0x25);
    if (c == 0x3CC)
        return 0x38C;
    if (c == 0x3CD || c == 0x3CE)
        return static_cast<char16_t>(c - 0x3F);
    // Cyrillic.
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

} // namespace

std::u16string SystemLocaleUpper(const std::u16string& text) {
    std::u16string upper = text;
    for (auto& c : upper)
        c = SimpleUpper(c);
    return upper;
}

bool UserLocaleSameText(const std::u16string& a, const std::u16string& b) {
    return a.size() == b.size() && SystemLocaleUpper(a) == SystemLocaleUpper(b);
}

} // namespace keystrip::platform
