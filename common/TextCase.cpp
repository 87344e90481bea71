#include "common/TextCase.h"

namespace keystrip {

std::u16string AsciiLower(std::u16string text) {
    for (auto& c : text)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return text;
}

bool AsciiSameText(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return false;
    return AsciiLower(a) == AsciiLower(b);
}

} // namespace keystrip
