// What the entry point settles before the window exists, in this order:
// the help (which shows even while another copy runs), the one-copy lock
// (a second copy ends at once and writes nothing), then the log's format and
// the files the run will write, opened now so that bad input ends the run
// before the registry is touched.
#pragma once

#include "app/RunLog.h"
#include "app/RunOutcome.h"
#include "app/RunSwitches.h"
#include "platform/OneCopyLock.h"

#include <cstdint>
#include <memory>
#include <string>

namespace keystrip {

enum class TStartAction : uint8_t {
    ShowHelp,       // show the help (nothing with -silent), then end with 0
    AlreadyRunning, // another copy is working: end at once
    Refuse,         // bad input: say why and end, nothing removed
    Run,            // go on to the window
};

class TRunStart {
public:
    // Lock is taken here and must outlive the run.
    TRunStart(const TRunSwitches& Switches, platform::IOneCopyLock& Lock,
              std::u16string CommandLine);

    TStartAction Action() const { return FAction; }
    // For AlreadyRunning and Refuse: what to tell a person or the console.
    const std::u16string& Message() const { return FMessage; }
    // The files of -log and -json, opened; null without both switches and
    // when the run ends here.
    TRunLog* Log() const { return FLog.get(); }
    // For an action that ends the run here: writes whatever file could be
    // opened (Refuse only) and gives the process's exit code.
    int End();

private:
    void Refuse(TRunProblem Problem, const std::u16string& Detail);

    TStartAction FAction = TStartAction::Run;
    bool FExitCodeSwitch;
    std::u16string FMessage;
    std::unique_ptr<TRunLog> FLog;
    TRunOutcome FOutcome;
};

// The message of a second copy in the wizard.
std::u16string AlreadyRunningMessage();

} // namespace keystrip
