#include "backup/BackupFile.h"

#include "backup/BackupProvenance.h"
#include "backup/RegFile.h"
#include "common/Errors.h"
#include "common/Utf.h"

#include <utility>

namespace keystrip {

namespace {

// How many names a backup into a folder tries before it gives up.
constexpr int kLeafTries = 100;

std::u16string TwoDigits(int value) {
    return U16(std::string(1, static_cast<char>('0' + value / 10 % 10)) +
               static_cast<char>('0' + value % 10));
}

} // namespace

TBackupOrigin CurrentBackupOrigin() {
    return {platform::ComputerName(), platform::CurrentLocalTime()};
}

TBackupFile::TBackupFile(std::unique_ptr<platform::INewFile> File, IBackupLedger& Ledger,
                         const std::u16string& Id, const std::u16string& Computer)
    : FFile(std::move(File)), FLedger(Ledger), FId(Id) {
    const std::vector<uint8_t> start = EncodeRegFileText(BackupStartText(Id, Computer), true);
    // On disk before it is recorded, like every part after it.
    FFile->Append(start);
    FDigest = Sha256(start);
    FLedger.Begin(FId, FDigest);
    FSize = start.size();
}

void TBackupFile::Append(const std::u16string& RegFileText) {
    if (!FDead.empty())
        throw EFileError(FDead);
    const uint32_t part = FParts + 1;
    const std::vector<uint8_t> bytes =
        EncodeRegFileText(RegFileText + BackupPartEndText(part), false);
    const TSha256Digest digest = ChainedDigest(FDigest, bytes);
    try {
        FFile->Append(bytes);
        FLedger.Record(FId, part, digest);
    } catch (const EKeystripError& e) {
        if (FFailure.empty())
            FFailure = e.what();
        try {
            FFile->Truncate(FSize);
        } catch (const EKeystripError& cut) {
            // Whatever came after it could not be told from it.
            FDead = std::string("the backup can take nothing more: a part that could not be "
                                "written was not cut back off it either (") +
                    cut.what() + ")";
        }
        throw EFileError(e.what());
    }
    FSize += bytes.size();
    FParts = part;
    FDigest = digest;
}

std::u16string BackupFileLeaf(const TBackupOrigin& Origin, int Try) {
    std::u16string computer;
    for (char16_t c : Origin.Computer)
        computer +=
            (c < 32 || std::u16string(u"\\/:*?\"<>|").find(c) != std::u16string::npos) ? u'_' : c;
    if (computer.empty())
        computer = u"backup";
    const platform::LocalTime& t = Origin.Time;
    std::u16string leaf = computer + u"-" + U16(std::to_string(t.Year)) + TwoDigits(t.Month) +
                          TwoDigits(t.Day) + u"-" + TwoDigits(t.Hour) + TwoDigits(t.Minute) +
                          TwoDigits(t.Second);
    if (Try >= 2)
        leaf += u"-" + U16(std::to_string(Try));
    return leaf + u".reg";
}

std::unique_ptr<TBackupFile> OpenBackupFile(const std::u16string& Name, IBackupLedger& Ledger,
                                            const TBackupOrigin& Origin) {
    std::unique_ptr<platform::INewFile> file;
    if (platform::FolderExists(Name)) {
        for (int attempt = 1; !file; ++attempt) {
            try {
                file = platform::CreateNewFile(
                    platform::NameInFolder(Name, BackupFileLeaf(Origin, attempt)));
            } catch (const platform::EFileExists&) {
                if (attempt == kLeafTries)
                    throw EFileError("\"" + Utf16ToUtf8(Name) +
                                     "\" holds a file of every name "
                                     "a new backup in it could get");
            }
        }
    } else {
        try {
            file = platform::CreateNewFile(Name);
        } catch (const platform::EFileExists&) {
            throw platform::EFileExists(
                "\"" + Utf16ToUtf8(Name) +
                "\" exists already; a backup is written only to a new file (or a new file in "
                "a folder), never added to one, and the file is left as it is");
        }
    }
    return std::make_unique<TBackupFile>(std::move(file), Ledger, NewBackupId(), Origin.Computer);
}

void TUnwritableBackup::Append(const std::u16string&) {
    throw EFileError(FReason);
}

} // namespace keystrip
