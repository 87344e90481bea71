// The hive seam on advapi32: RegEnumKeyExW on HKEY_USERS, the ProfileList in
// the 64-bit view where there is one, AdjustTokenPrivileges, RegLoadKeyW and
// RegUnLoadKeyW.
#pragma once

#include "platform/Hives.h"

namespace keystrip::platform {

class Win32Hives final : public IHives {
public:
    long LoadedHives(std::vector<std::u16string>& Names) override;
    long ListedProfiles(std::vector<ListedProfile>& Profiles) override;
    long EnablePrivileges() override;
    long LoadHive(const std::u16string& Name, const std::u16string& File) override;
    long UnloadHive(const std::u16string& Name) override;
};

} // namespace keystrip::platform
