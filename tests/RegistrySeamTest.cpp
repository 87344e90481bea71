// What the program relies on in the registry seam, checked on the in-memory
// registry and, in the Windows build, on the real one: the double must
// behave like Windows wherever the other tests lean on it.
#include "platform/Registry.h"

#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace keystrip::test {
namespace {

using namespace platform;

class RegistrySeamTest : public RegistryTest {
protected:
    RegKeyHandle Open(TZolvaProductRootKey root, const std::u16string& relative,
                      uint32_t options = 0, uint32_t access = kKeyAllAccess) {
        RegKeyHandle key;
        EXPECT_EQ(
            OpenKeyHandle(Registry(), RootHandle(root), Key(root, relative), options, access, key),
            kErrorSuccess)
            << Utf16ToUtf8(relative);
        return key;
    }
};

TEST_P(RegistrySeamTest, AKeyWithSubkeysRefusesItsOwnDeletion) {
    Scratch().CreateKey(rkCurrentUser, u"Parent\\Child");
    EXPECT_EQ(Registry().DeleteKey(kHkeyCurrentUser, Key(rkCurrentUser, u"Parent")),
              kErrorAccessDenied);
    RegKeyHandle parent = Open(rkCurrentUser, u"Parent");
    EXPECT_EQ(Registry().DeleteOpenKey(parent.Get()), kErrorAccessDenied);
    EXPECT_TRUE(Scratch().KeyPresent(rkCurrentUser, u"Parent\\Child"));
}

TEST_P(RegistrySeamTest, AHandleToADeletedKeyFailsWith1018) {
    Scratch().SetString(rkCurrentUser, u"Gone", u"v", u"x");
    RegKeyHandle key = Open(rkCurrentUser, u"Gone");
    ASSERT_EQ(Registry().DeleteKey(kHkeyCurrentUser, Key(rkCurrentUser, u"Gone")), kErrorSuccess);
    uint32_t type = 0, size = 0, count = 0, values = 0;
    EXPECT_EQ(Registry().QueryValue(key.Get(), u"v", &type, nullptr, &size), kErrorKeyDeleted);
    EXPECT_EQ(Registry().QueryKeyInfo(key.Get(), count, values), kErrorKeyDeleted);
}

TEST_P(RegistrySeamTest, AccessRightsAndPathsAreCheckedAsWindowsDoes) {
    Scratch().SetString(rkCurrentUser, u"App", u"v", u"x");
    RegKeyHandle readOnly = Open(rkCurrentUser, u"App", 0, kKeyRead);
    EXPECT_EQ(Registry().DeleteValue(readOnly.Get(), u"v"), kErrorAccessDenied);
    RegKey key = 0;
    EXPECT_EQ(
        Registry().OpenKey(kHkeyCurrentUser, u"\\" + Key(rkCurrentUser, u"App"), 0, kKeyRead, key),
        kErrorBadPathname);
    EXPECT_EQ(
        Registry().OpenKey(kHkeyCurrentUser, Key(rkCurrentUser, u"Missing"), 0, kKeyRead, key),
        kErrorFileNotFound);
    EXPECT_EQ(Registry().DeleteKey(kHkeyCurrentUser, Key(rkCurrentUser, u"Missing")),
              kErrorFileNotFound);
    EXPECT_EQ(Registry().DeleteValue(readOnly.Get(), u"missing"), kErrorAccessDenied);
}

TEST_P(RegistrySeamTest, QueriesAndEnumerationReportSizesAndEnds) {
    Scratch().SetString(rkCurrentUser, u"App", u"Str", u"abcdef");
    Scratch().CreateKey(rkCurrentUser, u"App\\b");
    Scratch().CreateKey(rkCurrentUser, u"App\\A");
    RegKeyHandle key = Open(rkCurrentUser, u"App", 0, kKeyRead);
    uint8_t small[2];
    uint32_t type = 0, size = sizeof small;
    EXPECT_EQ(Registry().QueryValue(key.Get(), u"STR", &type, small, &size), kErrorMoreData);
    EXPECT_EQ(size, 14u);
    uint32_t count = 0, values = 0;
    ASSERT_EQ(Registry().QueryKeyInfo(key.Get(), count, values), kErrorSuccess);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(values, 1u);
    std::u16string first, second, beyond;
    EXPECT_EQ(Registry().EnumSubKey(key.Get(), 0, first), kErrorSuccess);
    EXPECT_EQ(Registry().EnumSubKey(key.Get(), 1, second), kErrorSuccess);
    EXPECT_EQ(first + u"," + second, u"A,b");
    EXPECT_EQ(Registry().EnumSubKey(key.Get(), 2, beyond), kErrorNoMoreItems);
}

TEST_P(RegistrySeamTest, KeyNamesIgnoreCaseBeyondAsciiToo) {
    Scratch().CreateKey(rkLocalMachine, u"\u00c4pfel\\\u0416uk\\\u00d6l");
    RegKeyHandle key = Open(rkLocalMachine, u"\u00e4PFEL\\\u0436UK\\\u00f6L", 0, kKeyRead);
    EXPECT_TRUE(key);
}

TEST_P(RegistrySeamTest, ALinkIsFollowedUnlessOpenedAsALink) {
    Scratch().SetString(rkCurrentUser, u"Target\\Child", u"v", u"x");
    Scratch().SetString(rkCurrentUser, u"Target", u"Keep", u"x");
    Scratch().CreateLink(rkCurrentUser, u"Tree\\Link", rkCurrentUser, u"Target");
    uint32_t type = 0, size = 0, count = 0, values = 0;

    RegKeyHandle followed = Open(rkCurrentUser, u"Tree\\Link", 0, kKeyRead);
    EXPECT_EQ(Registry().QueryValue(followed.Get(), u"Keep", &type, nullptr, &size), kErrorSuccess);
    ASSERT_EQ(Registry().QueryKeyInfo(followed.Get(), count, values), kErrorSuccess);
    EXPECT_EQ(count, 1u);

    RegKeyHandle link = Open(rkCurrentUser, u"Tree\\Link", kOptionOpenLink, kKeyAllAccess);
    ASSERT_EQ(Registry().QueryKeyInfo(link.Get(), count, values), kErrorSuccess);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(Registry().QueryValue(link.Get(), kSymbolicLinkValueName, &type, nullptr, &size),
              kErrorSuccess);
    EXPECT_EQ(type, kRegLink);
    EXPECT_EQ(Registry().QueryValue(link.Get(), u"Keep", &type, nullptr, &size),
              kErrorFileNotFound);
    // Paths through a link are followed even with kOptionOpenLink.
    EXPECT_TRUE(Open(rkCurrentUser, u"Tree\\Link\\Child", kOptionOpenLink, kKeyRead));

    EXPECT_EQ(Registry().DeleteOpenKey(link.Get()), kErrorSuccess);
    EXPECT_FALSE(Scratch().LinkPresent(rkCurrentUser, u"Tree\\Link"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Target\\Child", u"v"));
}

TEST_P(RegistrySeamTest, DeletingALinkByNameDeletesItsTarget) {
    // Why the subtree delete never deletes a link by name.
    Scratch().SetString(rkCurrentUser, u"Leaf", u"v", u"x");
    Scratch().CreateLink(rkCurrentUser, u"Tree\\Link", rkCurrentUser, u"Leaf");
    EXPECT_EQ(Registry().DeleteKey(kHkeyCurrentUser, Key(rkCurrentUser, u"Tree\\Link")),
              kErrorSuccess);
    EXPECT_FALSE(Scratch().KeyPresent(rkCurrentUser, u"Leaf"));
    EXPECT_TRUE(Scratch().LinkPresent(rkCurrentUser, u"Tree\\Link"));
}

TEST_P(RegistrySeamTest, CallsTakingCStringsEndANameAtItsFirstNulAndCountedCallsDoNot) {
    const std::u16string nul(1, u'\0');
    Scratch().SetString(rkCurrentUser, u"Tree\\abc", u"v", u"plain");
    Scratch().CreateNamedKey(rkCurrentUser, u"Tree", u"abc" + nul);
    Scratch().CreateNamedKey(rkCurrentUser, u"Tree", nul + u"x");
    RegKeyHandle tree = Open(rkCurrentUser, u"Tree", 0, kKeyRead);
    std::u16string treeName;
    ASSERT_EQ(Registry().QueryKeyName(tree.Get(), treeName), kErrorSuccess);

    std::u16string name;
    RegKeyHandle cut = Open(rkCurrentUser, u"Tree\\abc" + nul, 0, kKeyRead);
    ASSERT_EQ(Registry().QueryKeyName(cut.Get(), name), kErrorSuccess);
    EXPECT_EQ(name, treeName + u"\\abc");
    RegKeyHandle parent = Open(rkCurrentUser, u"Tree" + nul + u"\\x", 0, kKeyRead);
    ASSERT_EQ(Registry().QueryKeyName(parent.Get(), name), kErrorSuccess);
    EXPECT_EQ(name, treeName);

    for (const auto& child : {u"abc" + nul, nul + u"x"}) {
        RegKeyHandle counted;
        ASSERT_EQ(OpenSubKeyHandle(Registry(), tree.Get(), child, 0, kKeyRead, counted),
                  kErrorSuccess);
        ASSERT_EQ(Registry().QueryKeyName(counted.Get(), name), kErrorSuccess);
        EXPECT_EQ(name, std::u16string(treeName).append(1, u'\\').append(child));
    }
    uint32_t subKeys = 0, values = 0;
    ASSERT_EQ(Registry().QueryKeyInfo(tree.Get(), subKeys, values), kErrorSuccess);
    std::vector<std::u16string> names;
    for (uint32_t i = 0; i < subKeys; ++i) {
        ASSERT_EQ(Registry().EnumSubKey(tree.Get(), i, name), kErrorSuccess);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{nul + u"x", u"abc", u"abc" + nul}));
    RegKey key = 0;
    EXPECT_EQ(Registry().OpenSubKey(kHkeyCurrentUser, u"Software", 0, kKeyRead, key),
              kErrorInvalidHandle);
}

TEST_P(RegistrySeamTest, ValuesAreSetEnumeratedAndDeletedByTheirCountedNames) {
    const std::u16string nul(1, u'\0');
    Scratch().SetString(rkCurrentUser, u"App", u"v", u"plain");
    RegKeyHandle key = Open(rkCurrentUser, u"App");
    const std::vector<uint8_t> data{1, 2, 3};
    ASSERT_EQ(Registry().SetValue(key.Get(), u"v" + nul + u"x", 0x12345, data), kErrorSuccess);
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> read;
    std::vector<std::pair<std::u16string, uint32_t>> seen;
    for (uint32_t i = 0; Registry().EnumValue(key.Get(), i, name, type, read) == kErrorSuccess; ++i)
        seen.emplace_back(name, type);
    std::sort(seen.begin(), seen.end());
    const std::vector<std::pair<std::u16string, uint32_t>> expected = {
        {u"v", kRegSz}, {u"v" + nul + u"x", 0x12345}};
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(Registry().DeleteValue(key.Get(), u"v" + nul + u"x"), kErrorSuccess);
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"App", u"v"));
    EXPECT_EQ(Registry().EnumValue(key.Get(), 1, name, type, read), kErrorNoMoreItems);
}

TEST_P(RegistrySeamTest, TheViewFlagOnAnOpenBelowAKeyFollowsSomeLinksTheCountedOpenDoesNot) {
    Scratch().SetString(rkLocalMachine, u"Target\\Wow6432Node", u"v", u"x");
    Scratch().CreateLink(rkLocalMachine, u"Tree\\Link", rkLocalMachine, u"Target");
    RegKeyHandle tree = Open(rkLocalMachine, u"Tree", 0, kKeyRead);
    std::u16string treeName, name;
    ASSERT_EQ(Registry().QueryKeyName(tree.Get(), treeName), kErrorSuccess);
    RegKeyHandle link;
    ASSERT_EQ(OpenSubKeyHandle(Registry(), tree.Get(), u"Link", kOptionOpenLink, kKeyRead, link),
              kErrorSuccess);
    ASSERT_EQ(Registry().QueryKeyName(link.Get(), name), kErrorSuccess);
    EXPECT_EQ(name, treeName + u"\\Link");
#ifdef _WIN32
    if (Win32Registry::ViewFlag() == 0 && !Scratch().Memory())
        return; // the shipping build's own view: no flag, no detour
#endif
    RegKeyHandle viewed;
    ASSERT_EQ(OpenKeyHandle(Registry(), tree.Get(), u"Link", kOptionOpenLink, kKeyRead, viewed),
              kErrorSuccess);
    ASSERT_EQ(Registry().QueryKeyName(viewed.Get(), name), kErrorSuccess);
    EXPECT_NE(name, treeName + u"\\Link") << "the link was opened itself after all";
}

TEST_P(RegistrySeamTest, AKeyCreatedAsALinkLeadsToTheKernelNameItHolds) {
    Scratch().SetString(rkCurrentUser, u"Target", u"v", u"x");
    RegKeyHandle target = Open(rkCurrentUser, u"Target", 0, kKeyRead);
    RegKeyHandle tree = Open(rkCurrentUser, u"");
    std::u16string targetName;
    ASSERT_EQ(Registry().QueryKeyName(target.Get(), targetName), kErrorSuccess);
    RegKey link = 0;
    bool created = false;
    ASSERT_EQ(Registry().CreateSubKey(tree.Get(), u"Link", kOptionCreateLink, kKeyAllAccess, link,
                                      created),
              kErrorSuccess);
    RegKeyHandle linkHandle(Registry(), link);
    EXPECT_TRUE(created);
    std::vector<uint8_t> bytes;
    for (char16_t c : targetName) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    ASSERT_EQ(Registry().SetValue(link, kSymbolicLinkValueName, kRegLink, bytes), kErrorSuccess);
    EXPECT_TRUE(Scratch().LinkPresent(rkCurrentUser, u"Link"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Link", u"v"));
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistrySeamTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
