// The -log file: its text, its bytes, and writing it.
#include "app/RunLog.h"

#include "common/Utf.h"
#include "platform/SystemInfo.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

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
              u"no window, a -log or -backup file that cannot be written, a -restore file "
              u"that cannot be read or is refused, -restore with -product or -backup, or "
              u"-silent -preview without -log\r\n"
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

TEST(RunLogWriteTest, ReplacesAnOlderLog) {
    TempDir dir;
    const std::u16string file = dir.File(u"keystrip.log");
    testing_support::WriteBytes(std::filesystem::path(file),
                                testing_support::Bytes(std::string(100000, 'x')));
    TRunOutcome outcome;
    TRunLog log(file, u"k.exe", false);
    ASSERT_TRUE(log.Write(nullptr, outcome));
    const std::string text = FileText(file);
    EXPECT_EQ(text.compare(0, 17, "\xEF\xBB\xBFZolva Keystrip"), 0);
    EXPECT_LT(text.size(), 1000u);
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

} // namespace
