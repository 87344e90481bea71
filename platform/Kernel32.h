// The seam to the few kernel32 calls of the start-up hardening: the version
// query, the error mode, loading a library by name, looking up its entry
// points and calling the ones the hardening needs. The Win32 implementation
// makes the real calls; platform/doubles has a scripted double.
//
// Failure contract: calls report failure as Windows does (a zero or null
// result, the reason in LastError) and never throw.
#pragma once

#include <cstdint>
#include <string>

namespace keystrip::platform {

// The layout of OSVERSIONINFOEXW, 284 bytes.
struct OsVersionInfoEx {
    uint32_t OSVersionInfoSize;
    uint32_t MajorVersion;
    uint32_t MinorVersion;
    uint32_t BuildNumber;
    uint32_t PlatformId;
    char16_t CSDVersion[128];
    uint16_t ServicePackMajor;
    uint16_t ServicePackMinor;
    uint16_t SuiteMask;
    uint8_t ProductType;
    uint8_t Reserved;
};
static_assert(sizeof(OsVersionInfoEx) == 284, "OSVERSIONINFOEXW is 284 bytes");

using ModuleHandle = std::uintptr_t; // HMODULE, 0 for none
using ProcAddress = std::uintptr_t;  // FARPROC, 0 for none

constexpr uint32_t kSemNoOpenFileErrorBox = 0x8000; // SEM_NOOPENFILEERRORBOX
constexpr uint32_t kBaseSearchPathEnableSafeSearchMode =
    1;                                                 // BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE
constexpr uint32_t kLoadLibrarySearchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr uint8_t kVerNtWorkstation = 1;               // VER_NT_WORKSTATION

constexpr uint32_t kErrorOldWinVersion = 1150;     // ERROR_OLD_WIN_VERSION
constexpr uint32_t kErrorInternalError = 1359;     // ERROR_INTERNAL_ERROR
constexpr uint32_t kErrorProcNotFound = 127;       // ERROR_PROC_NOT_FOUND
constexpr uint32_t kErrorModNotFound = 126;        // ERROR_MOD_NOT_FOUND
constexpr uint32_t kErrorCallNotImplemented = 120; // ERROR_CALL_NOT_IMPLEMENTED

class IKernel32 {
public:
    virtual ~IKernel32() = default;

    // GetVersionExW; info.OSVersionInfoSize is set by the caller.
    virtual bool GetVersionExW(OsVersionInfoEx& info) = 0;
    // SetErrorMode: returns the previous mode.
    virtual uint32_t SetErrorMode(uint32_t mode) = 0;
    // LoadLibraryW.
    virtual ModuleHandle LoadLibraryW(const std::u16string& name) = 0;
    // GetProcAddress by name.
    virtual ProcAddress GetProcAddress(ModuleHandle module, const char* name) = 0;
    // FreeLibrary.
    virtual bool FreeLibrary(ModuleHandle module) = 0;
    // GetLastError.
    virtual uint32_t GetLastError() = 0;

    // Calls an entry point found by GetProcAddress under that name.
    virtual bool CallSetDllDirectoryW(ProcAddress proc, const char16_t* pathName) = 0;
    virtual bool CallSetSearchPathMode(ProcAddress proc, uint32_t flags) = 0;
    virtual bool CallSetDefaultDllDirectories(ProcAddress proc, uint32_t directoryFlags) = 0;
};

// The real kernel32 on Windows. In the native build every call fails with
// ERROR_CALL_NOT_IMPLEMENTED: there is no library search path to harden.
IKernel32& SystemKernel32();

} // namespace keystrip::platform
