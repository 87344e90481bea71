#include "app/RunSwitches.h"

namespace keystrip {

TRunSwitches ReadRunSwitches(const TCommandLine& CommandLine) {
    TRunSwitches switches;
    switches.Help = CommandLine.HasSwitch(u"help") || CommandLine.HasSwitch(u"?");
    switches.Silent = CommandLine.HasSwitch(u"silent");
    switches.ExitCode = CommandLine.HasSwitch(u"exitcode");
    if (CommandLine.HasSwitch(u"log"))
        switches.LogFile = CommandLine.SwitchValue(u"log", u"");
    return switches;
}

} // namespace keystrip
