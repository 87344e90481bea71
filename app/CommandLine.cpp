#include "app/CommandLine.h"

#include "common/TextCase.h"
#include "common/Utf.h"
#include "platform/LocaleText.h"
#include "platform/ProcessCommandLine.h"

namespace keystrip {

namespace {

// Characters that separate arguments; NUL ends the line.
bool IsSeparator(char16_t c) {
    return c >= 1 && c <= 32;
}

// Reads the argument that starts at or after pos; leaves pos behind it.
std::u16string NextArgument(const std::u16string& line, size_t& pos) {
    const size_t n = line.size();
    auto at = [&](size_t i) -> char16_t { return i < n ? line[i] : u'\0'; };
    for (;;) {
        while (IsSeparator(at(pos)))
            ++pos;
        if (at(pos) == u'"' && at(pos + 1) == u'"')
            pos += 2;
        else
            break;
    }
    std::u16string arg;
    while (at(pos) != u'\0' && !IsSeparator(at(pos))) {
        if (at(pos) == u'"') {
            ++pos;
            while (at(pos) != u'\0' && at(pos) != u'"')
                arg += line[pos++];
            if (at(pos) == u'"')
                ++pos;
        } else {
            arg += line[pos++];
        }
    }
    return arg;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& rawCommandLine) {
    size_t pos = 0;
    std::u16string path = NextArgument(rawCommandLine, pos);
    // A line without any argument, not even the program's path, has nothing
    // after it either: an empty path only comes from the end of the line.
    if (path.empty())
        return {};
    std::vector<std::u16string> args{std::move(path)};
    for (;;) {
        std::u16string arg = NextArgument(rawCommandLine, pos);
        if (arg.empty())
            break;
        args.push_back(std::move(arg));
    }
    return args;
}

std::optional<int32_t> StrToInt32(const std::u16string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return std::nullopt;
    // Accumulated as a magnitude; the limit admits -2^31 but not +2^31.
    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > limit)
            return std::nullopt;
    }
    if (negative)
        return static_cast<int32_t>(-static_cast<int64_t>(value));
    return static_cast<int32_t>(value);
}

std::vector<std::u16string> TCommandLine::Arguments() const {
    std::vector<std::u16string> args =
        SplitCommandLine(FRawLine ? *FRawLine : platform::ProcessCommandLine());
    if (!args.empty())
        args.erase(args.begin());
    return args;
}

bool TCommandLine::HasSwitch(const std::u16string& Switch) const {
    for (const auto& arg : Arguments())
        if (arg[0] == u'-' && platform::UserLocaleSameText(arg.substr(1), Switch))
            return true;
    return false;
}

std::u16string TCommandLine::SwitchValue(const std::u16string& Switch,
                                         const std::u16string& Default) const {
    if (!HasSwitch(Switch))
        return Default;
    const std::vector<std::u16string> args = Arguments();
    const std::u16string wanted = u"-" + AsciiLower(Switch);
    std::u16string result = Default;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (AsciiLower(args[i]) == wanted)
            result = args[i + 1];
    return result;
}

int32_t TCommandLine::SwitchValue(const std::u16string& Switch, int32_t Default) const {
    const std::u16string text = SwitchValue(Switch, U16(std::to_string(Default)));
    return StrToInt32(text).value_or(Default);
}

int32_t TCommandLine::Switches() const {
    return static_cast<int32_t>(Arguments().size());
}

} // namespace keystrip
