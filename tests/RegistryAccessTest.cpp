// The registry access object against the in-memory registry and, in the
// Windows build, against the real one.
#include "rules/RegistryAccess.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <climits>

namespace keystrip::test {
namespace {

using namespace platform;

class RegistryAccessTest : public RegistryTest {
protected:
    std::unique_ptr<TRegistryAccess> Access(TZolvaProductRootKey root, uint32_t mask = kKeyRead) {
        auto access = std::make_unique<TRegistryAccess>(Registry(), mask);
        access->SetRootKey(RootHandle(root));
        return access;
    }
};

struct StringCase {
    const char* label;
    uint32_t type;
    std::vector<uint8_t> data;
    std::u16string expected;
};

TEST_P(RegistryAccessTest, ReadStringGivesTheStoredTextUnexpandedUpToTheFirstNul) {
    const std::vector<StringCase> cases = {
        {"terminated", kRegSz, Utf16Bytes(std::u16string(u"Zolva\0", 6)), u"Zolva"},
        {"embedded NUL", kRegSz, Utf16Bytes(std::u16string(u"abc\0def\0", 8)), u"abc"},
        {"unterminated", kRegSz, Utf16Bytes(u"abc"), u"abc"},
        {"odd size", kRegSz, {'a', 0, 'b', 0, 'c'}, u"ab"},
        {"expandable", kRegExpandSz, Utf16Bytes(std::u16string(u"%SystemRoot%\\x\0", 15)),
         u"%SystemRoot%\\x"},
        {"no data", kRegSz, {}, u""},
        {"only a NUL", kRegSz, {0, 0}, u""},
        {"beyond ASCII", kRegSz, Utf16Bytes(std::u16string(u"Gr\u00f6\u00dfe\u0416\0", 7)),
         u"Gr\u00f6\u00dfe\u0416"},
    };
    for (const auto& c : cases)
        Scratch().SetValue(rkCurrentUser, u"Strings", U16(c.label), c.type, c.data);
    auto access = Access(rkCurrentUser);
    ASSERT_TRUE(access->OpenKey(Key(rkCurrentUser, u"Strings")));
    for (const auto& c : cases)
        EXPECT_EQ(access->ReadString(U16(c.label)), c.expected) << c.label;
}

TEST_P(RegistryAccessTest, ReadStringRaisesOnDataThatIsNoString) {
    const std::vector<std::pair<const char*, uint32_t>> types = {
        {"dword", kRegDword}, {"binary", kRegBinary}, {"multi", kRegMultiSz},
        {"qword", kRegQword}, {"none", kRegNone},
    };
    for (const auto& [name, type] : types)
        Scratch().SetValue(rkCurrentUser, u"Typed", U16(name), type, {1, 0, 0, 0, 0, 0, 0, 0});
    auto access = Access(rkCurrentUser);
    ASSERT_TRUE(access->OpenKey(Key(rkCurrentUser, u"Typed")));
    for (const auto& [name, type] : types)
        EXPECT_THROW(access->ReadString(U16(name)), ERegistryError) << name;
    // A value that is not there has no size to query: empty, no error.
    EXPECT_EQ(access->ReadString(u"missing"), u"");
}

TEST_P(RegistryAccessTest, ReadIntegerIsSigned32Bit) {
    const std::vector<std::pair<uint32_t, int32_t>> cases = {
        {0, 0}, {1, 1}, {0x7FFFFFFF, INT32_MAX}, {0x80000000u, INT32_MIN}, {0xFFFFFFFFu, -1},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        Scratch().SetDword(rkLocalMachine, u"Numbers", U16("n" + std::to_string(i)),
                           cases[i].first);
    auto access = Access(rkLocalMachine);
    ASSERT_TRUE(access->OpenKey(Key(rkLocalMachine, u"Numbers")));
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(access->ReadInteger(U16("n" + std::to_string(i))), cases[i].second);
}

TEST_P(RegistryAccessTest, ReadIntegerRaisesOnAnythingButFourDwordBytes) {
    Scratch().SetString(rkLocalMachine, u"Numbers", u"text", u"12");
    Scratch().SetValue(rkLocalMachine, u"Numbers", u"binary", kRegBinary, DwordBytes(12));
    Scratch().SetValue(rkLocalMachine, u"Numbers", u"qword", kRegQword, {12, 0, 0, 0, 0, 0, 0, 0});
    Scratch().SetValue(rkLocalMachine, u"Numbers", u"short", kRegDword, {12, 0});
    auto access = Access(rkLocalMachine);
    ASSERT_TRUE(access->OpenKey(Key(rkLocalMachine, u"Numbers")));
    for (auto name : {u"text", u"binary", u"qword", u"short", u"missing"})
        EXPECT_THROW(access->ReadInteger(name), ERegistryError);
}

TEST_P(RegistryAccessTest, GetDataTypeNamesTheFourKnownTypesOnly) {
    const std::vector<std::pair<uint32_t, TRegDataType>> cases = {
        {kRegSz, rdString},     {kRegExpandSz, rdExpandString},  {kRegDword, rdInteger},
        {kRegBinary, rdBinary}, {kRegMultiSz, rdUnknown},        {kRegQword, rdUnknown},
        {kRegNone, rdUnknown},  {kRegDwordBigEndian, rdUnknown},
    };
    for (const auto& [type, expected] : cases)
        Scratch().SetValue(rkCurrentUser, u"Types", U16("t" + std::to_string(type)), type,
                           {0, 0, 0, 0});
    auto access = Access(rkCurrentUser);
    ASSERT_TRUE(access->OpenKey(Key(rkCurrentUser, u"Types")));
    for (const auto& [type, expected] : cases)
        EXPECT_EQ(access->GetDataType(U16("t" + std::to_string(type))), expected) << type;
    EXPECT_EQ(access->GetDataType(u"missing"), rdUnknown);
}

TEST_P(RegistryAccessTest, KeyPathsIgnoreOneLeadingBackslashAndCase) {
    Scratch().CreateKey(rkLocalMachine, u"Vendor\\\u00c4pfel\u0416");
    const std::vector<std::pair<std::u16string, bool>> cases = {
        {Key(rkLocalMachine, u"Vendor\\\u00c4pfel\u0416"), true},
        {u"\\" + Key(rkLocalMachine, u"Vendor\\\u00c4pfel\u0416"), true},
        {Key(rkLocalMachine, u"VENDOR\\\u00e4PFEL\u0436"), true},
        {Key(rkLocalMachine, u"Vendor\\Apfel\u0416"), false},
        {Key(rkLocalMachine, u"Vendor\\Missing"), false},
        {u"", true}, // the root itself
    };
    auto access = Access(rkLocalMachine, kKeyAllAccess);
    for (const auto& [path, exists] : cases) {
        EXPECT_EQ(access->KeyExists(path), exists) << Utf16ToUtf8(path);
        EXPECT_EQ(access->OpenKey(path), exists) << Utf16ToUtf8(path);
        access->CloseKey();
    }
}

TEST_P(RegistryAccessTest, ValuesAreFoundByNameWithoutCaseAndEmptyNameIsTheDefault) {
    Scratch().SetString(rkCurrentUser, u"App", u"", u"default");
    Scratch().SetString(rkCurrentUser, u"App", u"InstallDir", u"C:\\x");
    Scratch().CreateKey(rkCurrentUser, u"NoDefault");
    auto access = Access(rkCurrentUser);
    ASSERT_TRUE(access->OpenKey(Key(rkCurrentUser, u"App")));
    EXPECT_TRUE(access->ValueExists(u""));
    EXPECT_TRUE(access->ValueExists(u"installdir"));
    EXPECT_FALSE(access->ValueExists(u"Other"));
    EXPECT_EQ(access->ReadString(u""), u"default");
    ASSERT_TRUE(access->OpenKey(Key(rkCurrentUser, u"NoDefault")));
    EXPECT_FALSE(access->ValueExists(u""));
}

TEST_P(RegistryAccessTest, WithoutAnOpenKeyNothingIsFoundAndReadsRaise) {
    auto access = Access(rkCurrentUser);
    EXPECT_FALSE(access->ValueExists(u""));
    EXPECT_EQ(access->GetDataType(u""), rdUnknown);
    EXPECT_FALSE(access->DeleteValue(u""));
    EXPECT_THROW(access->ReadString(u""), ERegistryError);
    EXPECT_THROW(access->ReadInteger(u""), ERegistryError);
}

TEST_P(RegistryAccessTest, DeleteValueRemovesOnlyThatValue) {
    Scratch().SetString(rkCurrentUser, u"App", u"", u"default");
    Scratch().SetString(rkCurrentUser, u"App", u"Keep", u"1");
    auto access = Access(rkCurrentUser, kKeyAllAccess);
    ASSERT_TRUE(access->OpenKey(Key(rkCurrentUser, u"App")));
    EXPECT_TRUE(access->DeleteValue(u""));
    EXPECT_FALSE(access->DeleteValue(u""));
    EXPECT_FALSE(Scratch().ValuePresent(rkCurrentUser, u"App", u""));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"App", u"Keep"));
}

TEST_P(RegistryAccessTest, DeleteKeyRemovesAWholeSubtreeOfThousandsOfKeys) {
    // 1 + 12 + 144 + 1728 keys, each with values.
    std::vector<std::u16string> level{u"Product"};
    size_t keys = 0;
    for (int depth = 0; depth < 4; ++depth) {
        std::vector<std::u16string> next;
        for (const auto& path : level) {
            Scratch().SetString(rkLocalMachine, path, u"", u"data");
            Scratch().SetDword(rkLocalMachine, path, u"Count", 7);
            ++keys;
            if (depth < 3)
                for (int i = 0; i < 12; ++i)
                    next.push_back(path + u"\\Sub" + U16(std::to_string(i)));
        }
        level = std::move(next);
    }
    ASSERT_EQ(keys, 1885u);
    Scratch().SetString(rkLocalMachine, u"ProductKeep", u"v", u"stay");

    auto access = Access(rkLocalMachine, kKeyAllAccess);
    EXPECT_TRUE(access->DeleteKey(Key(rkLocalMachine, u"Product")));
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Product"));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"ProductKeep", u"v"));
    EXPECT_TRUE(Scratch().KeyPresent(rkLocalMachine, u""));
    EXPECT_FALSE(access->DeleteKey(Key(rkLocalMachine, u"Product")));
}

TEST_P(RegistryAccessTest, DeleteKeyRemovesLinksInsideTheTreeButNeverTheirTargets) {
    Scratch().SetString(rkCurrentUser, u"Shared\\Data", u"v", u"precious");
    Scratch().SetString(rkCurrentUser, u"Leaf", u"v", u"precious");
    Scratch().CreateKey(rkCurrentUser, u"Product\\Sub");
    Scratch().CreateLink(rkCurrentUser, u"Product\\Sub\\ToShared", rkCurrentUser, u"Shared");
    Scratch().CreateLink(rkCurrentUser, u"Product\\ToLeaf", rkCurrentUser, u"Leaf");
    Scratch().CreateLink(rkCurrentUser, u"TopLink", rkCurrentUser, u"Shared");
    ASSERT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Product\\Sub\\ToShared\\Data", u"v"));

    auto access = Access(rkCurrentUser, kKeyAllAccess);
    EXPECT_TRUE(access->DeleteKey(Key(rkCurrentUser, u"Product")));
    EXPECT_FALSE(Scratch().KeyPresent(rkCurrentUser, u"Product"));
    // A rule naming a link deletes the link, not what it points to.
    EXPECT_TRUE(access->DeleteKey(Key(rkCurrentUser, u"TopLink")));
    EXPECT_FALSE(Scratch().LinkPresent(rkCurrentUser, u"TopLink"));

    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Shared\\Data", u"v"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Leaf", u"v"));
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryAccessTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
