#include "app/RunLog.h"

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

std::u16string ProblemLine(const TRunNote& note) {
    std::u16string line = u"Problem: " + DescribeProblem(note.Problem);
    // A detail that only repeats the description adds nothing.
    if (!note.Detail.empty() &&
        AsciiLower(note.Detail) != AsciiLower(DescribeProblem(note.Problem)))
        line += u": " + note.Detail;
    return NormalisedLines(line);
}

} // namespace

std::u16string FormatLogTime(const platform::LocalTime& Time) {
    const int offset = Time.UtcOffsetMinutes < 0 ? -Time.UtcOffsetMinutes : Time.UtcOffsetMinutes;
    return U16(std::to_string(Time.Year)) + u"-" + TwoDigits(Time.Month) + u"-" +
           TwoDigits(Time.Day) + u" " + TwoDigits(Time.Hour) + u":" + TwoDigits(Time.Minute) +
           u":" + TwoDigits(Time.Second) + (Time.UtcOffsetMinutes < 0 ? u" -" : u" +") +
           TwoDigits(offset / 60) + u":" + TwoDigits(offset % 60);
}

std::u16string RunLogText(const TRunLogHeader& Header, const TActivityLogger* Activity,
                          const TRunOutcome& Outcome, bool ExitCodeSwitch) {
    // The report's own header ends with its empty fourth line, i.e. in CR LF.
    TActivityLogger none;
    const TActivityLogger& activity = Activity ? *Activity : none;
    std::u16string text = activity.Export(TActivityExportOptions{eoHeader});
    text += u"Date: " + Header.Time + kLineEnd;
    text += NormalisedLines(u"Computer: " + Header.Computer) + kLineEnd;
    text += NormalisedLines(u"Command line: " + Header.CommandLine) + kLineEnd;
    text += kLineEnd;

    const std::u16string report =
        activity.Export(TActivityExportOptions{eoInfo, eoWarning, eoError});
    if (!report.empty())
        text += NormalisedLines(report) + kLineEnd + kLineEnd;

    for (const TRunNote& note : Outcome.Notes())
        text += ProblemLine(note) + kLineEnd;
    const TExitCode code = ExitCodeOf(Outcome);
    text += u"Products removed completely: " + U16(std::to_string(Outcome.ProductsRemoved())) +
            u" of " + U16(std::to_string(Outcome.ProductsRequested())) + kLineEnd;
    text += u"Result: " + U16(std::to_string(static_cast<int>(code))) + u", " +
            DescribeExitCode(code) + kLineEnd;
    text += u"Exit code: " + U16(std::to_string(ProcessExitCode(Outcome, ExitCodeSwitch)));
    if (!ExitCodeSwitch)
        text += u" (without -exitcode)";
    text += kLineEnd;
    return text;
}

std::string RunLogBytes(const std::u16string& Text) {
    return "\xEF\xBB\xBF" + Utf16ToUtf8(Text);
}

TRunLog::TRunLog(std::u16string FileName, std::u16string CommandLine, bool ExitCodeSwitch)
    : FFileName(std::move(FileName)), FCommandLine(std::move(CommandLine)),
      FExitCodeSwitch(ExitCodeSwitch) {}

bool TRunLog::Write(const TActivityLogger* Activity, TRunOutcome& Outcome) {
    if (FResult)
        return *FResult;
    // What the run still has to do (unloading hives) belongs in the log.
    Outcome.Finish();
    FResult = false;
    if (FFileName.empty()) {
        Outcome.Note(TRunProblem::LogNotWritten, u"no file name follows -log");
        return false;
    }
    const TRunLogHeader header{FormatLogTime(platform::CurrentLocalTime()),
                               platform::ComputerName(), FCommandLine};
    try {
        platform::WriteFileBytes(
            FFileName, RunLogBytes(RunLogText(header, Activity, Outcome, FExitCodeSwitch)));
        FResult = true;
    } catch (const std::exception& e) {
        Outcome.Note(TRunProblem::LogNotWritten, Utf8ToUtf16(e.what()));
    }
    return *FResult;
}

} // namespace keystrip
