#include "common/TextLines.h"

namespace keystrip {

std::vector<std::u16string> SplitLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    const size_t end = text.find(u'\0');
    const size_t n = end == std::u16string::npos ? text.size() : end;
    size_t start = 0;
    size_t i = 0;
    while (i < n) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.emplace_back(text, start, i - start);
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < n)
        lines.emplace_back(text, start, n - start);
    return lines;
}

std::u16string JoinLinesCrLf(const std::vector<std::u16string>& lines) {
    std::u16string out;
    for (const auto& line : lines) {
        out += line;
        out += u"\r\n";
    }
    return out;
}

} // namespace keystrip
