// Detector and remover under faults only the in-memory registry can produce:
// refused opens, reads and deletions, each single call of a run failing or
// running out of memory in turn, and errors outside the rules. No key may
// stay open, and every error is caught at its level with its digit.
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

namespace keystrip::test {
namespace {

using namespace platform;

class RuleEngineFaultTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Memory().OpenHandleCount(), 0u) << "a key was left open"; }

    MemoryRegistry& Memory() { return *FScratch->Memory(); }
    std::u16string Key(const std::u16string& relative) {
        return FScratch->Key(rkLocalMachine, relative);
    }
    std::u16string Machine(const std::u16string& relative) {
        return u"HKEY_LOCAL_MACHINE\\" + Key(relative);
    }
    void Fresh() {
        FScratch = std::make_unique<MemoryScratch>();
        FLog.Clear();
    }
    bool Detect(TZolvaProduct& product) {
        TZolvaProductDetector detector(&product, &FLog, Memory());
        return detector.ProductPresent();
    }
    bool Remove(TZolvaProduct& product) {
        TZolvaProductRemover remover(&product, &FLog, Memory());
        return remover.ProductRemoved();
    }

    std::unique_ptr<MemoryScratch> FScratch = std::make_unique<MemoryScratch>();
    TActivityLogger FLog;
};

// --- Refusals ----------------------------------------------------------------

TEST_F(RuleEngineFaultTest, AKeyThatDeniesReadingIsNotFoundByTheDetector) {
    Memory().SetString(kHkeyLocalMachine, Key(u"App"), u"v", u"x");
    Memory().DenyOpen(kHkeyLocalMachine, Key(u"App"), kKeyQueryValue);
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, Key(u"App"), u"", u"", daKeyExist);
    product.AddDetection(rkLocalMachine, Key(u"App"), u"v", u"", daNameExist);
    product.AddDetection(rkLocalMachine, Key(u"App"), u"v", u"x", daNameMatchValue);
    EXPECT_FALSE(Detect(product));
    auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 5u);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(entries[i], (LogEntry{asDebug, aaKeyNotFound, Machine(u"App")}));
}

TEST_F(RuleEngineFaultTest, AFailedReadIsCaughtAtItsRuleAndTheNextRuleStillRuns) {
    Memory().SetString(kHkeyLocalMachine, Key(u"App"), u"Text", u"x");
    Memory().SetDword(kHkeyLocalMachine, Key(u"App"), u"Number", 1);
    Memory().FailValueRead(kHkeyLocalMachine, Key(u"App"), u"Text", kErrorAccessDenied);
    Memory().FailValueRead(kHkeyLocalMachine, Key(u"App"), u"Number", kErrorKeyDeleted);
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, Key(u"App"), u"Text", u"x", daNameMatchValue);
    product.AddDetection(rkLocalMachine, Key(u"App"), u"Number", u"1", daNameMatchValue);
    product.AddDetection(rkLocalMachine, Key(u"App"), u"", u"", daKeyExist);
    EXPECT_TRUE(Detect(product));
    std::vector<LogEntry> expected = {
        {asDebug, aaStartDetection, u"P"},      {asError, aaFatalError, u"2"},
        {asError, aaFatalError, u"2"},          {asDebug, baKeyFound, Machine(u"App")},
        {asDebug, aaStopDetection, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
}

TEST_F(RuleEngineFaultTest, RefusedDeletionsFailTheirRuleAndTheRestStillRuns) {
    for (auto path : {u"Product\\A", u"Product\\B\\Locked\\Child", u"Product\\C"})
        Memory().SetString(kHkeyLocalMachine, Key(path), u"v", u"x");
    Memory().SetString(kHkeyLocalMachine, Key(u"Settings"), u"Pinned", u"x");
    Memory().SetString(kHkeyLocalMachine, Key(u"Settings"), u"Loose", u"x");
    Memory().DenyDelete(kHkeyLocalMachine, Key(u"Product\\B\\Locked"));
    Memory().DenyValueDelete(kHkeyLocalMachine, Key(u"Settings"), u"Pinned");
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(u"Settings"), u"Pinned", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(u"Settings"), u"Loose", raNameOnly);
    EXPECT_FALSE(Remove(product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asWarning, aaKeyNotDeleted, Machine(u"Product")},
        {asWarning, aaNameNotDeleted, Machine(u"Settings") + u"\\Pinned"},
        {asInfo, aaNameDeleted, Machine(u"Settings") + u"\\Loose"},
        {asInfo, ssStopRemoval, u"Failure"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    // Partial deletion: the path down to the locked key stays, nothing else.
    EXPECT_TRUE(Memory().KeyPresent(kHkeyLocalMachine, Key(u"Product\\B\\Locked")));
    EXPECT_FALSE(Memory().KeyPresent(kHkeyLocalMachine, Key(u"Product\\B\\Locked\\Child")));
    EXPECT_FALSE(Memory().KeyPresent(kHkeyLocalMachine, Key(u"Product\\A")));
    EXPECT_FALSE(Memory().KeyPresent(kHkeyLocalMachine, Key(u"Product\\C")));
}

TEST_F(RuleEngineFaultTest, KeysTheRemoverCannotOpenCountAsAbsent) {
    Memory().SetString(kHkeyLocalMachine, Key(u"Unreadable"), u"v", u"x");
    Memory().SetString(kHkeyLocalMachine, Key(u"ReadOnly"), u"v", u"x");
    Memory().DenyOpen(kHkeyLocalMachine, Key(u"Unreadable"), kKeyEnumerateSubKeys);
    Memory().DenyOpen(kHkeyLocalMachine, Key(u"ReadOnly"), kKeySetValue);
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(u"Unreadable"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(u"ReadOnly"), u"v", raNameOnly);
    EXPECT_TRUE(Remove(product));
    auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1], (LogEntry{asInfo, aaKeyNotFound, Machine(u"Unreadable")}));
    EXPECT_EQ(entries[2], (LogEntry{asInfo, aaKeyNotFound, Machine(u"ReadOnly")}));
    EXPECT_TRUE(Memory().ValuePresent(kHkeyLocalMachine, Key(u"ReadOnly"), u"v"));
}

TEST_F(RuleEngineFaultTest, ARuleNamingAWholeRootDeletesNothingAndFails) {
    Memory().CreateKey(kHkeyCurrentUser, u"Unrelated\\Key");
    Memory().CreateKey(kHkeyLocalMachine, u"Unrelated\\Key");
    Memory().SetString(kHkeyLocalMachine, Key(u"Product"), u"v", u"x");
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, u"", u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, u"\\", u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, u"\\\\\\", u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(u"Product"), u"", raCompleteKey);
    EXPECT_FALSE(Remove(product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        // The log says why, not "access denied or locked".
        {asWarning, aaKeyRefused, WithDetail(u"HKEY_LOCAL_MACHINE\\", u"it names a whole root")},
        {asWarning, aaKeyRefused, WithDetail(u"HKEY_CURRENT_USER\\\\", u"it names a whole root")},
        {asWarning, aaKeyRefused,
         WithDetail(u"HKEY_LOCAL_MACHINE\\\\\\\\", u"it names a whole root")},
        {asInfo, aaKeyDeleted, Machine(u"Product")},
        {asInfo, ssStopRemoval, u"Failure"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    EXPECT_TRUE(Memory().KeyPresent(kHkeyCurrentUser, u"Unrelated\\Key"));
    EXPECT_TRUE(Memory().KeyPresent(kHkeyLocalMachine, u"Unrelated\\Key"));
}

TEST_F(RuleEngineFaultTest, EveryRootMapsToItsHandleAndText) {
    struct RootCase {
        TZolvaProductRootKey root;
        RegKey handle;
        const char16_t* text;
    };
    const RootCase cases[] = {
        {rkClassesRoot, kHkeyClassesRoot, u"HKEY_CLASSES_ROOT"},
        {rkCurrentUser, kHkeyCurrentUser, u"HKEY_CURRENT_USER"},
        {rkLocalMachine, kHkeyLocalMachine, u"HKEY_LOCAL_MACHINE"},
        {rkUsers, kHkeyUsers, u"HKEY_USERS"},
        {rkPerformanceData, kHkeyPerformanceData, u"HKEY_PERFORMANCE_DATA"},
        {rkCurrentConfig, kHkeyCurrentConfig, u"HKEY_CURRENT_CONFIG"},
        {static_cast<TZolvaProductRootKey>(9), kHkeyClassesRoot, u"HKEY_CLASSES_ROOT"},
    };
    for (const auto& c : cases)
        Memory().CreateKey(c.handle, U16("Only" + std::to_string(c.handle)));
    for (const auto& c : cases) {
        FLog.Clear();
        TZolvaProduct product(u"P");
        std::u16string key = U16("Only" + std::to_string(c.handle));
        product.AddDetection(c.root, key, u"", u"", daKeyExist);
        EXPECT_TRUE(Detect(product)) << Utf16ToUtf8(c.text);
        EXPECT_EQ(Entries(FLog)[1].data, std::u16string(c.text) + u"\\" + key);
    }
    // HKEY_DYN_DATA cannot be opened on Windows NT: even its root is absent.
    FLog.Clear();
    TZolvaProduct product(u"P");
    product.AddDetection(rkDynData, u"", u"", u"", daKeyExist);
    EXPECT_FALSE(Detect(product));
    EXPECT_EQ(Entries(FLog)[1], (LogEntry{asDebug, aaKeyNotFound, u"HKEY_DYN_DATA\\"}));
}

TEST_F(RuleEngineFaultTest, WithoutALogTheAnswersStayTheSame) {
    Memory().CreateKey(kHkeyLocalMachine, Key(u"App"));
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, Key(u"App"), u"", u"", daKeyExist);
    product.AddRemoval(rkLocalMachine, Key(u"App"), u"", raCompleteKey);
    EXPECT_TRUE(TZolvaProductDetector(&product, nullptr, Memory()).ProductPresent());
    EXPECT_TRUE(TZolvaProductRemover(&product, nullptr, Memory()).ProductRemoved());
    EXPECT_FALSE(Memory().KeyPresent(kHkeyLocalMachine, Key(u"App")));
}

// --- Errors outside the rules --------------------------------------------------

// Shrinks the rule list while the first rule runs, so that reaching the next
// rule fails outside any rule check.
template <typename DeleteRule>
void ShrinkDuringFirstCall(MemoryRegistry& memory, int count, DeleteRule deleteRule) {
    memory.SetCallHook([count, deleteRule, done = false](uint64_t) mutable {
        if (done)
            return;
        done = true;
        for (int index = count - 1; index >= 1; --index)
            deleteRule(index);
    });
}

TEST_F(RuleEngineFaultTest, AnErrorOutsideTheRulesEndsTheDetectionWithDigitOne) {
    TZolvaProduct product(u"P");
    for (int i = 0; i < 3; ++i)
        product.AddDetection(rkLocalMachine, Key(u"Nope"), u"", u"", daKeyExist);
    ShrinkDuringFirstCall(Memory(), 3, [&](int index) { product.DeleteDetection(index); });
    EXPECT_FALSE(Detect(product));
    std::vector<LogEntry> expected = {
        {asDebug, aaStartDetection, u"P"},
        {asDebug, aaKeyNotFound, Machine(u"Nope")},
        {asError, aaFatalError, u"1"},
    };
    EXPECT_EQ(Entries(FLog), expected);
}

TEST_F(RuleEngineFaultTest, AnErrorOutsideTheRulesEndsTheRemovalWithDigitThree) {
    TZolvaProduct product(u"P");
    for (int i = 0; i < 3; ++i)
        product.AddRemoval(rkLocalMachine, Key(u"Nope"), u"", raCompleteKey);
    ShrinkDuringFirstCall(Memory(), 3, [&](int index) { product.DeleteRemoval(index); });
    EXPECT_FALSE(Remove(product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asInfo, aaKeyNotFound, Machine(u"Nope")},
        {asError, aaFatalError, u"3"},
    };
    EXPECT_EQ(Entries(FLog), expected);
}

// --- Sweeps: each single call of a run fails, or runs out of memory ---------

class SweepTest : public RuleEngineFaultTest {
protected:
    // A product whose rules use every action, hits and misses, a link and
    // reads of every kind. The last detection rule holds.
    void Build() {
        Fresh();
        auto& m = Memory();
        m.SetString(kHkeyLocalMachine, Key(u"App"), u"Edition", u"Pro");
        m.SetDword(kHkeyLocalMachine, Key(u"App"), u"Build", 42);
        m.SetValue(kHkeyLocalMachine, Key(u"App"), u"Blob", kRegBinary, {1, 2});
        m.SetString(kHkeyLocalMachine, Key(u"Shared\\Deep"), u"v", u"precious");
        for (auto path : {u"Product\\A\\A1", u"Product\\A\\A2", u"Product\\B"})
            m.SetString(kHkeyLocalMachine, Key(path), u"v", u"x");
        m.CreateLink(kHkeyLocalMachine, Key(u"Product\\A\\ToShared"), kHkeyLocalMachine,
                     Key(u"Shared"));

        FProduct = std::make_unique<TZolvaProduct>(u"P");
        auto& p = *FProduct;
        p.AddDetection(rkLocalMachine, Key(u"App"), u"Edition", u"home", daNameMatchValue);
        p.AddDetection(rkLocalMachine, Key(u"App"), u"Build", u"41", daNameMatchValue);
        p.AddDetection(rkLocalMachine, Key(u"App"), u"Blob", u"", daNameMatchValue);
        p.AddDetection(rkLocalMachine, Key(u"App"), u"Nope", u"", daNameExist);
        p.AddDetection(rkLocalMachine, Key(u"Nope"), u"", u"", daKeyExist);
        p.AddDetection(rkLocalMachine, Key(u"Product"), u"", u"", daKeyExist);
        p.AddRemoval(rkLocalMachine, Key(u"Product"), u"", raCompleteKey);
        p.AddRemoval(rkLocalMachine, Key(u"App"), u"Edition", raNameOnly);
        p.AddRemoval(rkLocalMachine, Key(u"App"), u"Nope", raNameOnly);
        p.AddRemoval(rkLocalMachine, Key(u"Nope"), u"", raCompleteKey);
    }
    bool Detect() { return RuleEngineFaultTest::Detect(*FProduct); }
    bool Remove() { return RuleEngineFaultTest::Remove(*FProduct); }
    uint64_t CleanRunCalls(bool detection) {
        Build();
        detection ? Detect() : Remove();
        return Memory().CallCount();
    }
    void ThrowAt(uint64_t call, bool& raised) {
        Memory().SetCallHook([call, &raised](uint64_t n) {
            if (n == call) {
                raised = true;
                throw std::bad_alloc();
            }
        });
    }
    void ExpectSound(const std::string& when) {
        EXPECT_EQ(Memory().OpenHandleCount(), 0u) << when;
        EXPECT_TRUE(Memory().ValuePresent(kHkeyLocalMachine, Key(u"Shared\\Deep"), u"v")) << when;
    }

    std::unique_ptr<TZolvaProduct> FProduct;
};

bool IsHolding(TActivityAction action) {
    return action == baKeyFound || action == aaNameFound || action == aaValueEqual;
}

TEST_F(SweepTest, DetectionSurvivesAnySingleFailingCall) {
    const uint64_t calls = CleanRunCalls(true);
    ASSERT_GT(calls, 15u);
    for (long error : {kErrorAccessDenied, kErrorKeyDeleted, kErrorFileNotFound}) {
        for (uint64_t call = 1; call <= calls; ++call) {
            Build();
            Memory().FailCall(call, error);
            bool present = Detect();
            std::string when = "call " + std::to_string(call) + ", error " + std::to_string(error);
            ExpectSound(when);
            auto entries = Entries(FLog);
            ASSERT_GE(entries.size(), 2u) << when;
            EXPECT_EQ(entries.front().action, aaStartDetection) << when;
            EXPECT_EQ(entries.back(),
                      (LogEntry{asDebug, aaStopDetection, present ? u"Success" : u"Failure"}))
                << when;
            // The answer is the last rule entry's, and only reads can raise.
            EXPECT_EQ(present, IsHolding(entries[entries.size() - 2].action)) << when;
            for (const auto& entry : entries) {
                if (entry.action == aaFatalError) {
                    EXPECT_EQ(entry, (LogEntry{asError, aaFatalError, u"2"})) << when;
                }
            }
        }
    }
}

TEST_F(SweepTest, DetectionCatchesMemoryRunningOutAtTheRule) {
    const uint64_t calls = CleanRunCalls(true);
    for (uint64_t call = 1; call <= calls; ++call) {
        Build();
        bool raised = false;
        ThrowAt(call, raised);
        bool present = Detect();
        std::string when = "call " + std::to_string(call);
        ExpectSound(when);
        auto entries = Entries(FLog);
        EXPECT_EQ(CountAction(entries, aaFatalError), raised ? 1u : 0u) << when;
        EXPECT_EQ(std::count(entries.begin(), entries.end(), LogEntry{asError, aaFatalError, u"2"}),
                  raised ? 1 : 0)
            << when;
        // Later rules still run: the last rule holds unless it was the one hit.
        EXPECT_EQ(present, CountAction(entries, baKeyFound) == 1) << when;
        EXPECT_EQ(entries.back().action, aaStopDetection) << when;
    }
}

TEST_F(SweepTest, RemovalSurvivesAnySingleFailingCall) {
    const uint64_t calls = CleanRunCalls(false);
    ASSERT_GT(calls, 20u);
    for (long error : {kErrorAccessDenied, kErrorKeyDeleted, kErrorFileNotFound}) {
        for (uint64_t call = 1; call <= calls; ++call) {
            Build();
            Memory().FailCall(call, error);
            bool removed = Remove();
            std::string when = "call " + std::to_string(call) + ", error " + std::to_string(error);
            ExpectSound(when);
            auto entries = Entries(FLog);
            // Start, one entry per rule, stop; failures only as warnings.
            ASSERT_EQ(entries.size(), 6u) << when;
            EXPECT_EQ(CountAction(entries, aaFatalError), 0u) << when;
            size_t warnings =
                CountAction(entries, aaKeyNotDeleted) + CountAction(entries, aaNameNotDeleted);
            EXPECT_EQ(removed, warnings == 0) << when;
            EXPECT_EQ(entries.back().data, removed ? u"Success" : u"Failure") << when;
            // A key reported deleted is gone.
            if (entries[1].action == aaKeyDeleted) {
                EXPECT_FALSE(Memory().KeyPresent(kHkeyLocalMachine, Key(u"Product"))) << when;
            }
        }
    }
}

TEST_F(SweepTest, RemovalCatchesMemoryRunningOutAtTheRule) {
    const uint64_t calls = CleanRunCalls(false);
    for (uint64_t call = 1; call <= calls; ++call) {
        Build();
        bool raised = false;
        ThrowAt(call, raised);
        bool removed = Remove();
        std::string when = "call " + std::to_string(call);
        ExpectSound(when);
        auto entries = Entries(FLog);
        ASSERT_EQ(entries.size(), 6u) << when;
        EXPECT_EQ(removed, !raised) << when;
        EXPECT_EQ(std::count(entries.begin(), entries.end(), LogEntry{asError, aaFatalError, u"4"}),
                  raised ? 1 : 0)
            << when;
        EXPECT_EQ(entries.back(),
                  (LogEntry{asInfo, ssStopRemoval, raised ? u"Failure" : u"Success"}))
            << when;
        // The rules after the one hit still ran: the last rule's key is absent.
        EXPECT_TRUE(entries[4].action == aaKeyNotFound || entries[4].action == aaFatalError)
            << when;
    }
}

} // namespace
} // namespace keystrip::test
