// What a run came to: how many products it was asked to remove and how many
// went completely, and every problem met on the way. The window fills it as
// the run goes; the entry point reads it at the end for the log file and for
// the exit code that -exitcode asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

enum class TRunProblem : uint8_t {
    RuleFailed,        // a product was not removed completely (a removal rule failed)
    RunBrokeOff,       // a detection or removal run failed as a whole (error page 1001, 1002)
    UnknownProduct,    // -product named no product the program knows
    NoDefinitions,     // the product definitions could not be loaded (error page 1003)
    TermsUnreadable,   // the terms text is missing or unreadable (error page 1000)
    WindowNotCreated,  // the main window could not be created (no desktop to create it on)
    LogNotWritten,     // the -log file could not be created or written
    BackupNotWritten,  // the -backup file could not be created or written
    ProfileNotLoaded,  // a user's hive could not be loaded (-allusers)
    WouldNotRemove,    // a preview found a rule a removal could not apply in full
    RestoreIncomplete, // a key or value of the backup could not be put back
    RestoreUnreadable, // the -restore file could not be read or is malformed
    PreviewWithoutLog, // -silent -preview without -log: the report would go nowhere
    WouldNotRestore,   // a preview of a restore found a key it could not put back
    RestoreCombined,   // -restore with -product or -backup: nothing was done
};

struct TRunNote {
    TRunProblem Problem;
    std::u16string Detail; // what or why, for the log: a product name, an error text
};

class TRunOutcome {
public:
    // One product went through a removal run; Complete when every rule succeeded.
    // An incomplete one is noted as RuleFailed with its name.
    void CountRemoval(const std::u16string& Product, bool Complete);
    // Records a problem; the same problem with the same detail is recorded once.
    void Note(TRunProblem Problem, const std::u16string& Detail = {});
    bool Has(TRunProblem Problem) const;

    int ProductsRequested() const { return FRequested; }
    int ProductsRemoved() const { return FRemoved; }
    // In the order they were noted.
    const std::vector<TRunNote>& Notes() const { return FNotes; }

private:
    int FRequested = 0;
    int FRemoved = 0;
    std::vector<TRunNote> FNotes;
};

// The exit codes that -exitcode gives.
enum TExitCode : int {
    ecDone = 0,           // every requested product removed completely, or nothing to remove
    ecRuleFailed = 1,     // at least one rule failed, or a run broke off
    ecUnknownProduct = 2, // -product named no known product
    ecCouldNotStart = 3,  // the run could not start its work
};

// The code a single problem stands for.
TExitCode ExitCodeOf(TRunProblem Problem);
// The code of a whole run: the highest code among its problems, so 3 wins over
// 2 and 2 over 1; ecDone when there is none.
TExitCode ExitCodeOf(const TRunOutcome& Outcome);
// What the process returns: the run's code with -exitcode, and 0 without it,
// whatever happened (callers that do not ask rely on 0).
int ProcessExitCode(const TRunOutcome& Outcome, bool ExitCodeSwitch);

// The problem an error page stands for: 1000 terms, 1001 and 1002 a broken
// run, 1003 no definitions. Any other code counts as a broken run.
TRunProblem ProblemOfErrorPage(int Code);

// One line each, in English, for the log file.
std::u16string DescribeProblem(TRunProblem Problem);
std::u16string DescribeExitCode(TExitCode Code);

// The message of the exception being handled, for use inside a catch block;
// empty when there is none or it carries no message.
std::u16string CurrentExceptionText();

} // namespace keystrip
