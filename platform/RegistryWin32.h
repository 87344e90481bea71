// The registry seam on the real calls: advapi32 for opens by path from a
// root, the native key calls (bound from ntdll at first use) for everything
// that takes a name with its length. The 32-bit shipping build requests no
// view flag; the x86-64 test build adds KEY_WOW64_32KEY to every open,
// create and delete by path, so that it works on exactly the keys the 32-bit
// build sees. Opens below an open key carry no view flag: the view is fixed
// where a walk starts.
#pragma once

#include "platform/Registry.h"

namespace keystrip::platform {

class Win32Registry final : public IRegistry {
public:
    // The view flag this build adds to every open and delete by path (0 or
    // KEY_WOW64_32KEY).
    static uint32_t ViewFlag();

    long OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                 RegKey& result) override;
    long CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                   RegKey& result, bool& created) override;
    long OpenSubKey(RegKey parent, const std::u16string& name, uint32_t options, uint32_t access,
                    RegKey& result) override;
    long CreateSubKey(RegKey parent, const std::u16string& name, uint32_t options, uint32_t access,
                      RegKey& result, bool& created) override;
    long QueryKeyName(RegKey key, std::u16string& name) override;
    long QueryValue(RegKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override;
    long QueryKeyInfo(RegKey key, uint32_t& subKeys, uint32_t& values) override;
    long EnumSubKey(RegKey key, uint32_t index, std::u16string& name) override;
    long EnumValue(RegKey key, uint32_t index, std::u16string& name, uint32_t& type,
                   std::vector<uint8_t>& data) override;
    long SetValue(RegKey key, const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override;
    long DeleteValue(RegKey key, const std::u16string& name) override;
    long DeleteKey(RegKey parent, const std::u16string& subKey) override;
    long DeleteOpenKey(RegKey key) override;
    long CloseKey(RegKey key) noexcept override;
};

} // namespace keystrip::platform
