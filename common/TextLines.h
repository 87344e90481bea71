// Line splitting shared by the definition reader and the interface texts:
// a NUL ends the text; lines break at CR LF, a lone CR and a lone LF.
#pragma once

#include <string>
#include <vector>

namespace keystrip {

// A final line break adds no empty line; an empty text gives no lines.
std::vector<std::u16string> SplitLines(const std::u16string& text);
// Each line followed by CR LF, the last one included.
std::u16string JoinLinesCrLf(const std::vector<std::u16string>& lines);

} // namespace keystrip
