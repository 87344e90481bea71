// The hive seam over the in-memory registry: the keys below HKEY_USERS are
// the loaded hives; listed profiles keep their hives in "files", each an
// in-memory registry whose HKEY_CURRENT_USER root is the hive's content,
// mounted below HKEY_USERS on load and written back on unload. Loads and
// privileges can be made to fail.
#pragma once

#include "platform/Hives.h"
#include "platform/doubles/MemoryRegistry.h"

#include <map>
#include <memory>

namespace keystrip::platform {

class FakeHives final : public IHives {
public:
    explicit FakeHives(MemoryRegistry& Registry) : FRegistry(Registry) {}

    // A listed profile whose hive is in File; returns the file's content.
    MemoryRegistry& AddProfile(const std::u16string& Sid, const std::u16string& File);
    // A listed profile without a folder, or whose file is missing.
    void AddProfileWithoutFile(const std::u16string& Sid);
    MemoryRegistry& HiveFile(const std::u16string& File) { return *FFiles.at(File); }
    // Loading File fails with Error (a locked or damaged hive).
    void RefuseLoad(const std::u16string& File, long Error) { FRefused[File] = Error; }
    void RefusePrivileges(long Error) { FPrivilegeError = Error; }

    // What is loaded through this seam now: name below HKEY_USERS -> file.
    const std::map<std::u16string, std::u16string>& Mounted() const { return FMounted; }
    int Loads() const { return FLoads; }
    int Unloads() const { return FUnloads; }

    long LoadedHives(std::vector<std::u16string>& Names) override;
    long ListedProfiles(std::vector<ListedProfile>& Profiles) override;
    long EnablePrivileges() override;
    long LoadHive(const std::u16string& Name, const std::u16string& File) override;
    long UnloadHive(const std::u16string& Name) override;

private:
    MemoryRegistry& FRegistry;
    std::vector<ListedProfile> FProfiles;
    std::map<std::u16string, std::unique_ptr<MemoryRegistry>> FFiles;
    std::map<std::u16string, long> FRefused;
    std::map<std::u16string, std::u16string> FMounted;
    long FPrivilegeError = 0;
    int FLoads = 0;
    int FUnloads = 0;
};

} // namespace keystrip::platform
