#include "app/RunOutcome.h"

#include "common/Utf.h"

#include <algorithm>
#include <exception>

namespace keystrip {

void TRunOutcome::CountRemoval(const std::u16string& Product, bool Complete) {
    ++FRequested;
    if (Complete)
        ++FRemoved;
    else
        Note(TRunProblem::RuleFailed, Product);
}

void TRunOutcome::Note(TRunProblem Problem, const std::u16string& Detail) {
    for (const TRunNote& note : FNotes)
        if (note.Problem == Problem && note.Detail == Detail)
            return;
    FNotes.push_back(TRunNote{Problem, Detail});
}

bool TRunOutcome::Has(TRunProblem Problem) const {
    return std::any_of(FNotes.begin(), FNotes.end(),
                       [Problem](const TRunNote& note) { return note.Problem == Problem; });
}

TExitCode ExitCodeOf(TRunProblem Problem) {
    switch (Problem) {
    case TRunProblem::RuleFailed:
    case TRunProblem::RunBrokeOff:
    case TRunProblem::ProfileNotLoaded:
    case TRunProblem::WouldNotRemove:
    case TRunProblem::RestoreIncomplete:
    case TRunProblem::WouldNotRestore:
        return ecRuleFailed;
    case TRunProblem::UnknownProduct:
        return ecUnknownProduct;
    case TRunProblem::NoDefinitions:
    case TRunProblem::TermsUnreadable:
    case TRunProblem::WindowNotCreated:
    case TRunProblem::LogNotWritten:
    case TRunProblem::BackupNotWritten:
    case TRunProblem::RestoreUnreadable:
    case TRunProblem::PreviewWithoutLog:
    case TRunProblem::RestoreCombined:
        return ecCouldNotStart;
    }
    return ecCouldNotStart;
}

TExitCode ExitCodeOf(const TRunOutcome& Outcome) {
    TExitCode code = ecDone;
    for (const TRunNote& note : Outcome.Notes())
        code = std::max(code, ExitCodeOf(note.Problem));
    return code;
}

int ProcessExitCode(const TRunOutcome& Outcome, bool ExitCodeSwitch) {
    return ExitCodeSwitch ? ExitCodeOf(Outcome) : 0;
}

TRunProblem ProblemOfErrorPage(int Code) {
    switch (Code) {
    case 1000:
        return TRunProblem::TermsUnreadable;
    case 1003:
        return TRunProblem::NoDefinitions;
    default:
        return TRunProblem::RunBrokeOff;
    }
}

std::u16string DescribeProblem(TRunProblem Problem) {
    switch (Problem) {
    case TRunProblem::RuleFailed:
        return u"Not removed completely (a removal rule failed)";
    case TRunProblem::RunBrokeOff:
        return u"The run broke off";
    case TRunProblem::UnknownProduct:
        return u"No product of this name is known";
    case TRunProblem::NoDefinitions:
        return u"The product definitions could not be loaded";
    case TRunProblem::TermsUnreadable:
        return u"The terms of use could not be read";
    case TRunProblem::WindowNotCreated:
        return u"The main window could not be created";
    case TRunProblem::LogNotWritten:
        return u"The log file could not be written";
    case TRunProblem::BackupNotWritten:
        return u"The backup file could not be written";
    case TRunProblem::ProfileNotLoaded:
        return u"A user's profile could not be loaded";
    case TRunProblem::WouldNotRemove:
        return u"A removal would not be complete";
    case TRunProblem::RestoreIncomplete:
        return u"Not everything in the backup could be restored";
    case TRunProblem::RestoreUnreadable:
        return u"The backup to restore could not be read or was refused";
    case TRunProblem::PreviewWithoutLog:
        return u"-preview with -silent needs -log FILE for its report; nothing was written";
    case TRunProblem::WouldNotRestore:
        return u"A restore would not be complete";
    case TRunProblem::RestoreCombined:
        return u"-restore cannot be combined with -product or -backup; nothing was done";
    }
    return u"Unknown problem";
}

std::u16string DescribeExitCode(TExitCode Code) {
    switch (Code) {
    case ecDone:
        return u"every requested product removed completely, or nothing to remove";
    case ecRuleFailed:
        return u"at least one rule failed (or would, in a preview), a run broke off, a user's "
               u"profile could not be loaded, or not everything could be restored";
    case ecUnknownProduct:
        return u"-product named no known product";
    case ecCouldNotStart:
        return u"the run could not start its work: no definitions, unreadable terms, no "
               u"window, a -log or -backup file that cannot be written, a -restore file that "
               u"cannot be read or is refused, -restore with -product or -backup, or -silent "
               u"-preview without -log";
    }
    return u"";
}

std::u16string CurrentExceptionText() {
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return u"";
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        return Utf8ToUtf16(e.what());
    } catch (...) {
        return u"";
    }
}

} // namespace keystrip
