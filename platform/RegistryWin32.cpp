#include "platform/RegistryWin32.h"

#include <windows.h>

#include <vector>

namespace keystrip::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace {

#ifdef _WIN64
constexpr REGSAM kView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kView = 0;
#endif

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Predefined roots map by the handle table; on x86-64 their HKEY values are
// sign-extended, so they are translated both ways.
struct RootEntry {
    RegKey key;
    HKEY hkey;
};
const RootEntry kRoots[] = {
    {kHkeyClassesRoot, HKEY_CLASSES_ROOT},
    {kHkeyCurrentUser, HKEY_CURRENT_USER},
    {kHkeyLocalMachine, HKEY_LOCAL_MACHINE},
    {kHkeyUsers, HKEY_USERS},
    {kHkeyPerformanceData, HKEY_PERFORMANCE_DATA},
    {kHkeyCurrentConfig, HKEY_CURRENT_CONFIG},
    {kHkeyDynData, HKEY_DYN_DATA},
};

HKEY ToHkey(RegKey key) {
    for (const auto& root : kRoots)
        if (root.key == key)
            return root.hkey;
    return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY hkey) {
    for (const auto& root : kRoots)
        if (root.hkey == hkey)
            return root.key;
    return reinterpret_cast<RegKey>(hkey);
}

template <typename Fn> Fn Bind(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr)
        return nullptr;
    // Through a generic function pointer: a direct cast would warn.
    auto proc = reinterpret_cast<void (*)()>(GetProcAddress(handle, name));
    return reinterpret_cast<Fn>(proc);
}

using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
using NtDeleteKeyFn = LONG(NTAPI*)(HANDLE);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

// Bound at first use: missing on Windows before 6.0 (and 5.2 without SP1).
RegDeleteKeyExWFn DeleteKeyEx() {
    static const auto fn = Bind<RegDeleteKeyExWFn>(L"advapi32.dll", "RegDeleteKeyExW");
    return fn;
}

// RegDeleteKey* reopen the key by name, which follows a link; only
// NtDeleteKey on the no-follow handle deletes the link itself.
NtDeleteKeyFn NtDeleteKey() {
    static const auto fn = Bind<NtDeleteKeyFn>(L"ntdll.dll", "NtDeleteKey");
    return fn;
}

RtlNtStatusToDosErrorFn StatusToError() {
    static const auto fn = Bind<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
    return fn;
}

} // namespace

uint32_t Win32Registry::ViewFlag() {
    return kView;
}

long Win32Registry::OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                            uint32_t access, RegKey& result) {
    HKEY opened = nullptr;
    LONG error = RegOpenKeyExW(ToHkey(parent), Wide(subKey), options, access | kView, &opened);
    if (error == ERROR_SUCCESS)
        result = FromHkey(opened);
    return error;
}

long Win32Registry::QueryValue(RegKey key, const std::u16string& name, uint32_t* type,
                               uint8_t* data, uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = size != nullptr ? *size : 0;
    LONG error = RegQueryValueExW(ToHkey(key), Wide(name), nullptr, &valueType, data,
                                  size != nullptr ? &valueSize : nullptr);
    if (error == ERROR_SUCCESS && type != nullptr)
        *type = valueType;
    if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && size != nullptr)
        *size = valueSize;
    return error;
}

long Win32Registry::QuerySubKeyCount(RegKey key, uint32_t& count) {
    DWORD subKeys = 0;
    LONG error = RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &subKeys, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_SUCCESS)
        count = subKeys;
    return error;
}

long Win32Registry::EnumSubKey(RegKey key, uint32_t index, std::u16string& name) {
    // 255 characters is the documented limit; Wine accepts longer names.
    std::vector<wchar_t> buffer(257);
    for (;;) {
        auto length = static_cast<DWORD>(buffer.size());
        LONG error = RegEnumKeyExW(ToHkey(key), index, buffer.data(), &length, nullptr, nullptr,
                                   nullptr, nullptr);
        if (error == ERROR_MORE_DATA && buffer.size() < 32768) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error == ERROR_SUCCESS)
            name.assign(reinterpret_cast<const char16_t*>(buffer.data()), length);
        return error;
    }
}

long Win32Registry::DeleteValue(RegKey key, const std::u16string& name) {
    return RegDeleteValueW(ToHkey(key), Wide(name));
}

long Win32Registry::DeleteKey(RegKey parent, const std::u16string& subKey) {
    if (RegDeleteKeyExWFn deleteKeyEx = DeleteKeyEx())
        return deleteKeyEx(ToHkey(parent), Wide(subKey), kView, 0);
    return RegDeleteKeyW(ToHkey(parent), Wide(subKey));
}

long Win32Registry::DeleteOpenKey(RegKey key) {
    if (IsPredefinedKey(key))
        return ERROR_ACCESS_DENIED;
    NtDeleteKeyFn deleteKey = NtDeleteKey();
    RtlNtStatusToDosErrorFn toError = StatusToError();
    if (deleteKey == nullptr || toError == nullptr)
        return RegDeleteKeyW(ToHkey(key), L"");
    LONG status = deleteKey(reinterpret_cast<HANDLE>(ToHkey(key)));
    return status == 0 ? ERROR_SUCCESS : static_cast<long>(toError(status));
}

long Win32Registry::CloseKey(RegKey key) noexcept {
    if (IsPredefinedKey(key))
        return ERROR_SUCCESS;
    return RegCloseKey(ToHkey(key));
}

} // namespace keystrip::platform
