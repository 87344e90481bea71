#include "platform/SystemLibraryWin32.h"

#include <cwchar>
#include <string>

namespace keystrip::platform {

// Helpers before the libraries that load them while they start up, so that
// these find them in memory even where nothing else restricts the search.
const wchar_t* const kRunTimeLibraries[] = {
    L"uxtheme.dll", L"dwmapi.dll",   L"usp10.dll",    L"msimg32.dll",
    L"oleacc.dll",  L"comctl32.dll", L"riched20.dll", L"Msftedit.dll",
};
const std::size_t kRunTimeLibraryCount = sizeof kRunTimeLibraries / sizeof kRunTimeLibraries[0];

namespace {

bool IsBareName(const wchar_t* name) {
    return name != nullptr && *name != L'\0' && std::wcspbrk(name, L"\\/:") == nullptr;
}

// The flag is understood where its companion AddDllDirectory exists
// (Windows 8, or Windows 7 / Vista with the loader update).
bool LoaderKnowsSearchFlags() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 != nullptr && GetProcAddress(kernel32, "AddDllDirectory") != nullptr;
}

} // namespace

HMODULE LoadSystemLibraryByPath(const wchar_t* name) {
    if (!IsBareName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HMODULE module = nullptr;
    // A full path would bypass side-by-side redirection and give the old
    // common controls beside the ones the manifest brought in.
    if (GetModuleHandleExW(0, name, &module))
        return module;

    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0)
        return nullptr;
    if (length >= MAX_PATH) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    std::wstring path(directory, length);
    if (path.back() != L'\\')
        path += L'\\';
    path += name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (!IsBareName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (LoaderKnowsSearchFlags())
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return LoadSystemLibraryByPath(name);
}

int PreloadSystemLibraries(HMODULE (*load)(const wchar_t*)) {
    int failed = 0;
    for (const wchar_t* name : kRunTimeLibraries)
        if (load(name) == nullptr)
            ++failed;
    return failed;
}

} // namespace keystrip::platform
