#include "platform/doubles/FakeHives.h"

#include "platform/Registry.h"

namespace keystrip::platform {

MemoryRegistry& FakeHives::AddProfile(const std::u16string& Sid, const std::u16string& File) {
    FProfiles.push_back({Sid, File});
    auto& file = FFiles[File];
    if (!file)
        file = std::make_unique<MemoryRegistry>();
    return *file;
}

void FakeHives::AddProfileWithoutFile(const std::u16string& Sid) {
    FProfiles.push_back({Sid, u""});
}

long FakeHives::LoadedHives(std::vector<std::u16string>& Names) {
    Names = FRegistry.ChildNames(kHkeyUsers, u"");
    return kErrorSuccess;
}

long FakeHives::ListedProfiles(std::vector<ListedProfile>& Profiles) {
    Profiles = FProfiles;
    return kErrorSuccess;
}

long FakeHives::EnablePrivileges() {
    return FPrivilegeError;
}

long FakeHives::LoadHive(const std::u16string& Name, const std::u16string& File) {
    if (FPrivilegeError != 0)
        return 1314; // ERROR_PRIVILEGE_NOT_HELD
    if (auto refused = FRefused.find(File); refused != FRefused.end())
        return refused->second;
    auto file = FFiles.find(File);
    if (file == FFiles.end())
        return kErrorFileNotFound;
    if (FRegistry.KeyPresent(kHkeyUsers, Name))
        return kErrorAccessDenied;
    FRegistry.MountHive(kHkeyUsers, Name, *file->second, kHkeyCurrentUser);
    FMounted[Name] = File;
    ++FLoads;
    return kErrorSuccess;
}

long FakeHives::UnloadHive(const std::u16string& Name) {
    auto mounted = FMounted.find(Name);
    if (mounted == FMounted.end())
        return kErrorInvalidParameter;
    if (!FRegistry.UnmountHive(kHkeyUsers, Name, *FFiles.at(mounted->second), kHkeyCurrentUser))
        return kErrorAccessDenied;
    FMounted.erase(mounted);
    ++FUnloads;
    return kErrorSuccess;
}

} // namespace keystrip::platform
