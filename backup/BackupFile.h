// The file a removal backs up to before each deletion: registry-editor text
// (UTF-16LE with its byte order mark, the header line, the line naming the
// backup, then one part per deletion), in a file created for it in this run.
// Each part is on disk and recorded in the computer's ledger before the
// deletion it covers goes ahead; one that cannot be is cut back off the file,
// so that at every moment the file is a whole record of what was deleted.
#pragma once

#include "backup/BackupLedger.h"
#include "platform/Files.h"
#include "platform/SystemInfo.h"

#include <cstdint>
#include <memory>
#include <string>

namespace keystrip {

// Where a backup goes. Append takes one part, the sections of what one rule
// is about to delete, and returns only once it is on disk and recorded; it
// raises (EKeystripError, with the reason) when it cannot, and then nothing
// of the part remains in the file.
class IBackupSink {
public:
    virtual ~IBackupSink() = default;
    virtual const std::u16string& Name() const = 0;
    virtual void Append(const std::u16string& RegFileText) = 0;
    // Why the first part that could not be written failed; empty while none did.
    virtual std::string Failure() const { return {}; }
};

// The computer and the moment a backup is started on.
struct TBackupOrigin {
    std::u16string Computer;
    platform::LocalTime Time;
};
TBackupOrigin CurrentBackupOrigin();

class TBackupFile final : public IBackupSink {
public:
    // Writes the start of a new backup (identity Id) into File, a file created
    // for it in this run, then records it in the ledger. Raises
    // EKeystripError when either fails.
    TBackupFile(std::unique_ptr<platform::INewFile> File, IBackupLedger& Ledger,
                const std::u16string& Id, const std::u16string& Computer);

    const std::u16string& Name() const override { return FFile->Name(); }
    void Append(const std::u16string& RegFileText) override;
    std::string Failure() const override { return FFailure; }

private:
    std::unique_ptr<platform::INewFile> FFile;
    IBackupLedger& FLedger;
    std::u16string FId;
    uint64_t FSize = 0;      // the bytes of the start and of the recorded parts
    uint32_t FParts = 0;     // parts recorded
    TSha256Digest FDigest{}; // the digest after the last of them
    std::string FFailure;
    std::string FDead; // why nothing more can be written
};

// The name of the file a backup into a folder gets: the computer and the
// time (<COMPUTER>-<yyyyMMdd-HHmmss>.reg), with "-N" before ".reg" for the
// Nth try (N >= 2) when the name is taken.
std::u16string BackupFileLeaf(const TBackupOrigin& Origin, int Try);

// Starts the backup that -backup Name asks for: a new file of that name, or,
// when Name is a folder, a new file in it named by BackupFileLeaf. A file
// that exists is never added to: it raises EFileExists. Raises EKeystripError
// for every other failure.
std::unique_ptr<TBackupFile> OpenBackupFile(const std::u16string& Name, IBackupLedger& Ledger,
                                            const TBackupOrigin& Origin);

// A backup that could not be opened: every Append raises with the reason,
// so that nothing it was to cover is deleted.
class TUnwritableBackup final : public IBackupSink {
public:
    TUnwritableBackup(std::u16string FileName, std::string Reason)
        : FName(std::move(FileName)), FReason(std::move(Reason)) {}
    const std::u16string& Name() const override { return FName; }
    void Append(const std::u16string& RegFileText) override;
    std::string Failure() const override { return FReason; }

private:
    std::u16string FName;
    std::string FReason;
};

} // namespace keystrip
