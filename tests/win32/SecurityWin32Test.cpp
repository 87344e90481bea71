// The real kernel32 behind the start-up hardening, and loading libraries
// from System32 by name.
#include "app/Security.h"
#include "platform/Kernel32Win32.h"
#include "platform/SystemLibraryWin32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace keystrip;

namespace {

std::wstring SystemDirectory() {
    wchar_t directory[MAX_PATH];
    const UINT n = GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, n < MAX_PATH ? n : 0);
}

std::wstring ModuleDirectory(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring text(path, n < MAX_PATH ? n : 0);
    return text.substr(0, text.find_last_of(L'\\'));
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text)
        out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// System32 itself, or the side-by-side store where this executable's
// manifest sends the common controls.
bool IsSystemLocation(const std::wstring& dir) {
    if (SameText(dir, SystemDirectory()))
        return true;
    wchar_t windows[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring sxs = std::wstring(windows, n < MAX_PATH ? n : 0) + L"\\WinSxS\\";
    return dir.size() > sxs.size() && SameText(dir.substr(0, sxs.size()), sxs);
}

TEST(SecurityWin32Test, RealCallsSucceed) {
    EXPECT_EQ(HardenDllSearchPath(), 0u);
    // Running it again changes nothing and still succeeds.
    EXPECT_EQ(HardenDllSearchPath(), 0u);
}

TEST(SecurityWin32Test, VersionRecordIsTheExtendedOne) {
    platform::Kernel32Win32 kernel32;
    platform::OsVersionInfoEx info{};
    info.OSVersionInfoSize = sizeof info;
    ASSERT_TRUE(kernel32.GetVersionExW(info));
    EXPECT_EQ(info.OSVersionInfoSize, 284u);
    EXPECT_GE(info.MajorVersion, 5u);
    EXPECT_EQ(info.PlatformId, 2u); // VER_PLATFORM_WIN32_NT

    // A size field the call does not know is refused, so the record above
    // was taken for what its size says.
    info.OSVersionInfoSize = 12345;
    EXPECT_FALSE(kernel32.GetVersionExW(info));
}

TEST(SecurityWin32Test, RunTimeLibrariesComeFromSystem32) {
    ASSERT_EQ(HardenDllSearchPath(), 0u);
    EXPECT_EQ(platform::PreloadSystemLibraries(), 0);
    for (size_t i = 0; i < platform::kRunTimeLibraryCount; ++i) {
        const wchar_t* name = platform::kRunTimeLibraries[i];
        for (auto load : {platform::LoadSystemLibrary, platform::LoadSystemLibraryByPath}) {
            HMODULE module = load(name);
            ASSERT_NE(module, nullptr) << GetLastError();
            const std::wstring dir = ModuleDirectory(module);
            EXPECT_TRUE(IsSystemLocation(dir)) << Narrow(name) << " from " << Narrow(dir.c_str());
            FreeLibrary(module);
        }
    }
}

class SystemLibraryNameTest : public testing::TestWithParam<const wchar_t*> {};

TEST_P(SystemLibraryNameTest, RefusesAnythingButABareName) {
    for (auto load : {platform::LoadSystemLibrary, platform::LoadSystemLibraryByPath}) {
        SetLastError(0);
        EXPECT_EQ(load(GetParam()), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SystemLibraryNameTest,
                         testing::Values(L"", L"C:\\windows\\system32\\comctl32.dll",
                                         L".\\comctl32.dll", L"..\\comctl32.dll",
                                         L"sub/comctl32.dll", L"C:comctl32.dll",
                                         L"\\\\server\\share\\x.dll"));

TEST(SystemLibraryTest, NullNameIsRefused) {
    SetLastError(0);
    EXPECT_EQ(platform::LoadSystemLibrary(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SystemLibraryTest, MissingLibraryFailsWithItsError) {
    EXPECT_EQ(platform::LoadSystemLibrary(L"no-such-library-here.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

} // namespace
