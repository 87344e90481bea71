// What is settled before the window: the help, a second copy, bad input,
// and the files a run will write.
#include "app/RunStart.h"

#include "app/CommandLine.h"
#include "common/Utf.h"
#include "platform/doubles/FakeOneCopyLock.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace keystrip;
using keystrip::testing_support::ReadBytes;
using keystrip::testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

std::u16string Quoted(const fs::path& path) {
    return u"\"" + path.u16string() + u"\"";
}

std::string Text(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

struct StartRow {
    const char* name;
    std::u16string switches; // "LOG" and "JSON" stand for files in the test's folder
    bool heldByAnother;
    TStartAction action;
    int exitCode;        // what End gives (for Run: 0)
    const char* message; // part of Message()
    bool logWritten;     // by End, for an action that ends the run
};

void PrintTo(const StartRow& row, std::ostream* os) {
    *os << row.name;
}

class RunStartTest : public testing::TestWithParam<StartRow> {
protected:
    std::u16string Line() const {
        std::u16string line = u"k.exe " + GetParam().switches;
        for (const auto& [word, path] : {std::pair<std::u16string, fs::path>{u"LOG", Log()},
                                         {u"JSON", dir.Path() / "run.json"},
                                         {u"NOFOLDER", dir.Path() / "missing" / "run.json"}}) {
            const size_t at = line.find(word);
            if (at != std::u16string::npos)
                line.replace(at, word.size(), Quoted(path));
        }
        return line;
    }
    fs::path Log() const { return dir.Path() / "run.log"; }

    TempDir dir;
    platform::FakeLockTable table;
};

TEST_P(RunStartTest, DecidesBeforeTheWindow) {
    table.Held = GetParam().heldByAnother;
    platform::FakeOneCopyLock lock(table);
    const TRunSwitches switches = ReadRunSwitches(TCommandLine(Line()));
    TRunStart start(switches, lock, Line());
    EXPECT_EQ(start.Action(), GetParam().action);
    EXPECT_NE(start.Message().find(U16(GetParam().message)), std::u16string::npos)
        << Utf16ToUtf8(start.Message());
    // The lock is this copy's only when it goes on, or refuses bad input.
    EXPECT_EQ(table.Held, GetParam().heldByAnother || GetParam().action == TStartAction::Run ||
                              GetParam().action == TStartAction::Refuse);
    if (GetParam().action == TStartAction::Run) {
        EXPECT_EQ(start.Log() != nullptr,
                  switches.LogFile.has_value() || switches.JsonFile.has_value());
        return;
    }
    EXPECT_EQ(start.End(), GetParam().exitCode);
    EXPECT_EQ(fs::exists(Log()), GetParam().logWritten);
    if (GetParam().logWritten) {
        EXPECT_NE(Text(Log()).find(Utf16ToUtf8(start.Message())), std::string::npos) << Text(Log());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunStartTest,
    testing::Values(
        StartRow{"Plain", u"-silent -product A", false, TStartAction::Run, 0, "", false},
        StartRow{"Help", u"-help -log LOG", false, TStartAction::ShowHelp, 0, "", false},
        StartRow{"HelpWhileAnotherCopyRuns", u"-help -exitcode", true, TStartAction::ShowHelp, 0,
                 "", false},
        StartRow{"SecondCopy", u"-silent -product A -exitcode -log LOG", true,
                 TStartAction::AlreadyRunning, 1618, "already running", false},
        StartRow{"SecondCopyWithoutExitCode", u"-product A", true, TStartAction::AlreadyRunning, 0,
                 "already running", false},
        StartRow{"UnknownLogFormat", u"-logformat xml -log LOG -exitcode", false,
                 TStartAction::Refuse, 3, "\"xml\" (the one there is: cmtrace", true},
        StartRow{"LogFormatWithoutValue", u"-exitcode -log LOG -logformat", false,
                 TStartAction::Refuse, 3, "no format follows -logformat", true},
        StartRow{"UnknownLogFormatWithoutExitCode", u"-logformat xml", false, TStartAction::Refuse,
                 0, "-logformat names no format", false},
        StartRow{"CmTraceInAnyCase", u"-logformat CMTrace -log LOG", false, TStartAction::Run, 0,
                 "", false},
        StartRow{"JsonInAMissingFolder", u"-json NOFOLDER -log LOG -exitcode", false,
                 TStartAction::Refuse, 3, "The -json file could not be written", true},
        StartRow{"JsonWithoutName", u"-exitcode -json", false, TStartAction::Refuse, 3,
                 "The -json file could not be written", false},
        StartRow{"Json", u"-json JSON", false, TStartAction::Run, 0, "", false}),
    [](const testing::TestParamInfo<StartRow>& info) { return std::string(info.param.name); });

TEST(RunStartFilesTest, ALogNamingAFolderGoesIntoItAndASquattedLockIsNoted) {
    TempDir dir;
    platform::FakeLockTable table;
    table.Squatter = u"the name is held by an object of S-1-5-21-1-2-3-1001";
    platform::FakeOneCopyLock lock(table);
    const std::u16string line = u"k.exe -log " + Quoted(dir.Path());
    TRunStart start(ReadRunSwitches(TCommandLine(line)), lock, line);
    ASSERT_EQ(start.Action(), TStartAction::Run);
    ASSERT_NE(start.Log(), nullptr);
    // Opened before the run, so that a second copy could not write it.
    EXPECT_TRUE(fs::exists(dir.Path() / "ZolvaKeystrip.log"));
    TRunOutcome outcome;
    EXPECT_TRUE(start.Log()->Write(nullptr, outcome));
    EXPECT_TRUE(outcome.Has(TRunProblem::LockUnguarded));
    EXPECT_EQ(ProcessExitCode(outcome, true), 0);
    EXPECT_NE(Text(dir.Path() / "ZolvaKeystrip.log")
                  .find("Problem: Another program holds the name that keeps a second copy from "
                        "running; this run went on without it: the name is held by an object of "
                        "S-1-5-21-1-2-3-1001\r\n"),
              std::string::npos);
}

} // namespace
