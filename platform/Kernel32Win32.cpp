#include "platform/Kernel32Win32.h"

#include <windows.h>

#include <cstddef>

namespace keystrip::platform {

static_assert(sizeof(OsVersionInfoEx) == sizeof(OSVERSIONINFOEXW));
static_assert(offsetof(OsVersionInfoEx, ServicePackMajor) ==
              offsetof(OSVERSIONINFOEXW, wServicePackMajor));
static_assert(offsetof(OsVersionInfoEx, ProductType) == offsetof(OSVERSIONINFOEXW, wProductType));

namespace {

using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

template <typename Fn> Fn As(ProcAddress proc) {
    // Entry points found by name are called through their documented type.
    return reinterpret_cast<Fn>(proc);
}

} // namespace

bool Kernel32Win32::GetVersionExW(OsVersionInfoEx& info) {
    // Deprecated but the only call that gives the version the process is
    // told; what the hardening decides on must match that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
#pragma GCC diagnostic pop
}

uint32_t Kernel32Win32::SetErrorMode(uint32_t mode) {
    return ::SetErrorMode(mode);
}

ModuleHandle Kernel32Win32::LoadLibraryW(const std::u16string& name) {
    return reinterpret_cast<ModuleHandle>(
        ::LoadLibraryW(reinterpret_cast<const wchar_t*>(name.c_str())));
}

ProcAddress Kernel32Win32::GetProcAddress(ModuleHandle module, const char* name) {
    return reinterpret_cast<ProcAddress>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

bool Kernel32Win32::FreeLibrary(ModuleHandle module) {
    return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != FALSE;
}

uint32_t Kernel32Win32::GetLastError() {
    return ::GetLastError();
}

bool Kernel32Win32::CallSetDllDirectoryW(ProcAddress proc, const char16_t* pathName) {
    return As<SetDllDirectoryWFn>(proc)(reinterpret_cast<const wchar_t*>(pathName)) != FALSE;
}

bool Kernel32Win32::CallSetSearchPathMode(ProcAddress proc, uint32_t flags) {
    return As<SetSearchPathModeFn>(proc)(flags) != FALSE;
}

bool Kernel32Win32::CallSetDefaultDllDirectories(ProcAddress proc, uint32_t directoryFlags) {
    return As<SetDefaultDllDirectoriesFn>(proc)(directoryFlags) != FALSE;
}

IKernel32& SystemKernel32() {
    static Kernel32Win32 kernel32;
    return kernel32;
}

} // namespace keystrip::platform
