// The -log file: its text, its bytes, and writing it.
#include "app/RunLog.h"

#include "common/Utf.h"
#include "platform/SystemInfo.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

using namespace keystrip;
using keystrip::testing_support::ReadBytes;
using keystrip::testing_support::TempDir;

namespace {

const TRunLogHeader kHeader{u"2026-12-10 14:03:22 +01:00", u"PC-0815",
                            u"\"C:\\Tools\\ZolvaKeystrip.exe\" -silent -product \"Zolva A\""};

TEST(RunLogTextTest, IsTheReportBetweenTheRunsHeaderAndItsResult) {
    TActivityLogger activity;
    activity.Log(asDebug, aaStartDetection, u"Zolva A"); // detection never shows
    activity.Log(asInfo, ssStartRemoval, u"Zolva A");
    activity.Log(asInfo, aaKeyDeleted, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\A");
    activity.Log(asWarning, aaNameNotDeleted, u"HKEY_CURRENT_USER\\Run\\A");
    activity.Log(asInfo, ssStopRemoval, u"Failure");
    TRunOutcome outcome;
    outcome.CountRemoval(u"Zolva A", false);

    EXPECT_EQ(RunLogText(kHeader, &activity, outcome, true),
              u"Zolva Keystrip\r\n"
              u"Copyright (c) 2026 Zolva Software AG.\r\n"
              u"All rights reserved.\r\n"
              u"Date: 2026-12-10 14:03:22 +01:00\r\n"
              u"Computer: PC-0815\r\n"
              u"Command line: \"C:\\Tools\\ZolvaKeystrip.exe\" -silent -product \"Zolva A\"\r\n"
              u"\r\n"
              u"Removing product \"Zolva A\"\r\n"
              u"  Key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\A\" deleted\r\n"
              u"  Name \"HKEY_CURRENT_USER\\Run\\A\" not deleted  (access denied or locked)\r\n"
              u"Done: Failure\r\n"
              u"\r\n"
              u"Problem: Not removed completely (a removal rule failed): Zolva A\r\n"
              u"Products removed completely: 0 of 1\r\n"
              u"Result: 1, at least one rule failed (or would, in a preview), a run broke off, "
              u"a user's profile could not be loaded, or not everything could be restored\r\n"
              u"Exit code: 1\r\n");
    // The entries are exactly what the details box shows.
    EXPECT_NE(RunLogText(kHeader, &activity, outcome, true)
                  .find(activity.Export({eoInfo, eoWarning, eoError}) + u"\r\n"),
              std::u16string::npos);
}

TEST(RunLogTextTest, WithoutAnyEntryGoesFromTheHeaderToTheProblems) {
    TRunOutcome outcome;
    outcome.Note(TRunProblem::WindowNotCreated, u"the main window could not be created");
    EXPECT_EQ(RunLogText(kHeader, nullptr, outcome, false),
              u"Zolva Keystrip\r\n"
              u"Copyright (c) 2026 Zolva Software AG.\r\n"
              u"All rights reserved.\r\n"
              u"Date: 2026-12-10 14:03:22 +01:00\r\n"
              u"Computer: PC-0815\r\n"
              u"Command line: \"C:\\Tools\\ZolvaKeystrip.exe\" -silent -product \"Zolva A\"\r\n"
              u"\r\n"
              u"Problem: The main window could not be created\r\n"
              u"Products removed completely: 0 of 0\r\n"
              u"Result: 3, the run could not start its work: no definitions, unreadable terms, "
              u"no window, a -log, -json or -backup file that cannot be written, a -restore "
              u"file that cannot be read or is refused, -restore with -product or -backup, an "
              u"unknown -logformat, or -silent -preview without -log or -json\r\n"
              u"Exit code: 0 (without -exitcode)\r\n");
}

struct LineRow {
    const char* name;
    std::u16string data;
    std::u16string line; // the entry's line in the file
};

void PrintTo(const LineRow& row, std::ostream* os) {
    *os << row.name;
}

class RunLogLineTest : public testing::TestWithParam<LineRow> {};

TEST_P(RunLogLineTest, EveryLineBreakIsCrLf) {
    TActivityLogger activity;
    activity.Log(asInfo, aaNameDeleted, GetParam().data);
    const std::u16string text = RunLogText(kHeader, &activity, TRunOutcome{}, false);
    EXPECT_NE(text.find(u"\r\n" + GetParam().line + u"\r\n"), std::u16string::npos)
        << Utf16ToUtf8(text);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == u'\r') << "lone LF at " << i;
        }
        if (text[i] == u'\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == u'\n') << "lone CR at " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunLogLineTest,
    testing::Values(LineRow{"Plain", u"Run\\A", u"  Name \"Run\\A\" deleted"},
                    LineRow{"LoneLf", u"a\nb", u"  Name \"a\r\nb\" deleted"},
                    LineRow{"LoneCr", u"a\rb", u"  Name \"a\r\nb\" deleted"},
                    LineRow{"CrLfStaysOne", u"a\r\nb", u"  Name \"a\r\nb\" deleted"},
                    LineRow{"CrCrLf", u"a\r\r\nb", u"  Name \"a\r\n\r\nb\" deleted"},
                    LineRow{"NulShowsAsItsSymbol", std::u16string(u"a\0b", 3),
                            u"  Name \"a\u2400b\" deleted"}),
    [](const testing::TestParamInfo<LineRow>& info) { return std::string(info.param.name); });

TEST(RunLogTextTest, BytesAreUtf8AfterAByteOrderMark) {
    EXPECT_EQ(RunLogBytes(u"Gr\u00FC\u00DFe \u20AC\r\n"), "\xEF\xBB\xBF"
                                                          "Gr\xC3\xBC\xC3\x9F"
                                                          "e \xE2\x82\xAC\r\n");
    EXPECT_EQ(RunLogBytes(u""), "\xEF\xBB\xBF");
}

struct TimeRow {
    platform::LocalTime time;
    const char16_t* text;
};

class LogTimeTest : public testing::TestWithParam<TimeRow> {};

TEST_P(LogTimeTest, IsIsoDateTimeWithTheOffsetFromUtc) {
    EXPECT_EQ(FormatLogTime(GetParam().time), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogTimeTest,
    testing::Values(TimeRow{{2026, 12, 10, 14, 3, 22, 60}, u"2026-12-10 14:03:22 +01:00"},
                    TimeRow{{2027, 1, 2, 0, 0, 0, 0}, u"2027-01-02 00:00:00 +00:00"},
                    TimeRow{{2026, 7, 1, 9, 5, 7, -210}, u"2026-07-01 09:05:07 -03:30"},
                    TimeRow{{2026, 7, 1, 23, 59, 59, 345}, u"2026-07-01 23:59:59 +05:45"},
                    TimeRow{{2026, 7, 1, 23, 59, 59, -720}, u"2026-07-01 23:59:59 -12:00"}));

// --- writing -----------------------------------------------------------------

std::string FileText(const std::u16string& name) {
    const std::vector<uint8_t> bytes = ReadBytes(std::filesystem::path(name));
    return std::string(bytes.begin(), bytes.end());
}

TEST(RunLogWriteTest, WritesTheTextOnceWithTheHeaderOfThisMachineAndMoment) {
    TempDir dir;
    const std::u16string file = dir.File(u"keystrip.log");
    TActivityLogger activity;
    activity.Log(asInfo, ssStartRemoval, u"Zolva A");
    TRunOutcome outcome;
    outcome.CountRemoval(u"Zolva A", true);
    TRunLog log(file, u"k.exe -log x", true);
    EXPECT_FALSE(log.Done());
    ASSERT_TRUE(log.Write(&activity, outcome));
    EXPECT_TRUE(log.Done());
    EXPECT_TRUE(outcome.Notes().empty());

    const std::string text = FileText(file);
    ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    const std::u16string body = Utf8ToUtf16(text.substr(3));
    const size_t date = body.find(u"\r\nDate: ");
    ASSERT_NE(date, std::u16string::npos);
    const std::u16string stamp = body.substr(date + 8, body.find(u"\r\n", date + 2) - date - 8);
    EXPECT_EQ(stamp.size(), 26u) << Utf16ToUtf8(stamp); // "YYYY-MM-DD hh:mm:ss +hh:mm"
    EXPECT_EQ(stamp.substr(0, 2), u"20");
    const TRunLogHeader header{stamp, platform::ComputerName(), u"k.exe -log x"};
    EXPECT_FALSE(header.Computer.empty());
    EXPECT_EQ(body, RunLogText(header, &activity, outcome, true));

    // Once only: a second call neither writes again nor changes the outcome.
    std::filesystem::remove(std::filesystem::path(file));
    EXPECT_TRUE(log.Write(&activity, outcome));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(file)));
}

TEST(RunLogWriteTest, ALogOverTheLimitIsMovedAsideFirst) {
    TempDir dir;
    const std::u16string file = dir.File(u"keystrip.log");
    const std::string full(kLogSizeLimit + 1, 'x');
    testing_support::WriteBytes(std::filesystem::path(file), testing_support::Bytes(full));
    testing_support::WriteBytes(std::filesystem::path(file + u".old"),
                                testing_support::Bytes("two runs ago"));
    TRunOutcome outcome;
    TRunLog log(file, u"k.exe", false);
    ASSERT_TRUE(log.Write(nullptr, outcome));
    EXPECT_EQ(FileText(file + u".old"), full);
    EXPECT_EQ(FileText(file).compare(0, 17, "\xEF\xBB\xBFZolva Keystrip"), 0);
    EXPECT_LT(FileText(file).size(), 1000u);

    // At the limit itself it is not moved.
    const std::string limit(kLogSizeLimit, 'y');
    testing_support::WriteBytes(std::filesystem::path(file), testing_support::Bytes(limit));
    TRunLog next(file, u"k.exe", false);
    ASSERT_TRUE(next.Write(nullptr, outcome));
    EXPECT_EQ(FileText(file).compare(0, limit.size(), limit), 0);
    EXPECT_EQ(FileText(file + u".old"), full);
}

struct UnwritableRow {
    const char* name;
    std::u16string leaf; // below the temporary folder; empty: no name at all
    const char16_t* detail;
};

class RunLogUnwritableTest : public testing::TestWithParam<UnwritableRow> {};

TEST_P(RunLogUnwritableTest, NotesTheProblemAndWritesNothing) {
    TempDir dir;
    const std::u16string file = GetParam().leaf.empty() ? u"" : dir.File(GetParam().leaf);
    TRunOutcome outcome;
    outcome.CountRemoval(u"Zolva A", true);
    TRunLog log(file, u"k.exe", true);
    EXPECT_FALSE(log.Write(nullptr, outcome));
    EXPECT_TRUE(log.Done());
    ASSERT_EQ(outcome.Notes().size(), 1u);
    EXPECT_EQ(outcome.Notes()[0].Problem, TRunProblem::LogNotWritten);
    EXPECT_NE(outcome.Notes()[0].Detail.find(GetParam().detail), std::u16string::npos)
        << Utf16ToUtf8(outcome.Notes()[0].Detail);
    EXPECT_EQ(ProcessExitCode(outcome, true), 3);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    // Tried once: a later call does not try again.
    EXPECT_FALSE(log.Write(nullptr, outcome));
    EXPECT_EQ(outcome.Notes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunLogUnwritableTest,
    testing::Values(UnwritableRow{"NoSuchFolder", u"no such folder/keystrip.log", u"keystrip.log"},
                    UnwritableRow{"NoFileName", u"", u"-log"}),
    [](const testing::TestParamInfo<UnwritableRow>& info) { return std::string(info.param.name); });

// --- CMTrace -------------------------------------------------------------------

struct CmTraceRow {
    const char* name;
    TLogEntry entry;
    platform::LocalTime time;
    const char16_t* line;
};

void PrintTo(const CmTraceRow& row, std::ostream* os) {
    *os << row.name;
}

class CmTraceLineTest : public testing::TestWithParam<CmTraceRow> {};

TEST_P(CmTraceLineTest, IsOneLineInTheViewersForm) {
    EXPECT_EQ(CmTraceLine(GetParam().entry, GetParam().time, 4711), GetParam().line);
}

const platform::LocalTime kNoon{2026, 12, 10, 14, 3, 22, 60, 7};

INSTANTIATE_TEST_SUITE_P(
    Table, CmTraceLineTest,
    testing::Values(
        CmTraceRow{"Info",
                   {1, u"Removing product \"Zolva A\"", false},
                   kNoon,
                   u"<![LOG[Removing product \"Zolva A\"]LOG]!><time=\"14:03:22.007-060\" "
                   u"date=\"12-10-2026\" component=\"ZolvaKeystrip\" context=\"\" type=\"1\" "
                   u"thread=\"4711\" file=\"\">"},
        CmTraceRow{"WarningWestOfUtc",
                   {2, u"x", true},
                   {2027, 1, 2, 3, 4, 5, -300, 999},
                   u"<![LOG[x]LOG]!><time=\"03:04:05.999+300\" date=\"01-02-2027\" "
                   u"component=\"ZolvaKeystrip\" context=\"\" type=\"2\" thread=\"4711\" "
                   u"file=\"\">"},
        CmTraceRow{"LineBreaksAndControlsStayOnTheLine",
                   {1, std::u16string(u"a\r\nb\nc\rd\u2028e\u0085f\0g\th\x1b", 17), false},
                   {2026, 1, 1, 0, 0, 0, 0, 0},
                   u"<![LOG[a\u21B5b\u21B5c\u21B5d\u21B5e\u21B5f\u2400g\th\u241B]LOG]!>"
                   u"<time=\"00:00:00.000+000\" date=\"01-01-2026\" component=\"ZolvaKeystrip\" "
                   u"context=\"\" type=\"1\" thread=\"4711\" file=\"\">"},
        CmTraceRow{"TheEndMarkerCannotEndTheTextEarly",
                   {2, u"Key \"x]LOG]!><time=\"]LOG]!>]LOG]!>\" deleted", false},
                   {2026, 1, 1, 0, 0, 0, 0, 0},
                   u"<![LOG[Key \"x]LOG]!\uFF1E<time=\"]LOG]!\uFF1E]LOG]!\uFF1E\" deleted]LOG]!>"
                   u"<time=\"00:00:00.000+000\" date=\"01-01-2026\" component=\"ZolvaKeystrip\" "
                   u"context=\"\" type=\"2\" thread=\"4711\" file=\"\">"}),
    [](const testing::TestParamInfo<CmTraceRow>& info) { return std::string(info.param.name); });

TEST(CmTraceTextTest, HoldsTheEntriesOfThePlainLogOneLineEachTypedBySeverity) {
    TActivityLogger activity;
    activity.Log(asInfo, ssStartRemoval, u"Zolva A");
    activity.Log(asWarning, aaKeyNotDeleted, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\nA");
    activity.Log(asError, aaFatalError, u"4");
    activity.Log(asDebug, aaStartDetection, u"Zolva A"); // never in the log
    TRunOutcome outcome;
    outcome.CountRemoval(u"Zolva A", false);
    outcome.Note(TRunProblem::LogNotWritten, u"x");
    const std::vector<TLogEntry> entries = RunLogEntries(kHeader, &activity, outcome, true);
    std::vector<std::pair<int, std::u16string>> typed;
    typed.reserve(entries.size());
    for (const TLogEntry& entry : entries)
        typed.emplace_back(entry.Type, entry.Text);
    // Header, report, problems (a failed rule warns, a log not written is an error), result.
    ASSERT_EQ(typed.size(), 14u);
    EXPECT_EQ(typed[5], std::make_pair(1, u"Command line: " + kHeader.CommandLine));
    EXPECT_EQ(typed[7].first, 2);
    EXPECT_EQ(typed[8], std::make_pair(3, std::u16string(u"Fatal exception 4 error")));
    EXPECT_EQ(typed[9].first, 2);
    EXPECT_EQ(typed[10].first, 3);
    EXPECT_EQ(typed[13], std::make_pair(3, std::u16string(u"Exit code: 3")));
    // One physical line each: the line break of the key's name stays inside its line.
    const std::u16string text = CmTraceText(kHeader, kNoon, 9, &activity, outcome, true);
    EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'), 14);
    EXPECT_NE(text.find(u"Zolva\u21B5A"), std::u16string::npos);
}

} // namespace
