// The hive seam on the real registry and file system: the profile list read
// by counted names (an entry whose name holds a NUL stays that entry and
// reads its own folder, not the profile its cut name would be), folders
// expanded as the system expands them, and hive files looked at step by step.
#include "platform/HivesWin32.h"
#include "platform/RegistryWin32.h"
#include "rules/UserProfiles.h"
#include "tests/support/NativeKeys.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <utility>

using namespace keystrip;
using namespace keystrip::platform;

namespace {

// Wine's own account, which the profile list names.
const std::u16string kRunning = u"S-1-5-21-0-0-0-1000";

class ProfileListEntry {
public:
    explicit ProfileListEntry(std::u16string Name) : name_(std::move(Name)) {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(kProfileListPath), 0,
                        nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &list_, nullptr);
        HKEY entry = test::native::CreateChild(list_, name_);
        const std::wstring folder = L"C:\\users\\keystrip-nobody";
        RegSetValueExW(entry, L"ProfileImagePath", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(entry);
    }
    ProfileListEntry(const ProfileListEntry&) = delete;
    ProfileListEntry& operator=(const ProfileListEntry&) = delete;
    ~ProfileListEntry() {
        if (HKEY entry = test::native::OpenChild(list_, name_, KEY_ALL_ACCESS)) {
            test::native::DeleteTree(entry);
            RegCloseKey(entry);
        }
        RegCloseKey(list_);
    }

private:
    std::u16string name_;
    HKEY list_ = nullptr;
};

TEST(HivesWin32Test, AnEntryWhoseNameHoldsANulIsReadWholeAndSkipped) {
    const std::u16string name = kRunning + std::u16string(1, u'\0') + u"x";
    ProfileListEntry planted(name);
    Win32Registry registry;
    Win32Hives hives;
    TActivityLogger log;
    TUserProfiles profiles(registry, hives, &log);
    profiles.Open();
    // Read cut at the NUL, the entry would be a second copy of Wine's own.
    int skipped = 0;
    int running = 0;
    for (const auto& outcome : profiles.Outcomes()) {
        EXPECT_NE(outcome.State, TProfileState::psLoadedForRun) << "nothing is loaded";
        skipped += outcome.Sid == name && outcome.State == TProfileState::psSkipped;
        running += outcome.HiveName == kRunning && outcome.State == TProfileState::psLoaded;
    }
    EXPECT_EQ(skipped, 1);
    EXPECT_EQ(running, 1);
}

TEST(HivesWin32Test, FoldersAreExpandedAndHiveFilesLookedAtStepByStep) {
    Win32Hives hives;
    EXPECT_EQ(hives.ExpandFolder(u"%SystemDrive%\\users\\x"), u"C:\\users\\x");
    EXPECT_EQ(hives.ExpandFolder(u"C:\\users\\%NoSuchVariable%"), u"C:\\users\\%NoSuchVariable%");

    testing_support::TempDir dir;
    std::filesystem::create_directories(dir.Path() / "AppData" / "Local" / "UsrClass.dat");
    testing_support::WriteBytes(dir.Path() / "NTUSER.DAT", testing_support::Bytes("regf"));
    const std::u16string folder = dir.Path().u16string();
    EXPECT_EQ(hives.HiveFileState(folder, u"NTUSER.DAT"), kErrorSuccess);
    EXPECT_EQ(hives.HiveFileState(folder, u"NTUSER.MAN"), kErrorFileNotFound);
    EXPECT_EQ(hives.HiveFileState(folder, u"AppData\\Roaming\\UsrClass.dat"), kErrorFileNotFound);
    // A folder where the file should be is no hive file.
    EXPECT_EQ(hives.HiveFileState(folder, u"AppData\\Local\\UsrClass.dat"), kErrorFileNotFound);
    // A file where a folder should be.
    EXPECT_EQ(hives.HiveFileState(folder, u"NTUSER.DAT\\UsrClass.dat"), kErrorFileNotFound);
}

} // namespace
