// The seam to the users' registry hives: which are loaded below HKEY_USERS
// now, which profiles the machine lists (with the file of each one's hive),
// and loading and unloading a hive under a name of HKEY_USERS. Results are
// Win32 error codes, 0 for success, as in the registry seam.
#pragma once

#include <string>
#include <vector>

namespace keystrip::platform {

struct ListedProfile {
    std::u16string Sid;
    // The profile's NTUSER.DAT: its ProfileImagePath, expanded, and the
    // file name; empty when the profile names no folder.
    std::u16string HiveFile;
};

class IHives {
public:
    virtual ~IHives() = default;

    // The names of the keys below HKEY_USERS.
    virtual long LoadedHives(std::vector<std::u16string>& Names) = 0;
    // HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList, read in
    // the system's own view.
    virtual long ListedProfiles(std::vector<ListedProfile>& Profiles) = 0;
    // The backup and restore privileges that loading a hive needs.
    virtual long EnablePrivileges() = 0;
    // RegLoadKeyW and RegUnLoadKeyW below HKEY_USERS.
    virtual long LoadHive(const std::u16string& Name, const std::u16string& File) = 0;
    virtual long UnloadHive(const std::u16string& Name) = 0;
};

} // namespace keystrip::platform
