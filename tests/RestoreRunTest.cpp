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
#include "tests/support/RecordedBackup.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <optional>

namespace keystrip::test {
namespace {

using namespace platform;

const std::u16string kProduct = u"SOFTWARE\\Zolva\\Product";

// A product whose one rule removes a key, the -restore file and a run of it.
struct RestoreRun {
    RestoreRun(TZolvaProductRootKey root, const std::u16string& key) {
        products.Add(std::make_unique<TZolvaProduct>(u"Zolva Product"))
            ->Product->AddRemoval(root, key, u"", raCompleteKey);
        switches.RestoreFile = dir.File(u"backup.reg");
    }
    // The file: a section with one value for each path, as a backup of this
    // program holds them, recorded in the registry's ledger.
    void Write(std::initializer_list<std::u16string> paths) {
        std::u16string text;
        for (const std::u16string& path : paths)
            text += u"[" + path + u"]\r\n\"v\"=dword:00000001\r\n\r\n";
        RecordedBackup backup(registry, kProgramKey, &registry);
        const std::vector<uint8_t>& bytes = backup.Write({text});
        WriteFileBytes(*switches.RestoreFile, std::string(bytes.begin(), bytes.end()));
    }
    bool Run(TRunOutcome& outcome, IHives* hives = nullptr) {
        TRunExtras extras(switches, registry, hives, outcome);
        extras.SetKeySecurity(security);
        return extras.RunRestore(products);
    }

    MemoryRegistry registry;
    FakeKeySecurity security{registry};
    FakeResources resources;
    TZolvaProducts products{registry, resources};
    testing_support::TempDir dir;
    TRunSwitches switches;
};

struct RunRow {
    const char* name;
    bool product, backup, preview;
    const char16_t* section;            // below HKEY_LOCAL_MACHINE
    bool restored;                      // what RunRestore answers
    bool written;                       // whether the registry changed
    std::optional<TRunProblem> problem; // the run's one problem, if any
    TActivityAction last;               // the entry before the stop entry, or the refusal
    const char16_t* detail;             // what that entry ends with
};

void PrintTo(const RunRow& row, std::ostream* os) {
    *os << row.name;
}

class RestoreRunTest : public testing::TestWithParam<RunRow> {};

TEST_P(RestoreRunTest, DoesWhatTheSwitchesTogetherAsk) {
    const RunRow& row = GetParam();
    RestoreRun run(rkLocalMachine, kProduct);
    MemoryRegistry& registry = run.registry;
    registry.SetString(kHkeyLocalMachine, kProduct + u"\\Existing", u"v", u"x");
    registry.CreateLink(kHkeyLocalMachine, kProduct + u"\\Link", kHkeyLocalMachine, u"SOFTWARE");
    run.switches.ProductSwitch = row.product;
    if (row.backup)
        run.switches.BackupFile = run.dir.File(u"new.reg");
    run.switches.Preview = row.preview;
    run.Write({u"HKEY_LOCAL_MACHINE\\" + std::u16string(row.section)});
    MemoryRegistry before;
    before.CopyContentFrom(registry);

    TRunOutcome outcome;
    EXPECT_EQ(run.Run(outcome), row.restored);
    EXPECT_EQ(registry.Content().size() != before.Content().size() ||
                  registry.ValuePresent(kHkeyLocalMachine, row.section, u"v") !=
                      before.ValuePresent(kHkeyLocalMachine, row.section, u"v"),
              row.written);
    std::vector<TRunProblem> problems;
    for (const TRunNote& note : outcome.Notes())
        problems.push_back(note.Problem);
    EXPECT_EQ(problems,
              row.problem ? std::vector<TRunProblem>{*row.problem} : std::vector<TRunProblem>{});
    EXPECT_FALSE(std::filesystem::exists(run.dir.Path() / "new.reg"));

    const auto entries = Entries(*run.products.Activity());
    ASSERT_FALSE(entries.empty());
    const LogEntry& last =
        entries.back().action == aaStopRestore ? entries[entries.size() - 2] : entries.back();
    EXPECT_EQ(last.action, row.last);
    const std::u16string detail = row.detail;
    EXPECT_EQ(last.data.substr(last.data.size() - std::min(detail.size(), last.data.size())),
              detail);
}

using P = TRunProblem;
const char16_t* const kNew = u"SOFTWARE\\Zolva\\Product\\New";

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreRunTest,
    testing::Values(RunRow{"Alone", false, false, false, kNew, true, true, std::nullopt,
                           aaKeyRestored, u"1 value"},
                    RunRow{"WithProduct", true, false, false, kNew, false, false,
                           P::RestoreCombined, aaRestoreRefused,
                           u"-restore cannot be combined with -product"},
                    RunRow{"WithBackup", false, true, false, kNew, false, false, P::RestoreCombined,
                           aaRestoreRefused, u"cannot be combined with -backup"},
                    RunRow{"WithBothAndPreview", true, true, true, kNew, false, false,
                           P::RestoreCombined, aaRestoreRefused, u"with -product and -backup"},
                    RunRow{"Preview", false, false, true, kNew, true, false, std::nullopt,
                           aaKeyWouldBeRestored, u"1 value"},
                    RunRow{"PreviewThroughALink", false, false, true,
                           u"SOFTWARE\\Zolva\\Product\\Link\\X", false, false, P::WouldNotRestore,
                           aaKeyWouldNotBeRestored, u"leads through a registry link"},
                    RunRow{"OutsideTheRules", false, false, false, u"SOFTWARE\\Zolva\\Other", false,
                           false, P::RestoreUnreadable, aaRestoreRefused,
                           u"lies outside the keys and values the product rules remove"}),
    [](const testing::TestParamInfo<RunRow>& info) { return std::string(info.param.name); });

// A backup made over every user's profile names their hives by SID: a hive
// that is not loaded is loaded from the profile list's file, restored into
// and unloaded; one that cannot be loaded is not restored, never made a key
// of its own, and the run ends with 1.
TEST(RestoreRunTest, AUsersHiveThatIsNotLoadedIsLoadedForTheRestore) {
    const std::u16string sids[] = {u"S-1-5-21-1-2-3-1001", u"S-1-5-21-1-2-3-1002",
                                   u"S-1-5-21-1-2-3-1003"}; // loadable, locked, unlisted
    const auto key = [](const std::u16string& sid) {
        return u"HKEY_USERS\\" + sid + u"\\Software\\Zolva\\Product";
    };
    RestoreRun run(rkCurrentUser, u"Software\\Zolva\\Product");
    FakeHives hives(run.registry);
    MemoryRegistry& file = hives.AddProfile(sids[0], u"C:\\Users\\a\\NTUSER.DAT");
    file.CreateKey(kHkeyCurrentUser, u"Software\\Zolva");
    hives.AddProfile(sids[1], u"C:\\Users\\b\\NTUSER.DAT");
    hives.RefuseLoad(u"C:\\Users\\b\\NTUSER.DAT", 32);
    run.Write({key(sids[0]), key(sids[1]), key(sids[2])});

    for (const bool preview : {true, false}) {
        SCOPED_TRACE(preview ? "preview" : "restore");
        run.switches.Preview = preview;
        TRunOutcome outcome;
        EXPECT_FALSE(run.Run(outcome, &hives));
        EXPECT_EQ(file.ValuePresent(kHkeyCurrentUser, u"Software\\Zolva\\Product", u"v"), !preview);
        EXPECT_TRUE(hives.Mounted().empty());
        for (const std::u16string& sid : sids)
            EXPECT_FALSE(run.registry.KeyPresent(kHkeyUsers, sid)) << Utf16ToUtf8(sid);
        EXPECT_TRUE(outcome.Has(TRunProblem::ProfileNotLoaded));
        EXPECT_TRUE(
            outcome.Has(preview ? TRunProblem::WouldNotRestore : TRunProblem::RestoreIncomplete));
        EXPECT_EQ(ExitCodeOf(outcome), ecRuleFailed);
    }
    const auto entries = Entries(*run.products.Activity());
    const auto logged = [&](const LogEntry& entry) {
        return std::find(entries.begin(), entries.end(), entry) != entries.end();
    };
    EXPECT_TRUE(logged({asInfo, aaKeyRestored, WithDetail(key(sids[0]), u"1 value")}));
    for (const std::u16string& sid : {sids[1], sids[2]})
        EXPECT_TRUE(logged({asWarning, aaKeyNotRestored,
                            WithDetail(key(sid), u"the user's hive could not be loaded")}))
            << Utf16ToUtf8(sid);
    EXPECT_EQ(CountAction(entries, aaProfileNotLoaded), 4u);
}

} // namespace
} // namespace keystrip::test
