// Every user's profile for the rules on HKEY_CURRENT_USER, with the in-memory
// registry and hives: loaded hives and those loaded for the run, hives that
// cannot be loaded, the report's real paths, and every loaded hive unloaded
// again whatever fails in between.
#include "rules/UserProfiles.h"
#include "rules/RegistryAccess.h"
#include "rules/ZolvaProductInspector.h"
#include "rules/ZolvaRuleProcessor.h"

#include "platform/doubles/FakeHives.h"
#include "platform/doubles/MemoryRegistry.h"
#include "tests/support/LogEntries.h"

#include <gtest/gtest.h>

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

// One user's hive, as a restore asks for it: where it can be had, the root
// reaches exactly that hive; otherwise nothing, with a warning.
struct OpenUserCase {
    const char* name;
    std::u16string hiveName;
    bool opened;
    TProfileState state;
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
        EXPECT_EQ(FHives.Loads(), c.state == TProfileState::psLoadedForRun ? 1 : 0);
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
    testing::Values(OpenUserCase{"LoadedNow", kAlice, true, TProfileState::psLoaded, u""},
                    OpenUserCase{"LoadedFromItsFile", kBob, true, TProfileState::psLoadedForRun,
                                 u"C:\\Users\\bob\\NTUSER.DAT"},
                    OpenUserCase{"HiveLocked", kCarol, false, TProfileState::psNotLoaded,
                                 u"C:\\Users\\carol\\NTUSER.DAT"},
                    OpenUserCase{"NoFolder", kDave, false, TProfileState::psNotLoaded, u""},
                    OpenUserCase{"ServiceAccount", u"S-1-5-19", false, TProfileState::psNotLoaded,
                                 u""},
                    OpenUserCase{"LinkIntoTheMachine", u"S-1-5-21-7-7-7-1009", false,
                                 TProfileState::psNotLoaded, u""}),
    [](const testing::TestParamInfo<OpenUserCase>& info) { return info.param.name; });

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
            hives.AddProfile(kBob, u"bob.dat")
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
