// What a restore may write, whatever the file says: only where a backup of
// the removal rules can have taken something from, never through a link,
// never over an existing link or key with a link, and nothing at all in a
// preview. The registry cases run against the in-memory registry and, in the
// Windows build, against the real one.
#include "backup/BackupFile.h"
#include "backup/RegFile.h"
#include "common/Utf.h"
#include "rules/RegistryRestore.h"
#include "rules/RestoreTargets.h"
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace keystrip::test {
namespace {

using namespace platform;

// --- Where a section may go ------------------------------------------------------

const std::u16string kRun = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::u16string kUser = u"HKEY_USERS\\S-1-5-21-1-2-3-1001";

TRestoreTargets ShippedLikeTargets() {
    TRestoreTargets targets;
    const TZolvaProductRemoveRule rules[] = {
        {rkLocalMachine, u"SOFTWARE\\Zolva\\Office Suite", u"", raCompleteKey},
        {rkLocalMachine, kRun, u"ZolvaOfficeQuickStart", raNameOnly},
        {rkLocalMachine, u"SYSTEM\\CurrentControlSet\\Services\\ZolvaOfficeUpdate", u"",
         raCompleteKey},
        {rkCurrentUser, u"\\Software\\\\Zolva\\Office Suite\\", u"", raCompleteKey},
        {rkCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"ZolvaOfficeUpdate",
         raNameOnly},
        {rkCurrentUser, u"Software\\Classes\\Zolva.Doc", u"", raCompleteKey},
        {rkClassesRoot, u".zwd", u"", raCompleteKey},
        {rkUsers, u".DEFAULT\\Software\\Zolva\\Office Suite", u"", raCompleteKey},
        // Rules the removal refuses add nothing.
        {rkLocalMachine, u"", u"", raCompleteKey},
        {rkLocalMachine, u"\\", u"", raCompleteKey},
        {rkLocalMachine, std::u16string(u"SOFTWARE\0Zolva", 14), u"", raCompleteKey},
    };
    for (const auto& rule : rules)
        targets.Add(rule);
    return targets;
}

TRegFileValue Text(const std::u16string& name) {
    return {name, kRegSz, Utf16Bytes(u"x" + std::u16string(1, u'\0'))};
}
TRegFileValue LinkValue() {
    return {kSymbolicLinkValueName, kRegLink, Utf16Bytes(u"\\REGISTRY\\MACHINE\\SOFTWARE")};
}

struct PlaceRow {
    const char* name;
    std::u16string path;
    std::vector<TRegFileValue> values;
    // Expected: refused (nullptr) or the hive, the parts' count and OwnFrom.
    const char16_t* hive;
    size_t parts;
    size_t ownFrom;
};

void PrintTo(const PlaceRow& row, std::ostream* os) {
    *os << row.name;
}

class RestoreTargetsTest : public testing::TestWithParam<PlaceRow> {};

TEST_P(RestoreTargetsTest, PlacesASectionOnlyWhereARuleCanHaveBackedItUp) {
    const PlaceRow& row = GetParam();
    TRegFileKey section{row.path, row.values, 7};
    TRestorePlace place;
    std::string why;
    const bool placed = ShippedLikeTargets().Place(section, place, why);
    if (row.hive == nullptr) {
        EXPECT_FALSE(placed);
        EXPECT_EQ(why.rfind("line 7: the section [" + Utf16ToUtf8(row.path) + "] ", 0), 0u) << why;
        return;
    }
    ASSERT_TRUE(placed) << why;
    EXPECT_EQ(place.UserHive, row.hive);
    EXPECT_EQ(place.Parts.size(), row.parts);
    EXPECT_EQ(place.OwnFrom, row.ownFrom);
    EXPECT_EQ(place.ValueRule, row.ownFrom == row.parts);
}

const char16_t* const kRefused = nullptr;

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreTargetsTest,
    testing::Values(
        PlaceRow{"KeyRuleKey",
                 u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\Office Suite",
                 {Text(u"v")},
                 u"",
                 3,
                 2},
        PlaceRow{"BelowAKeyRuleInOtherCase",
                 u"hkey_local_machine\\software\\ZOLVA\\office suite\\Sub\\Deeper",
                 {Text(u"v"), Text(u"w")},
                 u"",
                 5,
                 2},
        PlaceRow{"ALinkBelowAKeyRule",
                 u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\Office Suite\\Link",
                 {LinkValue()},
                 u"",
                 4,
                 2},
        PlaceRow{"TheRulesValue",
                 u"HKEY_LOCAL_MACHINE\\" + kRun,
                 {Text(u"zolvaofficequickstart")},
                 u"",
                 5,
                 5},
        PlaceRow{"ClassesKey", u"HKEY_CLASSES_ROOT\\.zwd\\shell", {}, u"", 2, 0},
        PlaceRow{"DefaultUsersKey",
                 u"HKEY_USERS\\.DEFAULT\\Software\\Zolva\\Office Suite",
                 {},
                 u"",
                 4,
                 3},
        PlaceRow{"UsersHive",
                 kUser + u"\\Software\\Zolva\\Office Suite\\Sub",
                 {},
                 u"S-1-5-21-1-2-3-1001",
                 4,
                 2},
        PlaceRow{"UsersRunValue",
                 kUser + u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                 {Text(u"ZolvaOfficeUpdate")},
                 u"S-1-5-21-1-2-3-1001",
                 5,
                 5},
        PlaceRow{"UsersClassesFromAClassesRootRule",
                 kUser + u"_Classes\\.zwd",
                 {},
                 u"S-1-5-21-1-2-3-1001_Classes",
                 1,
                 0},
        PlaceRow{"UsersClassesFromAUserRule",
                 kUser + u"_Classes\\Zolva.Doc\\CLSID",
                 {},
                 u"S-1-5-21-1-2-3-1001_Classes",
                 2,
                 0},
        PlaceRow{"CloudAccount",
                 u"HKEY_USERS\\S-1-12-1-4294967295-2-3-4\\Software\\Zolva\\Office Suite",
                 {},
                 u"S-1-12-1-4294967295-2-3-4",
                 3,
                 2},
        // Outside every target.
        PlaceRow{"RootOnly", u"HKEY_LOCAL_MACHINE", {}, kRefused, 0, 0},
        PlaceRow{"TheRulesParent", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva", {}, kRefused, 0, 0},
        PlaceRow{"ASiblingThatStartsTheSame",
                 u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\Office Suite2",
                 {},
                 kRefused,
                 0,
                 0},
        // The registry may fold these, but ASCII folding must not count them the same.
        PlaceRow{"NonAsciiCase",
                 u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\Off\u0131ce Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"OtherView",
                 u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zolva\\Office Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"DotsAreNames",
                 u"HKEY_CURRENT_USER\\SOFTWARE\\Zolva\\Office Suite\\..\\..\\x",
                 {},
                 u"",
                 6,
                 2},
        PlaceRow{"ClassesRootForAMachineRule",
                 u"HKEY_CLASSES_ROOT\\SOFTWARE\\Zolva\\Office Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"AnotherValueOfTheRunKey",
                 u"HKEY_LOCAL_MACHINE\\" + kRun,
                 {Text(u"Evil")},
                 kRefused,
                 0,
                 0},
        PlaceRow{"TheRulesValueAndAnother",
                 u"HKEY_LOCAL_MACHINE\\" + kRun,
                 {Text(u"ZolvaOfficeQuickStart"), Text(u"Evil")},
                 kRefused,
                 0,
                 0},
        PlaceRow{"TheRunKeyEmpty", u"HKEY_LOCAL_MACHINE\\" + kRun, {}, kRefused, 0, 0},
        PlaceRow{"TheRunKeyAsALink", u"HKEY_LOCAL_MACHINE\\" + kRun, {LinkValue()}, kRefused, 0, 0},
        PlaceRow{"BelowTheRunKey",
                 u"HKEY_LOCAL_MACHINE\\" + kRun + u"\\Sub",
                 {Text(u"ZolvaOfficeQuickStart")},
                 kRefused,
                 0,
                 0},
        PlaceRow{"SystemAccount",
                 u"HKEY_USERS\\S-1-5-18\\Software\\Zolva\\Office Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{
            "LeftoverProfile", kUser + u".bak\\Software\\Zolva\\Office Suite", {}, kRefused, 0, 0},
        PlaceRow{"ThreeNumbers",
                 u"HKEY_USERS\\S-1-5-21-1-2-1001\\Software\\Zolva\\Office Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"LeadingZero",
                 u"HKEY_USERS\\S-1-5-21-01-2-3-1001\\Software\\Zolva\\Office Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"TemporaryHiveName",
                 u"HKEY_USERS\\ZolvaKeystrip_S-1-5-21-1-2-3-1001\\Software\\Zolva\\Office Suite",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"ServiceRuleInAUsersHive",
                 kUser + u"\\SYSTEM\\CurrentControlSet\\Services\\ZolvaOfficeUpdate",
                 {},
                 kRefused,
                 0,
                 0},
        PlaceRow{"UserClassesWithTheirPrefix",
                 kUser + u"_Classes\\Software\\Classes\\Zolva.Doc",
                 {},
                 kRefused,
                 0,
                 0}),
    [](const testing::TestParamInfo<PlaceRow>& info) { return std::string(info.param.name); });

// --- The restorer against a registry -----------------------------------------------

class RestoreConfinementTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        Rule(rkLocalMachine, u"Product", u"", raCompleteKey);
        Rule(rkLocalMachine, u"Run", u"Ours", raNameOnly);
        Rule(rkCurrentUser, u"Product", u"", raCompleteKey);
        Scratch().SetString(rkLocalMachine, u"Run", u"Theirs", u"their.exe");
        Scratch().SetString(rkLocalMachine, u"Outside", u"v", u"precious");
    }
    void Rule(TZolvaProductRootKey root, const std::u16string& relative, const std::u16string& name,
              TZolvaProductRemoveAction action) {
        FTargets.Add(TZolvaProductRemoveRule{root, Key(root, relative), name, action});
    }
    std::u16string Path(TZolvaProductRootKey root, const std::u16string& relative) {
        return RootKeyToText(root) + u'\\' + Key(root, relative);
    }
    // The kernel name of a scratch key, as a link's target.
    std::u16string Kernel(TZolvaProductRootKey root, const std::u16string& relative) {
        RegKeyHandle key;
        std::u16string name;
        EXPECT_EQ(
            OpenKeyHandle(Registry(), RootHandle(root), Key(root, relative), 0, kKeyRead, key),
            kErrorSuccess);
        EXPECT_EQ(Registry().QueryKeyName(key.Get(), name), kErrorSuccess);
        return name;
    }
    static TRegFileKey Section(const std::u16string& path, std::vector<TRegFileValue> values) {
        return TRegFileKey{path, std::move(values), 2};
    }
    static TRegFileKey LinkTo(const std::u16string& path, const std::u16string& target) {
        return Section(path, {{kSymbolicLinkValueName, kRegLink, Utf16Bytes(target)}});
    }
    TRestoreResult Restore(std::vector<TRegFileKey> sections, bool preview = false) {
        TRegFileDocument document;
        document.Keys = std::move(sections);
        TRegistryRestorer restorer(&FLog, Registry(), FTargets);
        restorer.SetPreviewOnly(preview);
        return restorer.RestoreVouched(u"backup.reg", document);
    }
    std::vector<std::string> Everything() {
        auto lines = Scratch().Dump(rkLocalMachine, u"");
        for (auto& line : Scratch().Dump(rkCurrentUser, u""))
            lines.push_back("HKCU " + line);
        return lines;
    }

    TRestoreTargets FTargets;
    TActivityLogger FLog;
};

// Each file starts with a section the rules allow and has one that no rule
// names: nothing at all is written, and the log says which section and why.
TEST_P(RestoreConfinementTest, AFileWithASectionOutsideTheTargetsWritesNothing) {
    const auto before = Everything();
    const TRegFileKey good = Section(Path(rkLocalMachine, u"Product\\Settings"), {Text(u"v")});
    const TRegFileKey outside[] = {
        Section(Path(rkLocalMachine, u"Run"), {Text(u"Theirs")}),
        Section(Path(rkLocalMachine, u"Run"), {Text(u"Ours"), Text(u"Theirs")}),
        Section(Path(rkLocalMachine, u"Outside"), {Text(u"v")}),
        Section(Path(rkLocalMachine, u"ProductX"), {}),
        Section(Path(rkCurrentUser, u"Run"), {Text(u"Ours")}),
        LinkTo(Path(rkLocalMachine, u"Run"), u"\\REGISTRY\\MACHINE\\SOFTWARE"),
        Section(Path(rkLocalMachine, u"Run\\Ours"), {Text(u"Ours")}),
        Section(u"HKEY_USERS\\S-1-5-21-1-2-3-1001\\" + Key(rkLocalMachine, u"Outside"), {}),
    };
    for (const TRegFileKey& bad : outside) {
        SCOPED_TRACE(Utf16ToUtf8(bad.Path));
        FLog.Clear();
        EXPECT_EQ(Restore({good, bad}), TRestoreResult::Refused);
        EXPECT_EQ(Everything(), before);
        const auto entries = Entries(FLog);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].action, aaRestoreRefused);
        EXPECT_EQ(entries[1].severity, asError);
        EXPECT_NE(entries[1].data.find(u"[" + bad.Path + u"]"), std::u16string::npos);
    }
}

// A link inside a target, planted or made by the file itself, is never
// written through: whatever the sections say, the key outside keeps its
// value and gains nothing.
TEST_P(RestoreConfinementTest, NothingIsWrittenThroughALink) {
    const std::u16string outside = Kernel(rkLocalMachine, u"Outside");
    Scratch().CreateLink(rkLocalMachine, u"Product\\Planted", rkLocalMachine, u"Outside");
    const TRestoreResult result = Restore({
        Section(Path(rkLocalMachine, u"Product\\Planted"), {Text(u"v")}),
        Section(Path(rkLocalMachine, u"Product\\Planted\\Sub"), {Text(u"v")}),
        LinkTo(Path(rkLocalMachine, u"Product\\Made"), outside),
        Section(Path(rkLocalMachine, u"Product\\Made\\Sub"), {Text(u"v")}),
        LinkTo(Path(rkLocalMachine, u"Product\\Lone"), outside),
    });
    EXPECT_EQ(result, TRestoreResult::Incomplete);
    EXPECT_EQ(
        Scratch().Dump(rkLocalMachine, u"Outside"),
        (std::vector<std::string>{
            "K ", DumpValue("", u"v", kRegSz, Utf16Bytes(std::u16string(u"precious\0", 9)))}));
    // A "link" with a section below it was a plain key: it comes back as one,
    // with its subkey in it (not in what the link's value names).
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"Product\\Made\\Sub", u"v"));
    EXPECT_TRUE(Scratch().LinkPresent(rkLocalMachine, u"Product\\Lone"));
    const auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[1], (LogEntry{asWarning, aaKeyNotRestored,
                                    WithDetail(Path(rkLocalMachine, u"Product\\Planted"),
                                               u"the way to it leads through a registry link")}));
    EXPECT_EQ(entries[2].action, aaKeyNotRestored);
    EXPECT_EQ(CountAction(entries, aaKeyRestored), 3u);
}

// A link section makes a link only where no key exists: an existing link
// keeps its target and an existing plain key stays plain; the same link is
// there already.
TEST_P(RestoreConfinementTest, AnExistingKeyIsNeverMadeOrPointedAsALink) {
    const std::u16string outside = Kernel(rkLocalMachine, u"Outside");
    const std::u16string user = Kernel(rkCurrentUser, u"");
    Scratch().CreateLink(rkLocalMachine, u"Product\\Link", rkLocalMachine, u"Outside");
    Scratch().CreateLink(rkLocalMachine, u"Product\\Same", rkLocalMachine, u"Outside");
    Scratch().SetString(rkLocalMachine, u"Product\\Plain", u"v", u"x");
    const auto before = Everything();
    const TRestoreResult result = Restore({
        LinkTo(Path(rkLocalMachine, u"Product\\Link"), user),
        LinkTo(Path(rkLocalMachine, u"Product\\Plain"), user),
        LinkTo(Path(rkLocalMachine, u"Product\\Same"), outside),
    });
    EXPECT_EQ(result, TRestoreResult::Incomplete);
    EXPECT_EQ(Everything(), before);
    const auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 5u);
    const std::u16string exists =
        u"a key of that name exists: a link is made only where there is none";
    EXPECT_EQ(entries[1], (LogEntry{asWarning, aaKeyNotRestored,
                                    WithDetail(Path(rkLocalMachine, u"Product\\Link"), exists)}));
    EXPECT_EQ(entries[2], (LogEntry{asWarning, aaKeyNotRestored,
                                    WithDetail(Path(rkLocalMachine, u"Product\\Plain"), exists)}));
    EXPECT_EQ(entries[3], (LogEntry{asInfo, aaKeyRestored,
                                    WithDetail(Path(rkLocalMachine, u"Product\\Same"),
                                               u"a link to " + outside + u", there already")}));
}

// A plain key holding a value that looks like a link's, with a key below it,
// goes through removal, backup and restore as exactly that.
TEST_P(RestoreConfinementTest, APlainKeyWithALinksValueComesBackPlain) {
    const std::u16string outside = Kernel(rkLocalMachine, u"Outside");
    Scratch().SetValue(rkCurrentUser, u"Product\\Fake", kSymbolicLinkValueName, kRegLink,
                       Utf16Bytes(outside));
    Scratch().SetString(rkCurrentUser, u"Product\\Fake\\Sub", u"v", u"kept");
    const auto before = Everything();
    // Plain: its subkey is reached through it.
    ASSERT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Product\\Fake\\Sub", u"v"));

    TZolvaProduct product(u"P");
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Product"), u"", raCompleteKey);
    struct Sink final : IBackupSink {
        const std::u16string& Name() const override { return name; }
        void Append(const std::u16string& text) override { this->text += text; }
        std::u16string name = u"b.reg", text;
    } backup;
    TZolvaProductRemover remover(&product, &FLog, Registry());
    remover.SetBackup(&backup);
    ASSERT_TRUE(remover.ProductRemoved());
    ASSERT_FALSE(Scratch().KeyPresent(rkCurrentUser, u"Product"));

    FLog.Clear();
    const TRegFileDocument document =
        ReadRegFile(EncodeRegFileText(RegFileHeaderText() + backup.text, true));
    TRegistryRestorer restorer(&FLog, Registry(), FTargets);
    EXPECT_EQ(restorer.RestoreVouched(u"b.reg", document), TRestoreResult::Restored);
    EXPECT_EQ(Everything(), before);
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Product\\Fake\\Sub", u"v"));
}

// A preview logs what a restore would do and writes nothing.
TEST_P(RestoreConfinementTest, APreviewWritesNothingAndSaysWhatWouldBeRestored) {
    const std::u16string outside = Kernel(rkLocalMachine, u"Outside");
    Scratch().CreateLink(rkLocalMachine, u"Product\\Link", rkLocalMachine, u"Outside");
    Scratch().SetString(rkLocalMachine, u"Product\\Old", u"v", u"x");
    const auto before = Everything();
    const TRestoreResult result = Restore(
        {
            Section(Path(rkLocalMachine, u"Product\\New\\Deeper"), {Text(u"a"), Text(u"b")}),
            Section(Path(rkLocalMachine, u"Product\\Old"), {Text(u"v")}),
            Section(Path(rkLocalMachine, u"Product\\Link\\Sub"), {}),
            LinkTo(Path(rkLocalMachine, u"Product\\Old"), outside),
            LinkTo(Path(rkLocalMachine, u"Product\\NewLink"), outside),
            Section(Path(rkLocalMachine, u"Run"), {Text(u"Ours")}),
        },
        true);
    EXPECT_EQ(result, TRestoreResult::Incomplete);
    EXPECT_EQ(Everything(), before);
    auto would = [&](const char16_t* relative, const std::u16string& detail) {
        return LogEntry{asInfo, aaKeyWouldBeRestored,
                        WithDetail(Path(rkLocalMachine, relative), detail)};
    };
    auto wouldNot = [&](const char16_t* relative, const std::u16string& why) {
        return LogEntry{asWarning, aaKeyWouldNotBeRestored,
                        WithDetail(Path(rkLocalMachine, relative), why)};
    };
    EXPECT_EQ(Entries(FLog),
              (std::vector<LogEntry>{
                  {asInfo, aaStartRestorePreview, u"backup.reg"},
                  would(u"Product\\New\\Deeper", u"2 values"),
                  would(u"Product\\Old", u"1 value"),
                  wouldNot(u"Product\\Link\\Sub", u"the way to it leads through a registry link"),
                  wouldNot(u"Product\\Old",
                           u"a key of that name exists: a link is made only where there is none"),
                  would(u"Product\\NewLink", u"a link to " + outside),
                  would(u"Run", u"1 value"),
                  {asInfo, aaStopRestore, u"Failure"},
              }));
}

INSTANTIATE_TEST_SUITE_P(Registries, RestoreConfinementTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
