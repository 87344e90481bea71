// What the program relies on in the registry seam, checked on the in-memory
// registry and, in the Windows build, on the real one: the double must
// behave like Windows wherever the other tests lean on it.
#include "platform/Registry.h"

#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

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
    uint32_t type = 0, size = 0, count = 0;
    EXPECT_EQ(Registry().QueryValue(key.Get(), u"v", &type, nullptr, &size), kErrorKeyDeleted);
    EXPECT_EQ(Registry().QuerySubKeyCount(key.Get(), count), kErrorKeyDeleted);
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
    uint32_t count = 0;
    ASSERT_EQ(Registry().QuerySubKeyCount(key.Get(), count), kErrorSuccess);
    EXPECT_EQ(count, 2u);
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
    uint32_t type = 0, size = 0, count = 0;

    RegKeyHandle followed = Open(rkCurrentUser, u"Tree\\Link", 0, kKeyRead);
    EXPECT_EQ(Registry().QueryValue(followed.Get(), u"Keep", &type, nullptr, &size), kErrorSuccess);
    ASSERT_EQ(Registry().QuerySubKeyCount(followed.Get(), count), kErrorSuccess);
    EXPECT_EQ(count, 1u);

    RegKeyHandle link = Open(rkCurrentUser, u"Tree\\Link", kOptionOpenLink, kKeyAllAccess);
    ASSERT_EQ(Registry().QuerySubKeyCount(link.Get(), count), kErrorSuccess);
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

INSTANTIATE_TEST_SUITE_P(Registries, RegistrySeamTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
