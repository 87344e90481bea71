// The real registry only: the program sees exactly the 32-bit view, and a
// link inside a tree survives our subtree delete where RegDeleteTreeW goes
// through it.
#include "platform/RegistryWin32.h"
#include "rules/RegistryAccess.h"

#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace keystrip::test {
namespace {

using namespace platform;

class RegistryViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string id = "view-" + std::to_string(GetCurrentProcessId());
        FBase = u"SOFTWARE\\ZolvaKeystripTest\\" + std::u16string(id.begin(), id.end());
    }
    void TearDown() override {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            win32::RemoveTree(HKEY_LOCAL_MACHINE, std::wstring(win32::W(FBase), FBase.size()),
                              view);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZolvaKeystripTest", view, 0);
        }
    }
    std::u16string Path(const std::u16string& relative) { return FBase + u'\\' + relative; }
    void Write(const std::u16string& relative, REGSAM view) {
        HKEY key = win32::Create(HKEY_LOCAL_MACHINE, Path(relative), view);
        RegSetValueExW(key, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
        RegCloseKey(key);
    }
    std::unique_ptr<TRegistryAccess> Access() {
        auto access = std::make_unique<TRegistryAccess>(FRegistry, kKeyAllAccess);
        access->SetRootKey(kHkeyLocalMachine);
        return access;
    }

    Win32Registry FRegistry;
    std::u16string FBase;
};

TEST_F(RegistryViewTest, TheProgramWorksInThe32BitViewOnly) {
    ASSERT_EQ(Win32Registry::ViewFlag(), static_cast<uint32_t>(KEY_WOW64_32KEY));
    Write(u"Only32", KEY_WOW64_32KEY);
    Write(u"Only64", KEY_WOW64_64KEY);
    Write(u"Both", KEY_WOW64_32KEY);
    Write(u"Both", KEY_WOW64_64KEY);
    ASSERT_FALSE(win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"Only64"), KEY_WOW64_32KEY))
        << "this registry has no separate 64-bit view";

    auto access = Access();
    EXPECT_TRUE(access->KeyExists(Path(u"Only32")));
    EXPECT_FALSE(access->KeyExists(Path(u"Only64")));
    EXPECT_FALSE(access->OpenKey(Path(u"Only64")));
    EXPECT_FALSE(access->DeleteKey(Path(u"Only64")));
    EXPECT_TRUE(win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"Only64"), KEY_WOW64_64KEY));

    EXPECT_TRUE(access->DeleteKey(Path(u"Both")));
    EXPECT_FALSE(win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"Both"), KEY_WOW64_32KEY));
    EXPECT_TRUE(win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"Both"), KEY_WOW64_64KEY));
}

TEST_F(RegistryViewTest, ALinkInsideATreeKeepsItsTargetWhereRegDeleteTreeLosesIt) {
    const REGSAM view = KEY_WOW64_32KEY;
    for (auto tree : {u"Ours", u"Theirs"}) {
        Write(std::u16string(tree) + u"\\Sub", view);
        win32::CreateLink(HKEY_LOCAL_MACHINE, Path(std::u16string(tree) + u"\\Sub\\Link"),
                          HKEY_LOCAL_MACHINE, Path(std::u16string(tree) + u"Target\\Child"), view);
        Write(std::u16string(tree) + u"Target\\Child\\Grandchild", view);
    }

    EXPECT_TRUE(Access()->DeleteKey(Path(u"Ours")));
    EXPECT_FALSE(win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"Ours"), view));
    EXPECT_TRUE(
        win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"OursTarget\\Child\\Grandchild"), view));

    HKEY theirs = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::W(Path(u"Theirs")), 0, KEY_ALL_ACCESS | view,
                            &theirs),
              ERROR_SUCCESS);
    RegDeleteTreeW(theirs, nullptr);
    RegCloseKey(theirs);
    EXPECT_FALSE(
        win32::KeyPresent(HKEY_LOCAL_MACHINE, Path(u"TheirsTarget\\Child\\Grandchild"), view))
        << "RegDeleteTreeW no longer goes through links; the contrast is gone";
}

} // namespace
} // namespace keystrip::test
