// Fault sweeps over the shipped definitions: every product, loaded from the
// resources as the program loads them, is detected and removed in a registry
// where it is installed, and in turn each single registry call of that run
// fails (with an error code, or by running out of memory). Whatever call
// fails, no error escapes, no key stays open, the log has its fixed shape,
// and the answer agrees with what the registry holds afterwards.
#include "common/TextCase.h"
#include "common/Utf.h"
#include "definitions/ZolvaProducts.h"
#include "platform/EmbeddedResources.h"
#include "platform/doubles/MemoryRegistry.h"
#include "resources/ShippedResources.h"
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace keystrip::test {
namespace {

using namespace platform;

RegKey Handle(TZolvaProductRootKey root) {
    static const RegKey kHandles[] = {kHkeyClassesRoot, kHkeyCurrentUser,     kHkeyLocalMachine,
                                      kHkeyUsers,       kHkeyPerformanceData, kHkeyCurrentConfig,
                                      kHkeyDynData};
    return root < 7 ? kHandles[root] : kHkeyClassesRoot;
}

std::u16string KeyPath(TZolvaProductRootKey root, const std::u16string& key) {
    return RootKeyToText(root) + u"\\" + key;
}

// The shipped definitions, loaded once through the catalogue from the
// compiled-in resources.
TZolvaProducts& Shipped() {
    static MemoryRegistry unused;
    static EmbeddedResources files(resources::ShippedFiles());
    static TZolvaProducts products(unused, files);
    if (products.Count() == 0)
        products.LoadFromResource();
    return products;
}

// A key no shipped rule names, which every run must leave alone.
const std::u16string kKeepKey = u"SOFTWARE\\KeystripSweep\\Keep";

// What the registry holds before a run.
enum class Traces { Installed, LastTraceOnly, Absent };

std::string SetupName(Traces setup) {
    switch (setup) {
    case Traces::Installed:
        return "installed";
    case Traces::LastTraceOnly:
        return "last trace only";
    case Traces::Absent:
        return "absent";
    }
    return "?";
}

// How the one faulted call fails.
enum class Fault { AccessDenied, NotFound, OutOfMemory };

std::string FaultName(Fault fault) {
    switch (fault) {
    case Fault::AccessDenied:
        return "access denied";
    case Fault::NotFound:
        return "not found";
    case Fault::OutOfMemory:
        return "out of memory";
    }
    return "?";
}

class FaultSweepTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_LT(GetParam(), Shipped().Count());
        FProduct = Shipped().Items(GetParam())->Product.get();
        for (int i = 0; i < FProduct->DetectionCount(); ++i)
            ASSERT_EQ(FProduct->Detections(i)->Action, daKeyExist)
                << "the sweep knows how to install key rules only";
    }

    // A registry holding everything the product's rules name, each removal
    // key with a small subtree of its own, and one unrelated key; or only the
    // key of the last detection rule, so that every detection rule runs.
    void Install(Traces setup) {
        // Built once per setup, then copied for every run.
        auto& pristine = FPristine[static_cast<int>(setup)];
        if (!pristine) {
            FRegistry = std::make_unique<MemoryRegistry>();
            Build(setup);
            pristine = std::move(FRegistry);
        }
        FRegistry = std::make_unique<MemoryRegistry>();
        FRegistry->CopyContentFrom(*pristine);
    }
    void Build(Traces setup) {
        FRegistry->SetString(kHkeyLocalMachine, kKeepKey, u"v", u"x");
        if (setup == Traces::Absent)
            return;
        if (setup == Traces::LastTraceOnly) {
            const auto& rule = *FProduct->Detections(FProduct->DetectionCount() - 1);
            FRegistry->CreateKey(Handle(rule.Root), rule.Key);
            return;
        }
        for (int i = 0; i < FProduct->DetectionCount(); ++i) {
            const auto& rule = *FProduct->Detections(i);
            FRegistry->CreateKey(Handle(rule.Root), rule.Key);
        }
        for (int i = 0; i < FProduct->RemovalCount(); ++i) {
            const auto& rule = *FProduct->Removals(i);
            const RegKey root = Handle(rule.Root);
            if (rule.Action == raNameOnly) {
                FRegistry->SetString(root, rule.Key, rule.Name, u"data");
            } else {
                FRegistry->SetString(root, rule.Key, u"", u"default");
                FRegistry->SetString(root, rule.Key + u"\\Settings", u"Path", u"C:\\x");
                FRegistry->CreateKey(root, rule.Key + u"\\Settings\\Deep");
            }
        }
    }

    bool RemovalTargetPresent(int index) const {
        const auto& rule = *FProduct->Removals(index);
        if (rule.Action == raNameOnly)
            return FRegistry->ValuePresent(Handle(rule.Root), rule.Key, rule.Name);
        return FRegistry->KeyPresent(Handle(rule.Root), rule.Key);
    }
    bool DetectionTargetPresent(int index) const {
        const auto& rule = *FProduct->Detections(index);
        return FRegistry->KeyPresent(Handle(rule.Root), rule.Key);
    }

    // Arms the fault for call number `call` (0: none). The call hook also
    // notes which rule was running when the faulted call came, and, each
    // time the log has grown by a rule's entry, whether that rule's target
    // is still there right after it.
    void Arm(uint64_t call, Fault fault, std::vector<int>& leftAfter,
             const std::function<bool(int)>& present) {
        FHitRule = -1;
        FSeen = 0;
        if (call != 0 && fault != Fault::OutOfMemory)
            FRegistry->FailCall(call, fault == Fault::AccessDenied ? kErrorAccessDenied
                                                                   : kErrorFileNotFound);
        FRegistry->SetCallHook([this, call, fault, &leftAfter, present](uint64_t n) {
            Snapshot(leftAfter, present);
            if (n != call)
                return;
            FHitRule = FLog.Count() - 1;
            if (fault == Fault::OutOfMemory)
                throw std::bad_alloc();
        });
    }
    void Snapshot(std::vector<int>& leftAfter, const std::function<bool(int)>& present) {
        // Entry 0 is the start entry; entry i + 1 belongs to rule i.
        for (; FSeen < FLog.Count(); ++FSeen) {
            const int rule = FSeen - 1;
            if (rule >= 0 && rule < static_cast<int>(leftAfter.size()))
                leftAfter[rule] = present(rule) ? 1 : 0;
        }
    }

    bool RunRemoval(const std::string& when) {
        bool removed = true;
        try {
            removed = TZolvaProductRemover(FProduct, &FLog, *FRegistry).ProductRemoved();
        } catch (...) {
            ADD_FAILURE() << "an error escaped ProductRemoved at " << when;
        }
        return removed;
    }
    bool RunDetection(const std::string& when) {
        bool present = false;
        try {
            present = TZolvaProductDetector(FProduct, &FLog, *FRegistry).ProductPresent();
        } catch (...) {
            ADD_FAILURE() << "an error escaped ProductPresent at " << when;
        }
        return present;
    }

    uint64_t CleanCalls(Traces setup, bool removal) {
        Install(setup);
        FLog.Clear();
        removal ? RunRemoval("the clean run") : RunDetection("the clean run");
        return FRegistry->CallCount();
    }

    // The sweep's size, for the record.
    void Report(const char* run, uint64_t calls) {
        std::printf("[  sweep   ] %s, %s: %llu calls failed in turn\n",
                    Utf16ToUtf8(FProduct->Name()).c_str(), run,
                    static_cast<unsigned long long>(calls));
    }

    void SweepRemoval(Fault fault);
    void SweepDetection(Traces setup, Fault fault);

    struct RuleEntries {
        bool valueRule;
        LogEntry fatal, refused, deleted, keyAbsent, valueAbsent;
    };
    static bool Is(const TActivityItem& item, const LogEntry& entry) {
        return item.Severity == entry.severity && item.Action == entry.action &&
               item.Data == entry.data;
    }
    LogEntry Entry(int index) const {
        const TActivityItem& item = *FLog.GetEntry(index);
        return {item.Severity, item.Action, item.Data};
    }

    TZolvaProduct* FProduct = nullptr;
    std::unique_ptr<MemoryRegistry> FPristine[3];
    std::unique_ptr<MemoryRegistry> FRegistry;
    TActivityLogger FLog;
    int FHitRule = -1;
    int FSeen = 0;
};

void FaultSweepTest::SweepRemoval(Fault fault) {
    const int rules = FProduct->RemovalCount();
    const uint64_t calls = CleanCalls(Traces::Installed, true);
    ASSERT_GT(calls, static_cast<uint64_t>(rules));
    if (fault == Fault::AccessDenied)
        Report("removal", calls);
    // The entries each rule may write, built once.
    std::vector<RuleEntries> outcomes;
    for (int i = 0; i < rules; ++i) {
        const auto& rule = *FProduct->Removals(i);
        const std::u16string keyPath = KeyPath(rule.Root, rule.Key);
        const std::u16string valuePath = keyPath + u"\\" + rule.Name;
        const bool valueRule = rule.Action == raNameOnly;
        outcomes.push_back({valueRule,
                            {asError, aaFatalError, u"4"},
                            valueRule ? LogEntry{asWarning, aaNameNotDeleted, valuePath}
                                      : LogEntry{asWarning, aaKeyNotDeleted, keyPath},
                            valueRule ? LogEntry{asInfo, aaNameDeleted, valuePath}
                                      : LogEntry{asInfo, aaKeyDeleted, keyPath},
                            {asInfo, aaKeyNotFound, keyPath},
                            {asInfo, aaNameNotFound, valuePath}});
    }
    const auto present = [this](int rule) { return RemovalTargetPresent(rule); };
    for (uint64_t call = 1; call <= calls; ++call) {
        // Messages are built only when an expectation fails.
        const auto when = [&] {
            return Utf16ToUtf8(FProduct->Name()) + ", call " + std::to_string(call) +
                   " failing with " + FaultName(fault);
        };
        Install(Traces::Installed);
        FLog.Clear();
        std::vector<int> leftAfter(rules, -1);
        Arm(call, fault, leftAfter, present);
        const bool removed = RunRemoval(when());
        FRegistry->SetCallHook(nullptr);
        Snapshot(leftAfter, present);

        EXPECT_EQ(FRegistry->OpenHandleCount(), 0u) << "a key stayed open at " << when();
        EXPECT_TRUE(FRegistry->ValuePresent(kHkeyLocalMachine, kKeepKey, u"v")) << when();

        // Start entry, one entry per rule, stop entry: every fault here
        // happens inside a rule, so the stop entry is always written.
        ASSERT_EQ(FLog.Count(), rules + 2) << when();
        EXPECT_EQ(Entry(0), (LogEntry{asInfo, ssStartRemoval, FProduct->Name()})) << when();
        EXPECT_EQ(Entry(rules + 1),
                  (LogEntry{asInfo, ssStopRemoval, removed ? u"Success" : u"Failure"}))
            << when();

        bool expectRemoved = true;
        for (int i = 0; i < rules; ++i) {
            const TActivityItem& entry = *FLog.GetEntry(i + 1);
            const RuleEntries& expected = outcomes[i];
            const bool left = leftAfter[i] == 1;
            const auto at = [&] { return when() + ", rule " + std::to_string(i); };
            ASSERT_NE(leftAfter[i], -1) << at();

            const bool fatal = Is(entry, expected.fatal);
            const bool refused = Is(entry, expected.refused);
            const bool deleted = Is(entry, expected.deleted);
            const bool absent = Is(entry, expected.keyAbsent) ||
                                (expected.valueRule && Is(entry, expected.valueAbsent));
            ASSERT_TRUE(fatal || refused || deleted || absent)
                << at() << ": unexpected entry " << ::testing::PrintToString(Entry(i + 1));
            EXPECT_EQ(fatal, fault == Fault::OutOfMemory && FHitRule == i) << at();

            if (deleted) {
                EXPECT_FALSE(left) << at() << ": reported deleted but still there";
            }
            if (refused) {
                EXPECT_TRUE(left) << at() << ": reported refused but gone";
            }
            // A key or value the faulted call could not see counts as absent
            // and stays; anywhere else "not found" means it is gone.
            const bool unseen = absent && left && FHitRule == i;
            if (absent && !unseen) {
                EXPECT_FALSE(left) << at() << ": reported absent but still there";
            }
            if ((left && !unseen) || fatal)
                expectRemoved = false;
        }
        EXPECT_EQ(removed, expectRemoved) << when();
    }
}

void FaultSweepTest::SweepDetection(Traces setup, Fault fault) {
    const int rules = FProduct->DetectionCount();
    const uint64_t calls = CleanCalls(setup, false);
    ASSERT_GE(calls, 1u);
    if (fault == Fault::AccessDenied)
        Report(("detection, " + SetupName(setup)).c_str(), calls);
    const auto present = [this](int rule) { return DetectionTargetPresent(rule); };
    for (uint64_t call = 1; call <= calls; ++call) {
        const auto when = [&] {
            return Utf16ToUtf8(FProduct->Name()) + ", " + SetupName(setup) + ", call " +
                   std::to_string(call) + " failing with " + FaultName(fault);
        };
        Install(setup);
        FLog.Clear();
        std::vector<int> unused(rules, -1);
        Arm(call, fault, unused, present);
        const bool found = RunDetection(when());
        FRegistry->SetCallHook(nullptr);

        EXPECT_EQ(FRegistry->OpenHandleCount(), 0u) << "a key stayed open at " << when();
        const auto entries = Entries(FLog);
        ASSERT_GE(entries.size(), 2u) << when();
        EXPECT_EQ(entries.front(), (LogEntry{asDebug, aaStartDetection, FProduct->Name()}))
            << when();
        EXPECT_EQ(entries.back(),
                  (LogEntry{asDebug, aaStopDetection, found ? u"Success" : u"Failure"}))
            << when();

        // Rules run in order up to the first one that holds; the faulted rule
        // alone may miss a key that is there.
        bool expectFound = false;
        int evaluated = 0;
        for (int i = 0; i < rules && !expectFound; ++i, ++evaluated) {
            const auto& rule = *FProduct->Detections(i);
            const auto at = [&] { return when() + ", rule " + std::to_string(i); };
            ASSERT_LT(static_cast<size_t>(i) + 2, entries.size()) << at();
            const LogEntry& entry = entries[i + 1];
            const std::u16string keyPath = KeyPath(rule.Root, rule.Key);
            const bool there = DetectionTargetPresent(i);
            if (FHitRule == i && fault == Fault::OutOfMemory) {
                EXPECT_EQ(entry, (LogEntry{asError, aaFatalError, u"2"})) << at();
            } else if (FHitRule == i && there) {
                EXPECT_TRUE(entry == (LogEntry{asDebug, baKeyFound, keyPath}) ||
                            entry == (LogEntry{asDebug, aaKeyNotFound, keyPath}))
                    << at() << ": " << ::testing::PrintToString(entry);
                expectFound = entry.action == baKeyFound;
            } else {
                EXPECT_EQ(entry, (LogEntry{asDebug, there ? baKeyFound : aaKeyNotFound, keyPath}))
                    << at();
                expectFound = there;
            }
        }
        EXPECT_EQ(entries.size(), static_cast<size_t>(evaluated) + 2) << when();
        EXPECT_EQ(found, expectFound) << when();
        if (setup == Traces::Absent) {
            EXPECT_FALSE(found) << when();
        }
    }
}

TEST_P(FaultSweepTest, RemovalWithAnyCallRefused) {
    SweepRemoval(Fault::AccessDenied);
}

TEST_P(FaultSweepTest, RemovalWithAnyCallFindingNothing) {
    SweepRemoval(Fault::NotFound);
}

TEST_P(FaultSweepTest, RemovalWithMemoryRunningOutAtAnyCall) {
    SweepRemoval(Fault::OutOfMemory);
}

TEST_P(FaultSweepTest, DetectionWithAnyCallFailing) {
    for (const Traces setup : {Traces::Installed, Traces::LastTraceOnly, Traces::Absent})
        for (const Fault fault : {Fault::AccessDenied, Fault::NotFound, Fault::OutOfMemory})
            SweepDetection(setup, fault);
}

std::string ProductLabel(const ::testing::TestParamInfo<int>& info) {
    return "ZOLVAPRODUCT" + std::to_string(info.param + 1);
}

INSTANTIATE_TEST_SUITE_P(ShippedProducts, FaultSweepTest, ::testing::Range(0, 7), ProductLabel);

TEST(FaultSweepSetupTest, TheSweepCoversEveryShippedDefinition) {
    EXPECT_EQ(Shipped().Count(), 7);
    for (int i = 0; i < Shipped().Count(); ++i) {
        const auto& product = *Shipped().Items(i)->Product;
        for (int r = 0; r < product.RemovalCount(); ++r) {
            // The untouched key is outside every rule's reach.
            const auto& rule = *product.Removals(r);
            const std::u16string key = AsciiLower(rule.Key) + u"\\";
            const std::u16string keep = AsciiLower(kKeepKey) + u"\\";
            EXPECT_FALSE(rule.Root == rkLocalMachine && keep.compare(0, key.size(), key) == 0)
                << Utf16ToUtf8(rule.Key);
        }
    }
}

} // namespace
} // namespace keystrip::test
