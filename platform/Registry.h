// The seam to the Windows registry: the few advapi32 calls the registry
// access object needs, with their Win32 error codes as results. The Win32
// implementation makes the real calls; platform/doubles has an in-memory
// registry for tests.
//
// Failure contract: every call returns a Win32 error code (0 on success) and
// never throws; out-parameters are only written on success.
#pragma once

#include <cstdint>
#include <string>

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

// Access masks.
constexpr uint32_t kKeyRead = 0x20019;        // KEY_READ
constexpr uint32_t kKeyAllAccess = 0xF003F;   // KEY_ALL_ACCESS
constexpr uint32_t kKeyQueryAndEnum = 0x20009; // STANDARD_RIGHTS_READ | QUERY_VALUE | ENUMERATE_SUB_KEYS

// Open options.
constexpr uint32_t kOptionOpenLink = 0x8; // REG_OPTION_OPEN_LINK

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Win32 error codes used by the seam and its double.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;

class IRegistry {
public:
    virtual ~IRegistry() = default;

    // RegOpenKeyExW. subKey has no leading backslash; an empty subKey opens
    // parent itself anew.
    virtual long OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                         uint32_t access, RegKey& result) = 0;
    // RegQueryValueExW: with data null only type and size are asked for.
    // size is in bytes, in and out.
    virtual long QueryValue(RegKey key, const std::u16string& name, uint32_t* type,
                            uint8_t* data, uint32_t* size) = 0;
    // RegQueryInfoKeyW, the number of subkeys only.
    virtual long QuerySubKeyCount(RegKey key, uint32_t& count) = 0;
    // RegEnumKeyExW, the name only.
    virtual long EnumSubKey(RegKey key, uint32_t index, std::u16string& name) = 0;
    // RegDeleteValueW.
    virtual long DeleteValue(RegKey key, const std::u16string& name) = 0;
    // RegDeleteKeyExW (samDesired 0, plus the view flag of the build) or
    // RegDeleteKeyW where that is missing. Fails on a key with subkeys.
    virtual long DeleteKey(RegKey parent, const std::u16string& subKey) = 0;
    // RegCloseKey.
    virtual long CloseKey(RegKey key) = 0;
};

} // namespace keystrip::platform
