#include "platform/doubles/FakeKernel32.h"

#include "common/Utf.h"

#include <cstdio>

namespace keystrip::platform {

namespace {

constexpr ModuleHandle kModule = 0x7FF10000;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInsufficientBuffer = 122;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

} // namespace

FakeKernel32 FakeKernel32::Windows(uint32_t major, uint32_t minor, uint16_t servicePack,
                                   uint8_t productType) {
    FakeKernel32 fake;
    fake.Version.MajorVersion = major;
    fake.Version.MinorVersion = minor;
    fake.Version.ServicePackMajor = servicePack;
    fake.Version.ProductType = productType;
    fake.Version.PlatformId = 2;
    const auto atLeast = [&](uint32_t ma, uint32_t mi) {
        return major > ma || (major == ma && minor >= mi);
    };
    if (atLeast(5, 2) || (major == 5 && minor == 1 && servicePack >= 1))
        fake.Export("SetDllDirectoryW");
    if (atLeast(6, 1))
        fake.Export("SetSearchPathMode");
    if (atLeast(6, 2))
        fake.Export("SetDefaultDllDirectories");
    return fake;
}

bool FakeKernel32::GetVersionExW(OsVersionInfoEx& info) {
    Calls.push_back("GetVersionExW(" + std::to_string(info.OSVersionInfoSize) + ")");
    if (GetVersionExError != 0) {
        FLastError = GetVersionExError;
        return false;
    }
    // The real call refuses a record whose size field it does not know.
    if (info.OSVersionInfoSize != sizeof(OsVersionInfoEx)) {
        FLastError = kErrorInsufficientBuffer;
        return false;
    }
    info = Version;
    info.OSVersionInfoSize = sizeof(OsVersionInfoEx);
    return true;
}

uint32_t FakeKernel32::SetErrorMode(uint32_t mode) {
    Calls.push_back("SetErrorMode(" + Hex(mode) + ")");
    const uint32_t previous = ErrorMode();
    FErrorMode = mode;
    FErrorModeSet = true;
    return previous;
}

ModuleHandle FakeKernel32::LoadLibraryW(const std::u16string& name) {
    Calls.push_back("LoadLibraryW(" + Utf16ToUtf8(name) + ") in mode " + Hex(ErrorMode()));
    if (LoadLibraryError != 0) {
        FLastError = LoadLibraryError;
        return 0;
    }
    ++FOpenModules;
    return kModule;
}

ProcAddress FakeKernel32::GetProcAddress(ModuleHandle module, const char* name) {
    Calls.push_back(std::string("GetProcAddress(") + name + ")");
    if (module != kModule || FOpenModules == 0) {
        FLastError = kErrorInvalidHandle;
        return 0;
    }
    if (FExports.count(name) == 0) {
        FLastError = kErrorProcNotFound;
        return 0;
    }
    const ProcAddress proc = kModule + 0x100 + FProcs.size() * 0x10;
    FProcs[proc] = name;
    return proc;
}

bool FakeKernel32::FreeLibrary(ModuleHandle module) {
    Calls.emplace_back("FreeLibrary");
    if (module != kModule || FOpenModules == 0) {
        FLastError = kErrorInvalidHandle;
        return false;
    }
    --FOpenModules;
    return true;
}

uint32_t FakeKernel32::GetLastError() {
    Calls.emplace_back("GetLastError");
    return FLastError;
}

bool FakeKernel32::Call(const std::string& name, ProcAddress proc, const std::string& argument) {
    // An address that was not looked up under this very name is a wrong call.
    const auto found = FProcs.find(proc);
    const bool matches = found != FProcs.end() && found->second == name;
    Calls.push_back(name + "(" + argument + ")" + (matches ? "" : " through a wrong address"));
    const auto error = CallErrors.find(name);
    if (error != CallErrors.end() && error->second != 0) {
        FLastError = error->second;
        return false;
    }
    return matches;
}

bool FakeKernel32::CallSetDllDirectoryW(ProcAddress proc, const char16_t* pathName) {
    return Call("SetDllDirectoryW", proc,
                pathName == nullptr ? "null" : "\"" + Utf16ToUtf8(pathName) + "\"");
}

bool FakeKernel32::CallSetSearchPathMode(ProcAddress proc, uint32_t flags) {
    return Call("SetSearchPathMode", proc, Hex(flags));
}

bool FakeKernel32::CallSetDefaultDllDirectories(ProcAddress proc, uint32_t directoryFlags) {
    return Call("SetDefaultDllDirectories", proc, Hex(directoryFlags));
}

} // namespace keystrip::platform
