#include "app/RunStart.h"

#include <utility>

namespace keystrip {

std::u16string AlreadyRunningMessage() {
    return u"Zolva Keystrip is already running. Wait until it has finished, then start it again.";
}

TRunStart::TRunStart(const TRunSwitches& Switches, platform::IOneCopyLock& Lock,
                     std::u16string CommandLine)
    : FExitCodeSwitch(Switches.ExitCode) {
    if (Switches.Help) {
        FAction = TStartAction::ShowHelp;
        return;
    }
    const platform::LockResult lock = Lock.Take();
    if (lock.State == platform::LockState::HeldByAnother) {
        FAction = TStartAction::AlreadyRunning;
        FMessage = AlreadyRunningMessage();
        FOutcome.Note(TRunProblem::AnotherCopyRunning);
        return;
    }

    const std::optional<TLogFormat> format = LogFormatOf(Switches.LogFormat);
    if (Switches.LogFile || Switches.JsonFile) {
        FLog = std::make_unique<TRunLog>(
            TRunFiles{Switches.LogFile, format.value_or(TLogFormat::Plain), Switches.JsonFile},
            std::move(CommandLine), Switches.ExitCode);
        if (lock.State == platform::LockState::Unguarded)
            FLog->Note(TRunProblem::LockUnguarded, lock.Why);
    }
    if (!format) {
        Refuse(TRunProblem::UnknownLogFormat,
               Switches.LogFormat->empty()
                   ? u"no format follows -logformat (the one there is: cmtrace)"
                   : u"\"" + *Switches.LogFormat +
                         u"\" (the one there is: cmtrace; without -logformat the log is plain "
                         u"text)");
        return;
    }
    if (FLog) {
        FLog->Open();
        if (FLog->BadInput()) {
            FAction = TStartAction::Refuse;
            FMessage =
                DescribeProblem(FLog->BadInput()->Problem) + u": " + FLog->BadInput()->Detail;
        }
    }
}

void TRunStart::Refuse(TRunProblem Problem, const std::u16string& Detail) {
    FAction = TStartAction::Refuse;
    FOutcome.Note(Problem, Detail);
    FMessage = DescribeProblem(Problem) + u": " + Detail;
}

int TRunStart::End() {
    if (FAction == TStartAction::Refuse && FLog)
        FLog->Write(nullptr, FOutcome);
    return ProcessExitCode(FOutcome, FExitCodeSwitch);
}

} // namespace keystrip
