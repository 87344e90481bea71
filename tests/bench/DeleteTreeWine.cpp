// Timed run on the real registry: two identical trees of 10,000 keys in the
// 32-bit view, one deleted by TRegistryAccess::DeleteKey, the other by
// RegDeleteTreeW, in the same run. Build and run under Wine:
//   cmake --build --preset win64 --target keystrip_bench_wine
//   cmake/wine-run.sh $PWD/build/win64/wineprefix build/win64/tests/bench/keystrip_bench_wine.exe
#include "platform/RegistryWin32.h"
#include "rules/RegistryAccess.h"
#include "tests/bench/CountingRegistry.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using namespace keystrip;
using Clock = std::chrono::steady_clock;

const REGSAM kView = static_cast<REGSAM>(platform::Win32Registry::ViewFlag());

HKEY Create(HKEY parent, const std::wstring& name) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    RegSetValueExW(key, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"data"), 10);
    return key;
}

bool BuildTree(const std::wstring& path) {
    HKEY top = Create(HKEY_LOCAL_MACHINE, path);
    if (top == nullptr)
        return false;
    for (int c = 0; c < bench::kChildren; ++c) {
        HKEY child = Create(top, L"Child" + std::to_wstring(c));
        if (child == nullptr)
            return false;
        for (int g = 0; g < bench::kGrandchildren; ++g)
            RegCloseKey(Create(child, L"Grandchild" + std::to_wstring(g)));
        RegCloseKey(child);
    }
    RegCloseKey(top);
    return true;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main() {
    const std::wstring ours = L"SOFTWARE\\ZolvaKeystripBench\\Ours";
    const std::wstring theirs = L"SOFTWARE\\ZolvaKeystripBench\\Theirs";
    if (!BuildTree(ours) || !BuildTree(theirs)) {
        std::fprintf(stderr, "could not build the trees\n");
        return 1;
    }

    platform::Win32Registry win32;
    bench::CountingRegistry counting(win32);
    TRegistryAccess access(counting, platform::kKeyAllAccess);
    access.SetRootKey(platform::kHkeyLocalMachine);
    auto start = Clock::now();
    bool deleted = access.DeleteKey(std::u16string(ours.begin(), ours.end()));
    double oursSeconds = Seconds(Clock::now() - start);

    HKEY key = nullptr;
    start = Clock::now();
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, theirs.c_str(), 0, KEY_ALL_ACCESS | kView, &key);
    if (error == ERROR_SUCCESS) {
        error = RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        if (error == ERROR_SUCCESS)
            error = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, theirs.c_str(), kView, 0);
    }
    double theirsSeconds = Seconds(Clock::now() - start);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZolvaKeystripBench", kView, 0);

    std::printf("keys per tree:            %d\n", bench::kKeys);
    std::printf("TRegistryAccess.DeleteKey %.3f s (%s), %.2f registry calls per key\n", oursSeconds,
                deleted ? "deleted" : "NOT deleted",
                static_cast<double>(counting.Calls()) / bench::kKeys);
    std::printf("RegDeleteTreeW            %.3f s (error %ld)\n", theirsSeconds, error);
    return deleted && error == ERROR_SUCCESS ? 0 : 1;
}
