// Sharing of a definition file being read: others may read it meanwhile, but
// a file someone holds open for writing, or locks, is not read.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace keystrip;
using keystrip::testing_support::Bytes;
using keystrip::testing_support::TempDir;
using keystrip::testing_support::WriteBytes;

namespace {

class OpenHandle {
public:
    OpenHandle(const std::u16string& name, DWORD access, DWORD share)
        : handle_(::CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), access, share,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;
    ~OpenHandle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

struct HolderRow {
    const char* label;
    DWORD access, share;
    bool readable;
};

class SharingTest : public testing::TestWithParam<HolderRow> {};

TEST_P(SharingTest, ReadsOnlyWhatNoOneMayWriteMeanwhile) {
    TempDir dir;
    const auto file = dir.File(u"held.json");
    WriteBytes(file, Bytes("{}"));
    OpenHandle holder(file, GetParam().access, GetParam().share);
    ASSERT_TRUE(holder.Valid());
    if (GetParam().readable) {
        EXPECT_EQ(platform::ReadFileBytes(file), Bytes("{}"));
        return;
    }
    try {
        platform::ReadFileBytes(file);
        FAIL() << "read a file held by another";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(Utf16ToUtf8(file)), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SharingTest,
    testing::Values(HolderRow{"Reader", GENERIC_READ, FILE_SHARE_READ, true},
                    HolderRow{"ReaderSharingAll", GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
                    HolderRow{"Writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
                    HolderRow{"Exclusive", GENERIC_READ, 0, false}),
    [](const testing::TestParamInfo<HolderRow>& info) { return std::string(info.param.label); });

TEST(SharingTest, ReplacingAFileHeldOpenFailsNamingIt) {
    TempDir dir;
    const auto file = dir.File(u"held.json");
    WriteBytes(file, Bytes("{}"));
    OpenHandle holder(file, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(holder.Valid());
    try {
        platform::WriteFileBytes(file, "x");
        FAIL() << "replaced a file held by another";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(Utf16ToUtf8(file)), std::string::npos) << e.what();
    }
}

} // namespace
