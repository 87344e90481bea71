// The registry seam on the real advapi32 calls. The 32-bit shipping build
// requests no view flag; the x86-64 test build adds KEY_WOW64_32KEY to every
// open and delete, so that it works on exactly the keys the 32-bit build sees.
#pragma once

#include "platform/Registry.h"

namespace keystrip::platform {

class Win32Registry final : public IRegistry {
public:
    // The view flag this build adds to every open and delete (0 or KEY_WOW64_32KEY).
    static uint32_t ViewFlag();

    long OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                 RegKey& result) override;
    long QueryValue(RegKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override;
    long QuerySubKeyCount(RegKey key, uint32_t& count) override;
    long EnumSubKey(RegKey key, uint32_t index, std::u16string& name) override;
    long DeleteValue(RegKey key, const std::u16string& name) override;
    long DeleteKey(RegKey parent, const std::u16string& subKey) override;
    long DeleteOpenKey(RegKey key) override;
    long CloseKey(RegKey key) noexcept override;
};

} // namespace keystrip::platform
