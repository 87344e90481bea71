// The seam to the users' registry hives: which are loaded below HKEY_USERS
// now, the machine's profile list (opened for the registry seam to read),
// where a profile's hive files are, and loading and unloading a hive under a
// name of HKEY_USERS. Results are Win32 error codes, 0 for success, as in
// the registry seam.
#pragma once

#include "platform/Registry.h"

#include <string>
#include <vector>

namespace keystrip::platform {

// The profile list, below HKEY_LOCAL_MACHINE.
constexpr char16_t kProfileListPath[] =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A hive file that is reached through a junction or a symbolic link.
constexpr long kErrorCantAccessFile = 1920; // ERROR_CANT_ACCESS_FILE
constexpr long kErrorPathNotFound = 3;
constexpr long kErrorPrivilegeNotHeld = 1314;

class IHives {
public:
    virtual ~IHives() = default;

    // The names of the keys below HKEY_USERS.
    virtual long LoadedHives(std::vector<std::u16string>& Names) = 0;
    // The profile list opened for reading in the system's own view (the
    // 64-bit one on 64-bit Windows), as a key of the registry seam that the
    // caller reads by counted names and closes with the seam's CloseKey.
    virtual long OpenProfileList(RegKey& Key) = 0;
    // A profile folder as the profile list stores it, with its environment
    // references expanded as the system expands them.
    virtual std::u16string ExpandFolder(const std::u16string& Folder) = 0;
    // Whether the file Folder\RelativeFile is there: 0 when it is a file,
    // kErrorFileNotFound when it or a folder on its way is missing,
    // kErrorCantAccessFile when it, or a folder between Folder and it, is a
    // junction or symbolic link (a user could aim it anywhere); any other
    // code when it cannot be told.
    virtual long HiveFileState(const std::u16string& Folder,
                               const std::u16string& RelativeFile) = 0;
    // The backup and restore privileges that loading a hive needs.
    virtual long EnablePrivileges() = 0;
    // RegLoadKeyW and RegUnLoadKeyW below HKEY_USERS.
    virtual long LoadHive(const std::u16string& Name, const std::u16string& File) = 0;
    virtual long UnloadHive(const std::u16string& Name) = 0;
};

} // namespace keystrip::platform
