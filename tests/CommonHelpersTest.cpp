#include "common/OwnedList.h"
#include "common/Sha256.h"
#include "common/TextCase.h"
#include "common/TextLines.h"
#include "common/Utf.h"
#include "platform/ByteStream.h"
#include "platform/TextDecoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace keystrip;
using namespace std::string_literals;

namespace {

// The published test vectors of FIPS 180-4 (and the NIST examples), each
// also added in pieces that cross the 64-byte blocks unevenly.
struct Sha256Row {
    std::string message;
    size_t repeat;
    std::string digest;
};

class Sha256Test : public testing::TestWithParam<Sha256Row> {};

TEST_P(Sha256Test, GivesThePublishedDigest) {
    const Sha256Row& row = GetParam();
    std::vector<uint8_t> whole;
    for (size_t i = 0; i < row.repeat; ++i)
        whole.insert(whole.end(), row.message.begin(), row.message.end());
    EXPECT_EQ(DigestHex(Sha256(whole)), row.digest);
    TSha256 pieces;
    for (size_t at = 0, step = 1; at < whole.size(); at += step, step = step % 97 + 13)
        pieces.Add(whole.data() + at, std::min(step, whole.size() - at));
    EXPECT_EQ(DigestHex(pieces.Finish()), row.digest);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Sha256Test,
    testing::Values(
        Sha256Row{"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        Sha256Row{"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        Sha256Row{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        Sha256Row{"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                  "klmnopqrlmnopqrsmnopqrstnopqrstu",
                  1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        Sha256Row{"a", 1000000,
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

struct CaseRow {
    std::u16string a, b;
    bool same;
};

class AsciiSameTextTest : public testing::TestWithParam<CaseRow> {};

TEST_P(AsciiSameTextTest, FoldsOnlyAsciiLetters) {
    const auto& row = GetParam();
    EXPECT_EQ(AsciiSameText(row.a, row.b), row.same);
    EXPECT_EQ(AsciiSameText(row.b, row.a), row.same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AsciiSameTextTest,
    testing::Values(CaseRow{u"HKEY_LOCAL_MACHINE", u"hkey_local_machine", true},
                    CaseRow{u"KeyExist", u"KEYEXIST", true},
                    CaseRow{u"KeyExist ", u"KeyExist", false},    // nothing is trimmed
                    CaseRow{u"\u00C4rger", u"\u00E4rger", false}, // only A..Z fold
                    CaseRow{u"", u"", true}, CaseRow{u"a", u"", false},
                    CaseRow{u"[x]", u"[X]", true}, CaseRow{u"@", u"`", false}));

TEST(OwnedListTest, BadIndexFailsWithItsNumberAndChangesNothing) {
    OwnedList<int> list;
    list.Add(std::make_unique<int>(7));
    for (int bad : {-1, 1, 100}) {
        try {
            list.Get(bad);
            FAIL() << "no error for index " << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "List index out of bounds (" + std::to_string(bad) + ")");
        }
        EXPECT_THROW(list.Delete(bad), EListError);
    }
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(*list.Get(0), 7);
}

TEST(OwnedListTest, IndexOfIsByIdentityAndDeleteMovesLaterItemsUp) {
    OwnedList<int> list;
    int* a = list.Add(std::make_unique<int>(1));
    int* b = list.Add(std::make_unique<int>(1));
    int* c = list.Add(std::make_unique<int>(2));
    int other = 1;
    EXPECT_EQ(list.IndexOf(b), 1);
    EXPECT_EQ(list.IndexOf(&other), -1);
    list.Delete(0);
    EXPECT_EQ(list.IndexOf(a), -1);
    EXPECT_EQ(list.IndexOf(b), 0);
    EXPECT_EQ(list.IndexOf(c), 1);
}

TEST(TextLinesTest, SplitsAtEveryKindOfLineBreakAndStopsAtNul) {
    using Lines = std::vector<std::u16string>;
    EXPECT_EQ(SplitLines(u"a\r\nb\rc\nd"), (Lines{u"a", u"b", u"c", u"d"}));
    EXPECT_EQ(SplitLines(u"a\r\n"), (Lines{u"a"}));
    EXPECT_EQ(SplitLines(u"a\n\r\nb"), (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(SplitLines(u"\r\n"), (Lines{u""}));
    EXPECT_EQ(SplitLines(u""), Lines{});
    EXPECT_EQ(SplitLines(u"ab\0cd\nx"s), (Lines{u"ab"}));
    EXPECT_EQ(JoinLinesCrLf({u"a", u"b"}), u"a\r\nb\r\n");
    EXPECT_EQ(JoinLinesCrLf({}), u"");
}

TEST(UtfTest, RoundTripsAndReplacesWhatCannotBeRepresented) {
    const std::u16string text = u"A\u00DC\u20AC\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");           // overlong form
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
}

struct DecodeRow {
    std::vector<uint8_t> bytes;
    std::u16string text;
};

class DecodeTextTest : public testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeTextTest, MarkSelectsEncodingAndIsDropped) {
    EXPECT_EQ(platform::DecodeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeTextTest,
    testing::Values(DecodeRow{{0xEF, 0xBB, 0xBF, 'a', 0xC3, 0x9C}, u"a\u00DC"},
                    DecodeRow{{0xFF, 0xFE, 'a', 0, 0xDC, 0}, u"a\u00DC"},
                    DecodeRow{{0xFE, 0xFF, 0, 'a', 0, 0xDC}, u"a\u00DC"},
                    DecodeRow{{0xEF, 0xBB, 0xBF}, u""},
                    // Without a mark: the ANSI code page (Windows-1252 here and in Wine).
                    DecodeRow{{'a', 0x93, 0x95, 0x94, 0xFC}, u"a\u201C\u2022\u201D\u00FC"},
                    DecodeRow{{0xFF, 0xFE}, u""},
                    // A partial mark is no mark.
                    DecodeRow{{0xEF, 0xBB}, u"\u00EF\u00BB"}));

TEST(ByteStreamTest, ReadsFromCurrentPositionWithoutRewinding) {
    platform::MemoryStream stream({1, 2, 3, 4});
    stream.Seek(2);
    EXPECT_EQ(stream.ReadToEnd(), (std::vector<uint8_t>{3, 4}));
    EXPECT_EQ(stream.ReadToEnd(), std::vector<uint8_t>{});
    stream.Seek(-5);
    EXPECT_EQ(stream.Position(), 0);
    stream.Seek(99);
    EXPECT_EQ(stream.Position(), 4);
}

} // namespace
