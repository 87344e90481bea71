#include "app/Security.h"

namespace keystrip {

namespace {

using namespace platform;

// Too old to be hardened: XP without a service pack, 2000, and NT 4 or older.
bool IsRefusedVersion(const OsVersionInfoEx& v) {
    if (v.MajorVersion == 5 && v.MinorVersion == 1 && v.ServicePackMajor == 0 &&
        v.ProductType == kVerNtWorkstation)
        return true;
    if (v.MajorVersion == 5 && v.MinorVersion == 0)
        return true;
    return v.MajorVersion <= 4;
}

bool HasSafeSearchMode(const OsVersionInfoEx& v) {
    return (v.MajorVersion == 6 && v.MinorVersion >= 1) || v.MajorVersion > 6;
}

// Frees the module on every way out, an unexpected exception included.
class ModuleGuard {
public:
    ModuleGuard(IKernel32& kernel32, ModuleHandle module) : kernel32_(kernel32), module_(module) {}
    ModuleGuard(const ModuleGuard&) = delete;
    ModuleGuard& operator=(const ModuleGuard&) = delete;
    ~ModuleGuard() { kernel32_.FreeLibrary(module_); }

private:
    IKernel32& kernel32_;
    ModuleHandle module_;
};

uint32_t Harden(IKernel32& kernel32) {
    OsVersionInfoEx version{};
    version.OSVersionInfoSize = sizeof(OsVersionInfoEx);
    if (!kernel32.GetVersionExW(version))
        return kernel32.GetLastError();
    if (IsRefusedVersion(version))
        return kErrorOldWinVersion;

    // No "cannot find the file" box if the load should fail.
    const uint32_t oldMode = kernel32.SetErrorMode(kSemNoOpenFileErrorBox);
    const ModuleHandle module = kernel32.LoadLibraryW(u"Kernel32.dll");
    kernel32.SetErrorMode(oldMode);
    if (module == 0)
        return kernel32.GetLastError();
    ModuleGuard guard(kernel32, module);

    uint32_t result = 0;
    // A pointer to an empty string, not null: null would restore the
    // default order, current directory included.
    static const char16_t kEmpty[] = u"";
    if (const ProcAddress proc = kernel32.GetProcAddress(module, "SetDllDirectoryW")) {
        if (!kernel32.CallSetDllDirectoryW(proc, kEmpty))
            result = kernel32.GetLastError();
    } else {
        result = kernel32.GetLastError();
    }

    if (result == 0 && HasSafeSearchMode(version)) {
        if (const ProcAddress proc = kernel32.GetProcAddress(module, "SetSearchPathMode")) {
            if (!kernel32.CallSetSearchPathMode(proc, kBaseSearchPathEnableSafeSearchMode))
                result = kernel32.GetLastError();
        } else {
            result = kernel32.GetLastError();
        }
    }

    // Independent of the steps above, so tried whatever they gave. Systems
    // without it (before Windows 8 and its backport) are not a failure; a
    // failing call is reported unless an earlier failure is already.
    if (const ProcAddress proc = kernel32.GetProcAddress(module, "SetDefaultDllDirectories")) {
        if (!kernel32.CallSetDefaultDllDirectories(proc, kLoadLibrarySearchSystem32) && result == 0)
            result = kernel32.GetLastError();
    }
    return result;
}

} // namespace

uint32_t HardenDllSearchPath(IKernel32& kernel32) noexcept {
    try {
        return Harden(kernel32);
    } catch (...) {
        return kErrorInternalError;
    }
}

uint32_t HardenDllSearchPath() noexcept {
    return HardenDllSearchPath(SystemKernel32());
}

} // namespace keystrip
