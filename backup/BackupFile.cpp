#include "backup/BackupFile.h"

#include "backup/RegFile.h"
#include "common/Errors.h"
#include "common/Utf.h"

#include <algorithm>

namespace keystrip {

TBackupFile::TBackupFile(const std::u16string& FileName) : FName(FileName), FFile(FileName) {
    const std::vector<uint8_t> start = EncodeRegFileText(RegFileHeaderText(), true);
    if (FFile.Size() == 0) {
        FFile.Append(start);
        return;
    }
    // Only the header line itself must match; what follows it may differ in
    // its empty line.
    const size_t headerBytes = 2 + (sizeof kRegFileHeader / sizeof kRegFileHeader[0] - 1) * 2;
    const std::vector<uint8_t> head = FFile.Head(headerBytes);
    if (head.size() < headerBytes || !std::equal(head.begin(), head.end(), start.begin()))
        throw EFileError("\"" + Utf16ToUtf8(FileName) +
                         "\" exists and is no registry backup; it is left as it is");
}

void TBackupFile::Append(const std::u16string& RegFileText) {
    FFile.Append(EncodeRegFileText(RegFileText, false));
}

void TUnwritableBackup::Append(const std::u16string&) {
    throw EFileError(FReason);
}

} // namespace keystrip
