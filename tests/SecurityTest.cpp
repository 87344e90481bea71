#include "app/Security.h"

#include "platform/doubles/FakeKernel32.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace keystrip;
using platform::FakeKernel32;

namespace {

using Calls = std::vector<std::string>;

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Calls kVersion = {"GetVersionExW(284)"};
const Calls kLoad = {"SetErrorMode(0x8000)", "LoadLibraryW(Kernel32.dll) in mode 0x8000",
                     "SetErrorMode(0x1)"};
const Calls kDllDirectory = {"GetProcAddress(SetDllDirectoryW)", "SetDllDirectoryW(\"\")"};
const Calls kSafeSearch = {"GetProcAddress(SetSearchPathMode)", "SetSearchPathMode(0x1)"};
const Calls kDefaultDirs = {"GetProcAddress(SetDefaultDllDirectories)",
                            "SetDefaultDllDirectories(0x800)"};
const Calls kNoDefaultDirs = {"GetProcAddress(SetDefaultDllDirectories)"};
const Calls kFailed = {"GetLastError"};
const Calls kFree = {"FreeLibrary"};

struct HardenRow {
    const char* name;
    std::function<FakeKernel32()> system;
    uint32_t result;
    Calls calls;
};

void PrintTo(const HardenRow& row, std::ostream* os) {
    *os << row.name;
}

FakeKernel32 Win(uint32_t major, uint32_t minor, uint16_t sp = 0, uint8_t type = 1) {
    return FakeKernel32::Windows(major, minor, sp, type);
}

// Windows 10 with one scripted change.
FakeKernel32 Win10(const std::function<void(FakeKernel32&)>& change) {
    FakeKernel32 fake = Win(10, 0);
    change(fake);
    return fake;
}

class HardenDllSearchPathTest : public testing::TestWithParam<HardenRow> {};

TEST_P(HardenDllSearchPathTest, MakesTheCallsInOrderAndReportsTheResult) {
    const auto& row = GetParam();
    FakeKernel32 kernel32 = row.system();
    const uint32_t oldMode = kernel32.ErrorMode();
    EXPECT_EQ(HardenDllSearchPath(kernel32), row.result);
    EXPECT_EQ(kernel32.Calls, row.calls);
    EXPECT_EQ(kernel32.OpenModules(), 0) << "module left loaded";
    EXPECT_EQ(kernel32.ErrorMode(), oldMode) << "error mode not restored";
}

INSTANTIATE_TEST_SUITE_P(
    Versions, HardenDllSearchPathTest,
    testing::Values(
        HardenRow{"Windows10", [] { return Win(10, 0); }, 0,
                  kVersion + kLoad + kDllDirectory + kSafeSearch + kDefaultDirs + kFree},
        HardenRow{"Windows8", [] { return Win(6, 2); }, 0,
                  kVersion + kLoad + kDllDirectory + kSafeSearch + kDefaultDirs + kFree},
        HardenRow{"MajorAboveSixMinorZero", [] { return Win(7, 0); }, 0,
                  kVersion + kLoad + kDllDirectory + kSafeSearch + kDefaultDirs + kFree},
        HardenRow{"Windows7WithoutLoaderUpdate", [] { return Win(6, 1, 1); }, 0,
                  kVersion + kLoad + kDllDirectory + kSafeSearch + kNoDefaultDirs + kFree},
        HardenRow{"Windows7WithLoaderUpdate",
                  [] {
                      FakeKernel32 fake = Win(6, 1, 1);
                      fake.Export("SetDefaultDllDirectories");
                      return fake;
                  },
                  0, kVersion + kLoad + kDllDirectory + kSafeSearch + kDefaultDirs + kFree},
        HardenRow{"Vista", [] { return Win(6, 0, 2); }, 0,
                  kVersion + kLoad + kDllDirectory + kNoDefaultDirs + kFree},
        HardenRow{"VistaWithLoaderUpdate",
                  [] {
                      FakeKernel32 fake = Win(6, 0, 2);
                      fake.Export("SetDefaultDllDirectories");
                      return fake;
                  },
                  0, kVersion + kLoad + kDllDirectory + kDefaultDirs + kFree},
        HardenRow{"VistaNeverAsksForSafeSearchEvenIfExported",
                  [] {
                      FakeKernel32 fake = Win(6, 0, 2);
                      fake.Export("SetSearchPathMode");
                      return fake;
                  },
                  0, kVersion + kLoad + kDllDirectory + kNoDefaultDirs + kFree},
        HardenRow{"Server2003", [] { return Win(5, 2, 0, 3); }, 0,
                  kVersion + kLoad + kDllDirectory + kNoDefaultDirs + kFree},
        HardenRow{"XpServicePack2", [] { return Win(5, 1, 2); }, 0,
                  kVersion + kLoad + kDllDirectory + kNoDefaultDirs + kFree},
        HardenRow{"XpFirstReleaseRefused", [] { return Win(5, 1, 0); }, 1150, kVersion},
        // Only the workstation product type marks the refused first release.
        HardenRow{"XpFirstReleaseOtherProductTypeGoesOn", [] { return Win(5, 1, 0, 3); }, 127,
                  kVersion + kLoad + Calls{"GetProcAddress(SetDllDirectoryW)"} + kFailed +
                      kNoDefaultDirs + kFree},
        HardenRow{"Windows2000Refused", [] { return Win(5, 0, 4); }, 1150, kVersion},
        HardenRow{"Windows2000ServerRefused", [] { return Win(5, 0, 4, 3); }, 1150, kVersion},
        HardenRow{"Nt4Refused", [] { return Win(4, 0, 6); }, 1150, kVersion},
        HardenRow{"Major4HighMinorRefused", [] { return Win(4, 90); }, 1150, kVersion},
        HardenRow{"Nt351Refused", [] { return Win(3, 51); }, 1150, kVersion}),
    [](const testing::TestParamInfo<HardenRow>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    FailingCalls, HardenDllSearchPathTest,
    testing::Values(
        HardenRow{"GetVersionExFails",
                  [] { return Win10([](auto& k) { k.GetVersionExError = 87; }); }, 87,
                  kVersion + kFailed},
        HardenRow{"LibraryDoesNotLoad",
                  [] { return Win10([](auto& k) { k.LoadLibraryError = 126; }); }, 126,
                  kVersion + kLoad + kFailed},
        HardenRow{"SetDllDirectoryMissing",
                  [] { return Win10([](auto& k) { k.Unexport("SetDllDirectoryW"); }); }, 127,
                  kVersion + kLoad + Calls{"GetProcAddress(SetDllDirectoryW)"} + kFailed +
                      kDefaultDirs + kFree},
        HardenRow{"SetDllDirectoryFails",
                  [] { return Win10([](auto& k) { k.CallErrors["SetDllDirectoryW"] = 5; }); }, 5,
                  kVersion + kLoad + kDllDirectory + kFailed + kDefaultDirs + kFree},
        HardenRow{"SetSearchPathModeMissing",
                  [] { return Win10([](auto& k) { k.Unexport("SetSearchPathMode"); }); }, 127,
                  kVersion + kLoad + kDllDirectory + Calls{"GetProcAddress(SetSearchPathMode)"} +
                      kFailed + kDefaultDirs + kFree},
        HardenRow{"SetSearchPathModeFails",
                  [] { return Win10([](auto& k) { k.CallErrors["SetSearchPathMode"] = 87; }); }, 87,
                  kVersion + kLoad + kDllDirectory + kSafeSearch + kFailed + kDefaultDirs + kFree},
        HardenRow{
            "SetDefaultDllDirectoriesFails",
            [] { return Win10([](auto& k) { k.CallErrors["SetDefaultDllDirectories"] = 87; }); },
            87, kVersion + kLoad + kDllDirectory + kSafeSearch + kDefaultDirs + kFailed + kFree},
        HardenRow{"FirstFailureIsKept",
                  [] {
                      return Win10([](auto& k) {
                          k.CallErrors["SetDllDirectoryW"] = 5;
                          k.CallErrors["SetDefaultDllDirectories"] = 87;
                      });
                  },
                  5, kVersion + kLoad + kDllDirectory + kFailed + kDefaultDirs + kFree},
        HardenRow{"OtherErrorModeRestored",
                  [] { return Win10([](auto& k) { k.InitialErrorMode = 0x8003; }); }, 0,
                  kVersion +
                      Calls{"SetErrorMode(0x8000)", "LoadLibraryW(Kernel32.dll) in mode 0x8000",
                            "SetErrorMode(0x8003)"} +
                      kDllDirectory + kSafeSearch + kDefaultDirs + kFree}),
    [](const testing::TestParamInfo<HardenRow>& info) { return std::string(info.param.name); });

// A kernel32 that breaks its contract by throwing in the middle.
class ThrowingKernel32 final : public platform::IKernel32 {
public:
    int Loaded = 0;
    bool GetVersionExW(platform::OsVersionInfoEx& info) override {
        info.MajorVersion = 10;
        return true;
    }
    uint32_t SetErrorMode(uint32_t) override { return 0; }
    platform::ModuleHandle LoadLibraryW(const std::u16string&) override {
        ++Loaded;
        return 1;
    }
    platform::ProcAddress GetProcAddress(platform::ModuleHandle, const char*) override {
        throw std::runtime_error("broken");
    }
    bool FreeLibrary(platform::ModuleHandle) override {
        --Loaded;
        return true;
    }
    uint32_t GetLastError() override { return 0; }
    bool CallSetDllDirectoryW(platform::ProcAddress, const char16_t*) override { return true; }
    bool CallSetSearchPathMode(platform::ProcAddress, uint32_t) override { return true; }
    bool CallSetDefaultDllDirectories(platform::ProcAddress, uint32_t) override { return true; }
};

TEST(HardenDllSearchPathTest, NeverRaisesAndStillFreesTheModule) {
    ThrowingKernel32 kernel32;
    EXPECT_EQ(HardenDllSearchPath(kernel32), platform::kErrorInternalError);
    EXPECT_EQ(kernel32.Loaded, 0);
}

} // namespace
