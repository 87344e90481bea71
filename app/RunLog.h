// The files a run writes when it ends: the log of -log FILE and the result
// file of -json FILE.
//
// The log holds the report the result page's details box shows (info,
// warning and error entries), under a header that also tells when, on which
// computer and with which command line the program ran, and above the run's
// problems and result. Each run appends to the file, as UTF-8 (a byte-order
// mark starts the file) with CR LF after every line; a log over 10 MiB is
// first moved to FILE.old. With -logformat cmtrace the same entries are
// written as CMTrace lines, one line each.
//
// Both files are opened before the run starts its work, through
// GuardedFile: a link or a planted file at the name is refused, a name that
// is a folder gets the file ZolvaKeystrip.log (or .json) inside it.
#pragma once

#include "activity/ActivityLogger.h"
#include "app/RunOutcome.h"
#include "platform/Files.h"
#include "platform/SystemInfo.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keystrip {

struct TRunLogHeader {
    std::u16string Time; // local date and time with the offset from UTC
    std::u16string Computer;
    std::u16string CommandLine;
};

// "2026-12-10 14:03:22 +01:00".
std::u16string FormatLogTime(const platform::LocalTime& Time);

// One entry of the log: a header line, an entry of the report, a problem, a
// line of the result.
struct TLogEntry {
    uint8_t Type = 1;        // 1 information, 2 warning, 3 error
    std::u16string Text;     // as logged, line breaks and all
    bool NewSection = false; // an empty line stands before it in the plain log
};

// Every entry of the log, in order: the report header, the header lines of
// this run, the report entries, one entry per problem, the result. Problems
// and results are warnings or errors as their exit code is 1 or 2, or
// higher.
std::vector<TLogEntry> RunLogEntries(const TRunLogHeader& Header, const TActivityLogger* Activity,
                                     const TRunOutcome& Outcome, bool ExitCodeSwitch);

// The whole plain text, lines joined and ended by CR LF, an empty line
// between the header, the report and the result. A line break inside an
// entry becomes CR LF as well, and a NUL shows as U+2400.
std::u16string RunLogText(const TRunLogHeader& Header, const TActivityLogger* Activity,
                          const TRunOutcome& Outcome, bool ExitCodeSwitch);

// The text as UTF-8 after a byte-order mark.
std::string RunLogBytes(const std::u16string& Text);

enum class TLogFormat : uint8_t { Plain, CmTrace };

// The format -logformat names: Plain without the switch, CmTrace for
// "cmtrace" in any letter case; nothing for any other value.
std::optional<TLogFormat> LogFormatOf(const std::optional<std::u16string>& Switch);

// One CMTrace line, without its line end:
//   <![LOG[text]LOG]!><time="HH:mm:ss.fff+BBB" date="MM-dd-yyyy"
//   component="ZolvaKeystrip" context="" type="1" thread="N" file="">
// The time is local, followed by the time zone's bias in minutes (UTC minus
// local time, as Configuration Manager writes it). The text stays on one
// line: every line break in it shows as U+21B5, a NUL and any other control
// character but the tab as its visible symbol (U+2400 + code), and a
// "]LOG]!>" in it, which would end the text early, ends in U+FF1E instead.
std::u16string CmTraceLine(const TLogEntry& Entry, const platform::LocalTime& Time,
                           uint32_t Thread);

// Every entry of RunLogEntries as a CMTrace line, each ended by CR LF. The
// entries carry no time of their own: all take Time.
std::u16string CmTraceText(const TRunLogHeader& Header, const platform::LocalTime& Time,
                           uint32_t Thread, const TActivityLogger* Activity,
                           const TRunOutcome& Outcome, bool ExitCodeSwitch);

// What the switches ask to be written when the run ends.
struct TRunFiles {
    // -log: the argument after it (empty when nothing follows).
    std::optional<std::u16string> Log;
    TLogFormat Format = TLogFormat::Plain;
    // -json: the argument after it.
    std::optional<std::u16string> Result;
};

// Over this size a log is moved to FILE.old before a run writes to it.
constexpr uint64_t kLogSizeLimit = uint64_t{10} * 1024 * 1024;

class TRunLog {
public:
    TRunLog(TRunFiles Files, std::u16string CommandLine, bool ExitCodeSwitch);
    // A plain log alone.
    TRunLog(std::u16string FileName, std::u16string CommandLine, bool ExitCodeSwitch);
    ~TRunLog();
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;

    // Opens the files, once (Write does it too if it has not been done): a
    // name that is a folder gets ZolvaKeystrip.log (.json) inside it, a log
    // over the size limit is moved aside. A log that cannot be opened is
    // noted by Write and the run goes on; a result file that cannot be, or a
    // folder named for the log that cannot be written in, is bad input
    // (BadInput), and the run must not start its work.
    void Open();
    // The problem that ends the run before it starts, if Open met one.
    const std::optional<TRunNote>& BadInput() const { return FBadInput; }

    // A problem met before the window existed, noted into the outcome by Write.
    void Note(TRunProblem Problem, const std::u16string& Detail);

    // Whether Write has run, whatever it came to.
    bool Done() const { return FResult.has_value(); }

    // Writes the files, once, and closes them. Activity may be null (nothing
    // was logged).
    // When a file cannot be written, notes LogNotWritten or ResultNotWritten
    // in Outcome and returns false; the run itself is not affected. Later
    // calls change nothing and return what the first one did.
    bool Write(const TActivityLogger* Activity, TRunOutcome& Outcome);

private:
    void WriteLog(const TActivityLogger* Activity, TRunOutcome& Outcome);

    TRunFiles FFiles;
    std::u16string FCommandLine;
    bool FExitCodeSwitch;
    bool FOpened = false;
    std::unique_ptr<platform::GuardedFile> FLogFile;
    std::optional<TRunNote> FLogProblem;
    std::unique_ptr<platform::GuardedFile> FResultFile;
    std::optional<TRunNote> FBadInput;
    std::vector<TRunNote> FNotes;
    std::optional<bool> FResult;
};

} // namespace keystrip
