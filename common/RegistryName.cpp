#include "common/RegistryName.h"

namespace keystrip {

char16_t FoldRegistryChar(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return static_cast<char16_t>(c & ~1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1u) ? c : static_cast<char16_t>(c - 1);
    return c;
}

std::u16string FoldRegistryName(const std::u16string& name) {
    std::u16string folded(name);
    for (auto& c : folded)
        c = FoldRegistryChar(c);
    return folded;
}

bool SameRegistryName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldRegistryChar(a[i]) != FoldRegistryChar(b[i]))
            return false;
    return true;
}

} // namespace keystrip
