// Native build: the arguments of /proc/self/cmdline joined with blanks, each
// one holding a blank or control character quoted, so that splitting gives
// them back (a double quote inside an argument cannot be written).
#include "platform/ProcessCommandLine.h"

#include "common/Utf.h"

#include <fstream>
#include <iterator>
#include <string>

namespace keystrip::platform {

std::u16string ProcessCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string line;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos)
            end = raw.size();
        const std::string arg = raw.substr(start, end - start);
        bool needsQuotes = arg.empty();
        for (unsigned char c : arg)
            if (c <= 32)
                needsQuotes = true;
        if (!line.empty())
            line += ' ';
        line += needsQuotes ? '"' + arg + '"' : arg;
        start = end + 1;
    }
    return Utf8ToUtf16(line);
}

} // namespace keystrip::platform
