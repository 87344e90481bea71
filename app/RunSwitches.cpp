#include "app/RunSwitches.h"

namespace keystrip {

TRunSwitches ReadRunSwitches(const TCommandLine& CommandLine) {
    TRunSwitches switches;
    switches.Help = CommandLine.HasSwitch(u"help") || CommandLine.HasSwitch(u"?");
    switches.Silent = CommandLine.HasSwitch(u"silent");
    switches.ExitCode = CommandLine.HasSwitch(u"exitcode");
    if (CommandLine.HasSwitch(u"log"))
        switches.LogFile = CommandLine.SwitchValue(u"log", u"");
    switches.Preview = CommandLine.HasSwitch(u"preview");
    switches.AllUsers = CommandLine.HasSwitch(u"allusers");
    if (CommandLine.HasSwitch(u"backup"))
        switches.BackupFile = CommandLine.SwitchValue(u"backup", u"");
    if (CommandLine.HasSwitch(u"restore"))
        switches.RestoreFile = CommandLine.SwitchValue(u"restore", u"");
    switches.ProductSwitch = CommandLine.HasSwitch(u"product");
    return switches;
}

} // namespace keystrip
