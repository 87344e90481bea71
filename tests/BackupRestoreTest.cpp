// A removal with a backup, and the restore from it, against the in-memory
// registry and, in the Windows build, against the real one: what goes into
// the backup comes back bit for bit (a link as a link, a plain key holding a
// link's value as that), nothing is deleted that could not be backed up
// first, and a restore writes nothing from a file it cannot read.
#include "backup/BackupFile.h"
#include "backup/RegFile.h"
#include "common/Errors.h"
#include "platform/Files.h"
#include "platform/doubles/FakeKeySecurity.h"
#include "rules/RegistryRestore.h"
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/RecordedBackup.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace keystrip::test {
namespace {

using namespace platform;

// A backup kept in memory; it can be made to fail a number of appends.
class MemoryBackup final : public IBackupSink {
public:
    const std::u16string& Name() const override { return FName; }
    void Append(const std::u16string& Text) override {
        if (FFailures > 0) {
            --FFailures;
            throw EFileError("the disk is full");
        }
        FText += Text;
    }
    std::vector<uint8_t> File() const {
        return EncodeRegFileText(RegFileHeaderText() + FText, true);
    }

    std::u16string FName = u"memory.reg";
    std::u16string FText;
    int FFailures = 0;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

class BackupRestoreTest : public RegistryTest {
protected:
    // Everything a value can hold, names the file format must escape, empty
    // keys, default values, a deep chain, a big value and a link.
    void PlantTorture(const std::u16string& top) {
        auto& s = Scratch();
        const std::u16string sz = top + u"\\Types";
        s.SetString(rkLocalMachine, sz, u"", u"default text");
        s.SetString(rkLocalMachine, sz, u"text", u"plain \"quoted\" back\\slash \u00e4\u20ac");
        s.SetValue(rkLocalMachine, sz, u"unterminated", kRegSz, Utf16Bytes(u"abc"));
        s.SetValue(rkLocalMachine, sz, u"inner nul", kRegSz,
                   Utf16Bytes(std::u16string(u"ab\0cd\0", 6)));
        s.SetValue(rkLocalMachine, sz, u"odd size", kRegSz, Bytes({'a', 0, 'b'}));
        s.SetValue(rkLocalMachine, sz, u"line break", kRegSz, Utf16Bytes(u"a\r\nb" + kEnd));
        s.SetString(rkLocalMachine, sz, u"expand", u"%SystemRoot%\\x", kRegExpandSz);
        s.SetValue(rkLocalMachine, sz, u"multi", kRegMultiSz,
                   Utf16Bytes(std::u16string(u"one\0two\0\0", 9)));
        s.SetDword(rkLocalMachine, sz, u"dword", 0xDEADBEEF);
        s.SetValue(rkLocalMachine, sz, u"short dword", kRegDword, Bytes({1, 2, 3}));
        s.SetValue(rkLocalMachine, sz, u"qword", kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
        s.SetValue(rkLocalMachine, sz, u"binary", kRegBinary, Bytes({0, 255, 16}));
        s.SetValue(rkLocalMachine, sz, u"none", kRegNone, {});
        s.SetValue(rkLocalMachine, sz, u"unknown type", 0x12345, Bytes({7}));
        s.SetValue(rkLocalMachine, sz, u"empty sz", kRegSz, {});
        std::vector<uint8_t> big(1 << 20);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<uint8_t>(i * 7);
        s.SetValue(rkLocalMachine, top + u"\\Big", u"blob", kRegBinary, big);
        for (const std::u16string name : {u"back\\slash", u"quote\"d", u"br]acket", u"eq=ual",
                                          u"semi;colon", u"\u00c4\u00f6\u00fc\u0416", u"@"})
            s.SetString(rkLocalMachine, top + u"\\Names", name, u"x");
        s.CreateKey(rkLocalMachine, top + u"\\Names\\br]acket]key");
        s.CreateKey(rkLocalMachine, top + u"\\Names\\eq=ual;key\u00e4");
        s.CreateKey(rkLocalMachine, top + u"\\Names\\" + std::u16string(255, u'k'));
        s.SetString(rkLocalMachine, top + u"\\Names", std::u16string(255, u'v'), u"long");
        s.CreateKey(rkLocalMachine, top + u"\\Empty");
        std::u16string deep = top + u"\\Deep";
        for (int level = 0; level < 40; ++level)
            deep += u"\\L" + U16(std::to_string(level));
        s.SetDword(rkLocalMachine, deep, u"level", 40);
        s.SetString(rkLocalMachine, u"Outside", u"v", u"the link's target");
        s.CreateLink(rkLocalMachine, top + u"\\Link", rkLocalMachine, u"Outside");
        // What any user can make: a plain key whose value only looks like a
        // link's, with a key below it.
        s.SetValue(rkLocalMachine, top + u"\\FakeLink", kSymbolicLinkValueName, kRegLink,
                   Utf16Bytes(u"\\REGISTRY\\MACHINE\\SOFTWARE"));
        s.SetString(rkLocalMachine, top + u"\\FakeLink\\Sub", u"v", u"kept");
    }

    bool Remove(TZolvaProduct& product, IBackupSink* backup) {
        TZolvaProductRemover remover(&product, &FLog, Registry());
        remover.SetBackup(backup);
        return remover.ProductRemoved();
    }
    TRestoreResult Restore(const std::vector<uint8_t>& file) {
        TRegistryRestorer restorer(&FLog, Registry(), FTargets);
        restorer.SetLedger(&Recorded().Ledger());
        return restorer.Restore(u"backup.reg", file);
    }
    // A backup recorded in a ledger below the scratch tree, made at first use.
    RecordedBackup& Recorded() {
        if (!FRecorded)
            FRecorded = std::make_unique<RecordedBackup>(Registry(), Key(rkLocalMachine, kLedger),
                                                         Scratch().Memory());
        return *FRecorded;
    }
    // A dump without the ledger's keys.
    std::vector<std::string> MachineDump() {
        std::vector<std::string> lines = Scratch().Dump(rkLocalMachine, u"");
        const std::string ledger = "\\" + Utf16ToUtf8(kLedger);
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&](const std::string& line) {
                                       return line.compare(2, ledger.size(), ledger) == 0;
                                   }),
                    lines.end());
        return lines;
    }
    // A complete-key rule on a key of the scratch tree, for the restore.
    void Target(TZolvaProductRootKey root, const std::u16string& relative) {
        FTargets.Add(TZolvaProductRemoveRule{root, Key(root, relative), u"", raCompleteKey});
    }
    std::u16string Path(TZolvaProductRootKey root, const std::u16string& relative) {
        return RootKeyToText(root) + u'\\' + Key(root, relative);
    }

    const std::u16string kEnd = std::u16string(1, u'\0');
    const std::u16string kLedger = u"Program";
    TActivityLogger FLog;
    std::unique_ptr<RecordedBackup> FRecorded;
    TRestoreTargets FTargets;
};

TEST_P(BackupRestoreTest, WhatARemovalBacksUpComesBackBitForBit) {
    PlantTorture(u"Product");
    Scratch().SetString(rkCurrentUser, u"Settings", u"Keep", u"stays");
    Scratch().SetValue(rkCurrentUser, u"Settings", u"Window", kRegBinary, Bytes({1, 2}));
    const auto machine = MachineDump();
    const auto user = Scratch().Dump(rkCurrentUser, u"");

    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Window", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Missing"), u"", raCompleteKey);
    EXPECT_TRUE(Remove(product, &Recorded().Sink()));
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Product"));
    EXPECT_FALSE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u"Window"));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"Outside", u"v"));
    // The link went as a link: what it led to is no part of the backup.
    const TRegFileDocument written = ReadRegFile(Recorded().Bytes());
    for (const TRegFileKey& key : written.Keys)
        for (const TRegFileValue& value : key.Values)
            EXPECT_NE(value.Data, Utf16Bytes(u"the link's target" + kEnd));

    FLog.Clear();
    FTargets.Add(product);
    EXPECT_EQ(Restore(Recorded().Bytes()), TRestoreResult::Restored);
    EXPECT_EQ(MachineDump(), machine);
    EXPECT_TRUE(Scratch().LinkPresent(rkLocalMachine, u"Product\\Link"));
    // Opened as a key (a link would lead to SOFTWARE), it holds its value
    // and its subkey.
    EXPECT_TRUE(
        Scratch().ValuePresent(rkLocalMachine, u"Product\\FakeLink", kSymbolicLinkValueName));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"Product\\FakeLink\\Sub", u"v"));
    EXPECT_EQ(Scratch().Dump(rkCurrentUser, u""), user);
    const auto entries = Entries(FLog);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries.front(), (LogEntry{asInfo, aaStartRestore, u"backup.reg"}));
    EXPECT_EQ(entries.back(), (LogEntry{asInfo, aaStopRestore, u"Success"}));
    EXPECT_EQ(CountAction(entries, aaKeyRestored), entries.size() - 2);
}

TEST_P(BackupRestoreTest, NothingIsDeletedThatCouldNotBeBackedUpFirst) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"First", u"v", u"x");
    s.SetString(rkLocalMachine, u"Second", u"v", u"x");
    s.SetString(rkLocalMachine, u"Unwritable", u"v", u"x");
    s.CreateNamedKey(rkLocalMachine, u"Unwritable", u"nul" + kEnd + u"name");
    s.SetString(rkLocalMachine, u"Values", u"v", u"x");
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"First"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Values"), u"v", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Unwritable"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Second"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Absent"), u"", raCompleteKey);
    MemoryBackup backup;
    backup.FFailures = 2; // the disk is full for the first two rules
    EXPECT_FALSE(Remove(product, &backup));

    const std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asWarning, aaKeyNotBackedUp,
         WithDetail(Path(rkLocalMachine, u"First"), u"the disk is full")},
        {asWarning, aaNameNotBackedUp,
         WithDetail(Path(rkLocalMachine, u"Values") + u"\\v", u"the disk is full")},
        {asInfo, aaKeyDeleted, Path(rkLocalMachine, u"Second")},
        {asInfo, aaKeyNotFound, Path(rkLocalMachine, u"Absent")},
        {asInfo, ssStopRemoval, u"Failure"},
    };
    auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), expected.size() + 1);
    // A name the file format cannot carry.
    const LogEntry unwritable = entries[3];
    entries.erase(entries.begin() + 3);
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(unwritable.action, aaKeyNotBackedUp);
    EXPECT_EQ(unwritable.severity, asWarning);
    EXPECT_NE(unwritable.data.find(u"cannot be written"), std::u16string::npos);
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"First", u"v"));
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Values", u"v"));
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Unwritable", u"v"));
    EXPECT_FALSE(s.KeyPresent(rkLocalMachine, u"Second"));
}

TEST_P(BackupRestoreTest, AMalformedFileWritesNothingAndSaysWhereItIsWrong) {
    Target(rkLocalMachine, u"Restored");
    const std::u16string top = Path(rkLocalMachine, u"Restored");
    const std::u16string good = u"[" + top + u"]\r\n\"v\"=\"x\"\r\n\r\n";
    // Each recorded as the backup's one part, after the header, the line
    // naming the backup and an empty line.
    const std::pair<std::u16string, std::u16string> files[] = {
        {good + u"[" + top + u"\\Sub]\r\n\"w\"=hex(2):41,00,zz\r\n",
         u"line 9: the value data \"hex(2):41,00,zz\" is not hexadecimal"},
        {good + u"[HKEY_NOWHERE\\X]\r\n", u"line 8:"},
        {u"\"orphan\"=\"value\"\r\n" + good, u"line 5:"},
        {good + u"[" + top + u"\\Sub]\r\n\"broken=\"x\"\r\n", u"line 9:"},
    };
    for (const auto& [text, problem] : files) {
        SCOPED_TRACE(Utf16ToUtf8(problem));
        FLog.Clear();
        FRecorded.reset();
        EXPECT_EQ(Restore(Recorded().Write({text})), TRestoreResult::Refused);
        const auto entries = Entries(FLog);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].action, aaRestoreRefused);
        EXPECT_EQ(entries[1].data.substr(0, problem.size()), problem)
            << Utf16ToUtf8(entries[1].data);
        EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Restored"));
    }
    FLog.Clear();
    EXPECT_EQ(Restore({}), TRestoreResult::Refused);
}

TEST_P(BackupRestoreTest, ARestoreDoesNotWriteThroughAUsersLink) {
    Scratch().SetString(rkLocalMachine, u"Victim", u"v", u"precious");
    Scratch().CreateLink(rkCurrentUser, u"Vendor", rkLocalMachine, u"Victim");
    Target(rkCurrentUser, u"Vendor\\Office");
    Target(rkCurrentUser, u"Fine");
    const std::u16string text = u"[" + Path(rkCurrentUser, u"Vendor\\Office") +
                                u"]\r\n\"v\"=\"planted\"\r\n\r\n[" + Path(rkCurrentUser, u"Fine") +
                                u"]\r\n\"v\"=dword:00000001\r\n\r\n";
    EXPECT_EQ(Restore(Recorded().Write({text})), TRestoreResult::Incomplete);
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Victim\\Office"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Fine", u"v"));
    const auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].action, aaKeyNotRestored);
    EXPECT_EQ(entries[1].severity, asWarning);
}

INSTANTIATE_TEST_SUITE_P(Registries, BackupRestoreTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

// A backup goes only into a file this run creates: a name that exists is
// refused and left as it is; a folder gets a new file named after the
// computer and the time, another one when that name is taken.
TEST(BackupFileTest, OnlyANewFileOfItsOwnNeverOneThatExists) {
    testing_support::TempDir dir;
    MemoryRegistry registry;
    platform::FakeKeySecurity security(registry);
    TRegistryLedger ledger(registry, security);
    const TBackupOrigin origin{u"PC-7", {2026, 3, 4, 5, 6, 7, 60}};
    const std::u16string name = dir.File(u"backup.reg");
    OpenBackupFile(name, ledger, origin)->Append(u"[HKEY_CURRENT_USER\\A]\r\n\r\n");
    const std::vector<uint8_t> first = ReadFileBytes(name);
    EXPECT_EQ(VerifyBackup(first, ledger).Document.Keys.at(0).Path, u"HKEY_CURRENT_USER\\A");

    // A backup of an earlier run, or a user's file seeded with sections.
    const std::u16string notes = dir.File(u"notes.reg");
    WriteFileBytes(notes, "my notes");
    for (const std::u16string& taken : {name, notes}) {
        const std::vector<uint8_t> before = ReadFileBytes(taken);
        EXPECT_THROW(OpenBackupFile(taken, ledger, origin), EFileExists);
        EXPECT_EQ(ReadFileBytes(taken), before);
    }
    EXPECT_THROW(OpenBackupFile(dir.File(u"missing/dir/x.reg"), ledger, origin), EFileError);
#ifndef _WIN32
    // A link at the name is not followed to create its target.
    std::filesystem::create_symlink(dir.Path() / "target.reg", dir.Path() / "link.reg");
    EXPECT_THROW(OpenBackupFile(dir.File(u"link.reg"), ledger, origin), EFileExists);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "target.reg"));
#endif

    const std::u16string folder = dir.File(u"fleet");
    std::filesystem::create_directory(dir.Path() / "fleet");
    EXPECT_EQ(OpenBackupFile(folder, ledger, origin)->Name(),
              NameInFolder(folder, u"PC-7-20260304-050607.reg"));
    EXPECT_EQ(OpenBackupFile(folder, ledger, origin)->Name(),
              NameInFolder(folder, u"PC-7-20260304-050607-2.reg"));
    EXPECT_EQ(BackupFileLeaf({u"A:B/C", {1999, 12, 31, 23, 59, 58, 0}}, 3),
              u"A_B_C-19991231-235958-3.reg");
    EXPECT_THROW(TUnwritableBackup(u"x.reg", "no disk").Append(u"[HKEY_CURRENT_USER\\A]\r\n"),
                 EFileError);
}

} // namespace
} // namespace keystrip::test
