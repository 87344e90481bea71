// A removal with a backup, and the restore from it, against the in-memory
// registry and, in the Windows build, against the real one: what goes into
// the backup comes back bit for bit, nothing is deleted that could not be
// backed up first, and a restore writes nothing from a file it cannot read.
#include "backup/BackupFile.h"
#include "backup/RegFile.h"
#include "common/Errors.h"
#include "platform/Files.h"
#include "rules/RegistryRestore.h"
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

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
    }

    bool Remove(TZolvaProduct& product, IBackupSink* backup) {
        TZolvaProductRemover remover(&product, &FLog, Registry());
        remover.SetBackup(backup);
        return remover.ProductRemoved();
    }
    TRestoreResult Restore(const std::vector<uint8_t>& file) {
        return TRegistryRestorer(&FLog, Registry(), FTargets).Restore(u"backup.reg", file);
    }
    // A complete-key rule on a key of the scratch tree, for the restore.
    void Target(TZolvaProductRootKey root, const std::u16string& relative) {
        FTargets.Add(TZolvaProductRemoveRule{root, Key(root, relative), u"", raCompleteKey});
    }
    std::u16string Path(TZolvaProductRootKey root, const std::u16string& relative) {
        return RootKeyToText(root) + u'\\' + Key(root, relative);
    }

    const std::u16string kEnd = std::u16string(1, u'\0');
    TActivityLogger FLog;
    TRestoreTargets FTargets;
};

TEST_P(BackupRestoreTest, WhatARemovalBacksUpComesBackBitForBit) {
    PlantTorture(u"Product");
    Scratch().SetString(rkCurrentUser, u"Settings", u"Keep", u"stays");
    Scratch().SetValue(rkCurrentUser, u"Settings", u"Window", kRegBinary, Bytes({1, 2}));
    const auto machine = Scratch().Dump(rkLocalMachine, u"");
    const auto user = Scratch().Dump(rkCurrentUser, u"");

    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Window", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Missing"), u"", raCompleteKey);
    MemoryBackup backup;
    EXPECT_TRUE(Remove(product, &backup));
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Product"));
    EXPECT_FALSE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u"Window"));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"Outside", u"v"));
    // The link went as a link: what it led to is no part of the backup.
    EXPECT_EQ(backup.FText.find(u"the link's target"), std::u16string::npos);

    FLog.Clear();
    FTargets.Add(product);
    EXPECT_EQ(Restore(backup.File()), TRestoreResult::Restored);
    EXPECT_EQ(Scratch().Dump(rkLocalMachine, u""), machine);
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
    const std::pair<std::u16string, std::u16string> files[] = {
        {good + u"[" + top + u"\\Sub]\r\n\"w\"=hex(2):41,00,zz\r\n",
         u"line 7: the value data \"hex(2):41,00,zz\" is not hexadecimal"},
        {good + u"[HKEY_NOWHERE\\X]\r\n", u"line 6:"},
        {u"\"orphan\"=\"value\"\r\n" + good, u"line 3:"},
        {good + u"[" + top + u"\\Sub]\r\n\"broken=\"x\"\r\n", u"line 7:"},
    };
    for (const auto& [text, problem] : files) {
        SCOPED_TRACE(Utf16ToUtf8(problem));
        FLog.Clear();
        EXPECT_EQ(Restore(EncodeRegFileText(RegFileHeaderText() + text, true)),
                  TRestoreResult::Refused);
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
    EXPECT_EQ(Restore(EncodeRegFileText(RegFileHeaderText() + text, true)),
              TRestoreResult::Incomplete);
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Victim\\Office"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Fine", u"v"));
    const auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].action, aaKeyNotRestored);
    EXPECT_EQ(entries[1].severity, asWarning);
}

INSTANTIATE_TEST_SUITE_P(Registries, BackupRestoreTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

TEST(BackupFileTest, ANewFileStartsAsABackupAndAnExistingOneIsAddedToNeverReplaced) {
    testing_support::TempDir dir;
    const std::u16string name = dir.File(u"backup.reg");
    {
        TBackupFile file(name);
        file.Append(u"[HKEY_CURRENT_USER\\A]\r\n\r\n");
    }
    {
        TBackupFile file(name);
        file.Append(u"[HKEY_CURRENT_USER\\B]\r\n\r\n");
    }
    const TRegFileDocument document = ReadRegFile(ReadFileBytes(name));
    ASSERT_EQ(document.Keys.size(), 2u);
    EXPECT_EQ(document.Keys[1].Path, u"HKEY_CURRENT_USER\\B");

    const std::u16string other = dir.File(u"notes.txt");
    WriteFileBytes(other, "my notes");
    EXPECT_THROW(TBackupFile{other}, EFileError);
    EXPECT_EQ(ReadFileBytes(other), (std::vector<uint8_t>{'m', 'y', ' ', 'n', 'o', 't', 'e', 's'}));
    EXPECT_THROW(TBackupFile{dir.File(u"missing/dir/x.reg")}, EFileError);
    EXPECT_THROW(TUnwritableBackup(u"x.reg", "no disk").Append(u"[HKEY_CURRENT_USER\\A]\r\n"),
                 EFileError);
}

} // namespace
} // namespace keystrip::test
