// The seam to the Windows registry: the few advapi32 calls the registry
// access object needs, with their Win32 error codes as results. The Win32
// implementation makes the real calls; platform/doubles has an in-memory
// registry for tests.
//
// Failure contract: every call returns a Win32 error code (0 on success) and
// reports registry failures only that way; out-parameters are only written
// on success (and the size on kErrorMoreData). Only exhausted memory may
// raise, and CloseKey never raises.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace keystrip::platform {

// An open key or a predefined root (HKEY values as on 32-bit Windows).
using RegKey = std::uintptr_t;

constexpr RegKey kHkeyClassesRoot = 0x80000000u;
constexpr RegKey kHkeyCurrentUser = 0x80000001u;
constexpr RegKey kHkeyLocalMachine = 0x80000002u;
constexpr RegKey kHkeyUsers = 0x80000003u;
constexpr RegKey kHkeyPerformanceData = 0x80000004u;
constexpr RegKey kHkeyCurrentConfig = 0x80000005u;
constexpr RegKey kHkeyDynData = 0x80000006u;

constexpr bool IsPredefinedKey(RegKey key) {
    return key >= kHkeyClassesRoot && key <= kHkeyDynData;
}

// Access rights.
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kKeyRead = 0x20019;      // KEY_READ
constexpr uint32_t kKeyAllAccess = 0xF003F; // KEY_ALL_ACCESS
// STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS
constexpr uint32_t kKeyQueryAndEnum = 0x20009;

// Open and create options.
constexpr uint32_t kOptionVolatile = 0x1;   // REG_OPTION_VOLATILE
constexpr uint32_t kOptionCreateLink = 0x2; // REG_OPTION_CREATE_LINK
constexpr uint32_t kOptionOpenLink = 0x8;   // REG_OPTION_OPEN_LINK

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegDwordBigEndian = 5;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// The value of a symbolic link key that holds its target (type kRegLink).
constexpr char16_t kSymbolicLinkValueName[] = u"SymbolicLinkValue";

// Win32 error codes used by the seam and its double.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorBadPathname = 161;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorKeyDeleted = 1018;

// Two kinds of calls: the advapi32 ones take C strings, so a name ends at its
// first NUL, and from a predefined root they carry the build's view flag;
// the native ones (marked "counted") take a name with its length, NUL
// included, work relative to an open key only and carry no view flag, so a
// walk below a key stays in the view that key was opened in.
class IRegistry {
public:
    virtual ~IRegistry() = default;

    // RegOpenKeyExW. subKey has no leading backslash; an empty subKey opens
    // parent itself anew (a predefined root may come back as itself).
    // With kOptionOpenLink a symbolic link named by the last part of subKey
    // is opened itself instead of being followed.
    virtual long OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                         uint32_t access, RegKey& result) = 0;
    // RegCreateKeyExW: opens the key, creating it and the keys on its path
    // when missing. created tells whether the last part was new.
    virtual long CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                           uint32_t access, RegKey& result, bool& created) = 0;
    // Counted, NtOpenKeyEx: name is one part (or parts joined by
    // backslashes) below the open key parent; a predefined root gives 6.
    // kOptionOpenLink opens a link named by the last part itself.
    virtual long OpenSubKey(RegKey parent, const std::u16string& name, uint32_t options,
                            uint32_t access, RegKey& result) = 0;
    // Counted, NtCreateKey: one part below the open key parent. With
    // kOptionCreateLink a new key becomes a symbolic link, whose target is
    // its SymbolicLinkValue (kRegLink, the target's kernel name).
    virtual long CreateSubKey(RegKey parent, const std::u16string& name, uint32_t options,
                              uint32_t access, RegKey& result, bool& created) = 0;
    // Counted, NtQueryKey: the key's kernel name (\REGISTRY\MACHINE\...),
    // which names the key a followed link led to, not the link.
    virtual long QueryKeyName(RegKey key, std::u16string& name) = 0;
    // RegQueryValueExW: with data null only type and size are asked for.
    // size is in bytes, in and out.
    virtual long QueryValue(RegKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                            uint32_t* size) = 0;
    // RegQueryInfoKeyW: the numbers of subkeys and of values.
    virtual long QueryKeyInfo(RegKey key, uint32_t& subKeys, uint32_t& values) = 0;
    // Counted, NtEnumerateKey: the name of the subkey at index.
    virtual long EnumSubKey(RegKey key, uint32_t index, std::u16string& name) = 0;
    // Counted, NtEnumerateValueKey: the value at index with its type and data.
    virtual long EnumValue(RegKey key, uint32_t index, std::u16string& name, uint32_t& type,
                           std::vector<uint8_t>& data) = 0;
    // Counted, NtSetValueKey (needs KEY_SET_VALUE).
    virtual long SetValue(RegKey key, const std::u16string& name, uint32_t type,
                          const std::vector<uint8_t>& data) = 0;
    // Counted, NtDeleteValueKey (needs KEY_SET_VALUE).
    virtual long DeleteValue(RegKey key, const std::u16string& name) = 0;
    // RegDeleteKeyExW (samDesired 0, plus the view flag of the build) or
    // RegDeleteKeyW where that is missing. Fails on a key with subkeys. A
    // symbolic link named by subKey is followed: its target is deleted.
    virtual long DeleteKey(RegKey parent, const std::u16string& subKey) = 0;
    // NtDeleteKey: deletes exactly the key an open handle refers to (the
    // handle needs DELETE access): the link itself when it was opened with
    // kOptionOpenLink. Fails on a key with subkeys. The handle stays open.
    virtual long DeleteOpenKey(RegKey key) = 0;
    // RegCloseKey. Closing a predefined root does nothing.
    virtual long CloseKey(RegKey key) noexcept = 0;
};

// An open key that closes itself. Move-only; an empty handle holds nothing.
class RegKeyHandle {
public:
    RegKeyHandle() = default;
    RegKeyHandle(IRegistry& registry, RegKey key) : registry_(&registry), key_(key) {}
    RegKeyHandle(const RegKeyHandle&) = delete;
    RegKeyHandle& operator=(const RegKeyHandle&) = delete;
    RegKeyHandle(RegKeyHandle&& other) noexcept
        : registry_(std::exchange(other.registry_, nullptr)), key_(std::exchange(other.key_, 0)) {}
    RegKeyHandle& operator=(RegKeyHandle&& other) noexcept {
        if (this != &other) {
            Close();
            registry_ = std::exchange(other.registry_, nullptr);
            key_ = std::exchange(other.key_, 0);
        }
        return *this;
    }
    ~RegKeyHandle() { Close(); }

    explicit operator bool() const { return registry_ != nullptr; }
    RegKey Get() const { return key_; }

    void Close() noexcept {
        if (registry_ != nullptr)
            registry_->CloseKey(key_);
        registry_ = nullptr;
        key_ = 0;
    }

private:
    IRegistry* registry_ = nullptr;
    RegKey key_ = 0;
};

// IRegistry::OpenKey into a handle; the handle is empty unless the result is 0.
inline long OpenKeyHandle(IRegistry& registry, RegKey parent, const std::u16string& subKey,
                          uint32_t options, uint32_t access, RegKeyHandle& result) {
    RegKey key = 0;
    long error = registry.OpenKey(parent, subKey, options, access, key);
    result = error == kErrorSuccess ? RegKeyHandle(registry, key) : RegKeyHandle();
    return error;
}

// IRegistry::OpenSubKey into a handle; the handle is empty unless the result is 0.
inline long OpenSubKeyHandle(IRegistry& registry, RegKey parent, const std::u16string& name,
                             uint32_t options, uint32_t access, RegKeyHandle& result) {
    RegKey key = 0;
    long error = registry.OpenSubKey(parent, name, options, access, key);
    result = error == kErrorSuccess ? RegKeyHandle(registry, key) : RegKeyHandle();
    return error;
}

} // namespace keystrip::platform
