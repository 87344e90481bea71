// The registry access object under faults only the in-memory registry can
// produce: refused opens and deletions, failing reads, and a failure of each
// single call of a run in turn.
#include "rules/RegistryAccess.h"

#include "common/Errors.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <new>

namespace keystrip::test {
namespace {

using namespace platform;

class RegistryAccessFaultTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Memory().OpenHandleCount(), 0u) << "a key was left open"; }

    MemoryRegistry& Memory() { return *FScratch->Memory(); }
    std::u16string Key(const std::u16string& relative) {
        return FScratch->Key(rkLocalMachine, relative);
    }
    RegKey Root() const { return kHkeyLocalMachine; }
    void Fresh() { FScratch = std::make_unique<MemoryScratch>(); }

    std::unique_ptr<MemoryScratch> FScratch = std::make_unique<MemoryScratch>();
};

struct OpenCase {
    const char* label;
    uint32_t denied;
    uint32_t mask;
    bool exists;
    bool opens;
};

TEST_F(RegistryAccessFaultTest, KeyExistsAsksOnlyForQueryAndEnumerationWhateverTheMask) {
    const OpenCase cases[] = {
        {"notify refused, read mask", 0x0010, kKeyRead, true, false},
        {"writing refused, full mask", kKeySetValue, kKeyAllAccess, true, false},
        {"writing refused, read mask", kKeySetValue, kKeyRead, true, true},
        {"enumeration refused", kKeyEnumerateSubKeys, kKeyRead, false, false},
        {"querying refused", kKeyQueryValue, kKeyAllAccess, false, false},
    };
    for (const auto& c : cases) {
        Fresh();
        Memory().CreateKey(Root(), Key(u"App"));
        Memory().DenyOpen(Root(), Key(u"App"), c.denied);
        TRegistryAccess access(Memory(), c.mask);
        access.SetRootKey(Root());
        EXPECT_EQ(access.KeyExists(Key(u"App")), c.exists) << c.label;
        EXPECT_EQ(access.OpenKey(Key(u"App")), c.opens) << c.label;
        EXPECT_EQ(access.HasOpenKey(), c.opens) << c.label;
    }
}

TEST_F(RegistryAccessFaultTest, ReadsRaiseWhenTheDataCannotBeRead) {
    Memory().SetString(Root(), Key(u"App"), u"Text", u"abc");
    Memory().SetDword(Root(), Key(u"App"), u"Number", 1);
    Memory().FailValueRead(Root(), Key(u"App"), u"Text", kErrorAccessDenied);
    Memory().FailValueRead(Root(), Key(u"App"), u"Number", kErrorKeyDeleted);
    TRegistryAccess access(Memory(), kKeyRead);
    access.SetRootKey(Root());
    ASSERT_TRUE(access.OpenKey(Key(u"App")));
    EXPECT_TRUE(access.ValueExists(u"Text"));
    EXPECT_EQ(access.GetDataType(u"Text"), rdString);
    EXPECT_THROW(access.ReadString(u"Text"), ERegistryError);
    EXPECT_THROW(access.ReadInteger(u"Number"), ERegistryError);
}

TEST_F(RegistryAccessFaultTest, ASubkeyThatStaysKeepsThePathDownToItAndNothingElse) {
    for (auto path : {u"Product\\A\\A1", u"Product\\B\\C\\F", u"Product\\B\\D", u"Product\\E"})
        Memory().SetString(Root(), Key(path), u"v", u"x");
    Memory().DenyDelete(Root(), Key(u"Product\\B\\C"));
    TRegistryAccess access(Memory(), kKeyAllAccess);
    access.SetRootKey(Root());

    EXPECT_FALSE(access.DeleteKey(Key(u"Product")));
    for (auto kept : {u"Product", u"Product\\B", u"Product\\B\\C"})
        EXPECT_TRUE(Memory().KeyPresent(Root(), Key(kept))) << Utf16ToUtf8(kept);
    for (auto gone : {u"Product\\A", u"Product\\B\\C\\F", u"Product\\B\\D", u"Product\\E"})
        EXPECT_FALSE(Memory().KeyPresent(Root(), Key(gone))) << Utf16ToUtf8(gone);
}

TEST_F(RegistryAccessFaultTest, AKeyDenyingFullAccessIsStillDeletedWhenItIsALeaf) {
    Memory().CreateKey(Root(), Key(u"Product\\Leaf"));
    Memory().CreateKey(Root(), Key(u"Product\\Branch\\Child"));
    Memory().DenyOpen(Root(), Key(u"Product\\Leaf"), kKeySetValue);
    Memory().DenyOpen(Root(), Key(u"Product\\Branch"), kKeySetValue);
    TRegistryAccess access(Memory(), kKeyAllAccess);
    access.SetRootKey(Root());

    EXPECT_FALSE(access.DeleteKey(Key(u"Product")));
    EXPECT_FALSE(Memory().KeyPresent(Root(), Key(u"Product\\Leaf")));
    // Its subkeys cannot be reached, so the branch stays whole.
    EXPECT_TRUE(Memory().KeyPresent(Root(), Key(u"Product\\Branch\\Child")));
}

TEST_F(RegistryAccessFaultTest, APathNamingTheRootDeletesNothing) {
    Memory().CreateKey(Root(), u"Other\\Key");
    Memory().CreateKey(kHkeyCurrentUser, u"Other");
    for (auto path : {u"", u"\\", u"\\\\", u"\\\\\\"}) {
        for (RegKey root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
            TRegistryAccess access(Memory(), kKeyAllAccess);
            access.SetRootKey(root);
            uint64_t before = Memory().CallCount();
            EXPECT_FALSE(access.DeleteKey(path));
            EXPECT_EQ(Memory().CallCount(), before) << "the registry was touched";
        }
    }
    EXPECT_TRUE(Memory().KeyPresent(Root(), u"Other\\Key"));
    EXPECT_TRUE(Memory().KeyPresent(kHkeyCurrentUser, u"Other"));
}

// A tree with links inside and a link at its top, and precious data they
// point to. Returns the calls a clean DeleteKey of the tree makes.
class DeleteSweepTest : public RegistryAccessFaultTest {
protected:
    void Build() {
        Fresh();
        Memory().SetString(Root(), Key(u"Shared\\Deep"), u"v", u"precious");
        Memory().SetString(Root(), Key(u"Leaf"), u"v", u"precious");
        for (auto path : {u"Product\\A\\A1", u"Product\\A\\A2", u"Product\\B", u"Product\\C\\C1"})
            Memory().SetString(Root(), Key(path), u"v", u"x");
        Memory().CreateLink(Root(), Key(u"Product\\A\\ToShared"), Root(), Key(u"Shared"));
        Memory().CreateLink(Root(), Key(u"Product\\C\\ToLeaf"), Root(), Key(u"Leaf"));
        Memory().CreateLink(Root(), Key(u"Product\\ToLeaf"), Root(), Key(u"Leaf"));
    }
    bool Delete() {
        TRegistryAccess access(Memory(), kKeyAllAccess);
        access.SetRootKey(Root());
        return access.DeleteKey(Key(u"Product"));
    }
    void ExpectTargetsIntact(const std::string& when) {
        EXPECT_TRUE(Memory().ValuePresent(Root(), Key(u"Shared\\Deep"), u"v")) << when;
        EXPECT_TRUE(Memory().ValuePresent(Root(), Key(u"Leaf"), u"v")) << when;
        EXPECT_EQ(Memory().OpenHandleCount(), 0u) << when;
    }
};

TEST_F(DeleteSweepTest, NoSingleFailingCallLosesALinkTargetOrLeavesAKeyOpen) {
    Build();
    ASSERT_TRUE(Delete());
    const uint64_t calls = Memory().CallCount();
    ASSERT_GT(calls, 20u);
    for (long error : {kErrorAccessDenied, kErrorKeyDeleted, kErrorFileNotFound}) {
        for (uint64_t call = 1; call <= calls; ++call) {
            Build();
            Memory().FailCall(call, error);
            bool deleted = Delete();
            std::string when = "call " + std::to_string(call) + ", error " + std::to_string(error);
            ExpectTargetsIntact(when);
            EXPECT_EQ(deleted, !Memory().KeyPresent(Root(), Key(u"Product"))) << when;
        }
    }
}

TEST_F(DeleteSweepTest, MemoryRunningOutInAnyCallPassesThroughWithNothingLeftOpen) {
    Build();
    ASSERT_TRUE(Delete());
    const uint64_t calls = Memory().CallCount();
    for (uint64_t call = 1; call <= calls; ++call) {
        Build();
        bool raised = false;
        Memory().SetCallHook([call, &raised](uint64_t n) {
            if (n == call) {
                raised = true;
                throw std::bad_alloc();
            }
        });
        std::string when = "call " + std::to_string(call);
        // CloseKey never runs the hook, so at its numbers nothing is raised.
        bool caught = false;
        try {
            Delete();
        } catch (const std::bad_alloc&) {
            caught = true;
        }
        EXPECT_EQ(caught, raised) << when;
        ExpectTargetsIntact(when);
    }
}

} // namespace
} // namespace keystrip::test
