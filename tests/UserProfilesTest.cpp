// Every user's profile for the rules on HKEY_CURRENT_USER, with the in-memory
// registry and hives: loaded hives and those loaded for the run, hives that
// cannot be loaded, the report's real paths, and every loaded hive unloaded
// again whatever fails in between.
#include "rules/UserProfiles.h"
#include "app/RunExtras.h"
#include "app/RunLog.h"
#include "rules/RegistryAccess.h"
#include "rules/ZolvaProductInspector.h"
#include "rules/ZolvaRuleProcessor.h"

#include "platform/doubles/FakeHives.h"
#include "platform/doubles/FakeResources.h"
#include "platform/doubles/MemoryRegistry.h"
#include "tests/support/LogEntries.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

namespace keystrip::test {
namespace {

using namespace platform;

const std::u16string kAlice = u"S-1-5-21-7-7-7-1001"; // logged on: hive loaded
const std::u16string kBob = u"S-1-5-21-7-7-7-1002";   // hive in its file
const std::u16string kCarol = u"S-1-5-21-7-7-7-1003"; // hive locked
const std::u16string kDave = u"S-1-5-21-7-7-7-1004";  // no folder
const std::u16string kTrace = u"Software\\Zolva\\Office";
const std::u16string kValueKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::u16string Below(const std::u16string& Hive, const std::u16string& Path) {
    return std::u16string(Hive).append(1, u'\\').append(Path);
}

class UserProfilesTest : public testing::Test {
protected:
    void SetUp() override {
        for (const std::u16string& hive :
             {kAlice, kAlice + u"_Classes", std::u16string(u"S-1-5-18"),
              std::u16string(u".DEFAULT")}) {
            FRegistry.SetString(kHkeyUsers, Below(hive, kTrace), u"v", u"x");
            FRegistry.SetString(kHkeyUsers, Below(hive, kValueKey), u"Zolva", u"x");
            FRegistry.SetString(kHkeyUsers, hive + u"\\Software\\Other", u"keep", u"x");
        }
        FHives.AddProfile(kAlice, u"C:\\Users\\alice\\NTUSER.DAT");
        MemoryRegistry& bob = FHives.AddProfile(kBob, u"C:\\Users\\bob\\NTUSER.DAT");
        bob.SetString(kHkeyCurrentUser, kTrace + u"\\Sub", u"v", u"x");
        bob.SetString(kHkeyCurrentUser, kValueKey, u"Zolva", u"x");
        bob.SetString(kHkeyCurrentUser, u"Software\\Other", u"keep", u"x");
        FHives.AddProfile(kCarol, u"C:\\Users\\carol\\NTUSER.DAT");
        FHives.RefuseLoad(u"C:\\Users\\carol\\NTUSER.DAT", 32);
        FHives.AddProfileWithoutFile(kDave);
        FHives.AddProfile(u"S-1-5-19", u"C:\\Windows\\ServiceProfiles\\NTUSER.DAT");

        FProduct.AddRemoval(rkCurrentUser, kTrace, u"", raCompleteKey);
        FProduct.AddRemoval(rkCurrentUser, kValueKey, u"Zolva", raNameOnly);
        FProduct.AddDetection(rkCurrentUser, kTrace, u"", u"", daKeyExist);
    }

    MemoryRegistry& Bob() { return FHives.HiveFile(u"C:\\Users\\bob\\NTUSER.DAT"); }

    MemoryRegistry FRegistry;
    FakeHives FHives{FRegistry};
    TZolvaProduct FProduct{u"P"};
    TActivityLogger FLog;
};

TEST_F(UserProfilesTest, EveryUsersHiveLosesItsTracesAndTheReportNamesWhose) {
    {
        TUserProfiles profiles(FRegistry, FHives, &FLog);
        const TRuleRoots& roots = profiles.Open();
        ASSERT_EQ(roots.UserRoots().size(), 2u);
        TZolvaProductRemover remover(&FProduct, &FLog, FRegistry);
        remover.SetRoots(&roots);
        EXPECT_TRUE(remover.ProductRemoved());
    }
    const std::u16string alice = u"HKEY_USERS\\" + kAlice + u"\\";
    const std::u16string bob = u"HKEY_USERS\\" + kBob + u"\\";
    const std::vector<LogEntry> expected = {
        {asInfo, aaProfileNote,
         WithDetail(u"HKEY_USERS\\S-1-5-19", u"skipped (a service account)")},
        {asInfo, aaProfileNote,
         WithDetail(u"HKEY_USERS\\" + kAlice, u"included (its hive is loaded)")},
        {asInfo, aaProfileNote,
         WithDetail(u"HKEY_USERS\\" + kAlice + u"_Classes", u"included (its hive is loaded)")},
        {asInfo, aaProfileNote,
         WithDetail(u"HKEY_USERS\\" + kBob,
                    u"included (its hive C:\\Users\\bob\\NTUSER.DAT is loaded for this run)")},
        {asWarning, aaProfileNotLoaded,
         WithDetail(u"HKEY_USERS\\" + kCarol,
                    u"C:\\Users\\carol\\NTUSER.DAT cannot be loaded: error 32")},
        {asWarning, aaProfileNotLoaded,
         WithDetail(u"HKEY_USERS\\" + kDave, u"the profile names no folder")},
        {asInfo, ssStartRemoval, u"P"},
        {asInfo, aaKeyDeleted, alice + kTrace},
        {asInfo, aaKeyDeleted, bob + kTrace},
        {asInfo, aaNameDeleted, alice + kValueKey + u"\\Zolva"},
        {asInfo, aaNameDeleted, bob + kValueKey + u"\\Zolva"},
        {asInfo, ssStopRemoval, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);

    EXPECT_FALSE(FRegistry.KeyPresent(kHkeyUsers, kAlice + u"\\" + kTrace));
    EXPECT_FALSE(Bob().KeyPresent(kHkeyCurrentUser, kTrace));
    EXPECT_FALSE(Bob().ValuePresent(kHkeyCurrentUser, kValueKey, u"Zolva"));
    EXPECT_TRUE(Bob().ValuePresent(kHkeyCurrentUser, u"Software\\Other", u"keep"));
    for (const std::u16string& hive :
         {kAlice + u"_Classes", std::u16string(u"S-1-5-18"), std::u16string(u".DEFAULT")})
        EXPECT_TRUE(FRegistry.KeyPresent(kHkeyUsers, Below(hive, kTrace))) << Utf16ToUtf8(hive);
    EXPECT_TRUE(FHives.Mounted().empty());
    EXPECT_EQ(FHives.Loads(), 1);
    EXPECT_EQ(FHives.Unloads(), 1);
    EXPECT_EQ(FRegistry.OpenHandleCount(), 0u);
}

TEST_F(UserProfilesTest, AProductIsFoundWhenAnyProfileHoldsATraceAndPreviewedInEach) {
    // Only bob's hive, which is not loaded, holds the trace now.
    TRegistryAccess access(FRegistry, kKeyAllAccess);
    access.SetRootKey(kHkeyUsers);
    ASSERT_TRUE(access.DeleteKey(kAlice + u"\\" + kTrace));
    TUserProfiles profiles(FRegistry, FHives, &FLog);
    const TRuleRoots& roots = profiles.Open();
    TZolvaProductDetector detector(&FProduct, &FLog, FRegistry);
    detector.SetRoots(&roots);
    EXPECT_TRUE(detector.ProductPresent());
    TZolvaProductInspector inspector(&FProduct, &FLog, FRegistry);
    inspector.SetRoots(&roots);
    TPreviewProduct record;
    inspector.SetRecord(&record);
    FLog.Clear();
    EXPECT_TRUE(inspector.ProductInspected());
    // The record names each user's hive as the report does.
    ASSERT_GE(record.Rules.size(), 2u);
    EXPECT_EQ(record.Rules[0].KeyPath(), u"HKEY_USERS\\" + kAlice + u"\\" + kTrace);
    EXPECT_EQ(record.Rules[0].Status, psNotFound);
    EXPECT_EQ(record.Rules[1].KeyPath(), u"HKEY_USERS\\" + kBob + u"\\" + kTrace);
    EXPECT_EQ(record.Rules[1].Keys, 2u);
    const std::u16string report = FLog.Export({eoInfo});
    EXPECT_NE(report.find(u"Key \"HKEY_USERS\\" + kAlice + u"\\" + kTrace + u"\" not found"),
              std::u16string::npos);
    EXPECT_NE(report.find(u"Key \"HKEY_USERS\\" + kBob + u"\\" + kTrace +
                          u"\" would be deleted (2 keys, 1 value)"),
              std::u16string::npos);
}

TEST_F(UserProfilesTest, WithoutThePrivilegesNoHiveIsLoadedAndTheLoadedOnesStillCount) {
    FHives.RefusePrivileges(1300);
    TUserProfiles profiles(FRegistry, FHives, &FLog);
    EXPECT_EQ(profiles.Open().UserRoots().size(), 1u);
    EXPECT_EQ(CountAction(Entries(FLog), aaProfileNotLoaded), 4u);
}

using S = TProfileState;

// One user's hive, as a restore asks for it: where it can be had, the root
// reaches exactly that hive; otherwise nothing, with a warning.
struct OpenUserCase {
    const char* name;
    std::u16string hiveName;
    bool opened;
    S state;
    std::u16string file;
};

class OpenUserTest : public UserProfilesTest, public testing::WithParamInterface<OpenUserCase> {};

TEST_P(OpenUserTest, GivesTheHiveOfThatUserOrNothing) {
    // A key below HKEY_USERS that looks like a SID but is a link into the
    // machine's keys.
    const std::u16string linked = u"S-1-5-21-7-7-7-1009";
    FRegistry.SetString(kHkeyLocalMachine, u"SOFTWARE\\Machine\\" + kTrace, u"v", u"x");
    FRegistry.CreateLink(kHkeyUsers, linked, kHkeyLocalMachine, u"SOFTWARE\\Machine");
    const OpenUserCase& c = GetParam();
    {
        TUserProfiles profiles(FRegistry, FHives, &FLog);
        const TRuleRoot* root = profiles.OpenUser(c.hiveName);
        ASSERT_EQ(root != nullptr, c.opened);
        EXPECT_EQ(profiles.OpenUser(c.hiveName), root) << "asked again";
        ASSERT_EQ(profiles.Outcomes().size(), 1u);
        const TProfileOutcome& outcome = profiles.Outcomes()[0];
        EXPECT_EQ(outcome.HiveName, c.hiveName);
        EXPECT_EQ(outcome.State, c.state);
        EXPECT_EQ(outcome.File, c.file);
        EXPECT_EQ(profiles.NotLoaded(), c.opened ? 0 : 1);
        EXPECT_EQ(CountAction(Entries(FLog), aaProfileNotLoaded), c.opened ? 0u : 1u);
        if (root != nullptr) {
            EXPECT_EQ(root->Text, u"HKEY_USERS\\" + c.hiveName);
            TRegistryAccess access(FRegistry, kKeyAllAccess);
            access.SetRootKey(root->Handle);
            EXPECT_TRUE(access.DeleteKey(kTrace));
        }
        EXPECT_EQ(FHives.Loads(), c.state == S::psLoadedForRun ? 1 : 0);
    }
    EXPECT_TRUE(FHives.Mounted().empty());
    EXPECT_EQ(FRegistry.OpenHandleCount(), 0u);
    EXPECT_TRUE(FRegistry.KeyPresent(kHkeyLocalMachine, u"SOFTWARE\\Machine\\" + kTrace));
    // The deletion through the root reached that user's hive and no other.
    EXPECT_EQ(FRegistry.KeyPresent(kHkeyUsers, Below(kAlice, kTrace)), c.hiveName != kAlice);
    EXPECT_EQ(Bob().KeyPresent(kHkeyCurrentUser, kTrace), c.hiveName != kBob);
}

INSTANTIATE_TEST_SUITE_P(
    Hives, OpenUserTest,
    testing::Values(
        OpenUserCase{"LoadedNow", kAlice, true, S::psLoaded, u""},
        OpenUserCase{"LoadedFromItsFile", kBob, true, S::psLoadedForRun,
                     u"C:\\Users\\bob\\NTUSER.DAT"},
        OpenUserCase{"HiveLocked", kCarol, false, S::psNotLoaded, u"C:\\Users\\carol\\NTUSER.DAT"},
        OpenUserCase{"NoFolder", kDave, false, S::psNotLoaded, u""},
        OpenUserCase{"ServiceAccount", u"S-1-5-19", false, S::psNotLoaded, u""},
        OpenUserCase{"LinkIntoTheMachine", u"S-1-5-21-7-7-7-1009", false, S::psNotLoaded, u""}),
    [](const testing::TestParamInfo<OpenUserCase>& info) { return info.param.name; });

// --- Which entries of the profile list are taken --------------------------------

struct ListedCase {
    const char* name;
    std::u16string entry;  // the key's name in the profile list
    std::u16string folder; // its ProfileImagePath
    bool hive;             // NTUSER.DAT in it (and NTUSER.MAN for a read-only one)
    S state;
    std::u16string detail; // the note's or the warning's text
};

class ProfileListTest : public UserProfilesTest, public testing::WithParamInterface<ListedCase> {};

// Each entry is planted beside the fixture's profiles; bob's hive, which
// several entries name or imitate, is loaded once and only as bob's.
TEST_P(ProfileListTest, TakesOnlyWellFormedUsersEachHiveFileOnce) {
    const ListedCase& c = GetParam();
    FHives.ListProfile(c.entry, c.folder);
    if (c.hive)
        FHives.AddHiveFile(FHives.ExpandFolder(c.folder) + u"\\NTUSER.DAT");
    if (c.state == S::psReadOnly)
        FHives.AddHiveFile(FHives.ExpandFolder(c.folder) + u"\\NTUSER.MAN");
    TUserProfiles profiles(FRegistry, FHives, &FLog);
    profiles.Open();

    const TProfileOutcome* outcome = nullptr;
    for (const auto& o : profiles.Outcomes())
        if (o.Sid == c.entry && o.HiveName == c.entry)
            outcome = &o;
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->State, c.state);
    // The folder, for a result file; none where the list's value is no folder.
    EXPECT_EQ(outcome->Folder,
              c.folder.find(u'\0') == std::u16string::npos ? FHives.ExpandFolder(c.folder) : u"");
    const bool warned = c.state == S::psNotLoaded;
    const LogEntry entry{warned ? asWarning : asInfo, warned ? aaProfileNotLoaded : aaProfileNote,
                         WithDetail(u"HKEY_USERS\\" + c.entry, c.detail)};
    const auto entries = Entries(FLog);
    EXPECT_NE(std::find(entries.begin(), entries.end(), entry), entries.end())
        << testing::PrintToString(entries);
    EXPECT_EQ(FHives.Mounted().count(TUserProfiles::TemporaryName(c.entry)),
              c.state == S::psLoadedForRun ? 1u : 0u);
    EXPECT_EQ(FHives.Mounted().count(TUserProfiles::TemporaryName(kBob)), 1u);
    EXPECT_EQ(FHives.Loads(), c.state == S::psLoadedForRun ? 2 : 1);
    EXPECT_EQ(profiles.NotLoaded(), warned ? 3 : 2); // carol's and dave's as well
}

const std::u16string kNul(1, u'\0');

INSTANTIATE_TEST_SUITE_P(
    Entries, ProfileListTest,
    testing::Values(
        ListedCase{"LocalAccount", u"S-1-5-21-1-2-3-1010", u"C:\\Users\\eve", true,
                   S::psLoadedForRun,
                   u"included (its hive C:\\Users\\eve\\NTUSER.DAT is loaded for this run)"},
        ListedCase{"CloudAccount", u"S-1-12-1-4294967295-0-3-4", u"%SystemDrive%\\Users\\fay", true,
                   S::psLoadedForRun,
                   u"included (its hive C:\\Users\\fay\\NTUSER.DAT is loaded for this run)"},
        ListedCase{"LocalSystem", u"S-1-5-18", u"C:\\Windows\\system32\\config\\systemprofile",
                   true, S::psSkipped, u"skipped (a service account)"},
        ListedCase{"FirstTimeSetup", u"S-1-5-21-1-2-3-1011", u"C:\\Users\\defaultuser0", true,
                   S::psSkipped, u"skipped (the temporary account of first-time setup)"},
        ListedCase{"Mandatory", u"S-1-5-21-1-2-3-1012", u"C:\\Users\\kiosk", true, S::psReadOnly,
                   u"not written (a mandatory profile, NTUSER.MAN, read-only by design)"},
        ListedCase{"BobsFolderSpeltOtherwise", u"S-1-5-21-9-9-9-1013", u"c:/users//BOB./.", false,
                   S::psSkipped, u"skipped (its hive file is that of HKEY_USERS\\" + kBob + u")"},
        ListedCase{"NulInTheFolder", u"S-1-5-21-9-9-9-1014",
                   u"C:\\Users\\bob" + kNul + u"C:\\Users\\x", false, S::psNotLoaded,
                   u"its folder holds a NUL character"},
        ListedCase{"HiveFileMissing", u"S-1-5-21-9-9-9-1015", u"C:\\Users\\ghost", false,
                   S::psNotLoaded, u"its hive file C:\\Users\\ghost\\NTUSER.DAT is missing"}),
    [](const testing::TestParamInfo<ListedCase>& info) { return info.param.name; });

// However close to a user's SID a name comes, if it is none its hive is not
// loaded: cut at the NUL, one would read as bob's.
TEST_F(UserProfilesTest, EntriesThatAreNoUsersSidAreSkipped) {
    const std::vector<std::u16string> names = {
        kBob + u".bak",          u"S-1-5-21-..",
        kBob + kNul + u"x",      u"S-1-5-21-4294967296-2-3-1010",
        u"S-1-5-21-7-7-7-01002", u"S-1-5-21-7-7-1002"};
    for (size_t i = 0; i < names.size(); ++i) {
        const std::u16string folder = u"C:\\Users\\m" + U16(std::to_string(i));
        FHives.ListProfile(names[i], folder);
        FHives.AddHiveFile(folder + u"\\NTUSER.DAT");
    }
    TUserProfiles profiles(FRegistry, FHives, &FLog);
    profiles.Open();
    EXPECT_EQ(FHives.Loads(), 1); // bob's only
    const auto entries = Entries(FLog);
    for (std::u16string name : names) {
        std::replace(name.begin(), name.end(), u'\0', u'\u2400');
        const LogEntry note{
            asInfo, aaProfileNote,
            WithDetail(u"HKEY_USERS\\" + name, u"skipped (not a user account's SID)")};
        EXPECT_NE(std::find(entries.begin(), entries.end(), note), entries.end())
            << Utf16ToUtf8(name);
    }
}

TEST(ProfilePathTest, NamesOneFileInOneFormOnly) {
    const std::u16string bob = TUserProfiles::NormalisedPath(u"C:\\Users\\bob\\NTUSER.DAT");
    for (const std::u16string same :
         {u"c:/users/BOB/ntuser.dat", u"C:\\Users\\\\bob\\.\\NTUSER.DAT",
          u"C:\\Users\\alice\\..\\bob\\NTUSER.DAT", u"\\\\?\\C:\\Users\\bob\\NTUSER.DAT",
          u"C:\\Users\\bob. \\NTUSER.DAT"})
        EXPECT_EQ(TUserProfiles::NormalisedPath(same), bob) << Utf16ToUtf8(same);
    for (const std::u16string other :
         {u"C:\\Users\\bob2\\NTUSER.DAT", u"D:\\Users\\bob\\NTUSER.DAT",
          u"\\\\server\\C$\\Users\\bob\\NTUSER.DAT", u"C:\\Users\\bob\\NTUSER.DAT\\x"})
        EXPECT_NE(TUserProfiles::NormalisedPath(other), bob) << Utf16ToUtf8(other);
    EXPECT_EQ(TUserProfiles::NormalisedPath(u"C:\\..\\..\\NTUSER.DAT"), u"C:\\NTUSER.DAT");
}

// --- Every user's classes and the Default profile ----------------------------------

// A ProgID (HKEY_CLASSES_ROOT) and a file type registered for one user
// (HKEY_CURRENT_USER\Software\Classes) live in that user's classes hive:
// alice's is loaded, bob's is his UsrClass.dat; the Default profile, which
// new accounts copy, holds the product's settings too. A key below
// HKEY_USERS that is a link (only an administrator can make one) would steer
// a rule on a user's keys into the machine's: the 64-bit Run key, say.
TEST_F(UserProfilesTest, EveryUsersClassesAndTheDefaultProfileLoseTheirTracesToo) {
    const std::u16string linked = u"S-1-5-21-7-7-7-1009";
    FRegistry.SetString(kHkeyLocalMachine, u"SOFTWARE\\Machine\\" + kValueKey, u"Zolva", u"x");
    FRegistry.CreateLink(kHkeyUsers, linked, kHkeyLocalMachine, u"SOFTWARE\\Machine");
    const std::u16string usrClass = u"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
    const std::u16string aliceClasses = kAlice + u"_Classes";
    for (const std::u16string key : {u"Zolva.Document", u"CLSID\\{Z}"}) {
        FRegistry.SetString(kHkeyUsers, Below(aliceClasses, key), u"", u"x");
        FRegistry.SetString(kHkeyClassesRoot, key, u"", u"x");
    }
    MemoryRegistry& bobClasses = FHives.AddHiveFile(u"C:\\Users\\bob\\" + usrClass);
    bobClasses.SetString(kHkeyCurrentUser, u"Zolva.Document\\Shell", u"", u"x");
    bobClasses.SetString(kHkeyCurrentUser, u".zdoc", u"", u"keep");
    // Present but locked: a warning. Reached through a junction: a warning.
    FHives.AddProfile(u"S-1-5-21-7-7-7-1005", u"C:\\Users\\eve\\NTUSER.DAT");
    FHives.AddHiveFile(u"C:\\Users\\eve\\" + usrClass);
    FHives.RefuseLoad(u"C:\\Users\\eve\\" + usrClass, 32);
    FHives.AddProfile(u"S-1-5-21-7-7-7-1006", u"C:\\Users\\fay\\NTUSER.DAT");
    FHives.AddHiveFile(u"C:\\Users\\fay\\" + usrClass);
    FHives.MakeJunction(u"C:\\Users\\fay\\AppData\\Local");
    FHives.SetDefaultFolder(u"%SystemDrive%\\Users\\Default");
    FHives.AddHiveFile(u"C:\\Users\\Default\\NTUSER.DAT")
        .SetString(kHkeyCurrentUser, kTrace, u"v", u"x");

    FProduct.AddRemoval(rkClassesRoot, u"Zolva.Document", u"", raCompleteKey);
    FProduct.AddRemoval(rkCurrentUser, u"Software\\Classes\\CLSID\\{Z}", u"", raCompleteKey);
    {
        TUserProfiles profiles(FRegistry, FHives, &FLog);
        const TRuleRoots& roots = profiles.Open();
        EXPECT_EQ(profiles.NotLoaded(), 4); // carol, dave, eve's and fay's classes
        TZolvaProductRemover remover(&FProduct, &FLog, FRegistry);
        remover.SetRoots(&roots);
        EXPECT_TRUE(remover.ProductRemoved());
    }
    const std::u16string report = FLog.Export({eoInfo, eoWarning});
    for (const std::u16string line :
         {u"  Key \"HKEY_CLASSES_ROOT\\Zolva.Document\" deleted",
          u"  Key \"HKEY_USERS\\S-1-5-21-7-7-7-1001_Classes\\Zolva.Document\" deleted",
          u"  Key \"HKEY_USERS\\S-1-5-21-7-7-7-1002_Classes\\Zolva.Document\" deleted",
          u"  Key \"HKEY_USERS\\S-1-5-21-7-7-7-1001_Classes\\CLSID\\{Z}\" deleted",
          u"  Key \"HKEY_USERS\\Default\\Software\\Zolva\\Office\" deleted",
          u"Profile \"HKEY_USERS\\S-1-5-21-7-7-7-1002_Classes\": included (its hive "
          u"C:\\Users\\bob\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat is loaded for this "
          u"run)",
          u"Profile \"HKEY_USERS\\Default\": included (its hive C:\\Users\\Default\\NTUSER.DAT is "
          u"loaded for this run)",
          u"Profile \"HKEY_USERS\\S-1-5-21-7-7-7-1005_Classes\" not loaded "
          u"(C:\\Users\\eve\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat cannot be loaded: "
          u"error 32)",
          u"Profile \"HKEY_USERS\\S-1-5-21-7-7-7-1006_Classes\" not loaded (its hive file "
          u"C:\\Users\\fay\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat is reached through a "
          u"junction or symbolic link)",
          u"Profile \"HKEY_USERS\\S-1-5-21-7-7-7-1009\": skipped (a registry link, not a hive)"})
        EXPECT_NE(report.find(line), std::u16string::npos) << Utf16ToUtf8(line);
    EXPECT_EQ(report.find(u"HKEY_USERS\\" + linked + u"\\"), std::u16string::npos);
    EXPECT_TRUE(
        FRegistry.ValuePresent(kHkeyLocalMachine, u"SOFTWARE\\Machine\\" + kValueKey, u"Zolva"));
    // Bob has no UsrClass.dat of his own: nothing about it, no warning.
    EXPECT_EQ(report.find(u"HKEY_USERS\\" + kCarol + u"_Classes"), std::u16string::npos);
    // The user hives' own Software\Classes is not what the rule names.
    EXPECT_EQ(report.find(kAlice + u"\\Software\\Classes"), std::u16string::npos);

    EXPECT_FALSE(FRegistry.KeyPresent(kHkeyClassesRoot, u"Zolva.Document"));
    EXPECT_FALSE(FRegistry.KeyPresent(kHkeyUsers, Below(aliceClasses, u"Zolva.Document")));
    EXPECT_FALSE(FRegistry.KeyPresent(kHkeyUsers, Below(aliceClasses, u"CLSID\\{Z}")));
    EXPECT_TRUE(FRegistry.KeyPresent(kHkeyClassesRoot, u"CLSID\\{Z}")); // the machine's
    EXPECT_FALSE(bobClasses.KeyPresent(kHkeyCurrentUser, u"Zolva.Document"));
    EXPECT_TRUE(bobClasses.KeyPresent(kHkeyCurrentUser, u".zdoc"));
    EXPECT_FALSE(
        FHives.HiveFile(u"C:\\Users\\Default\\NTUSER.DAT").KeyPresent(kHkeyCurrentUser, kTrace));
    EXPECT_TRUE(FHives.Mounted().empty());
    EXPECT_EQ(FRegistry.OpenHandleCount(), 0u);
}

TEST_F(UserProfilesTest, ADefaultProfileWithoutItsHiveFileIsANoteNotAWarning) {
    FHives.SetDefaultFolder(u"C:\\Users\\Default");
    TUserProfiles profiles(FRegistry, FHives, &FLog);
    profiles.Open();
    EXPECT_EQ(profiles.NotLoaded(), 2); // carol's and dave's
    EXPECT_EQ(profiles.Outcomes().back().HiveName, u"Default");
    EXPECT_EQ(profiles.Outcomes().back().State, TProfileState::psSkipped);
}

// --- Unloading ----------------------------------------------------------------------

struct UnloadCase {
    const char* name;
    int refusals; // how often unloading bob's hive fails
    bool unloaded;
};

class UnloadTest : public UserProfilesTest, public testing::WithParamInterface<UnloadCase> {};

TEST_P(UnloadTest, AHiveThatWillNotUnloadIsTriedOnceMoreThenAWarning) {
    const std::u16string name = TUserProfiles::TemporaryName(kBob);
    FHives.RefuseUnload(name, GetParam().refusals);
    TUserProfiles profiles(FRegistry, FHives, &FLog);
    profiles.Open();
    profiles.Close();
    EXPECT_EQ(FHives.Mounted().count(name), GetParam().unloaded ? 0u : 1u);
    EXPECT_EQ(FHives.UnloadAttempts(), std::min(GetParam().refusals + 1, 2));
    EXPECT_EQ(profiles.NotUnloaded(), GetParam().unloaded ? 0 : 1);
    EXPECT_EQ(CountAction(Entries(FLog), aaProfileNotUnloaded), GetParam().unloaded ? 0u : 1u);
    const TProfileOutcome* bob = nullptr;
    for (const auto& outcome : profiles.Outcomes())
        if (outcome.HiveName == kBob)
            bob = &outcome;
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->State,
              GetParam().unloaded ? TProfileState::psLoadedForRun : TProfileState::psNotUnloaded);
    profiles.Close(); // once only
    EXPECT_EQ(FHives.UnloadAttempts(), std::min(GetParam().refusals + 1, 2));
}

INSTANTIATE_TEST_SUITE_P(Refusals, UnloadTest,
                         testing::Values(UnloadCase{"None", 0, true}, UnloadCase{"Once", 1, true},
                                         UnloadCase{"Twice", 2, false}),
                         [](const testing::TestParamInfo<UnloadCase>& info) {
                             return info.param.name;
                         });

// The run as the window makes it: the log is written while the run still
// lasts, and a hive another process holds open must be in it, and in the
// exit code, not "Done: Success" and 0.
TEST_F(UserProfilesTest, AHiveHeldOpenElsewhereGivesAWarningInTheLogAndExitCodeOne) {
    TRunSwitches switches;
    switches.AllUsers = true;
    TRunOutcome outcome;
    TRunExtras extras(switches, FRegistry, &FHives, outcome);
    FakeResources resources;
    TZolvaProducts products(FRegistry, resources);
    auto product = std::make_unique<TZolvaProduct>(u"P");
    product->AddRemoval(rkCurrentUser, kTrace, u"", raCompleteKey);
    pZolvaProductsItem item = products.Add(std::move(product));
    testing_support::TempDir dir;
    TRunLog log(dir.File(u"run.log"), u"ZolvaKeystrip.exe -allusers", true);
    RegKeyHandle held;
    {
        TRunExtras::TRun run(extras, products, true);
        ASSERT_EQ(OpenKeyHandle(FRegistry, kHkeyUsers,
                                TUserProfiles::TemporaryName(kBob) + u"\\Software", 0, kKeyRead,
                                held),
                  kErrorSuccess);
        EXPECT_TRUE(extras.Apply(products, item));
        EXPECT_TRUE(log.Write(products.Activity(), outcome));
    }
    const std::vector<uint8_t> bytes = testing_support::ReadBytes(dir.Path() / "run.log");
    const std::string text(bytes.begin(), bytes.end());
    for (const std::string line :
         {"Profile \"HKEY_USERS\\S-1-5-21-7-7-7-1002\": cleaned (its hive "
          "C:\\Users\\bob\\NTUSER.DAT is loaded for this run)",
          R"(  Key "HKEY_USERS\S-1-5-21-7-7-7-1002\Software\Zolva\Office" deleted)",
          "Profile \"HKEY_USERS\\S-1-5-21-7-7-7-1002\" not unloaded (error 5; it stays loaded "
          "as HKEY_USERS\\ZolvaKeystrip_S-1-5-21-7-7-7-1002)",
          "Problem: A user's profile loaded for the run could not be unloaded"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_TRUE(outcome.Has(TRunProblem::ProfileNotUnloaded));
    EXPECT_EQ(ProcessExitCode(outcome, true), 1);
    const auto& kept = extras.ProfileOutcomes(); // taken after the unloading
    EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [](const TProfileOutcome& o) {
        return o.HiveName == kBob && o.State == TProfileState::psNotUnloaded;
    }));
    held.Close();
}

enum class Fault { AccessDenied, NotFound, OutOfMemory };

// Whichever registry call fails, and however, during a removal across the
// profiles, the hive loaded for it is unloaded and no key stays open.
TEST_F(UserProfilesTest, AHiveLoadedForTheRunIsUnloadedWhateverFailsInBetween) {
    MemoryRegistry pristine;
    pristine.CopyContentFrom(FRegistry);
    uint64_t clean = 0;
    {
        TUserProfiles profiles(FRegistry, FHives, &FLog);
        const uint64_t before = FRegistry.CallCount();
        TZolvaProductRemover remover(&FProduct, &FLog, FRegistry);
        remover.SetRoots(&profiles.Open());
        remover.ProductRemoved();
        clean = FRegistry.CallCount() - before;
    }
    ASSERT_GT(clean, 10u);
    for (Fault fault : {Fault::AccessDenied, Fault::NotFound, Fault::OutOfMemory}) {
        for (uint64_t call = 1; call <= clean + 4; ++call) {
            MemoryRegistry registry;
            registry.CopyContentFrom(pristine);
            FakeHives hives(registry);
            hives.AddProfile(kBob, u"C:\\Users\\bob\\NTUSER.DAT")
                .SetString(kHkeyCurrentUser, kTrace + u"\\Sub", u"v", u"x");
            const uint64_t target = registry.CallCount() + call;
            if (fault == Fault::OutOfMemory)
                registry.SetCallHook([target](uint64_t n) {
                    if (n == target)
                        throw std::bad_alloc();
                });
            else
                registry.FailCall(target, fault == Fault::AccessDenied ? kErrorAccessDenied
                                                                       : kErrorFileNotFound);
            TActivityLogger log;
            try {
                TUserProfiles profiles(registry, hives, &log);
                TZolvaProductRemover remover(&FProduct, &log, registry);
                remover.SetRoots(&profiles.Open());
                remover.ProductRemoved();
            } catch (const std::bad_alloc&) {
                // Memory ran out while the profiles were opened: the error
                // reaches the caller, the hive is unloaded all the same.
            }
            registry.SetCallHook(nullptr);
            EXPECT_TRUE(hives.Mounted().empty()) << "call " << call;
            EXPECT_EQ(registry.OpenHandleCount(), 0u) << "call " << call;
        }
    }
}

} // namespace
} // namespace keystrip::test
