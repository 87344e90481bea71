// -restore as a run does it, with the switches beside it: -preview writes
// nothing and says what it would write; -product or -backup refuse the run.
// The outcome gives the exit code and the log's problem lines.
#include "app/RunExtras.h"
#include "backup/RegFile.h"
#include "platform/Files.h"
#include "platform/doubles/FakeHives.h"
#include "platform/doubles/FakeResources.h"
#include "platform/doubles/MemoryRegistry.h"

#include "tests/support/LogEntries.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace keystrip::test {
namespace {

using namespace platform;

const std::u16string kProduct = u"SOFTWARE\\Zolva\\Product";

struct RunRow {
    const char* name;
    bool product, backup, preview;
    const char16_t* section; // below HKEY_LOCAL_MACHINE
    bool restored;           // what RunRestore answers
    bool written;            // whether the registry changed
    std::vector<TRunProblem> problems;
    TActivityAction last;   // the entry before the stop entry, or the refusal
    const char16_t* detail; // what that entry ends with
};

void PrintTo(const RunRow& row, std::ostream* os) {
    *os << row.name;
}

class RestoreRunTest : public testing::TestWithParam<RunRow> {};

TEST_P(RestoreRunTest, DoesWhatTheSwitchesTogetherAsk) {
    const RunRow& row = GetParam();
    MemoryRegistry registry;
    registry.SetString(kHkeyLocalMachine, kProduct + u"\\Existing", u"v", u"x");
    registry.CreateLink(kHkeyLocalMachine, kProduct + u"\\Link", kHkeyLocalMachine, u"SOFTWARE");
    FakeResources resources;
    TZolvaProducts products(registry, resources);
    products.Add(std::make_unique<TZolvaProduct>(u"Zolva Product"))
        ->Product->AddRemoval(rkLocalMachine, kProduct, u"", raCompleteKey);
    MemoryRegistry before;
    before.CopyContentFrom(registry);

    testing_support::TempDir dir;
    TRunSwitches switches;
    switches.RestoreFile = dir.File(u"backup.reg");
    switches.ProductSwitch = row.product;
    if (row.backup)
        switches.BackupFile = dir.File(u"new.reg");
    switches.Preview = row.preview;
    const std::u16string text = RegFileHeaderText() + u"[HKEY_LOCAL_MACHINE\\" + row.section +
                                u"]\r\n\"v\"=dword:00000001\r\n\r\n";
    const std::vector<uint8_t> bytes = EncodeRegFileText(text, true);
    WriteFileBytes(*switches.RestoreFile, std::string(bytes.begin(), bytes.end()));

    TRunOutcome outcome;
    TRunExtras extras(switches, registry, nullptr, outcome);
    EXPECT_EQ(extras.RunRestore(products), row.restored);
    EXPECT_EQ(registry.Content().size() != before.Content().size() ||
                  registry.ValuePresent(kHkeyLocalMachine, row.section, u"v") !=
                      before.ValuePresent(kHkeyLocalMachine, row.section, u"v"),
              row.written);
    std::vector<TRunProblem> problems;
    for (const TRunNote& note : outcome.Notes())
        problems.push_back(note.Problem);
    EXPECT_EQ(problems, row.problems);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "new.reg"));

    const auto entries = Entries(*products.Activity());
    ASSERT_FALSE(entries.empty());
    const LogEntry& last =
        entries.back().action == aaStopRestore ? entries[entries.size() - 2] : entries.back();
    EXPECT_EQ(last.action, row.last);
    const std::u16string detail = row.detail;
    EXPECT_EQ(last.data.substr(last.data.size() - std::min(detail.size(), last.data.size())),
              detail);
}

using P = TRunProblem;

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreRunTest,
    testing::Values(RunRow{"Alone",
                           false,
                           false,
                           false,
                           u"SOFTWARE\\Zolva\\Product\\New",
                           true,
                           true,
                           {},
                           aaKeyRestored,
                           u"1 value"},
                    RunRow{"WithProduct",
                           true,
                           false,
                           false,
                           u"SOFTWARE\\Zolva\\Product\\New",
                           false,
                           false,
                           {P::RestoreCombined},
                           aaRestoreRefused,
                           u"-restore cannot be combined with -product"},
                    RunRow{"WithBackup",
                           false,
                           true,
                           false,
                           u"SOFTWARE\\Zolva\\Product\\New",
                           false,
                           false,
                           {P::RestoreCombined},
                           aaRestoreRefused,
                           u"cannot be combined with -backup"},
                    RunRow{"WithBothAndPreview",
                           true,
                           true,
                           true,
                           u"SOFTWARE\\Zolva\\Product\\New",
                           false,
                           false,
                           {P::RestoreCombined},
                           aaRestoreRefused,
                           u"with -product and -backup"},
                    RunRow{"Preview",
                           false,
                           false,
                           true,
                           u"SOFTWARE\\Zolva\\Product\\New",
                           true,
                           false,
                           {},
                           aaKeyWouldBeRestored,
                           u"1 value"},
                    RunRow{"PreviewThroughALink",
                           false,
                           false,
                           true,
                           u"SOFTWARE\\Zolva\\Product\\Link\\X",
                           false,
                           false,
                           {P::WouldNotRestore},
                           aaKeyWouldNotBeRestored,
                           u"leads through a registry link"},
                    RunRow{"OutsideTheRules",
                           false,
                           false,
                           false,
                           u"SOFTWARE\\Zolva\\Other",
                           false,
                           false,
                           {P::RestoreUnreadable},
                           aaRestoreRefused,
                           u"lies outside the keys and values the product rules remove"}),
    [](const testing::TestParamInfo<RunRow>& info) { return std::string(info.param.name); });

// A backup made over every user's profile names their hives by SID: a hive
// that is not loaded is loaded from the profile list's file, restored into
// and unloaded; one that cannot be loaded is not restored, never made a key
// of its own, and the run ends with 1.
TEST(RestoreRunTest, AUsersHiveThatIsNotLoadedIsLoadedForTheRestore) {
    const std::u16string loadable = u"S-1-5-21-1-2-3-1001";
    const std::u16string locked = u"S-1-5-21-1-2-3-1002";
    const std::u16string unlisted = u"S-1-5-21-1-2-3-1003";
    MemoryRegistry registry;
    FakeHives hives(registry);
    hives.AddProfile(loadable, u"C:\\Users\\a\\NTUSER.DAT")
        .CreateKey(kHkeyCurrentUser, u"Software\\Zolva");
    hives.AddProfile(locked, u"C:\\Users\\b\\NTUSER.DAT");
    hives.RefuseLoad(u"C:\\Users\\b\\NTUSER.DAT", 32);
    FakeResources resources;
    TZolvaProducts products(registry, resources);
    products.Add(std::make_unique<TZolvaProduct>(u"Zolva Product"))
        ->Product->AddRemoval(rkCurrentUser, u"Software\\Zolva\\Product", u"", raCompleteKey);

    testing_support::TempDir dir;
    TRunSwitches switches;
    switches.RestoreFile = dir.File(u"backup.reg");
    std::u16string text = RegFileHeaderText();
    for (const std::u16string& sid : {loadable, locked, unlisted})
        text +=
            u"[HKEY_USERS\\" + sid + u"\\Software\\Zolva\\Product]\r\n\"v\"=dword:00000001\r\n\r\n";
    const std::vector<uint8_t> bytes = EncodeRegFileText(text, true);
    WriteFileBytes(*switches.RestoreFile, std::string(bytes.begin(), bytes.end()));
    MemoryRegistry& file = hives.HiveFile(u"C:\\Users\\a\\NTUSER.DAT");

    for (const bool preview : {true, false}) {
        SCOPED_TRACE(preview ? "preview" : "restore");
        switches.Preview = preview;
        TRunOutcome outcome;
        EXPECT_FALSE(TRunExtras(switches, registry, &hives, outcome).RunRestore(products));
        EXPECT_EQ(file.ValuePresent(kHkeyCurrentUser, u"Software\\Zolva\\Product", u"v"), !preview);
        EXPECT_TRUE(hives.Mounted().empty());
        for (const std::u16string& sid : {loadable, locked, unlisted})
            EXPECT_FALSE(registry.KeyPresent(kHkeyUsers, sid)) << Utf16ToUtf8(sid);
        EXPECT_TRUE(outcome.Has(TRunProblem::ProfileNotLoaded));
        EXPECT_TRUE(
            outcome.Has(preview ? TRunProblem::WouldNotRestore : TRunProblem::RestoreIncomplete));
        EXPECT_EQ(ExitCodeOf(outcome), ecRuleFailed);
    }
    const auto entries = Entries(*products.Activity());
    const auto key = [](const std::u16string& sid) {
        return u"HKEY_USERS\\" + sid + u"\\Software\\Zolva\\Product";
    };
    const std::u16string noHive = u"the user's hive could not be loaded";
    EXPECT_NE(std::find(entries.begin(), entries.end(),
                        LogEntry{asInfo, aaKeyRestored, WithDetail(key(loadable), u"1 value")}),
              entries.end());
    for (const std::u16string& sid : {locked, unlisted})
        EXPECT_NE(std::find(entries.begin(), entries.end(),
                            LogEntry{asWarning, aaKeyNotRestored, WithDetail(key(sid), noHive)}),
                  entries.end())
            << Utf16ToUtf8(sid);
    EXPECT_EQ(CountAction(entries, aaProfileNotLoaded), 4u);
}

} // namespace
} // namespace keystrip::test
