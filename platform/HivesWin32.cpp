#include "platform/HivesWin32.h"

#include <windows.h>

namespace keystrip::platform {

namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string Text(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_)
            RegCloseKey(key_);
    }
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

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

long Win32Hives::ListedProfiles(std::vector<ListedProfile>& Profiles) {
    Profiles.clear();
    Key list;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                               L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                               KEY_READ | kSystemView, list.Out());
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    std::vector<std::u16string> sids;
    if ((error = EnumNames(list.Get(), sids)) != ERROR_SUCCESS)
        return error;
    for (const auto& sid : sids) {
        ListedProfile profile{sid, u""};
        wchar_t folder[MAX_PATH * 2] = {};
        DWORD size = sizeof folder - sizeof(wchar_t);
        if (RegGetValueW(list.Get(), Wide(sid), L"ProfileImagePath",
                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, folder,
                         &size) == ERROR_SUCCESS &&
            folder[0] != L'\0') {
            wchar_t expanded[MAX_PATH * 2] = {};
            const DWORD length = ExpandEnvironmentStringsW(folder, expanded, MAX_PATH * 2);
            if (length > 0 && length <= MAX_PATH * 2)
                profile.HiveFile = Text(expanded, wcslen(expanded)) + u"\\NTUSER.DAT";
        }
        Profiles.push_back(std::move(profile));
    }
    return ERROR_SUCCESS;
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
