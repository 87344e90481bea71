// Native build: no Windows library loader, so every call fails.
#include "platform/Kernel32.h"

namespace keystrip::platform {

namespace {

class UnavailableKernel32 final : public IKernel32 {
public:
    bool GetVersionExW(OsVersionInfoEx&) override { return false; }
    uint32_t SetErrorMode(uint32_t) override { return 0; }
    ModuleHandle LoadLibraryW(const std::u16string&) override { return 0; }
    ProcAddress GetProcAddress(ModuleHandle, const char*) override { return 0; }
    bool FreeLibrary(ModuleHandle) override { return false; }
    uint32_t GetLastError() override { return kErrorCallNotImplemented; }
    bool CallSetDllDirectoryW(ProcAddress, const char16_t*) override { return false; }
    bool CallSetSearchPathMode(ProcAddress, uint32_t) override { return false; }
    bool CallSetDefaultDllDirectories(ProcAddress, uint32_t) override { return false; }
};

} // namespace

IKernel32& SystemKernel32() {
    static UnavailableKernel32 kernel32;
    return kernel32;
}

} // namespace keystrip::platform
