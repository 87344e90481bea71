// A scripted kernel32 for the start-up hardening: plays any Windows version,
// any set of exported entry points and any failing call, and records every
// call in order so a test can check what was done.
#pragma once

#include "platform/Kernel32.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace keystrip::platform {

class FakeKernel32 final : public IKernel32 {
public:
    // A system of that version whose Kernel32.dll exports what that version
    // shipped with: SetDllDirectoryW from 5.1 SP1 and 5.2, SetSearchPathMode
    // from 6.1 and SetDefaultDllDirectories from 6.2 (earlier only with the
    // loader update, see Export/Unexport).
    static FakeKernel32 Windows(uint32_t major, uint32_t minor, uint16_t servicePack = 0,
                                uint8_t productType = kVerNtWorkstation);

    // The version record GetVersionExW hands out.
    OsVersionInfoEx Version{};

    // Scripted failures: 0 means the call succeeds, anything else is the
    // error the call leaves in LastError when it fails.
    uint32_t GetVersionExError = 0;
    uint32_t LoadLibraryError = 0;
    std::map<std::string, uint32_t> CallErrors; // by entry point name
    uint32_t InitialErrorMode = 0x0001;

    void Export(const std::string& name) { FExports.insert(name); }
    void Unexport(const std::string& name) { FExports.erase(name); }

    // What happened, one line per call, e.g. "SetErrorMode(0x8000)".
    std::vector<std::string> Calls;
    uint32_t ErrorMode() const { return FErrorModeSet ? FErrorMode : InitialErrorMode; }
    int OpenModules() const { return FOpenModules; }

    bool GetVersionExW(OsVersionInfoEx& info) override;
    uint32_t SetErrorMode(uint32_t mode) override;
    ModuleHandle LoadLibraryW(const std::u16string& name) override;
    ProcAddress GetProcAddress(ModuleHandle module, const char* name) override;
    bool FreeLibrary(ModuleHandle module) override;
    uint32_t GetLastError() override;
    bool CallSetDllDirectoryW(ProcAddress proc, const char16_t* pathName) override;
    bool CallSetSearchPathMode(ProcAddress proc, uint32_t flags) override;
    bool CallSetDefaultDllDirectories(ProcAddress proc, uint32_t directoryFlags) override;

private:
    bool Call(const std::string& name, ProcAddress proc, const std::string& argument);

    std::set<std::string> FExports;
    std::map<ProcAddress, std::string> FProcs; // addresses handed out
    uint32_t FLastError = 0;
    bool FErrorModeSet = false;
    uint32_t FErrorMode = 0;
    int FOpenModules = 0;
};

} // namespace keystrip::platform
