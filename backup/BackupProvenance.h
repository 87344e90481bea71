// What makes a backup provably this program's, whole and unchanged: the file
// names itself on the line after the header (a random identity and the
// computer that wrote it), each part (what one removal rule deletes) ends with
// the comment line "; end of part N" and an empty line, and the computer's
// ledger holds the digest of the start and, chained over each part, the
// digest after it, recorded only once the part is on disk. Comment lines keep
// the file one the registry editor imports.
#pragma once

#include "backup/BackupLedger.h"
#include "backup/RegFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

// A new identity: 32 lower-case hexadecimal digits from the system's random source.
std::u16string NewBackupId();
// The header, the line naming the backup and an empty line.
std::u16string BackupStartText(const std::u16string& Id, const std::u16string& Computer);
// The end of part Part: its marker line and an empty line.
std::u16string BackupPartEndText(uint32_t Part);
// The digest after a part: SHA-256 over the digest before it and the part's bytes.
TSha256Digest ChainedDigest(const TSha256Digest& Before, const std::vector<uint8_t>& Part);

// The sections of a backup this program wrote on this computer, as far as
// they are whole and recorded.
struct TVerifiedBackup {
    TRegFileDocument Document;         // every section of every whole, recorded part, in order
    std::vector<std::u16string> Notes; // log lines: what was left out and why
    bool Incomplete = false;           // parts this computer recorded are missing from the file
};

// Checks the file's bytes against the ledger and reads the parts it recorded:
// all of them when the file holds them all; those there when the file was cut
// short (Incomplete, with a note); never a last part that was not recorded (a
// run that stopped while writing it deleted nothing of it; a note says so).
// Raises EBackupRefused, and nothing may be written, for a file without the
// identity line (another file, or a backup written before this version), one
// this computer holds no record of, and one whose start or any part differs
// from what was recorded.
TVerifiedBackup VerifyBackup(const std::vector<uint8_t>& Bytes, IBackupLedger& Ledger);

} // namespace keystrip
