// Test-side native key calls (ntdll), independent of the code under test:
// keys with counted names (a NUL anywhere), their enumeration, and removing
// a tree without ever following a link or cutting a name short.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace keystrip::test::native {

struct CountedName {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

struct Attributes {
    ULONG Length;
    HANDLE RootDirectory;
    CountedName* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};

template <typename Fn> Fn Ntdll(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

inline CountedName Counted(const std::u16string& name) {
    const auto bytes = static_cast<USHORT>(name.size() * sizeof(char16_t));
    return CountedName{bytes, bytes, reinterpret_cast<PWSTR>(const_cast<char16_t*>(name.data()))};
}

constexpr ULONG kCaseInsensitive = 0x40;
constexpr ULONG kOpenLink = 0x100;

// Opens (creating it when missing) the subkey name of parent, by its counted name.
inline HKEY CreateChild(HKEY parent, const std::u16string& name) {
    using Fn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, Attributes*, ULONG, CountedName*, ULONG, PULONG);
    static const auto create = Ntdll<Fn>("NtCreateKey");
    CountedName counted = Counted(name);
    Attributes attributes{sizeof(Attributes), parent, &counted, kCaseInsensitive, nullptr, nullptr};
    HANDLE key = nullptr;
    LONG status = create(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, nullptr);
    if (status != 0)
        throw std::runtime_error("NtCreateKey failed with " + std::to_string(status));
    return static_cast<HKEY>(key);
}

// Opens the subkey name of parent as itself (a link is not followed); null when missing.
inline HKEY OpenChild(HKEY parent, const std::u16string& name, ACCESS_MASK access) {
    using Fn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, Attributes*);
    static const auto open = Ntdll<Fn>("NtOpenKey");
    CountedName counted = Counted(name);
    Attributes attributes{sizeof(Attributes),           parent,  &counted,
                          kCaseInsensitive | kOpenLink, nullptr, nullptr};
    HANDLE key = nullptr;
    return open(&key, access, &attributes) == 0 ? static_cast<HKEY>(key) : nullptr;
}

// The counted names of a key's subkeys.
inline std::vector<std::u16string> SubKeyNames(HKEY key) {
    using Fn = LONG(NTAPI*)(HANDLE, ULONG, int, PVOID, ULONG, PULONG);
    static const auto enumerate = Ntdll<Fn>("NtEnumerateKey");
    std::vector<std::u16string> names;
    std::vector<uint8_t> buffer(4096);
    for (ULONG index = 0;; ++index) {
        ULONG length = 0;
        if (enumerate(key, index, 0 /* KeyBasicInformation */, buffer.data(),
                      static_cast<ULONG>(buffer.size()), &length) != 0)
            break;
        const ULONG nameLength = *reinterpret_cast<ULONG*>(buffer.data() + 12);
        names.emplace_back(reinterpret_cast<const char16_t*>(buffer.data() + 16),
                           nameLength / sizeof(char16_t));
    }
    return names;
}

// Deletes key (opened as itself) with everything below it.
inline void DeleteTree(HKEY key) {
    using Fn = LONG(NTAPI*)(HANDLE);
    static const auto remove = Ntdll<Fn>("NtDeleteKey");
    for (const auto& name : SubKeyNames(key)) {
        if (HKEY child = OpenChild(key, name, KEY_ALL_ACCESS)) {
            DeleteTree(child);
            RegCloseKey(child);
        }
    }
    remove(key);
}

} // namespace keystrip::test::native

#endif
