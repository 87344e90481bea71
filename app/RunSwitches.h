// The switches that shape a whole run, read once by the entry point: whether
// to show the help, whether the window shows, the log file and whether the
// exit code tells the result. (-product is read by the window itself.)
#pragma once

#include "app/CommandLine.h"

#include <optional>
#include <string>

namespace keystrip {

struct TRunSwitches {
    bool Help = false;     // -help or -?
    bool Silent = false;   // -silent
    bool ExitCode = false; // -exitcode
    // -log: the argument after it; empty when nothing follows the switch.
    std::optional<std::u16string> LogFile;
};

TRunSwitches ReadRunSwitches(const TCommandLine& CommandLine);

} // namespace keystrip
