// The hive seam on advapi32 and kernel32: RegEnumKeyExW on HKEY_USERS, the
// profile list in the 64-bit view where there is one (a key the registry seam
// on the real calls can read), ExpandEnvironmentStringsW, GetFileAttributesW,
// AdjustTokenPrivileges, RegLoadKeyW and RegUnLoadKeyW.
#pragma once

#include "platform/Hives.h"

namespace keystrip::platform {

class Win32Hives final : public IHives {
public:
    long LoadedHives(std::vector<std::u16string>& Names) override;
    long OpenProfileList(RegKey& Key) override;
    std::u16string ExpandFolder(const std::u16string& Folder) override;
    long HiveFileState(const std::u16string& Folder, const std::u16string& RelativeFile) override;
    long EnablePrivileges() override;
    long LoadHive(const std::u16string& Name, const std::u16string& File) override;
    long UnloadHive(const std::u16string& Name) override;
};

} // namespace keystrip::platform
