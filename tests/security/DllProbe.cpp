// Loads libraries by name, so a test can plant copies of a canary library
// next to it and see which ones get loaded. Whether the wizard itself keeps
// them out is shown with the real exe (planting-test.sh); the probe gives the
// control runs that do load them, and the loader path Wine does not take.
//
//   DllProbe list                 prints the libraries the wizard preloads
//   DllProbe plain NAME...        LoadLibraryW, nothing hardened
//   DllProbe dlldirectory NAME... only SetDllDirectoryW(L"") first
//   DllProbe bypath NAME...       as on a loader without the search flags:
//                                 SetDllDirectoryW(L""), the preload by full
//                                 path, the controls, then each name by path
//
// Exit code 0 when every step went as the mode expects; problems are printed.
#include "platform/SystemLibraryWin32.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using keystrip::platform::kRunTimeLibraries;
using keystrip::platform::kRunTimeLibraryCount;
using keystrip::platform::LoadSystemLibraryByPath;

int failures = 0;

void Fail(const wchar_t* what, const wchar_t* name, DWORD error) {
    std::fwprintf(stdout, L"FAIL %ls %ls (error %lu)\n", what, name, error);
    ++failures;
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, n < MAX_PATH ? n : 0);
}

// A module of System32, not a planted copy.
bool FromSystemDirectory(HMODULE module) {
    wchar_t directory[MAX_PATH];
    const UINT n = GetSystemDirectoryW(directory, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 1)
        return false;
    const std::wstring dir = std::wstring(directory, n) + L"\\";
    const std::wstring path = ModulePath(module);
    return path.size() > dir.size() &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(dir.size()), dir.c_str(),
                                static_cast<int>(dir.size()), TRUE) == CSTR_EQUAL &&
           path.find(L'\\', dir.size()) == std::wstring::npos;
}

void LoadPlain(const wchar_t* name) {
    const HMODULE module = LoadLibraryW(name);
    std::fwprintf(stdout, L"%ls -> %ls\n", name,
                  module ? ModulePath(module).c_str() : L"(not loaded)");
}

void ExpectSystemModule(const wchar_t* how, const wchar_t* name, HMODULE module) {
    if (module == nullptr)
        Fail(how, name, GetLastError());
    else if (!FromSystemDirectory(module))
        Fail(how, ModulePath(module).c_str(), 0);
    else
        std::fwprintf(stdout, L"%ls %ls -> %ls\n", how, name, ModulePath(module).c_str());
}

// What the wizard's window does: register the common controls, then create
// the kinds of controls of its pages, which makes the system libraries load
// their own helpers (theming among them).
void CreateWizardControls(HMODULE (*load)(const wchar_t*)) {
    using InitFn = BOOL(WINAPI*)(const void*);
    struct {
        DWORD size;
        DWORD classes;
    } init{sizeof init, 0xFFFF};
    if (HMODULE comctl = load(L"comctl32.dll")) {
        auto initControls = reinterpret_cast<InitFn>(
            reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
        if (initControls == nullptr || !initControls(&init))
            Fail(L"InitCommonControlsEx", L"", GetLastError());
    } else {
        Fail(L"comctl32.dll", L"not loaded", GetLastError());
    }
    // The rich text view's library registers its window class.
    if (load(L"Msftedit.dll") == nullptr)
        Fail(L"Msftedit.dll", L"not loaded", GetLastError());
    HWND main = CreateWindowExW(0, L"Static", L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (main == nullptr) {
        Fail(L"CreateWindowExW", L"main window", GetLastError());
        return;
    }
    const wchar_t* classes[] = {L"RICHEDIT50W",   L"RichEdit20W", L"msctls_progress32",
                                L"SysListView32", L"Button",      L"Static",
                                L"ListBox",       L"Edit"};
    for (const wchar_t* cls : classes) {
        HWND child = CreateWindowExW(0, cls, L"x", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, main,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
        if (child == nullptr)
            Fail(L"CreateWindowExW", cls, GetLastError());
    }
    UpdateWindow(main);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    DestroyWindow(main);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 64;
    const std::wstring mode = argv[1];
    const std::vector<const wchar_t*> names(argv + 2, argv + argc);

    if (mode == L"list") {
        for (std::size_t i = 0; i < kRunTimeLibraryCount; ++i)
            std::fwprintf(stdout, L"%ls\n", kRunTimeLibraries[i]);
        return 0;
    }
    if (mode == L"plain" || mode == L"dlldirectory") {
        if (mode == L"dlldirectory" && !SetDllDirectoryW(L""))
            Fail(L"SetDllDirectoryW", L"", GetLastError());
        for (const wchar_t* name : names)
            LoadPlain(name);
        return failures == 0 ? 0 : 1;
    }
    if (mode == L"bypath") {
        if (!SetDllDirectoryW(L""))
            Fail(L"SetDllDirectoryW", L"", GetLastError());
        if (const int missing = keystrip::platform::PreloadSystemLibraries(LoadSystemLibraryByPath))
            Fail(L"PreloadSystemLibraries", L"by path", static_cast<DWORD>(missing));
        CreateWizardControls(LoadSystemLibraryByPath);
        for (const wchar_t* name : names)
            ExpectSystemModule(L"LoadSystemLibraryByPath", name, LoadSystemLibraryByPath(name));
        return failures == 0 ? 0 : 1;
    }
    return 64;
}
