// The log file of -log FILE: the report the result page's details box shows
// (info, warning and error entries), under a header that also tells when,
// on which computer and with which command line the program ran, and above
// the run's problems and result. Written once, when the run ends, as UTF-8
// with a byte-order mark and CR LF after every line.
#pragma once

#include "activity/ActivityLogger.h"
#include "app/RunOutcome.h"
#include "platform/SystemInfo.h"

#include <optional>
#include <string>

namespace keystrip {

struct TRunLogHeader {
    std::u16string Time; // local date and time with the offset from UTC
    std::u16string Computer;
    std::u16string CommandLine;
};

// "2026-12-10 14:03:22 +01:00".
std::u16string FormatLogTime(const platform::LocalTime& Time);

// The whole text, lines joined and ended by CR LF: the report header, the
// header lines of this run, an empty line; the report entries and an empty
// line when there are any; one line per problem; the result. A line break
// inside an entry becomes CR LF as well, and a NUL shows as U+2400.
std::u16string RunLogText(const TRunLogHeader& Header, const TActivityLogger* Activity,
                          const TRunOutcome& Outcome, bool ExitCodeSwitch);

// The text as UTF-8 after a byte-order mark.
std::string RunLogBytes(const std::u16string& Text);

class TRunLog {
public:
    // FileName as given after -log (empty when nothing followed the switch);
    // CommandLine for the header; ExitCodeSwitch for the result line.
    TRunLog(std::u16string FileName, std::u16string CommandLine, bool ExitCodeSwitch);

    const std::u16string& FileName() const { return FFileName; }
    // Whether Write has run, whatever it came to.
    bool Done() const { return FResult.has_value(); }

    // Writes the file, once. Activity may be null (nothing was logged). When
    // the file cannot be written, notes LogNotWritten in Outcome and returns
    // false; the run itself is not affected. Later calls change nothing and
    // return what the first one did.
    bool Write(const TActivityLogger* Activity, TRunOutcome& Outcome);

private:
    std::u16string FFileName;
    std::u16string FCommandLine;
    bool FExitCodeSwitch;
    std::optional<bool> FResult;
};

} // namespace keystrip
