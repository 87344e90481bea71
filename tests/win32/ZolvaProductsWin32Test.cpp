// The catalogue on the real thing: the definitions from this executable's own
// resources, detection and removal in Wine's registry.
#include "definitions/ZolvaProducts.h"
#include "platform/EmbeddedResources.h"
#include "platform/RegistryWin32.h"
#include "platform/ResourcesWin32.h"
#include "resources/ShippedResources.h"

#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace keystrip::test {
namespace {

using namespace platform;

TEST(ZolvaProductsWin32Test, LoadsTheSameSevenDefinitionsAsTheFilesHold) {
    Win32Registry registry;
    Win32Resources executable;
    EmbeddedResources files(resources::ShippedFiles());
    TZolvaProducts fromExecutable(registry, executable);
    TZolvaProducts fromFiles(registry, files);
    fromExecutable.LoadFromResource();
    fromFiles.LoadFromResource();

    ASSERT_EQ(fromExecutable.Count(), 7);
    ASSERT_EQ(fromFiles.Count(), 7);
    for (int i = 0; i < 7; ++i) {
        const TZolvaProduct& a = *fromExecutable.Items(i)->Product;
        const TZolvaProduct& b = *fromFiles.Items(i)->Product;
        EXPECT_FALSE(a.Name().empty());
        EXPECT_EQ(a.Name(), b.Name());
        EXPECT_EQ(a.DetectionCount(), b.DetectionCount());
        EXPECT_EQ(a.RemovalCount(), b.RemovalCount());
        EXPECT_FALSE(fromExecutable.Items(i)->Found || fromExecutable.Items(i)->Removed);
    }
}

// One shipped product whose rules stay inside its own keys, planted in the
// private prefix's registry in the program's 32-bit view.
class ShippedProductInWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        products_.LoadFromResource();
        item_ = products_.Find(u"Zolva Disk Cleaner");
        ASSERT_NE(item_, nullptr);
        RegCloseKey(win32::Create(HKEY_LOCAL_MACHINE, kMachineKey + u"\\Schedule", win32::View()));
        RegCloseKey(win32::Create(HKEY_CURRENT_USER, kUserKey, win32::View()));
    }
    void TearDown() override {
        win32::RemoveTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zolva\\Disk Cleaner", win32::View());
        win32::RemoveTree(HKEY_CURRENT_USER, L"Software\\Zolva\\Disk Cleaner", win32::View());
        // The parents only if nothing else lives there.
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zolva", win32::View(), 0);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Zolva");
    }

    const std::u16string kMachineKey = u"SOFTWARE\\Zolva\\Disk Cleaner";
    const std::u16string kUserKey = u"Software\\Zolva\\Disk Cleaner";
    Win32Registry registry_;
    Win32Resources resources_;
    TZolvaProducts products_{registry_, resources_};
    pZolvaProductsItem item_ = nullptr;
};

TEST_F(ShippedProductInWineTest, IsFoundThenRemovedWithItsSubtrees) {
    products_.Detect(item_);
    EXPECT_TRUE(item_->Found);
    EXPECT_TRUE(win32::KeyPresent(HKEY_LOCAL_MACHINE, kMachineKey, win32::View()));

    products_.Remove(item_);
    EXPECT_TRUE(item_->Removed);
    EXPECT_FALSE(win32::KeyPresent(HKEY_LOCAL_MACHINE, kMachineKey, win32::View()));
    EXPECT_FALSE(win32::KeyPresent(HKEY_CURRENT_USER, kUserKey, win32::View()));

    products_.Detect(item_);
    EXPECT_FALSE(item_->Found);
    EXPECT_GT(products_.Activity()->Count(), 0);
}

} // namespace
} // namespace keystrip::test
