// The switches that shape a whole run, read once by the entry point: whether
// to show the help, whether the window shows, the log file, whether the exit
// code tells the result, and what the run does beyond removing: a preview, a
// backup, a restore, every user's profile. (-product is read by the window
// itself.)
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
    bool Preview = false;  // -preview: the removal step only shows what it would delete
    bool AllUsers = false; // -allusers: the rules on HKEY_CURRENT_USER go to every user
    // -backup and -restore: the argument after each, as for -log.
    std::optional<std::u16string> BackupFile;
    std::optional<std::u16string> RestoreFile;
    // -product is given (the window reads its value): -restore refuses it.
    bool ProductSwitch = false;
};

TRunSwitches ReadRunSwitches(const TCommandLine& CommandLine);

} // namespace keystrip
