#include "backup/BackupLedger.h"

#include "common/Utf.h"

#include <utility>

namespace keystrip {

using namespace platform;

namespace {

std::u16string Number(uint32_t value) {
    return U16(std::to_string(value));
}

std::string Error(long code) {
    return "error " + std::to_string(code);
}

bool IsHexId(const std::u16string& id) {
    if (id.size() != 32)
        return false;
    for (char16_t c : id)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

} // namespace

TRegistryLedger::TRegistryLedger(IRegistry& Registry, IKeySecurity& Security,
                                 std::u16string ProgramKey)
    : FRegistry(Registry), FSecurity(Security), FProgramKey(std::move(ProgramKey)) {}

std::u16string TRegistryLedger::RecordPath(const std::u16string& Id) const {
    return u"HKEY_LOCAL_MACHINE\\" + FProgramKey + u"\\Backups" + (Id.empty() ? u"" : u"\\" + Id);
}

void TRegistryLedger::CheckId(const std::u16string& Id) const {
    // The identity becomes a key name: nothing but what the writer draws.
    if (!IsHexId(Id))
        throw EBackupRefused("\"" + Utf16ToUtf8(Id) + "\" is no backup identity");
}

RegKeyHandle TRegistryLedger::OwnKey(const std::u16string& Path, bool Create, bool* Created) {
    const std::string shown = "HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(Path);
    // Writing, a failure is the backup's; reading, it refuses the restore.
    auto fail = [Create](const std::string& why) {
        if (Create)
            throw EKeystripError(why);
        throw EBackupRefused(why);
    };
    RegKey key = 0;
    bool created = false;
    long error = Create
                     ? FRegistry.CreateKey(kHkeyLocalMachine, Path, 0, kKeyAllAccess, key, created)
                     : FRegistry.OpenKey(kHkeyLocalMachine, Path, 0, kKeyRead, key);
    if (!Create && error == kErrorFileNotFound)
        return RegKeyHandle();
    if (error != kErrorSuccess)
        fail("the record of backups " + shown + " cannot be " + (Create ? "written (" : "read (") +
             Error(error) + ")");
    RegKeyHandle handle(FRegistry, key);
    if (created) {
        error = FSecurity.RestrictToAdministrators(key);
        if (error != kErrorSuccess)
            fail("the record of backups " + shown +
                 " cannot be closed to all but administrators (" + Error(error) + ")");
    }
    const std::u16string others = FSecurity.OthersWhoCanChange(key);
    if (!others.empty())
        fail("the record of backups " + shown + " can be changed by " + Utf16ToUtf8(others) +
             ", not only by administrators");
    if (Created != nullptr)
        *Created = created;
    return handle;
}

void TRegistryLedger::Begin(const std::u16string& Id, const TSha256Digest& Start) {
    CheckId(Id);
    OwnKey(FProgramKey, true);
    OwnKey(FProgramKey + u"\\Backups", true);
    bool created = false;
    RegKeyHandle record = OwnKey(FProgramKey + u"\\Backups\\" + Id, true, &created);
    if (!created)
        throw EKeystripError("a backup of the identity " + Utf16ToUtf8(Id) +
                             " is recorded already");
    const long error =
        FRegistry.SetValue(record.Get(), u"0", kRegBinary, {Start.begin(), Start.end()});
    if (error != kErrorSuccess)
        throw EKeystripError("the backup cannot be recorded in " + Utf16ToUtf8(RecordPath(Id)) +
                             " (" + Error(error) + ")");
}

void TRegistryLedger::Record(const std::u16string& Id, uint32_t Part, const TSha256Digest& Digest) {
    CheckId(Id);
    RegKeyHandle record;
    long error = OpenKeyHandle(FRegistry, kHkeyLocalMachine, FProgramKey + u"\\Backups\\" + Id, 0,
                               kKeySetValue, record);
    if (error == kErrorSuccess)
        error = FRegistry.SetValue(record.Get(), Number(Part), kRegBinary,
                                   {Digest.begin(), Digest.end()});
    if (error != kErrorSuccess)
        throw EKeystripError("part " + std::to_string(Part) + " cannot be recorded in " +
                             Utf16ToUtf8(RecordPath(Id)) + " (" + Error(error) + ")");
}

std::vector<TSha256Digest> TRegistryLedger::Recorded(const std::u16string& Id) {
    CheckId(Id);
    std::vector<TSha256Digest> digests;
    if (!OwnKey(FProgramKey, false) || !OwnKey(FProgramKey + u"\\Backups", false))
        return digests;
    RegKeyHandle record = OwnKey(FProgramKey + u"\\Backups\\" + Id, false);
    if (!record)
        return digests;
    for (uint32_t number = 0;; ++number) {
        TSha256Digest digest{};
        uint32_t type = 0;
        uint32_t size = digest.size();
        const long error =
            FRegistry.QueryValue(record.Get(), Number(number), &type, digest.data(), &size);
        if (error == kErrorFileNotFound)
            break;
        if (error != kErrorSuccess || type != kRegBinary || size != digest.size())
            throw EBackupRefused("the record " + Utf16ToUtf8(RecordPath(Id)) +
                                 " is damaged (its value \"" + std::to_string(number) +
                                 "\" is no digest)");
        digests.push_back(digest);
    }
    return digests;
}

} // namespace keystrip
