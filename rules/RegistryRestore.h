// Puts back what a backup holds: every key and value of a registry-editor
// file, in the program's 32-bit view, with the same types and bytes, links
// as links. The whole file is read once and checked before anything is
// written: a file that cannot be read, that this program did not write on
// this computer, that was changed since, or is malformed anywhere, writes
// nothing. Keys
// are reached the way a removal reaches them (TRegistryTree), creating what
// is missing, so a restore is no more steered by a planted link than a
// removal is.
#pragma once

#include "backup/BackupLedger.h"
#include "backup/RegFile.h"
#include "rules/ZolvaRuleProcessor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

enum class TRestoreResult {
    Restored,   // every key and value is back
    Incomplete, // some key or value could not be put back
    Refused,    // the file could not be read or is malformed: nothing was written
};

class TRegistryRestorer : public TZolvaRuleProcessor {
public:
    TRegistryRestorer(TActivityLogger* Activity, platform::IRegistry& Registry);

    // Logs aaStartRestore, one aaKeyRestored or aaKeyNotRestored entry per
    // section of the file, and aaStopRestore; or aaStartRestore and
    // aaRestoreRefused with the line and what is wrong.
    TRestoreResult Restore(const std::u16string& FileName);
    TRestoreResult Restore(const std::u16string& FileName, const std::vector<uint8_t>& Bytes);

    // The record of backups the file is checked against (borrowed); null:
    // the program's own, in the registry it restores into.
    void SetLedger(IBackupLedger* Ledger) { FLedger = Ledger; }

private:
    // The sections the file's bytes hold, as far as they are provably whole;
    // logs what was left out. Raises EBackupRefused.
    TRegFileDocument ReadDocument(const std::vector<uint8_t>& Bytes);

    IBackupLedger* FLedger = nullptr;
    bool FIncomplete = false; // the file lacks parts this computer recorded
};

} // namespace keystrip
