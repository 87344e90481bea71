// Where this computer records the backups it writes: for each backup, the
// digest of its file's start and, once each part is on disk, the digest
// chained over that part. Kept where only administrators can write, so that a
// restore can tell a backup this program wrote, whole and unchanged since,
// from any other file: a user can edit, cut or plant a file, not the record.
#pragma once

#include "common/Errors.h"
#include "common/Sha256.h"
#include "platform/KeySecurity.h"
#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

// A backup that is refused as a whole: not one this program wrote on this
// computer, changed since, or its record cannot be trusted. what() says why,
// in English, for the log; nothing may be written from it.
class EBackupRefused : public EKeystripError {
public:
    using EKeystripError::EKeystripError;
};

class IBackupLedger {
public:
    virtual ~IBackupLedger() = default;
    // Starts the record of backup Id with the digest of its file's start.
    // Raises EKeystripError saying why when it cannot be recorded.
    virtual void Begin(const std::u16string& Id, const TSha256Digest& Start) = 0;
    // Records the digest after part Part (counted from 1). Raises as Begin.
    virtual void Record(const std::u16string& Id, uint32_t Part, const TSha256Digest& Digest) = 0;
    // Everything recorded for Id: the start's digest, then one per part in
    // order; empty when this computer holds no record of it. Raises
    // EBackupRefused when the record cannot be read, or could have been
    // changed by anyone but an administrator.
    virtual std::vector<TSha256Digest> Recorded(const std::u16string& Id) = 0;
};

// The program's own key below HKEY_LOCAL_MACHINE, in its 32-bit view.
constexpr char16_t kProgramKey[] = u"SOFTWARE\\ZolvaKeystrip";

// The ledger in the registry: <program key>\Backups\<id>, one REG_BINARY
// value of 32 bytes per digest, named by its number ("0" for the start). The
// keys it creates get an access list of their own (SYSTEM and Administrators
// only, nothing inherited), and a record is trusted only while the program
// key, Backups and the backup's key can be changed by nobody else.
class TRegistryLedger final : public IBackupLedger {
public:
    explicit TRegistryLedger(platform::IRegistry& Registry,
                             platform::IKeySecurity& Security = platform::SystemKeySecurity(),
                             std::u16string ProgramKey = kProgramKey);

    void Begin(const std::u16string& Id, const TSha256Digest& Start) override;
    void Record(const std::u16string& Id, uint32_t Part, const TSha256Digest& Digest) override;
    std::vector<TSha256Digest> Recorded(const std::u16string& Id) override;

    // Where the record of Id lies, for messages.
    std::u16string RecordPath(const std::u16string& Id) const;

private:
    // Opens (creating when asked) Path below HKEY_LOCAL_MACHINE; a key it
    // creates is restricted. Raises when it cannot, or when others could
    // change the key. Absent and not created: an empty handle.
    platform::RegKeyHandle OwnKey(const std::u16string& Path, bool Create, bool* Created = nullptr);
    void CheckId(const std::u16string& Id) const;

    platform::IRegistry& FRegistry;
    platform::IKeySecurity& FSecurity;
    std::u16string FProgramKey;
};

} // namespace keystrip
