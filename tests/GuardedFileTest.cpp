// The files an elevated run writes where others may have been first: links,
// hard links and planted files at the name are refused without a byte
// written anywhere; a file of our own is appended to, replaced, moved aside.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace keystrip;
using keystrip::testing_support::Bytes;
using keystrip::testing_support::ReadBytes;
using keystrip::testing_support::TempDir;
using keystrip::testing_support::WriteBytes;
namespace fs = std::filesystem;

namespace {

std::string Text(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

enum class Planted { HardLink, LinkToFile, LinkToNowhere, LinkedFolder, Folder, OthersFile };

struct RefusalRow {
    const char* name;
    Planted planted;
    const char* why; // part of the refusal's text
};

void PrintTo(const RefusalRow& row, std::ostream* os) {
    *os << row.name;
}

// A folder holding "victim.txt" (what a planted name would lead to) and a
// subfolder; the name the run is given is always "<dir>/logs/run.log", or
// "<dir>/linked/run.log" for a link on the way.
class GuardedFileRefusalTest : public testing::TestWithParam<RefusalRow> {
protected:
    // Plants the row's state; false when this system cannot make it.
    bool Plant() {
        fs::create_directories(Logs());
        WriteBytes(Victim(), Bytes("keep"));
        std::error_code error;
        switch (GetParam().planted) {
        case Planted::HardLink:
            fs::create_hard_link(Victim(), Logs() / "run.log", error);
            return !error;
        case Planted::LinkToFile:
            fs::create_symlink(Victim(), Logs() / "run.log", error);
            return !error && fs::is_symlink(Logs() / "run.log");
        case Planted::LinkToNowhere:
            fs::create_symlink(dir.Path() / "created-by-us.txt", Logs() / "run.log", error);
            return !error && fs::is_symlink(Logs() / "run.log");
        case Planted::LinkedFolder:
            fs::create_directory_symlink(Logs(), dir.Path() / "linked", error);
            return !error && fs::is_symlink(dir.Path() / "linked");
        case Planted::Folder:
            fs::create_directory(Logs() / "run.log");
            return true;
        case Planted::OthersFile:
#ifdef _WIN32
            return false;
#else
            WriteBytes(Logs() / "run.log", Bytes("theirs"));
            return ::chown((Logs() / "run.log").c_str(), 4321, 4321) == 0;
#endif
        }
        return false;
    }
    fs::path Logs() const {
        return dir.Path() / "logs";
    }
    fs::path Victim() const {
        return dir.Path() / "victim.txt";
    }
    std::u16string Name() const {
        return ((GetParam().planted == Planted::LinkedFolder ? dir.Path() / "linked" : Logs()) /
                "run.log")
            .u16string();
    }

    TempDir dir;
};

TEST_P(GuardedFileRefusalTest, RefusesWithoutWritingAnywhere) {
    // Wine 8 reports success for a symbolic link and makes none, and keeps
    // no owner but the running user's: those cases run natively (and the
    // end-to-end test plants links from outside Wine).
    if (!Plant())
        GTEST_SKIP() << "this system cannot plant that";
    try {
        platform::GuardedFile file(Name());
        FAIL() << "opened " << Utf16ToUtf8(file.Name());
    } catch (const platform::EFileRefused& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().why), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("run.log"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Text(Victim()), "keep");
    EXPECT_FALSE(fs::exists(dir.Path() / "created-by-us.txt"));
    EXPECT_FALSE(fs::exists(dir.Path() / "linked" / "run.log"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, GuardedFileRefusalTest,
    testing::Values(RefusalRow{"HardLink", Planted::HardLink, "2 hard links"},
                    RefusalRow{"LinkToFile", Planted::LinkToFile, "link"},
                    RefusalRow{"LinkToNowhere", Planted::LinkToNowhere, "link"},
                    RefusalRow{"LinkedFolder", Planted::LinkedFolder, "is a link"},
                    RefusalRow{"Folder", Planted::Folder, "folder"},
                    RefusalRow{"OthersFile", Planted::OthersFile, "belongs to"}),
    [](const testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

TEST(GuardedFileTest, CreatesAMissingFileThenAppendsAndReplaces) {
    TempDir dir;
    const fs::path path = dir.Path() / "new.log";
    {
        platform::GuardedFile file(path.u16string());
        EXPECT_TRUE(file.Created());
        EXPECT_EQ(file.Size(), 0u);
        file.Append("one\r\n");
        file.Append("two\r\n");
        EXPECT_EQ(file.Size(), 10u);
        EXPECT_EQ(Text(path), "one\r\ntwo\r\n");
        file.Replace("{}");
        EXPECT_EQ(file.Size(), 2u);
        EXPECT_EQ(Text(path), "{}");
    }
    platform::GuardedFile again(path.u16string());
    EXPECT_FALSE(again.Created());
    EXPECT_EQ(again.Size(), 2u);
    again.Append("+");
    EXPECT_EQ(Text(path), "{}+");
}

} // namespace
