// States a user without administrator rights can plant under keys the
// program deletes (NUL characters in key names, registry links on the way to
// a key and inside its tree, trees deeper than the registry allows), against
// the in-memory registry and, in the Windows build, against the real one.
// Whatever is planted, exactly the rules' targets go and nothing crashes.
#include "rules/RegistryAccess.h"
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace keystrip::test {
namespace {

using namespace platform;

const std::u16string kNul(1, u'\0');

class HostileTreeTest : public RegistryTest {
protected:
    bool DeleteKey(TZolvaProductRootKey root, const std::u16string& relative) {
        TRegistryAccess access(Registry(), kKeyAllAccess);
        access.SetRootKey(RootHandle(root));
        return access.DeleteKey(Key(root, relative));
    }
    bool Remove(TZolvaProduct& product) {
        TZolvaProductRemover remover(&product, &FLog, Registry());
        return remover.ProductRemoved();
    }
    std::u16string Path(TZolvaProductRootKey root, const std::u16string& relative) {
        return RootKeyToText(root) + u'\\' + Key(root, relative);
    }
    // The kernel name of a key of the scratch tree.
    std::u16string KernelName(TZolvaProductRootKey root, const std::u16string& relative) {
        RegKeyHandle key;
        EXPECT_EQ(OpenKeyHandle(Registry(), RootHandle(root), Key(root, relative), kOptionOpenLink,
                                kKeyRead, key),
                  kErrorSuccess);
        std::u16string name;
        EXPECT_EQ(Registry().QueryKeyName(key.Get(), name), kErrorSuccess);
        return name;
    }

    TActivityLogger FLog;
};

TEST_P(HostileTreeTest, SubkeysWithNulInTheirNamesAreDeletedLikeAnyOther) {
    auto& s = Scratch();
    s.SetString(rkCurrentUser, u"Product\\Settings", u"v", u"x");
    s.SetString(rkCurrentUser, u"Product\\abc", u"v", u"sibling of abc<NUL>");
    s.SetString(rkCurrentUser, u"ProductKeep", u"v", u"stay");
    // Cut at the NUL, these names reach the parent, a sibling or nothing.
    for (const auto& name : {kNul + u"hidden", u"ghost" + kNul + u"x", u"abc" + kNul, kNul})
        s.CreateNamedKey(rkCurrentUser, u"Product\\Settings", name);
    s.CreateNamedKey(rkCurrentUser, u"Product", u"abc" + kNul);
    s.CreateNamedKey(rkCurrentUser, u"Product\\abc" + kNul, kNul + u"deeper");
    ASSERT_EQ(s.SubKeyNames(rkCurrentUser, u"Product\\Settings").size(), 4u);

    EXPECT_TRUE(DeleteKey(rkCurrentUser, u"Product"));
    EXPECT_FALSE(s.KeyPresent(rkCurrentUser, u"Product"));
    EXPECT_TRUE(s.ValuePresent(rkCurrentUser, u"ProductKeep", u"v"));
    EXPECT_EQ(s.SubKeyNames(rkCurrentUser, u""), std::vector<std::u16string>{u"ProductKeep"});
}

TEST_P(HostileTreeTest, LinksInsideATreeAreDeletedThemselvesWhateverTheyLeadTo) {
    auto& s = Scratch();
    // A target with a Wow6432Node subkey, which a relative open in the
    // 32-bit view would follow even when asked for the link itself.
    s.SetString(rkLocalMachine, u"Shared\\Wow6432Node\\CLSID", u"v", u"precious");
    s.SetString(rkLocalMachine, u"Shared\\Data", u"v", u"precious");
    s.SetString(rkCurrentUser, u"Product\\Sub", u"v", u"x");
    s.CreateLink(rkCurrentUser, u"Product\\ToMachine", rkLocalMachine, u"Shared");
    s.CreateLink(rkCurrentUser, u"Product\\Sub\\ToWow", rkLocalMachine, u"Shared\\Wow6432Node");
    // A cycle back to the top of the tree.
    s.CreateLink(rkCurrentUser, u"Product\\Sub\\Loop", rkCurrentUser, u"Product");

    EXPECT_TRUE(DeleteKey(rkCurrentUser, u"Product"));
    EXPECT_FALSE(s.KeyPresent(rkCurrentUser, u"Product"));
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Shared\\Wow6432Node\\CLSID", u"v"));
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Shared\\Data", u"v"));
}

struct PathLinkCase {
    const char* label;
    TZolvaProductRootKey linkRoot;   // where the link a rule's path passes lies
    TZolvaProductRootKey targetRoot; // where it leads
    bool followed;                   // only links between machine keys are
};

TEST_P(HostileTreeTest, ALinkOnThePathToARuleKeyRefusesTheRuleUnlessItJoinsMachineKeys) {
    const PathLinkCase cases[] = {
        {"user to machine", rkCurrentUser, rkLocalMachine, false},
        {"user to user", rkCurrentUser, rkCurrentUser, false},
        {"machine to user", rkLocalMachine, rkCurrentUser, false},
        {"machine to machine", rkLocalMachine, rkLocalMachine, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto& s = Scratch();
        const std::u16string victim = u"Victim" + U16(std::to_string(&c - cases));
        const std::u16string vendor = u"Vendor" + U16(std::to_string(&c - cases));
        s.SetString(c.targetRoot, victim + u"\\Office", u"v", u"precious");
        s.SetString(c.targetRoot, victim + u"\\Office\\Sub", u"v", u"precious");
        s.SetString(c.targetRoot, victim + u"\\Shared", u"Name", u"precious");
        s.CreateLink(c.linkRoot, vendor, c.targetRoot, victim);
        s.SetString(c.linkRoot, u"Later", u"v", u"x");

        TZolvaProduct product(u"P");
        product.AddRemoval(c.linkRoot, Key(c.linkRoot, vendor + u"\\Office"), u"", raCompleteKey);
        product.AddRemoval(c.linkRoot, Key(c.linkRoot, vendor + u"\\Shared"), u"Name", raNameOnly);
        product.AddRemoval(c.linkRoot, Key(c.linkRoot, u"Later"), u"", raCompleteKey);
        FLog.Clear();
        EXPECT_EQ(Remove(product), c.followed);

        const std::u16string office = Path(c.linkRoot, vendor + u"\\Office");
        const std::u16string name = Path(c.linkRoot, vendor + u"\\Shared") + u"\\Name";
        std::vector<LogEntry> expected = {{asInfo, ssStartRemoval, u"P"}};
        if (c.followed) {
            expected.push_back({asInfo, aaKeyDeleted, office});
            expected.push_back({asInfo, aaNameDeleted, name});
        } else {
            // The log gives the reason, not "access denied or locked".
            const std::u16string why = u"the way to it leads through a registry link";
            expected.push_back({asWarning, aaKeyRefused, WithDetail(office, why)});
            expected.push_back({asWarning, aaNameRefused, WithDetail(name, why)});
        }
        expected.push_back({asInfo, aaKeyDeleted, Path(c.linkRoot, u"Later")});
        expected.push_back({asInfo, ssStopRemoval, c.followed ? u"Success" : u"Failure"});
        EXPECT_EQ(Entries(FLog), expected);

        EXPECT_EQ(s.KeyPresent(c.targetRoot, victim + u"\\Office\\Sub"), !c.followed);
        EXPECT_EQ(s.ValuePresent(c.targetRoot, victim + u"\\Shared", u"Name"), !c.followed);
        EXPECT_TRUE(s.LinkPresent(c.linkRoot, vendor));
        EXPECT_FALSE(s.KeyPresent(c.linkRoot, u"Later"));
    }
}

TEST_P(HostileTreeTest, ARuleWhoseKeyOrNameHoldsANulIsRefusedLikeOneNamingARoot) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Product", u"v", u"stay");
    s.SetString(rkLocalMachine, u"Product\\Sub", u"v", u"stay");
    // Cut at the NUL, each would name the scratch tree's top, Product, or its value v.
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, kNul), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product" + kNul + u"\\Sub"), u"",
                       raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product" + kNul), u"v", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"v" + kNul + u"x",
                       raNameOnly);
    EXPECT_FALSE(Remove(product));

    const auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 6u);
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(entries[i].severity, asWarning) << i;
        EXPECT_EQ(entries[i].action, i < 3 ? aaKeyRefused : aaNameRefused) << i;
        EXPECT_NE(entries[i].data.find(WithDetail(u"", u"its name holds a NUL character")),
                  std::u16string::npos)
            << i;
    }
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Product", u"v"));
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Product\\Sub", u"v"));
}

TEST_P(HostileTreeTest, ATreeDeeperThanTheRegistryAllowsFailsItsRuleAndTheRestGoesOn) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Product\\Shallow", u"v", u"x");
    // Down to two levels beyond the limit (Wine accepts them; Windows stops at 512).
    const int top = KernelDepth(KernelName(rkLocalMachine, u"Product"));
    std::u16string deep = u"Product";
    std::u16string deepest;
    for (int depth = top + 1; depth <= TRegistryTree::kMaxDepth + 2; ++depth) {
        deep += u"\\D";
        if (depth == TRegistryTree::kMaxDepth + 2)
            deepest = deep;
    }
    s.SetString(rkLocalMachine, deepest, u"v", u"x");
    s.SetString(rkLocalMachine, u"Later", u"v", u"x");

    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Later"), u"", raCompleteKey);
    EXPECT_FALSE(Remove(product));
    const std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asWarning, aaKeyRefused,
         WithDetail(Path(rkLocalMachine, u"Product"),
                    u"keys inside it lie below the registry's depth limit")},
        {asInfo, aaKeyDeleted, Path(rkLocalMachine, u"Later")},
        {asInfo, ssStopRemoval, u"Failure"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, deepest, u"v"));
    EXPECT_FALSE(s.KeyPresent(rkLocalMachine, u"Product\\Shallow"));
}

INSTANTIATE_TEST_SUITE_P(Registries, HostileTreeTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
