// The command-line reader. It keeps nothing of its own: every query splits
// the process's command line afresh (or the line a test hands in).
//
// Splitting: runs of characters 1..32 separate arguments; a double quote
// opens a stretch that runs to the next double quote or the end of the line,
// blanks included, the quotes themselves dropped; two double quotes where an
// argument would begin are skipped; a backslash is an ordinary character.
// The first argument is the program's path and is neither counted nor
// examined. An argument is never empty: one that would be (a lone double
// quote at the end of the line) ends the list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace keystrip {

class TCommandLine {
public:
    // Reads the process's command line at every query.
    TCommandLine() = default;
    // Reads the given line instead, as if the process had been started with it.
    explicit TCommandLine(std::u16string rawCommandLine) : FRawLine(std::move(rawCommandLine)) {}

    // True when some argument is "-" followed by Switch, letter case ignored
    // under the user's locale.
    bool HasSwitch(const std::u16string& Switch) const;
    // The argument after the last "-Switch" (ASCII letter case ignored) that has
    // one, exactly as written; Default when there is none.
    std::u16string SwitchValue(const std::u16string& Switch, const std::u16string& Default) const;
    // The same, converted by StrToInt32; Default when it does not convert.
    int32_t SwitchValue(const std::u16string& Switch, int32_t Default) const;
    // The number of arguments after the program's path.
    int32_t Switches() const;

    // Arguments 1.. of the line (the program's path left out).
    std::vector<std::u16string> Arguments() const;

private:
    std::optional<std::u16string> FRawLine;
};

// The arguments of a raw command line, the program's path first. A line that
// holds no argument at all (empty, blanks only, a lone double quote) yields
// no arguments, not even a path.
std::vector<std::u16string> SplitCommandLine(const std::u16string& rawCommandLine);

// Leading spaces, an optional sign, then decimal digits or hexadecimal digits
// after "$", "x" or "0x" (x in either case); nothing may follow. Empty when
// the text does not convert or its value is outside the 32-bit signed range.
std::optional<int32_t> StrToInt32(const std::u16string& text);

} // namespace keystrip
