// At every moment a backup is a whole record of everything deleted so far.
// Every shipped product is removed with a backup, from a registry where it is
// installed (values of every size a cut could fall into), and
//  - each single write of the backup fails in turn: the file's (nothing of it
//    written, half of it written as on a full disk, and the cut back failing
//    too) and the ledger's; and
//  - the run is stopped at every point: the file, the ledger and the registry
//    are taken as they are between any two of its writes and calls.
// Either way the file left behind, checked against the ledger left behind,
// restores exactly what was deleted: the registry comes back as it was
// before the removal, nothing more, nothing cut. It is refused only while
// nothing was deleted yet.
#include "backup/BackupFile.h"
#include "backup/BackupProvenance.h"
#include "common/TextCase.h"
#include "common/Utf.h"
#include "definitions/ZolvaProducts.h"
#include "platform/EmbeddedResources.h"
#include "platform/doubles/FakeKeySecurity.h"
#include "platform/doubles/MemoryFile.h"
#include "platform/doubles/MemoryRegistry.h"
#include "resources/ShippedResources.h"
#include "rules/RegistryRestore.h"
#include "rules/RuleRoots.h"
#include "rules/ZolvaRuleProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace keystrip::test {
namespace {

using namespace platform;

TZolvaProducts& Shipped() {
    static MemoryRegistry unused;
    static EmbeddedResources files(resources::ShippedFiles());
    static TZolvaProducts products(unused, files);
    if (products.Count() == 0)
        products.LoadFromResource();
    return products;
}

// Everything the registry holds but the ledger, one sorted line per key.
std::vector<std::string> State(const MemoryRegistry& registry) {
    std::vector<std::string> lines;
    for (const auto& key : registry.Content()) {
        std::string line = Utf16ToUtf8(AsciiLower(key.kernelName));
        if (line.find("\\zolvakeystrip") != std::string::npos)
            continue;
        if (key.isLink)
            line += " -> " + Utf16ToUtf8(key.linkTarget);
        // Values in name order: a restore adds them in its own.
        std::vector<std::string> values;
        for (const auto& value : key.values)
            values.push_back(" | " + Utf16ToUtf8(AsciiLower(value.name)) + ":" +
                             std::to_string(value.type) + ":" + std::to_string(value.data.size()) +
                             ":" +
                             std::to_string(std::hash<std::string>()(
                                 std::string(value.data.begin(), value.data.end()))));
        std::sort(values.begin(), values.end());
        for (const std::string& value : values)
            line += value;
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The ledger, with any one of its writes failing.
class FaultyLedger final : public IBackupLedger {
public:
    explicit FaultyLedger(IBackupLedger& Inner) : FInner(Inner) {}
    void Begin(const std::u16string& Id, const TSha256Digest& Start) override {
        Write();
        FInner.Begin(Id, Start);
    }
    void Record(const std::u16string& Id, uint32_t Part, const TSha256Digest& Digest) override {
        Write();
        FInner.Record(Id, Part, Digest);
    }
    std::vector<TSha256Digest> Recorded(const std::u16string& Id) override {
        return FInner.Recorded(Id);
    }
    uint64_t Writes = 0;
    uint64_t Failing = 0;

private:
    void Write() {
        if (++Writes == Failing)
            throw EKeystripError("the record cannot be written (error 1018)");
    }
    IBackupLedger& FInner;
};

// One removal with a backup, as the program runs it: a backup that cannot
// be started refuses every rule.
struct Removal {
    explicit Removal(const MemoryRegistry& pristine) { Registry.CopyContentFrom(pristine); }

    void Run(TZolvaProduct& product) {
        // The bytes outlive a file whose backup could not be started.
        auto file = std::make_unique<MemoryFile>(u"memory.reg", Bytes);
        File = file.get();
        if (OnWrite)
            File->SetWriteHook([this](const std::vector<uint8_t>&) { OnWrite(); });
        Prepare(*File);
        try {
            Backup = std::make_unique<TBackupFile>(std::move(file), Faulty, NewBackupId(), u"PC");
        } catch (const EKeystripError& e) {
            File = nullptr;
            Backup = std::make_unique<TUnwritableBackup>(u"memory.reg", e.what());
        }
        TZolvaProductRemover remover(&product, &Log, Registry);
        remover.SetBackup(Backup.get());
        remover.ProductRemoved();
    }

    MemoryRegistry Registry;
    FakeKeySecurity Security{Registry};
    TRegistryLedger Ledger{Registry, Security};
    FaultyLedger Faulty{Ledger};
    MemoryFile* File = nullptr;
    std::shared_ptr<std::vector<uint8_t>> Bytes = std::make_shared<std::vector<uint8_t>>();
    std::function<void(MemoryFile&)> Prepare = [](MemoryFile&) {};
    std::function<void()> OnWrite;
    std::unique_ptr<IBackupSink> Backup;
    TActivityLogger Log;
};

class BackupDurabilityTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_LT(GetParam(), Shipped().Count());
        FProduct = Shipped().Items(GetParam())->Product.get();
        std::vector<uint8_t> blob(3000);
        for (size_t i = 0; i < blob.size(); ++i)
            blob[i] = static_cast<uint8_t>(i * 7 + 1);
        FPristine.SetString(kHkeyLocalMachine, u"SOFTWARE\\Unrelated", u"Keep", u"x");
        for (int i = 0; i < FProduct->RemovalCount(); ++i) {
            const auto& rule = *FProduct->Removals(i);
            const RegKey root = TRuleRoots::RootHandle(rule.Root);
            if (rule.Action == raNameOnly) {
                FPristine.SetValue(root, rule.Key, rule.Name, kRegBinary, blob);
                continue;
            }
            FPristine.SetString(root, rule.Key, u"", u"default");
            FPristine.SetDword(root, rule.Key, u"Dw", 0x2a);
            FPristine.SetValue(root, rule.Key + u"\\Settings", u"Blob", kRegBinary,
                               {blob.begin(), blob.begin() + 300});
            FPristine.CreateKey(root, rule.Key + u"\\Settings\\Deep");
        }
        FBefore = State(FPristine);
    }

    // What the file and the ledger of a registry restore into it: the
    // registry as it was before the removal; or a refusal while nothing was
    // deleted yet.
    void ExpectRestorable(MemoryRegistry& registry, const std::vector<uint8_t>& file,
                          const std::string& when) {
        const bool untouched = State(registry) == FBefore;
        FakeKeySecurity security(registry);
        TRegistryLedger ledger(registry, security);
        TActivityLogger log;
        TRestoreTargets targets;
        targets.Add(*FProduct);
        TRegistryRestorer restorer(&log, registry, targets);
        restorer.SetLedger(&ledger);
        const TRestoreResult result = restorer.Restore(u"memory.reg", file);
        if (result == TRestoreResult::Refused) {
            EXPECT_TRUE(untouched) << when << ": refused after a deletion: "
                                   << Utf16ToUtf8(log.GetEntry(log.Count() - 1)->Data);
            return;
        }
        EXPECT_EQ(result, TRestoreResult::Restored) << when;
        // The lines missing or extra, rather than both states whole.
        const std::vector<std::string> after = State(registry);
        std::vector<std::string> differences;
        std::set_symmetric_difference(FBefore.begin(), FBefore.end(), after.begin(), after.end(),
                                      std::back_inserter(differences));
        EXPECT_EQ(differences, std::vector<std::string>{}) << when;
    }

    TZolvaProduct* FProduct = nullptr;
    MemoryRegistry FPristine;
    std::vector<std::string> FBefore;
};

TEST_P(BackupDurabilityTest, EveryFailingWriteLeavesAWholeRecordOfWhatWasDeleted) {
    Removal clean(FPristine);
    clean.Run(*FProduct);
    ASSERT_EQ(clean.Backup->Failure(), "");
    const uint64_t fileWrites = clean.File->Writes();
    const uint64_t ledgerWrites = clean.Faulty.Writes;
    ASSERT_EQ(fileWrites, ledgerWrites);
    ExpectRestorable(clean.Registry, *clean.Bytes, "the clean run");

    // A write that fails leaves some of its bytes (a full disk); the cut back
    // that follows works, or fails too and leaves the backup dead.
    enum Fault { FileWrite, FileWriteAndCut, Ledger, LedgerAndCut };
    for (const Fault fault : {FileWrite, FileWriteAndCut, Ledger, LedgerAndCut}) {
        for (uint64_t write = 1; write <= fileWrites; ++write) {
            const std::string when =
                "fault " + std::to_string(fault) + " at write " + std::to_string(write);
            Removal run(FPristine);
            run.Prepare = [&](MemoryFile& file) {
                if (fault <= FileWriteAndCut)
                    file.FailWrite(write, 41);
                if (fault == FileWriteAndCut || fault == LedgerAndCut)
                    file.FailTruncations();
            };
            if (fault >= Ledger)
                run.Faulty.Failing = write;
            run.Run(*FProduct);
            // Noted as a backup that could not be written: exit code 3.
            EXPECT_NE(run.Backup->Failure(), "") << when;
            ExpectRestorable(run.Registry, *run.Bytes, when);
        }
    }
}

TEST_P(BackupDurabilityTest, AtEveryPointOfARunTheFileRestoresWhatWasDeletedSoFar) {
    struct Snapshot {
        std::vector<uint8_t> file;
        std::unique_ptr<MemoryRegistry> registry;
    };
    std::vector<Snapshot> snapshots;
    Removal run(FPristine);
    const auto take = [&](size_t fileSize) {
        Snapshot snapshot{
            {run.Bytes->begin(), run.Bytes->begin() + static_cast<std::ptrdiff_t>(fileSize)},
            std::make_unique<MemoryRegistry>()};
        snapshot.registry->CopyContentFrom(run.Registry);
        snapshots.push_back(std::move(snapshot));
    };
    // Between calls, once one of them changed the registry.
    uint64_t changes = 0;
    run.Registry.SetCallHook([&](uint64_t) {
        if (run.Registry.ChangeCount() != changes)
            take(run.Bytes->size());
        changes = run.Registry.ChangeCount();
    });
    // After each write, and in the middle of it: one byte in, half way, two
    // bytes short of its end.
    size_t written = 0;
    run.OnWrite = [&] {
        const size_t size = run.Bytes->size();
        if (size > written + 2)
            for (size_t cut : {written + 1, (written + size) / 2, size - 2})
                take(cut);
        take(size);
        written = size;
    };
    run.Run(*FProduct);
    run.Registry.SetCallHook(nullptr);
    take(run.Bytes->size());
    ASSERT_GT(snapshots.size(), static_cast<size_t>(2 * FProduct->RemovalCount()));
    for (size_t i = 0; i < snapshots.size(); ++i)
        ExpectRestorable(*snapshots[i].registry, snapshots[i].file,
                         "stopped at point " + std::to_string(i) + " of " +
                             std::to_string(snapshots.size()));
}

std::string ProductLabel(const ::testing::TestParamInfo<int>& info) {
    std::string label;
    for (char c : Utf16ToUtf8(Shipped().Items(info.param)->Product->Name()))
        if (std::isalnum(static_cast<unsigned char>(c)))
            label += c;
    return label;
}

INSTANTIATE_TEST_SUITE_P(ShippedProducts, BackupDurabilityTest, ::testing::Range(0, 7),
                         ProductLabel);

} // namespace
} // namespace keystrip::test
