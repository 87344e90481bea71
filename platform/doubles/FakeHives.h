// The hive seam over the in-memory registry: the keys below HKEY_USERS are
// the loaded hives, and the profile list is the in-memory registry's own
// (HKEY_LOCAL_MACHINE\...\ProfileList), so tests can plant any entry there.
// Hive files are "files", each an in-memory registry whose HKEY_CURRENT_USER
// root is the hive's content, mounted below HKEY_USERS on load and written
// back on unload. Loads, unloads and privileges can be made to fail, and a
// folder can be made a junction.
#pragma once

#include "platform/Hives.h"
#include "platform/doubles/MemoryRegistry.h"

#include <map>
#include <memory>
#include <set>

namespace keystrip::platform {

class FakeHives final : public IHives {
public:
    explicit FakeHives(MemoryRegistry& Registry) : FRegistry(Registry) {}

    // A listed profile whose hive is File, FOLDER\NTUSER.DAT (or NTUSER.MAN);
    // the list names FOLDER. Returns the file's content.
    MemoryRegistry& AddProfile(const std::u16string& Sid, const std::u16string& File);
    // An entry of the profile list, its name taken whole (it may hold a
    // NUL), naming Folder (none when empty); no file is made.
    void ListProfile(const std::u16string& Name, const std::u16string& Folder);
    // A listed profile without a folder.
    void AddProfileWithoutFile(const std::u16string& Sid);
    // The profile list's Default value: the Default profile's folder.
    void SetDefaultFolder(const std::u16string& Folder);
    // A hive file (UsrClass.dat, the Default profile's NTUSER.DAT, ...).
    MemoryRegistry& AddHiveFile(const std::u16string& File);
    MemoryRegistry& HiveFile(const std::u16string& File) { return *FFiles.at(File); }
    // Loading File fails with Error (a locked or damaged hive).
    void RefuseLoad(const std::u16string& File, long Error) { FRefused[File] = Error; }
    // The next Times unloads of Name fail with 5 (another process holds it).
    void RefuseUnload(const std::u16string& Name, int Times) { FUnloadRefusals[Name] = Times; }
    void RefusePrivileges(long Error) { FPrivilegeError = Error; }
    // Path (a folder or file) is a junction: nothing at or below it is taken.
    void MakeJunction(const std::u16string& Path) { FJunctions.insert(Path); }

    // What is loaded through this seam now: name below HKEY_USERS -> file.
    const std::map<std::u16string, std::u16string>& Mounted() const { return FMounted; }
    int Loads() const { return FLoads; }
    int Unloads() const { return FUnloads; }
    int UnloadAttempts() const { return FUnloadAttempts; }

    long LoadedHives(std::vector<std::u16string>& Names) override;
    long OpenProfileList(RegKey& Key) override;
    std::u16string ExpandFolder(const std::u16string& Folder) override;
    long HiveFileState(const std::u16string& Folder, const std::u16string& RelativeFile) override;
    long EnablePrivileges() override;
    long LoadHive(const std::u16string& Name, const std::u16string& File) override;
    long UnloadHive(const std::u16string& Name) override;

private:
    MemoryRegistry& FRegistry;
    std::map<std::u16string, std::unique_ptr<MemoryRegistry>> FFiles;
    std::map<std::u16string, long> FRefused;
    std::map<std::u16string, int> FUnloadRefusals;
    std::set<std::u16string> FJunctions;
    std::map<std::u16string, std::u16string> FMounted;
    long FPrivilegeError = 0;
    int FLoads = 0;
    int FUnloads = 0;
    int FUnloadAttempts = 0;
};

} // namespace keystrip::platform
