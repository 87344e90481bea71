// What -help (or -?) shows: every switch with its argument and one line, as a
// table, then the exit codes of -exitcode. A new switch is a new row.
#pragma once

#include <string>
#include <vector>

namespace keystrip {

struct TSwitchHelp {
    const char16_t* Switch;   // with its dash, e.g. "-log"; alternatives after ", "
    const char16_t* Argument; // what follows it, e.g. "FILE"; empty for none
    const char16_t* Line;
};

// The rows, in the order they are listed.
const std::vector<TSwitchHelp>& SwitchHelpRows();

// Switches whose effect together is not the sum of their own: the
// combination as written on a command line, and what it does.
struct TSwitchCombination {
    const char16_t* Switches; // e.g. "-restore FILE -preview"
    const char16_t* Line;
};
const std::vector<TSwitchCombination>& SwitchCombinationRows();

// The whole text, lines joined by CR LF: a usage line; per switch its name
// and argument, then its line after a tab on the next line; the combinations
// the same way; then one line per exit code.
std::u16string HelpText();

} // namespace keystrip
