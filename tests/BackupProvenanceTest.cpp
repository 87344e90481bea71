// A restore takes only a backup this program wrote on this computer and
// nobody changed since: what a file must be, checked against the ledger, for
// each way a file can differ from what was recorded (edited, cut short by a
// person or by a run that stopped, planted, brought from elsewhere) and each
// way the record itself can be unusable. The ledger's keys are also checked
// against the real registry's access lists in the Windows build.
#include "backup/BackupProvenance.h"
#include "backup/BackupFile.h"
#include "common/Utf.h"
#include "platform/doubles/FakeKeySecurity.h"
#include "platform/doubles/MemoryRegistry.h"

#include "tests/support/RecordedBackup.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>
#endif

namespace keystrip::test {
namespace {

using namespace platform;

// Three parts, as three rules write them; the second holds the dword and the
// hex line a cut can fall into.
const std::u16string kParts[] = {
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\A]\r\n@=\"a\"\r\n\r\n",
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\B]\r\n\"Dw\"=dword:0000002a\r\n"
    u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
    u"  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\r\n\r\n",
    u"[HKEY_CURRENT_USER\\Software\\Zolva\\C]\r\n\"S\"=\"text\"\r\n\r\n",
};
const std::u16string kFourth = u"[HKEY_CURRENT_USER\\Software\\Zolva\\D]\r\n\r\n";

class Provenance {
public:
    Provenance()
        : FRecorded(FRegistry, kProgramKey, &FRegistry),
          Bytes(FRecorded.Write({kParts[0], kParts[1], kParts[2]})) {}

    // Where a text first is in the file (its first byte).
    size_t At(const std::u16string& text) const {
        const std::vector<uint8_t> units = EncodeRegFileText(text, false);
        const auto found = std::search(Bytes.begin(), Bytes.end(), units.begin(), units.end());
        EXPECT_NE(found, Bytes.end()) << Utf16ToUtf8(text);
        return static_cast<size_t>(found - Bytes.begin());
    }
    void Add(const std::u16string& text) {
        const std::vector<uint8_t> units = EncodeRegFileText(text, false);
        Bytes.insert(Bytes.end(), units.begin(), units.end());
    }
    void Replace(const std::u16string& from, const std::u16string& to) {
        const std::vector<uint8_t> units = EncodeRegFileText(to, false);
        const size_t at = At(from);
        const auto first = Bytes.begin() + static_cast<std::ptrdiff_t>(at);
        Bytes.insert(Bytes.erase(first, first + static_cast<std::ptrdiff_t>(2 * from.size())),
                     units.begin(), units.end());
    }
    std::u16string Id() const { return FRecorded.Id(); }
    std::u16string RecordKey() const { return u"SOFTWARE\\ZolvaKeystrip\\Backups\\" + Id(); }

    TRegistryLedger& Ledger() { return FRecorded.Ledger(); }

    MemoryRegistry FRegistry;
    RecordedBackup FRecorded;
    std::vector<uint8_t> Bytes;
};

struct ProvenanceRow {
    const char* label;
    std::function<void(Provenance&)> change;
    size_t sections;     // restored; with refused, none
    bool incomplete;     // recorded parts are missing
    size_t notes;        // lines saying what was left out
    std::string refused; // part of the reason, or empty
};

void PrintTo(const ProvenanceRow& row, std::ostream* os) {
    *os << row.label;
}

class ProvenanceTest : public testing::TestWithParam<ProvenanceRow> {};

TEST_P(ProvenanceTest, RestoresExactlyWhatIsProvablyWholeAndRefusesAnythingElse) {
    const ProvenanceRow& row = GetParam();
    Provenance backup;
    row.change(backup);
    if (!row.refused.empty()) {
        try {
            VerifyBackup(backup.Bytes, backup.Ledger());
            ADD_FAILURE() << "not refused";
        } catch (const EBackupRefused& e) {
            EXPECT_NE(std::string(e.what()).find(row.refused), std::string::npos) << e.what();
        }
        return;
    }
    const TVerifiedBackup verified = VerifyBackup(backup.Bytes, backup.Ledger());
    EXPECT_EQ(verified.Document.Keys.size(), row.sections);
    EXPECT_EQ(verified.Incomplete, row.incomplete);
    EXPECT_EQ(verified.Notes.size(), row.notes);
    // What is restored comes whole: the dword never as the 0 a cut leaves.
    for (const TRegFileKey& key : verified.Document.Keys) {
        for (const TRegFileValue& value : key.Values) {
            if (value.Name == u"Dw") {
                EXPECT_EQ(value.Data, (std::vector<uint8_t>{0x2a, 0, 0, 0}));
            }
        }
    }
}

const ProvenanceRow kProvenanceRows[] = {
    {"whole", [](Provenance&) {}, 3, false, 0, ""},
    {"cut in the dword of part 2", [](Provenance& b) { b.Bytes.resize(b.At(u"dword:0000") + 20); },
     1, true, 1, ""},
    {"cut after a whole byte of the hex line",
     [](Provenance& b) { b.Bytes.resize(b.At(u"  17,18") + 16); }, 1, true, 1, ""},
    {"cut right after part 1",
     [](Provenance& b) { b.Bytes.resize(b.At(u"; end of part 1\r\n\r\n") + 38); }, 1, true, 1, ""},
    {"cut in the last part", [](Provenance& b) { b.Bytes.resize(b.At(u"\"S\"=\"te")); }, 2, true, 1,
     ""},
    {"a run stopped while writing part 4", [](Provenance& b) { b.Add(kFourth.substr(0, 20)); }, 3,
     false, 1, ""},
    {"part 4 written but never recorded",
     [](Provenance& b) { b.Add(kFourth + BackupPartEndText(4)); }, 3, false, 1, ""},
    {"more after an unrecorded part",
     [](Provenance& b) { b.Add(kFourth + BackupPartEndText(4) + kFourth); }, 0, false, 0,
     "goes on after its last recorded part"},
    {"sections planted after the last part",
     [](Provenance& b) { b.Add(kFourth + BackupPartEndText(7)); }, 0, false, 0,
     "goes on after its last recorded part"},
    {"a digit changed", [](Provenance& b) { b.Replace(u"0000002a", u"00000000"); }, 0, false, 0,
     "part 2 of the backup"},
    {"a value added to part 3",
     [](Provenance& b) { b.Replace(u"\"S\"=\"text\"", u"\"S\"=\"text\"\r\n\"T\"=\"x\""); }, 0,
     false, 0, "part 3 of the backup"},
    {"part 2 taken out",
     [](Provenance& b) {
         const size_t from = b.At(u"; end of part 1\r\n\r\n") + 38;
         const size_t to = b.At(u"; end of part 2\r\n\r\n") + 38;
         b.Bytes.erase(b.Bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       b.Bytes.begin() + static_cast<std::ptrdiff_t>(to));
     },
     0, false, 0, "part 2 of the backup"},
    {"the computer's name changed", [](Provenance& b) { b.Replace(u"on PC-1", u"on PC-2"); }, 0,
     false, 0, "start of the backup"},
    {"another identity", [](Provenance& b) { b.Replace(b.Id(), NewBackupId()); }, 0, false, 0,
     "holds no record"},
    {"no identity (an older backup, or a planted file)",
     [](Provenance& b) { b.Bytes = EncodeRegFileText(RegFileHeaderText() + kParts[0], true); }, 0,
     false, 0, "does not begin as this program's backups do"},
    {"an empty file", [](Provenance& b) { b.Bytes.clear(); }, 0, false, 0, "does not begin"},
    {"the record removed",
     [](Provenance& b) {
         EXPECT_EQ(b.FRegistry.DeleteKey(kHkeyLocalMachine, b.RecordKey()), kErrorSuccess);
     },
     0, false, 0, "holds no record"},
    {"the record open to users",
     [](Provenance& b) {
         b.FRecorded.Fake().OpenToUsers(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZolvaKeystrip\\Backups");
     },
     0, false, 0, "can be changed by S-1-5-32-545"},
    {"a digest of the record damaged",
     [](Provenance& b) {
         b.FRegistry.SetValue(kHkeyLocalMachine, b.RecordKey(), u"2", kRegBinary,
                              std::vector<uint8_t>(31));
     },
     0, false, 0, "is damaged"},
};

INSTANTIATE_TEST_SUITE_P(Files, ProvenanceTest, testing::ValuesIn(kProvenanceRows));

// The ledger in a registry: recorded digests come back in order, and a key of
// it that others than administrators can change makes it untrusted, for
// writing and for reading. Against the real registry, the access lists are
// the keys' own (made with RegSetKeySecurity), not the double's.
class LedgerTest : public RegistryTest {
protected:
    IKeySecurity& Security() {
        if (Scratch().Memory() == nullptr)
            return SystemKeySecurity();
        if (!FFake)
            FFake = std::make_unique<FakeKeySecurity>(Registry());
        return *FFake;
    }
    // Lets the Users group change the key.
    void OpenToUsers(const std::u16string& relative) {
        if (FFake) {
            FFake->OpenToUsers(u"\\REGISTRY\\MACHINE\\" + Key(rkLocalMachine, relative));
            return;
        }
#ifdef _WIN32
        PSECURITY_DESCRIPTOR open = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;;KA;;;BU)(A;;KA;;;BA)", SDDL_REVISION_1, &open, nullptr));
        HKEY key = win32::Create(HKEY_LOCAL_MACHINE, Key(rkLocalMachine, relative), win32::View());
        EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open), ERROR_SUCCESS);
        RegCloseKey(key);
        LocalFree(open);
#endif
    }
    std::unique_ptr<FakeKeySecurity> FFake;
};

TEST_P(LedgerTest, KeepsTheDigestsInOrderAndIsTrustedOnlyWhileClosedToOthers) {
    TRegistryLedger ledger(Registry(), Security(), Key(rkLocalMachine, u"Program"));
    const std::u16string id = NewBackupId();
    const TSha256Digest start = Sha256({1});
    const TSha256Digest part = ChainedDigest(start, {2});
    ledger.Begin(id, start);
    ledger.Record(id, 1, part);
    EXPECT_EQ(ledger.Recorded(id), (std::vector<TSha256Digest>{start, part}));
    EXPECT_TRUE(ledger.Recorded(NewBackupId()).empty());
    EXPECT_THROW(ledger.Begin(id, start), EKeystripError);
    EXPECT_THROW(ledger.Recorded(u"..\\x"), EBackupRefused);

    OpenToUsers(u"Program\\Backups\\" + id);
    EXPECT_THROW(ledger.Recorded(id), EBackupRefused);
    OpenToUsers(u"Program\\Backups");
    EXPECT_THROW(ledger.Begin(NewBackupId(), start), EKeystripError);
}

INSTANTIATE_TEST_SUITE_P(Registries, LedgerTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
