// Puts back what a backup holds: every key and value of a registry-editor
// file, in the program's 32-bit view, with the same types and bytes, links
// as links. The whole file is read once and checked before anything is
// written: a file that cannot be read, that this program did not write on
// this computer or that was changed since (VerifyBackup), that is malformed
// anywhere, or has a section outside the places the removal rules can have
// backed up (TRestoreTargets) writes nothing. Keys are reached the way a
// removal reaches them (TRegistryTree), creating what is missing; from a
// complete-key rule's own key down no link is followed at all, so nothing
// the file holds is written through one. A link is made only where the
// backup recorded one and no key of that name exists now: an existing link
// is never pointed elsewhere, and a plain key never becomes a link.
#pragma once

#include "backup/BackupLedger.h"
#include "rules/RestoreTargets.h"
#include "rules/RuleRoots.h"
#include "rules/ZolvaRuleProcessor.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace keystrip {

struct TRegFileDocument;

enum class TRestoreResult {
    Restored,   // every key and value is back (in a preview: would be)
    Incomplete, // some key or value could not be put back (or would not be)
    Refused,    // the file could not be read, is malformed or leaves the targets: nothing written
};

// The hive of a user's profile that a backup names below HKEY_USERS
// (S-1-5-21-..., or its _Classes hive), loading it where needed: its root key,
// or null when it cannot be had (the source logs why).
using TUserHiveSource = std::function<const TRuleRoot*(const std::u16string& HiveName)>;

class TRegistryRestorer : public TZolvaRuleProcessor {
public:
    // Targets are borrowed: the places the removal rules of every product can
    // have backed up.
    TRegistryRestorer(TActivityLogger* Activity, platform::IRegistry& Registry,
                      const TRestoreTargets& Targets);

    // Where sections below HKEY_USERS\<SID> go. Without a source, only a hive
    // loaded now, under its own name, is written.
    void SetUserHives(TUserHiveSource Source) { FUserHives = std::move(Source); }
    // When true, every section is only logged as what would be restored
    // (aaKeyWouldBeRestored, aaKeyWouldNotBeRestored); nothing is written.
    void SetPreviewOnly(bool Value) { FPreviewOnly = Value; }

    // Logs aaStartRestore (aaStartRestorePreview), one entry per section of
    // the file, and aaStopRestore; or the start and aaRestoreRefused with the
    // line and what is wrong.
    TRestoreResult Restore(const std::u16string& FileName);
    TRestoreResult Restore(const std::u16string& FileName, const std::vector<uint8_t>& Bytes);
    // The same for a document whose origin the caller has already checked:
    // everything after reading, confinement included.
    TRestoreResult RestoreVouched(const std::u16string& FileName, const TRegFileDocument& Document);

    // The record of backups a file is checked against (borrowed); null: the
    // program's own, in the registry it restores into.
    void SetLedger(IBackupLedger* Ledger) { FLedger = Ledger; }

private:
    enum class TPlaceReach { Reached, Absent, Refused, NoHive };

    TRegFileDocument ReadDocument(const std::vector<uint8_t>& Bytes);
    TRestoreResult Apply(const TRegFileDocument& Document);
    // Reaches the first Depth parts of Place (all of them by default).
    TPlaceReach Reach(const TRestorePlace& Place, bool AsLink, bool Create,
                      platform::RegKeyHandle& Key, bool& Created, size_t Depth);
    bool RestoreSection(const TRegFileKey& Section, const TRestorePlace& Place, bool Link);
    bool PreviewSection(const TRegFileKey& Section, const TRestorePlace& Place, bool Link);
    bool SameLink(platform::RegKey Key, const TRegFileKey& Section);

    const TRestoreTargets& FTargets;
    TUserHiveSource FUserHives;
    bool FPreviewOnly = false;
    IBackupLedger* FLedger = nullptr;
    bool FIncomplete = false; // the file lacks parts this computer recorded
};

} // namespace keystrip
