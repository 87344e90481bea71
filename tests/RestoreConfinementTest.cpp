// What a restore may write, whatever the file says: only where a backup of
// the removal rules can have taken something from, never through a link,
// never over an existing link or key with a link, and nothing at all in a
// preview. The registry cases run against the in-memory registry and, in the
// Windows build, against the real one.
#include "backup/RegFile.h"
#include "common/Utf.h"
#include "rules/RegistryRestore.h"
#include "rules/RestoreTargets.h"

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

PlaceRow Placed(const char* name, const std::u16string& path, const char16_t* hive, size_t parts,
                size_t ownFrom, std::vector<TRegFileValue> values = {}) {
    return {name, path, std::move(values), hive, parts, ownFrom};
}
PlaceRow Refused(const char* name, const std::u16string& path,
                 std::vector<TRegFileValue> values = {}) {
    return {name, path, std::move(values), nullptr, 0, 0};
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

const std::u16string kMachine = u"HKEY_LOCAL_MACHINE\\";
const std::u16string kSuite = u"\\Software\\Zolva\\Office Suite";
const char16_t* const kSid = u"S-1-5-21-1-2-3-1001";
const char16_t* const kSidClasses = u"S-1-5-21-1-2-3-1001_Classes";

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreTargetsTest,
    testing::Values(
        Placed("KeyRuleKey", kMachine + u"SOFTWARE\\Zolva\\Office Suite", u"", 3, 2, {Text(u"v")}),
        Placed("BelowAKeyRuleInOtherCase",
               u"hkey_local_machine\\software\\ZOLVA\\office suite\\Sub\\Deeper", u"", 5, 2,
               {Text(u"v"), Text(u"w")}),
        Placed("ALinkBelowAKeyRule", kMachine + u"SOFTWARE\\Zolva\\Office Suite\\Link", u"", 4, 2,
               {LinkValue()}),
        Placed("TheRulesValue", kMachine + kRun, u"", 5, 5, {Text(u"zolvaofficequickstart")}),
        Placed("ClassesKey", u"HKEY_CLASSES_ROOT\\.zwd\\shell", u"", 2, 0),
        Placed("DefaultUsersKey", u"HKEY_USERS\\.DEFAULT" + kSuite, u"", 4, 3),
        Placed("UsersHive", kUser + kSuite + u"\\Sub", kSid, 4, 2),
        Placed("UsersRunValue", kUser + u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
               kSid, 5, 5, {Text(u"ZolvaOfficeUpdate")}),
        Placed("UsersClassesFromAClassesRootRule", kUser + u"_Classes\\.zwd", kSidClasses, 1, 0),
        Placed("UsersClassesFromAUserRule", kUser + u"_Classes\\Zolva.Doc\\CLSID", kSidClasses, 2,
               0),
        Placed("CloudAccount", u"HKEY_USERS\\S-1-12-1-4294967295-2-3-4" + kSuite,
               u"S-1-12-1-4294967295-2-3-4", 3, 2),
        Placed("DotsAreNames", u"HKEY_CURRENT_USER\\SOFTWARE\\Zolva\\Office Suite\\..\\..\\x", u"",
               6, 2),
        // Outside every target.
        Refused("RootOnly", u"HKEY_LOCAL_MACHINE"),
        Refused("TheRulesParent", kMachine + u"SOFTWARE\\Zolva"),
        Refused("ASiblingThatStartsTheSame", kMachine + u"SOFTWARE\\Zolva\\Office Suite2"),
        // The registry may fold these, but ASCII folding must not count them the same.
        Refused("NonAsciiCase", kMachine + u"SOFTWARE\\Zolva\\Off\u0131ce Suite"),
        Refused("OtherView", kMachine + u"SOFTWARE\\Wow6432Node\\Zolva\\Office Suite"),
        Refused("ClassesRootForAMachineRule", u"HKEY_CLASSES_ROOT\\SOFTWARE\\Zolva\\Office Suite"),
        Refused("AnotherValueOfTheRunKey", kMachine + kRun, {Text(u"Evil")}),
        Refused("TheRulesValueAndAnother", kMachine + kRun,
                {Text(u"ZolvaOfficeQuickStart"), Text(u"Evil")}),
        Refused("TheRunKeyEmpty", kMachine + kRun),
        Refused("TheRunKeyAsALink", kMachine + kRun, {LinkValue()}),
        Refused("BelowTheRunKey", kMachine + kRun + u"\\Sub", {Text(u"ZolvaOfficeQuickStart")}),
        Refused("SystemAccount", u"HKEY_USERS\\S-1-5-18" + kSuite),
        Refused("LeftoverProfile", kUser + u".bak" + kSuite),
        Refused("ThreeNumbers", u"HKEY_USERS\\S-1-5-21-1-2-1001" + kSuite),
        Refused("LeadingZero", u"HKEY_USERS\\S-1-5-21-01-2-3-1001" + kSuite),
        Refused("TemporaryHiveName", u"HKEY_USERS\\ZolvaKeystrip_S-1-5-21-1-2-3-1001" + kSuite),
        Refused("ServiceRuleInAUsersHive",
                kUser + u"\\SYSTEM\\CurrentControlSet\\Services\\ZolvaOfficeUpdate"),
        Refused("UserClassesWithTheirPrefix", kUser + u"_Classes\\Software\\Classes\\Zolva.Doc")),
    [](const testing::TestParamInfo<PlaceRow>& info) { return std::string(info.param.name); });

// --- The restorer against a registry -----------------------------------------------

class RestoreConfinementTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        Rule(rkLocalMachine, u"Product", u"", raCompleteKey);
        Rule(rkLocalMachine, u"Run", u"Ours", raNameOnly);
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
    // A link section as a backup marks one.
    static TRegFileKey LinkTo(const std::u16string& path, const std::u16string& target) {
        TRegFileKey link = Section(path, {{kSymbolicLinkValueName, kRegLink, Utf16Bytes(target)}});
        link.Link = true;
        return link;
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
        Section(Path(rkLocalMachine, u"ProductX"), {}),
        Section(Path(rkCurrentUser, u"Run"), {Text(u"Ours")}),
        LinkTo(Path(rkLocalMachine, u"Run"), u"\\REGISTRY\\MACHINE\\SOFTWARE"),
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

// Links, planted or made by the file itself, first previewed (nothing is
// written, the log says what would be) and then restored. Nothing is written
// through a link; a link section makes a link only where no key exists (an
// existing link keeps its target, a plain key stays plain); a "link" with a
// section below it was a plain key and comes back as one.
TEST_P(RestoreConfinementTest, NoLinkIsWrittenThroughMadeOverAKeyOrRepointed) {
    const std::u16string outside = Kernel(rkLocalMachine, u"Outside");
    const std::u16string user = Kernel(rkCurrentUser, u"");
    for (const char16_t* link : {u"Product\\Planted", u"Product\\Link", u"Product\\Same"})
        Scratch().CreateLink(rkLocalMachine, link, rkLocalMachine, u"Outside");
    Scratch().SetString(rkLocalMachine, u"Product\\Plain", u"v", u"x");
    const auto before = Everything();
    const std::vector<TRegFileKey> sections = {
        Section(Path(rkLocalMachine, u"Product\\Planted"), {Text(u"v")}),
        Section(Path(rkLocalMachine, u"Product\\Planted\\Sub"), {Text(u"v")}),
        LinkTo(Path(rkLocalMachine, u"Product\\Link"), user),
        Section(Path(rkLocalMachine, u"Product\\Plain"), {Text(u"v")}),
        LinkTo(Path(rkLocalMachine, u"Product\\Plain"), user),
        LinkTo(Path(rkLocalMachine, u"Product\\Same"), outside),
        LinkTo(Path(rkLocalMachine, u"Product\\Made"), outside),
        Section(Path(rkLocalMachine, u"Product\\Made\\Sub"), {Text(u"v")}),
        LinkTo(Path(rkLocalMachine, u"Product\\Lone"), outside),
        Section(Path(rkLocalMachine, u"Product\\New\\Deeper"), {Text(u"a"), Text(u"b")}),
        Section(Path(rkLocalMachine, u"Run"), {Text(u"Ours")}),
    };
    const std::u16string throughLink = u"the way to it leads through a registry link";
    const std::u16string exists =
        u"a key of that name exists: a link is made only where there is none";
    for (const bool preview : {true, false}) {
        SCOPED_TRACE(preview ? "preview" : "restore");
        FLog.Clear();
        EXPECT_EQ(Restore(sections, preview), TRestoreResult::Incomplete);
        const auto done = [&](const char16_t* relative, const std::u16string& detail) {
            return LogEntry{asInfo, preview ? aaKeyWouldBeRestored : aaKeyRestored,
                            WithDetail(Path(rkLocalMachine, relative), detail)};
        };
        const auto refused = [&](const char16_t* relative, const std::u16string& why) {
            return LogEntry{asWarning, preview ? aaKeyWouldNotBeRestored : aaKeyNotRestored,
                            WithDetail(Path(rkLocalMachine, relative), why)};
        };
        EXPECT_EQ(Entries(FLog),
                  (std::vector<LogEntry>{
                      {asInfo, preview ? aaStartRestorePreview : aaStartRestore, u"backup.reg"},
                      refused(u"Product\\Planted", throughLink),
                      refused(u"Product\\Planted\\Sub", throughLink),
                      refused(u"Product\\Link", exists),
                      done(u"Product\\Plain", u"1 value"),
                      refused(u"Product\\Plain", exists),
                      done(u"Product\\Same", u"a link to " + outside + u", there already"),
                      done(u"Product\\Made", u"1 value"),
                      done(u"Product\\Made\\Sub", u"1 value"),
                      done(u"Product\\Lone", u"a link to " + outside),
                      done(u"Product\\New\\Deeper", u"2 values"),
                      done(u"Run", u"1 value"),
                      {asInfo, aaStopRestore, u"Failure"},
                  }));
        if (preview) {
            EXPECT_EQ(Everything(), before);
        }
    }
    EXPECT_EQ(
        Scratch().Dump(rkLocalMachine, u"Outside"),
        (std::vector<std::string>{
            "K ", DumpValue("", u"v", kRegSz, Utf16Bytes(std::u16string(u"precious\0", 9)))}));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"Product\\Made\\Sub", u"v"));
    EXPECT_TRUE(Scratch().LinkPresent(rkLocalMachine, u"Product\\Lone"));
    EXPECT_TRUE(Scratch().LinkPresent(rkLocalMachine, u"Product\\Link"));
    EXPECT_FALSE(Scratch().LinkPresent(rkLocalMachine, u"Product\\Plain"));
}

INSTANTIATE_TEST_SUITE_P(Registries, RestoreConfinementTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
