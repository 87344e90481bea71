// ASCII-only case folding: the comparison the program uses for names,
// enumeration texts, registry data and switch values. Only A..Z change;
// nothing is trimmed and lengths must match.
#pragma once

#include <string>

namespace keystrip {

std::u16string AsciiLower(std::u16string text);
bool AsciiSameText(const std::u16string& a, const std::u16string& b);

} // namespace keystrip
