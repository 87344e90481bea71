#include "app/RunLog.h"

#include "app/RunJson.h"
#include "common/Errors.h"
#include "common/TextCase.h"
#include "common/Utf.h"
#include "platform/Files.h"

#include <utility>

namespace keystrip {

namespace {

const std::u16string kLineEnd = u"\r\n";

std::u16string TwoDigits(int value) {
    const std::u16string text = U16(std::to_string(value));
    return text.size() < 2 ? u"0" + text : text;
}

// Every line break becomes CR LF, so the file has no other; a NUL would end
// the text for many readers, so it shows as its visible symbol.
std::u16string NormalisedLines(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            out += kLineEnd;
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += kLineEnd;
        } else if (c == u'\0') {
            out += u'\u2400';
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string ProblemText(const TRunNote& note) {
    std::u16string line = u"Problem: " + DescribeProblem(note.Problem);
    // A detail that only repeats the description adds nothing.
    if (!note.Detail.empty() &&
        AsciiLower(note.Detail) != AsciiLower(DescribeProblem(note.Problem)))
        line += u": " + note.Detail;
    return line;
}

// Results and problems: a warning for code 1 or 2, an error for the others.
uint8_t TypeOf(TExitCode code) {
    switch (code) {
    case ecDone:
        return 1;
    case ecRuleFailed:
    case ecUnknownProduct:
        return 2;
    default:
        return 3;
    }
}

uint8_t TypeOf(TActivitySeverity severity) {
    return severity == asWarning ? 2 : severity == asError ? 3 : 1;
}

std::u16string Number(uint64_t value, size_t digits) {
    std::u16string text = U16(std::to_string(value));
    if (text.size() < digits)
        text.insert(0, digits - text.size(), u'0');
    return text;
}

// CMTrace's text: on one line, and never holding the marker that ends it.
std::u16string OneLine(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n' || c == u'\u0085' || c == u'\u2028' || c == u'\u2029') {
            out += u'\u21B5';
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if ((c < 0x20 && c != u'\t') || c == 0x7F) {
            out += static_cast<char16_t>(c == 0x7F ? 0x2421 : 0x2400 + c);
        } else {
            out += c;
        }
    }
    const std::u16string marker = u"]LOG]!>";
    for (size_t at = out.find(marker); at != std::u16string::npos; at = out.find(marker, at))
        out[at + marker.size() - 1] = u'\uFF1E';
    return out;
}

// The name for a file inside a folder, joined the way the folder is written.
std::u16string InFolder(const std::u16string& folder, const std::u16string& leaf) {
    if (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/'))
        return folder + leaf;
    return folder + (folder.find(u'\\') != std::u16string::npos ? u"\\" : u"/") + leaf;
}

std::u16string LeafOf(const std::u16string& name) {
    const size_t slash = name.find_last_of(u"\\/");
    return slash == std::u16string::npos ? name : name.substr(slash + 1);
}

} // namespace

std::u16string FormatLogTime(const platform::LocalTime& Time) {
    const int offset = Time.UtcOffsetMinutes < 0 ? -Time.UtcOffsetMinutes : Time.UtcOffsetMinutes;
    return U16(std::to_string(Time.Year)) + u"-" + TwoDigits(Time.Month) + u"-" +
           TwoDigits(Time.Day) + u" " + TwoDigits(Time.Hour) + u":" + TwoDigits(Time.Minute) +
           u":" + TwoDigits(Time.Second) + (Time.UtcOffsetMinutes < 0 ? u" -" : u" +") +
           TwoDigits(offset / 60) + u":" + TwoDigits(offset % 60);
}

std::vector<TLogEntry> RunLogEntries(const TRunLogHeader& Header, const TActivityLogger* Activity,
                                     const TRunOutcome& Outcome, bool ExitCodeSwitch) {
    TActivityLogger none;
    const TActivityLogger& activity = Activity ? *Activity : none;
    std::vector<TLogEntry> entries;
    // The report's own header: its lines up to the empty fourth one.
    const std::u16string title = activity.Export(TActivityExportOptions{eoHeader});
    for (size_t at = 0; at < title.size();) {
        size_t end = title.find(kLineEnd, at);
        if (end == std::u16string::npos)
            end = title.size();
        if (end > at)
            entries.push_back({1, title.substr(at, end - at), false});
        at = end + kLineEnd.size();
    }
    entries.push_back({1, u"Date: " + Header.Time, false});
    entries.push_back({1, u"Computer: " + Header.Computer, false});
    entries.push_back({1, u"Command line: " + Header.CommandLine, false});

    const TActivityExportOptions shown{eoInfo, eoWarning, eoError};
    bool first = true;
    for (int i = 0; i < activity.Count(); ++i) {
        const TActivityItem& item = *activity.Entries(i);
        if (!TActivityLogger::IsExported(item, shown))
            continue;
        entries.push_back(
            {TypeOf(item.Severity), TActivityLogger::FormatEntry(item, shown), first});
        first = false;
    }

    first = true;
    for (const TRunNote& note : Outcome.Notes()) {
        entries.push_back({TypeOf(ExitCodeOf(note.Problem)), ProblemText(note), first});
        first = false;
    }
    const TExitCode code = ExitCodeOf(Outcome);
    entries.push_back({1,
                       u"Products removed completely: " +
                           U16(std::to_string(Outcome.ProductsRemoved())) + u" of " +
                           U16(std::to_string(Outcome.ProductsRequested())),
                       first});
    entries.push_back(
        {TypeOf(code),
         u"Result: " + U16(std::to_string(static_cast<int>(code))) + u", " + DescribeExitCode(code),
         false});
    std::u16string exit =
        u"Exit code: " + U16(std::to_string(ProcessExitCode(Outcome, ExitCodeSwitch)));
    if (!ExitCodeSwitch)
        exit += u" (without -exitcode)";
    entries.push_back({TypeOf(code), exit, false});
    return entries;
}

std::u16string RunLogText(const TRunLogHeader& Header, const TActivityLogger* Activity,
                          const TRunOutcome& Outcome, bool ExitCodeSwitch) {
    std::u16string text;
    for (const TLogEntry& entry : RunLogEntries(Header, Activity, Outcome, ExitCodeSwitch)) {
        if (entry.NewSection)
            text += kLineEnd;
        text += NormalisedLines(entry.Text) + kLineEnd;
    }
    return text;
}

std::string RunLogBytes(const std::u16string& Text) {
    return "\xEF\xBB\xBF" + Utf16ToUtf8(Text);
}

std::optional<TLogFormat> LogFormatOf(const std::optional<std::u16string>& Switch) {
    if (!Switch)
        return TLogFormat::Plain;
    if (AsciiLower(*Switch) == u"cmtrace")
        return TLogFormat::CmTrace;
    return std::nullopt;
}

std::u16string CmTraceLine(const TLogEntry& Entry, const platform::LocalTime& Time,
                           uint32_t Thread) {
    const int bias = -Time.UtcOffsetMinutes;
    return u"<![LOG[" + OneLine(Entry.Text) + u"]LOG]!><time=\"" + Number(Time.Hour, 2) + u":" +
           Number(Time.Minute, 2) + u":" + Number(Time.Second, 2) + u"." +
           Number(Time.Millisecond, 3) + (bias < 0 ? u"-" : u"+") +
           Number(static_cast<uint64_t>(bias < 0 ? -bias : bias), 3) + u"\" date=\"" +
           Number(Time.Month, 2) + u"-" + Number(Time.Day, 2) + u"-" + Number(Time.Year, 4) +
           u"\" component=\"ZolvaKeystrip\" context=\"\" type=\"" + Number(Entry.Type, 1) +
           u"\" thread=\"" + Number(Thread, 1) + u"\" file=\"\">";
}

std::u16string CmTraceText(const TRunLogHeader& Header, const platform::LocalTime& Time,
                           uint32_t Thread, const TActivityLogger* Activity,
                           const TRunOutcome& Outcome, bool ExitCodeSwitch) {
    std::u16string text;
    for (const TLogEntry& entry : RunLogEntries(Header, Activity, Outcome, ExitCodeSwitch))
        text += CmTraceLine(entry, Time, Thread) + kLineEnd;
    return text;
}

TRunLog::TRunLog(TRunFiles Files, std::u16string CommandLine, bool ExitCodeSwitch)
    : FFiles(std::move(Files)), FCommandLine(std::move(CommandLine)),
      FExitCodeSwitch(ExitCodeSwitch) {}

TRunLog::TRunLog(std::u16string FileName, std::u16string CommandLine, bool ExitCodeSwitch)
    : TRunLog(TRunFiles{std::move(FileName), TLogFormat::Plain, std::nullopt},
              std::move(CommandLine), ExitCodeSwitch) {}

TRunLog::~TRunLog() = default;

void TRunLog::Open() {
    if (FOpened)
        return;
    FOpened = true;
    if (FFiles.Log) {
        std::u16string name = *FFiles.Log;
        const bool folder = !name.empty() && platform::FolderExists(name);
        if (folder)
            name = InFolder(name, u"ZolvaKeystrip.log");
        if (name.empty()) {
            FLogProblem = TRunNote{TRunProblem::LogNotWritten, u"no file name follows -log"};
        } else {
            try {
                FLogFile = std::make_unique<platform::GuardedFile>(name);
                // One generation of history: the older runs go to FILE.old.
                if (FLogFile->Size() > kLogSizeLimit)
                    FLogFile->MoveAside(LeafOf(FLogFile->Name()) + u".old");
            } catch (const platform::EFileRefused& e) {
                FLogFile.reset();
                FLogProblem = TRunNote{TRunProblem::LogNotWritten, Utf8ToUtf16(e.what())};
            } catch (const std::exception& e) {
                FLogFile.reset();
                const TRunNote note{TRunProblem::LogNotWritten, Utf8ToUtf16(e.what())};
                // A folder named for the log that we may not write in is a
                // mistake in the command; a file is as it always was.
                if (folder)
                    FBadInput = note;
                else
                    FLogProblem = note;
            }
        }
    }
    if (FFiles.Result) {
        std::u16string name = *FFiles.Result;
        if (!name.empty() && platform::FolderExists(name))
            name = InFolder(name, u"ZolvaKeystrip.json");
        if (name.empty()) {
            FBadInput = TRunNote{TRunProblem::ResultNotWritten, u"no file name follows -json"};
        } else {
            try {
                FResultFile = std::make_unique<platform::GuardedFile>(name);
            } catch (const std::exception& e) {
                FBadInput = TRunNote{TRunProblem::ResultNotWritten, Utf8ToUtf16(e.what())};
            }
        }
    }
}

void TRunLog::Note(TRunProblem Problem, const std::u16string& Detail) {
    FNotes.push_back(TRunNote{Problem, Detail});
}

void TRunLog::WriteLog(const TActivityLogger* Activity, TRunOutcome& Outcome) {
    if (FLogProblem) {
        Outcome.Note(FLogProblem->Problem, FLogProblem->Detail);
        return;
    }
    if (!FLogFile)
        return;
    try {
        const platform::LocalTime now = platform::CurrentLocalTime();
        const TRunLogHeader header{FormatLogTime(now), platform::ComputerName(), FCommandLine};
        std::u16string text = FFiles.Format == TLogFormat::CmTrace
                                  ? CmTraceText(header, now, platform::CurrentThreadId(), Activity,
                                                Outcome, FExitCodeSwitch)
                                  : RunLogText(header, Activity, Outcome, FExitCodeSwitch);
        // A run appended to earlier ones: no second byte-order mark, and in
        // the plain log an empty line between the runs.
        if (FLogFile->Size() == 0)
            FLogFile->Append(RunLogBytes(text));
        else
            FLogFile->Append(
                Utf16ToUtf8((FFiles.Format == TLogFormat::Plain ? kLineEnd : u"") + text));
    } catch (const std::exception& e) {
        Outcome.Note(TRunProblem::LogNotWritten, Utf8ToUtf16(e.what()));
    }
}

bool TRunLog::Write(const TActivityLogger* Activity, TRunOutcome& Outcome) {
    if (FResult)
        return *FResult;
    // What the run still has to do (unloading hives) belongs in the log.
    Outcome.Finish();
    Open();
    for (const TRunNote& note : FNotes)
        Outcome.Note(note.Problem, note.Detail);
    if (FBadInput)
        Outcome.Note(FBadInput->Problem, FBadInput->Detail);
    WriteLog(Activity, Outcome);
    // After the log, so that it tells whether the log was written.
    if (FResultFile) {
        try {
            const TRunJsonHeader header{platform::CurrentLocalTime(), platform::ComputerName(),
                                        FCommandLine};
            FResultFile->Replace(RunResultJson(header, Activity, Outcome, FExitCodeSwitch));
        } catch (const std::exception& e) {
            Outcome.Note(TRunProblem::ResultNotWritten, Utf8ToUtf16(e.what()));
        }
    }
    // Written once: the files are let go.
    FLogFile.reset();
    FResultFile.reset();
    FResult =
        !Outcome.Has(TRunProblem::LogNotWritten) && !Outcome.Has(TRunProblem::ResultNotWritten);
    return *FResult;
}

} // namespace keystrip
