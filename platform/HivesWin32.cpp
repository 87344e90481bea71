#include "platform/HivesWin32.h"

#include <windows.h>

#include <vector>

namespace keystrip::platform {

namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string Text(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

long EnumNames(HKEY key, std::vector<std::u16string>& names) {
    names.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        const LONG error =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (error == ERROR_SUCCESS)
            names.push_back(Text(name, length));
        else if (error != ERROR_MORE_DATA)
            return error;
    }
}

// The system's own view of the profile list: a 32-bit process on 64-bit
// Windows asks for the 64-bit one (the flag is ignored elsewhere).
constexpr REGSAM kSystemView = KEY_WOW64_64KEY;

} // namespace

long Win32Hives::LoadedHives(std::vector<std::u16string>& Names) {
    return EnumNames(HKEY_USERS, Names);
}

long Win32Hives::OpenProfileList(RegKey& Key) {
    HKEY list = nullptr;
    const LONG error =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(kProfileListPath), 0, KEY_READ | kSystemView, &list);
    if (error == ERROR_SUCCESS)
        Key = reinterpret_cast<RegKey>(list);
    return error;
}

std::u16string Win32Hives::ExpandFolder(const std::u16string& Folder) {
    std::vector<wchar_t> expanded(Folder.size() + 1 + MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ExpandEnvironmentStringsW(Wide(Folder), expanded.data(),
                                                       static_cast<DWORD>(expanded.size()));
        if (length == 0)
            return Folder;
        if (length <= expanded.size())
            return Text(expanded.data(), wcslen(expanded.data()));
        expanded.resize(length);
    }
    return Folder;
}

// Every step from the folder down is looked at as itself: a junction or a
// symbolic link on the way (which the folder's owner can make) is refused.
long Win32Hives::HiveFileState(const std::u16string& Folder, const std::u16string& RelativeFile) {
    std::u16string path = Folder;
    size_t start = 0;
    while (start <= RelativeFile.size()) {
        size_t end = RelativeFile.find(u'\\', start);
        if (end == std::u16string::npos)
            end = RelativeFile.size();
        const bool last = end == RelativeFile.size();
        path += u'\\';
        path.append(RelativeFile, start, end - start);
        const DWORD attributes = GetFileAttributesW(Wide(path));
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? kErrorFileNotFound
                       : static_cast<long>(error);
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return kErrorCantAccessFile;
        if (last)
            return attributes & FILE_ATTRIBUTE_DIRECTORY ? kErrorFileNotFound : ERROR_SUCCESS;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return kErrorFileNotFound;
        start = end + 1;
    }
    return kErrorFileNotFound;
}

long Win32Hives::EnablePrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return static_cast<long>(GetLastError());
    long result = ERROR_SUCCESS;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) ||
            GetLastError() == ERROR_NOT_ALL_ASSIGNED)
            result = static_cast<long>(GetLastError());
    }
    CloseHandle(token);
    return result;
}

long Win32Hives::LoadHive(const std::u16string& Name, const std::u16string& File) {
    return RegLoadKeyW(HKEY_USERS, Wide(Name), Wide(File));
}

long Win32Hives::UnloadHive(const std::u16string& Name) {
    return RegUnLoadKeyW(HKEY_USERS, Wide(Name));
}

} // namespace keystrip::platform
