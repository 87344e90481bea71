// The executable's own resources, read through the Win32 seam: this test
// program is linked with the shipped resource script, as the wizard is.
#include "platform/ResourcesWin32.h"
#include "common/Utf.h"
#include "resources/ShippedResources.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace keystrip;

namespace {

constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}

std::vector<WORD> Languages(const wchar_t* type, const wchar_t* name) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(GetModuleHandleW(nullptr), type, name, CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

TEST(ResourcesWin32Test, EveryShippedFileIsAResourceWithTheSameBytes) {
    platform::Win32Resources resources;
    ASSERT_EQ(resources::ShippedFiles().size(), 9u);
    for (const auto& file : resources::ShippedFiles()) {
        SCOPED_TRACE(Utf16ToUtf8(file.Name));
        auto stream = resources.Open(file.Name);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->Position(), 0);
        ASSERT_EQ(stream->Size(), static_cast<int64_t>(file.Size));
        const auto bytes = stream->ReadToEnd();
        EXPECT_EQ(bytes, std::vector<uint8_t>(file.Data, file.Data + file.Size));
    }
}

TEST(ResourcesWin32Test, LooksNamesUpIgnoringCaseAndMissesWhatIsNotThere) {
    platform::Win32Resources resources;
    EXPECT_NE(resources.Open(u"zolvaproduct1"), nullptr);
    EXPECT_NE(resources.Open(u"Eula"), nullptr);
    for (const char16_t* missing : {u"ZOLVAPRODUCT8", u"ZOLVAPRODUCT0", u"EULA ", u"MAINICON"})
        EXPECT_EQ(resources.Open(missing), nullptr) << Utf16ToUtf8(missing);
    // Another module's resources are not ours.
    platform::Win32Resources kernel(GetModuleHandleW(L"kernel32.dll"));
    EXPECT_EQ(kernel.Open(u"ZOLVAPRODUCT1"), nullptr);
}

TEST(ResourcesWin32Test, StreamsStaySeekableAndIndependent) {
    platform::Win32Resources resources;
    auto a = resources.Open(u"ZOLVASTRINGS");
    auto b = resources.Open(u"ZOLVASTRINGS");
    ASSERT_TRUE(a && b);
    char head[10] = {};
    ASSERT_EQ(a->Read(head, sizeof head), sizeof head);
    EXPECT_EQ(std::string(head, sizeof head), "[MainForm]");
    EXPECT_EQ(b->Position(), 0);
    a->Seek(-5);
    EXPECT_EQ(a->Position(), 0);
    a->Seek(a->Size() + 100);
    EXPECT_EQ(a->Position(), a->Size());
    EXPECT_EQ(a->Read(head, sizeof head), 0u);
}

struct LanguageRow {
    const wchar_t* name;
    WORD language;
};

class ResourceLanguageTest : public testing::TestWithParam<LanguageRow> {};

TEST_P(ResourceLanguageTest, IsFiledUnderItsLanguageOnly) {
    EXPECT_EQ(Languages(RT_RCDATA, GetParam().name), std::vector<WORD>{GetParam().language});
}

INSTANTIATE_TEST_SUITE_P(Shipped, ResourceLanguageTest,
                         testing::Values(LanguageRow{L"ZOLVAPRODUCT1", kNeutral},
                                         LanguageRow{L"ZOLVAPRODUCT2", kNeutral},
                                         LanguageRow{L"ZOLVAPRODUCT3", kNeutral},
                                         LanguageRow{L"ZOLVAPRODUCT4", kNeutral},
                                         LanguageRow{L"ZOLVAPRODUCT5", kNeutral},
                                         LanguageRow{L"ZOLVAPRODUCT6", kNeutral},
                                         LanguageRow{L"ZOLVAPRODUCT7", kNeutral},
                                         LanguageRow{L"ZOLVASTRINGS", kGerman},
                                         LanguageRow{L"EULA", kGerman}));

std::string ResourceText(const wchar_t* type, const wchar_t* name) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(self, name, type);
    if (!info)
        return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(self, info)));
    return std::string(data, SizeofResource(self, info));
}

TEST(ApplicationResourcesTest, ManifestAsksForAdministratorAndCommonControls6) {
    const std::string manifest = ResourceText(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    for (const char* part :
         {R"(level="requireAdministrator")", R"(uiAccess="false")",
          R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">true/pm<", ">PerMonitorV2,PerMonitor<"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

std::wstring VersionString(const std::vector<char>& info, const wchar_t* key) {
    void* value = nullptr;
    UINT size = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &size) || size == 0)
        return {};
    return static_cast<const wchar_t*>(value);
}

TEST(ApplicationResourcesTest, VersionInformationNamesTheProduct) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1)); // 1.0
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);             // .0.0
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(VersionString(info, L"ProductName"), L"Zolva Keystrip");
    EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1.0.0.0");
    EXPECT_EQ(VersionString(info, L"CompanyName"), L"Zolva Software AG");
    EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
    EXPECT_NE(VersionString(info, L"LegalCopyright").find(L"Zolva"), std::wstring::npos);
}

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ApplicationResourcesTest, IconHas16To256PixelImages) {
    const std::string group = ResourceText(RT_GROUP_ICON, L"MAINICON");
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(group.size(), 6u + count * sizeof(IconDirEntry));
    std::vector<int> sides;
    for (WORD i = 0; i < count; ++i) {
        IconDirEntry e;
        memcpy(&e, group.data() + 6 + i * sizeof e, sizeof e);
        sides.push_back(e.width == 0 ? 256 : e.width);
        EXPECT_EQ(e.bitCount, 32);
        EXPECT_EQ(ResourceText(RT_ICON, MAKEINTRESOURCEW(e.id)).size(), e.bytes);
    }
    EXPECT_EQ(sides, (std::vector<int>{16, 32, 48, 256}));
    // Windows picks and decodes an image of each size.
    for (int side : {16, 32, 48, 256}) {
        auto* icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, side, side, 0));
        EXPECT_NE(icon, nullptr) << side;
        if (icon)
            DestroyIcon(icon);
    }
}

} // namespace
