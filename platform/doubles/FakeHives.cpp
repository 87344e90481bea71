#include "platform/doubles/FakeHives.h"

#include "common/TextCase.h"

#include <stdexcept>

namespace keystrip::platform {

namespace {

std::vector<uint8_t> Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

} // namespace

MemoryRegistry& FakeHives::AddProfile(const std::u16string& Sid, const std::u16string& File) {
    const size_t slash = File.rfind(u'\\');
    if (slash == std::u16string::npos)
        throw std::logic_error("FakeHives: a hive file lies in a folder");
    ListProfile(Sid, File.substr(0, slash));
    return AddHiveFile(File);
}

void FakeHives::ListProfile(const std::u16string& Name, const std::u16string& Folder) {
    // Created by its counted name, so that a name holding a NUL stays whole.
    RegKey list = 0;
    RegKey entry = 0;
    bool created = false;
    if (FRegistry.CreateKey(kHkeyLocalMachine, kProfileListPath, 0, kKeyAllAccess, list, created) !=
        kErrorSuccess)
        throw std::logic_error("FakeHives: the profile list cannot be made");
    const long error = FRegistry.CreateSubKey(list, Name, 0, kKeyAllAccess, entry, created);
    FRegistry.CloseKey(list);
    if (error != kErrorSuccess)
        throw std::logic_error("FakeHives: a profile cannot be listed");
    if (!Folder.empty())
        FRegistry.SetValue(entry, u"ProfileImagePath", kRegExpandSz, Bytes(Folder));
    FRegistry.CloseKey(entry);
}

void FakeHives::AddProfileWithoutFile(const std::u16string& Sid) {
    ListProfile(Sid, u"");
}

void FakeHives::SetDefaultFolder(const std::u16string& Folder) {
    FRegistry.SetString(kHkeyLocalMachine, kProfileListPath, u"Default", Folder, kRegExpandSz);
}

MemoryRegistry& FakeHives::AddHiveFile(const std::u16string& File) {
    auto& file = FFiles[File];
    if (!file)
        file = std::make_unique<MemoryRegistry>();
    return *file;
}

long FakeHives::LoadedHives(std::vector<std::u16string>& Names) {
    Names = FRegistry.ChildNames(kHkeyUsers, u"");
    return kErrorSuccess;
}

long FakeHives::OpenProfileList(RegKey& Key) {
    return FRegistry.OpenKey(kHkeyLocalMachine, kProfileListPath, 0, kKeyRead, Key);
}

std::u16string FakeHives::ExpandFolder(const std::u16string& Folder) {
    const std::u16string drive = u"%systemdrive%";
    if (AsciiLower(Folder.substr(0, drive.size())) == drive)
        return u"C:" + Folder.substr(drive.size());
    return Folder;
}

long FakeHives::HiveFileState(const std::u16string& Folder, const std::u16string& RelativeFile) {
    const std::u16string path = Folder + u'\\' + RelativeFile;
    for (const auto& junction : FJunctions)
        if (junction.size() > Folder.size() && path.compare(0, junction.size(), junction) == 0)
            return kErrorCantAccessFile;
    return FFiles.count(path) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

long FakeHives::EnablePrivileges() {
    return FPrivilegeError;
}

long FakeHives::LoadHive(const std::u16string& Name, const std::u16string& File) {
    if (FPrivilegeError != 0)
        return kErrorPrivilegeNotHeld;
    if (auto refused = FRefused.find(File); refused != FRefused.end())
        return refused->second;
    auto file = FFiles.find(File);
    if (file == FFiles.end())
        return kErrorFileNotFound;
    for (const auto& [name, mounted] : FMounted)
        if (mounted == File)
            return 32; // ERROR_SHARING_VIOLATION: a hive file is loaded once
    if (FRegistry.KeyPresent(kHkeyUsers, Name))
        return kErrorAccessDenied;
    FRegistry.MountHive(kHkeyUsers, Name, *file->second, kHkeyCurrentUser);
    FMounted[Name] = File;
    ++FLoads;
    return kErrorSuccess;
}

long FakeHives::UnloadHive(const std::u16string& Name) {
    ++FUnloadAttempts;
    auto mounted = FMounted.find(Name);
    if (mounted == FMounted.end())
        return kErrorInvalidParameter;
    if (auto refusal = FUnloadRefusals.find(Name);
        refusal != FUnloadRefusals.end() && refusal->second > 0) {
        --refusal->second;
        return kErrorAccessDenied;
    }
    if (!FRegistry.UnmountHive(kHkeyUsers, Name, *FFiles.at(mounted->second), kHkeyCurrentUser))
        return kErrorAccessDenied;
    FMounted.erase(mounted);
    ++FUnloads;
    return kErrorSuccess;
}

} // namespace keystrip::platform
