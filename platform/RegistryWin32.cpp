#include "platform/RegistryWin32.h"

#include <windows.h>

#include <algorithm>
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

// --- The native key calls ------------------------------------------------------
// They take names as counted strings, so a name holding NUL is addressed
// whole; advapi32 would cut it at the NUL and reach another key.

using NTSTATUS_ = LONG;

struct CountedString {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

struct ObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    CountedString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};

constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ULONG kObjOpenLink = 0x100;
constexpr NTSTATUS_ kStatusBufferOverflow = static_cast<NTSTATUS_>(0x80000005);
constexpr NTSTATUS_ kStatusBufferTooSmall = static_cast<NTSTATUS_>(0xC0000023);
constexpr int kKeyBasicInformation = 0;
constexpr int kKeyNameInformation = 3;
constexpr int kKeyValueFullInformation = 1;

struct KeyBasicInformation {
    LARGE_INTEGER LastWriteTime;
    ULONG TitleIndex;
    ULONG NameLength;
    WCHAR Name[1];
};

struct KeyNameInformation {
    ULONG NameLength;
    WCHAR Name[1];
};

struct KeyValueFullInformation {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataOffset;
    ULONG DataLength;
    ULONG NameLength;
    WCHAR Name[1];
};

using NtOpenKeyExFn = NTSTATUS_(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*, ULONG);
using NtOpenKeyFn = NTSTATUS_(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*);
using NtCreateKeyFn = NTSTATUS_(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*, ULONG,
                                        CountedString*, ULONG, PULONG);
using NtEnumerateKeyFn = NTSTATUS_(NTAPI*)(HANDLE, ULONG, int, PVOID, ULONG, PULONG);
using NtQueryKeyFn = NTSTATUS_(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
using NtEnumerateValueKeyFn = NTSTATUS_(NTAPI*)(HANDLE, ULONG, int, PVOID, ULONG, PULONG);
using NtSetValueKeyFn = NTSTATUS_(NTAPI*)(HANDLE, CountedString*, ULONG, ULONG, PVOID, ULONG);
using NtDeleteValueKeyFn = NTSTATUS_(NTAPI*)(HANDLE, CountedString*);
using NtDeleteKeyFn = NTSTATUS_(NTAPI*)(HANDLE);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS_);
using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

template <typename Fn> Fn Bind(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr)
        return nullptr;
    // Through a generic function pointer: a direct cast would warn.
    auto proc = reinterpret_cast<void (*)()>(GetProcAddress(handle, name));
    return reinterpret_cast<Fn>(proc);
}

// Bound at first use, each once.
struct Native {
    NtOpenKeyExFn openKeyEx = Bind<NtOpenKeyExFn>(L"ntdll.dll", "NtOpenKeyEx");
    NtOpenKeyFn openKey = Bind<NtOpenKeyFn>(L"ntdll.dll", "NtOpenKey");
    NtCreateKeyFn createKey = Bind<NtCreateKeyFn>(L"ntdll.dll", "NtCreateKey");
    NtEnumerateKeyFn enumerateKey = Bind<NtEnumerateKeyFn>(L"ntdll.dll", "NtEnumerateKey");
    NtQueryKeyFn queryKey = Bind<NtQueryKeyFn>(L"ntdll.dll", "NtQueryKey");
    NtEnumerateValueKeyFn enumerateValue =
        Bind<NtEnumerateValueKeyFn>(L"ntdll.dll", "NtEnumerateValueKey");
    NtSetValueKeyFn setValue = Bind<NtSetValueKeyFn>(L"ntdll.dll", "NtSetValueKey");
    NtDeleteValueKeyFn deleteValue = Bind<NtDeleteValueKeyFn>(L"ntdll.dll", "NtDeleteValueKey");
    NtDeleteKeyFn deleteKey = Bind<NtDeleteKeyFn>(L"ntdll.dll", "NtDeleteKey");
    RtlNtStatusToDosErrorFn toError =
        Bind<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
    // Missing on Windows before 6.0 (and 5.2 without SP1).
    RegDeleteKeyExWFn regDeleteKeyEx = Bind<RegDeleteKeyExWFn>(L"advapi32.dll", "RegDeleteKeyExW");
};

const Native& Nt() {
    static const Native native;
    return native;
}

long ToError(NTSTATUS_ status) {
    if (status == 0)
        return ERROR_SUCCESS;
    return Nt().toError != nullptr ? static_cast<long>(Nt().toError(status))
                                   : ERROR_INVALID_FUNCTION;
}

// A counted view of a name; false when it is too long for one.
bool Counted(const std::u16string& name, CountedString& counted) {
    const size_t bytes = name.size() * sizeof(char16_t);
    if (bytes > 0xFFFE)
        return false;
    counted.Length = static_cast<USHORT>(bytes);
    counted.MaximumLength = static_cast<USHORT>(bytes);
    counted.Buffer = const_cast<PWSTR>(Wide(name));
    return true;
}

// Runs a native query that fills a buffer, growing the buffer while the
// call says it is too small.
template <typename Call> NTSTATUS_ QueryGrowing(std::vector<uint8_t>& buffer, Call call) {
    buffer.resize(buffer.empty() ? 512 : buffer.size());
    for (;;) {
        ULONG needed = 0;
        NTSTATUS_ status = call(buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if ((status == kStatusBufferOverflow || status == kStatusBufferTooSmall) &&
            buffer.size() < (1u << 30)) {
            buffer.resize(std::max<size_t>(needed, buffer.size() * 2));
            continue;
        }
        return status;
    }
}

// The attributes that name the child `name` of parent, by its counted name
// (the link itself when AsLink). counted must outlive attributes.
long ChildAttributes(RegKey parent, const std::u16string& name, bool AsLink, CountedString& counted,
                     ObjectAttributes& attributes) {
    if (IsPredefinedKey(parent))
        return ERROR_INVALID_HANDLE;
    if (!Counted(name, counted))
        return ERROR_INVALID_PARAMETER;
    attributes = ObjectAttributes{sizeof(ObjectAttributes),
                                  reinterpret_cast<HANDLE>(parent),
                                  &counted,
                                  kObjCaseInsensitive | (AsLink ? kObjOpenLink : 0u),
                                  nullptr,
                                  nullptr};
    return ERROR_SUCCESS;
}

long OpenNative(RegKey parent, const std::u16string& name, uint32_t options, uint32_t access,
                RegKey& result) {
    CountedString counted{};
    ObjectAttributes attributes{};
    if (const long error =
            ChildAttributes(parent, name, (options & kOptionOpenLink) != 0, counted, attributes))
        return error;
    HANDLE handle = nullptr;
    NTSTATUS_ status = 0;
    if (Nt().openKeyEx != nullptr)
        status = Nt().openKeyEx(&handle, access, &attributes, 0);
    else if (Nt().openKey != nullptr)
        status = Nt().openKey(&handle, access, &attributes);
    else
        return ERROR_INVALID_FUNCTION;
    if (status == 0)
        result = reinterpret_cast<RegKey>(handle);
    return ToError(status);
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

long Win32Registry::CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                              uint32_t access, RegKey& result, bool& created) {
    HKEY opened = nullptr;
    DWORD disposition = 0;
    LONG error = RegCreateKeyExW(ToHkey(parent), Wide(subKey), 0, nullptr, options, access | kView,
                                 nullptr, &opened, &disposition);
    if (error == ERROR_SUCCESS) {
        result = FromHkey(opened);
        created = disposition == REG_CREATED_NEW_KEY;
    }
    return error;
}

long Win32Registry::OpenSubKey(RegKey parent, const std::u16string& name, uint32_t options,
                               uint32_t access, RegKey& result) {
    return OpenNative(parent, name, options, access, result);
}

long Win32Registry::CreateSubKey(RegKey parent, const std::u16string& name, uint32_t options,
                                 uint32_t access, RegKey& result, bool& created) {
    CountedString counted{};
    ObjectAttributes attributes{};
    if (const long error =
            ChildAttributes(parent, name, (options & kOptionCreateLink) != 0, counted, attributes))
        return error;
    if (Nt().createKey == nullptr)
        return ERROR_INVALID_FUNCTION;
    HANDLE handle = nullptr;
    ULONG disposition = 0;
    NTSTATUS_ status =
        Nt().createKey(&handle, access, &attributes, 0, nullptr,
                       options & (kOptionVolatile | kOptionCreateLink), &disposition);
    if (status == 0) {
        result = reinterpret_cast<RegKey>(handle);
        created = disposition == REG_CREATED_NEW_KEY;
    }
    return ToError(status);
}

long Win32Registry::QueryKeyName(RegKey key, std::u16string& name) {
    if (IsPredefinedKey(key))
        return ERROR_INVALID_HANDLE;
    if (Nt().queryKey == nullptr)
        return ERROR_INVALID_FUNCTION;
    std::vector<uint8_t> buffer;
    NTSTATUS_ status = QueryGrowing(buffer, [&](void* data, ULONG size, PULONG needed) {
        return Nt().queryKey(reinterpret_cast<HANDLE>(key), kKeyNameInformation, data, size,
                             needed);
    });
    if (status != 0)
        return ToError(status);
    const auto* info = reinterpret_cast<const KeyNameInformation*>(buffer.data());
    name.assign(reinterpret_cast<const char16_t*>(info->Name), info->NameLength / sizeof(WCHAR));
    return ERROR_SUCCESS;
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

long Win32Registry::QueryKeyInfo(RegKey key, uint32_t& subKeys, uint32_t& values) {
    DWORD keyCount = 0;
    DWORD valueCount = 0;
    LONG error = RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &keyCount, nullptr,
                                  nullptr, &valueCount, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_SUCCESS) {
        subKeys = keyCount;
        values = valueCount;
    }
    return error;
}

long Win32Registry::EnumSubKey(RegKey key, uint32_t index, std::u16string& name) {
    if (IsPredefinedKey(key))
        return ERROR_INVALID_HANDLE;
    if (Nt().enumerateKey == nullptr)
        return ERROR_INVALID_FUNCTION;
    std::vector<uint8_t> buffer;
    NTSTATUS_ status = QueryGrowing(buffer, [&](void* data, ULONG size, PULONG needed) {
        return Nt().enumerateKey(reinterpret_cast<HANDLE>(key), index, kKeyBasicInformation, data,
                                 size, needed);
    });
    if (status != 0)
        return ToError(status);
    const auto* info = reinterpret_cast<const KeyBasicInformation*>(buffer.data());
    name.assign(reinterpret_cast<const char16_t*>(info->Name), info->NameLength / sizeof(WCHAR));
    return ERROR_SUCCESS;
}

long Win32Registry::EnumValue(RegKey key, uint32_t index, std::u16string& name, uint32_t& type,
                              std::vector<uint8_t>& data) {
    if (IsPredefinedKey(key))
        return ERROR_INVALID_HANDLE;
    if (Nt().enumerateValue == nullptr)
        return ERROR_INVALID_FUNCTION;
    std::vector<uint8_t> buffer;
    NTSTATUS_ status = QueryGrowing(buffer, [&](void* out, ULONG size, PULONG needed) {
        return Nt().enumerateValue(reinterpret_cast<HANDLE>(key), index, kKeyValueFullInformation,
                                   out, size, needed);
    });
    if (status != 0)
        return ToError(status);
    const auto* info = reinterpret_cast<const KeyValueFullInformation*>(buffer.data());
    if (static_cast<size_t>(info->DataOffset) + info->DataLength > buffer.size())
        return ERROR_INVALID_DATA;
    name.assign(reinterpret_cast<const char16_t*>(info->Name), info->NameLength / sizeof(WCHAR));
    type = info->Type;
    data.assign(buffer.begin() + info->DataOffset,
                buffer.begin() + info->DataOffset + info->DataLength);
    return ERROR_SUCCESS;
}

long Win32Registry::SetValue(RegKey key, const std::u16string& name, uint32_t type,
                             const std::vector<uint8_t>& data) {
    if (IsPredefinedKey(key))
        return ERROR_INVALID_HANDLE;
    if (Nt().setValue == nullptr)
        return ERROR_INVALID_FUNCTION;
    CountedString counted{};
    if (!Counted(name, counted))
        return ERROR_INVALID_PARAMETER;
    return ToError(Nt().setValue(reinterpret_cast<HANDLE>(key), &counted, 0, type,
                                 const_cast<uint8_t*>(data.data()),
                                 static_cast<ULONG>(data.size())));
}

long Win32Registry::DeleteValue(RegKey key, const std::u16string& name) {
    if (IsPredefinedKey(key) || Nt().deleteValue == nullptr)
        return RegDeleteValueW(ToHkey(key), Wide(name));
    CountedString counted{};
    if (!Counted(name, counted))
        return ERROR_INVALID_PARAMETER;
    return ToError(Nt().deleteValue(reinterpret_cast<HANDLE>(key), &counted));
}

long Win32Registry::DeleteKey(RegKey parent, const std::u16string& subKey) {
    if (Nt().regDeleteKeyEx != nullptr)
        return Nt().regDeleteKeyEx(ToHkey(parent), Wide(subKey), kView, 0);
    return RegDeleteKeyW(ToHkey(parent), Wide(subKey));
}

long Win32Registry::DeleteOpenKey(RegKey key) {
    if (IsPredefinedKey(key))
        return ERROR_ACCESS_DENIED;
    // RegDeleteKey* reopen the key by name, which follows a link; only
    // NtDeleteKey on the no-follow handle deletes the link itself.
    if (Nt().deleteKey == nullptr)
        return RegDeleteKeyW(ToHkey(key), L"");
    return ToError(Nt().deleteKey(reinterpret_cast<HANDLE>(key)));
}

long Win32Registry::CloseKey(RegKey key) noexcept {
    if (IsPredefinedKey(key))
        return ERROR_SUCCESS;
    return RegCloseKey(ToHkey(key));
}

} // namespace keystrip::platform
