// The real kernel32 behind the IKernel32 seam.
#pragma once

#include "platform/Kernel32.h"

namespace keystrip::platform {

class Kernel32Win32 final : public IKernel32 {
public:
    bool GetVersionExW(OsVersionInfoEx& info) override;
    uint32_t SetErrorMode(uint32_t mode) override;
    ModuleHandle LoadLibraryW(const std::u16string& name) override;
    ProcAddress GetProcAddress(ModuleHandle module, const char* name) override;
    bool FreeLibrary(ModuleHandle module) override;
    uint32_t GetLastError() override;
    bool CallSetDllDirectoryW(ProcAddress proc, const char16_t* pathName) override;
    bool CallSetSearchPathMode(ProcAddress proc, uint32_t flags) override;
    bool CallSetDefaultDllDirectories(ProcAddress proc, uint32_t directoryFlags) override;
};

} // namespace keystrip::platform
