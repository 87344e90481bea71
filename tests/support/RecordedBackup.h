// A backup as the program writes one, kept in memory: a TBackupFile over an
// in-memory file, recorded in a ledger inside the registry the test works
// on (below its scratch tree, so that a test against the real registry
// leaves the program's own key alone). Parts can be any text, so that a test
// can record what the writer would never write (a malformed or hostile
// section) and see what the restore makes of it.
#pragma once

#include "backup/BackupFile.h"
#include "backup/BackupProvenance.h"
#include "platform/doubles/FakeKeySecurity.h"
#include "platform/doubles/MemoryFile.h"
#include "platform/doubles/MemoryRegistry.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace keystrip::test {

class RecordedBackup {
public:
    // Memory is the registry when it is the double (its keys have no access
    // lists of their own), null for the real one.
    RecordedBackup(platform::IRegistry& registry, const std::u16string& programKey,
                   platform::MemoryRegistry* memory)
        : FFake(memory ? std::make_unique<platform::FakeKeySecurity>(*memory) : nullptr),
          FLedger(registry, FFake ? *FFake : platform::SystemKeySecurity(), programKey) {
        auto file = std::make_unique<platform::MemoryFile>();
        FFile = file.get();
        FBackup = std::make_unique<TBackupFile>(std::move(file), FLedger, FId, u"PC-1");
    }

    TBackupFile& Sink() { return *FBackup; }
    platform::MemoryFile& File() { return *FFile; }
    TRegistryLedger& Ledger() { return FLedger; }
    platform::FakeKeySecurity& Fake() { return *FFake; } // only over the double
    const std::vector<uint8_t>& Bytes() const { return FFile->Bytes(); }
    const std::u16string& Id() const { return FId; }

    // Appends each text as one part, as removal rules do, and gives the file.
    const std::vector<uint8_t>& Write(std::initializer_list<std::u16string> parts) {
        for (const std::u16string& part : parts)
            FBackup->Append(part);
        return Bytes();
    }

private:
    std::u16string FId = NewBackupId();
    std::unique_ptr<platform::FakeKeySecurity> FFake;
    TRegistryLedger FLedger;
    platform::MemoryFile* FFile = nullptr;
    std::unique_ptr<TBackupFile> FBackup;
};

} // namespace keystrip::test
