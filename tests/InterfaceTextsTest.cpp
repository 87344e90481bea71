#include "app/InterfaceTexts.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "platform/ByteStream.h"
#include "platform/EmbeddedResources.h"
#include "platform/Resources.h"
#include "platform/doubles/FakeResources.h"
#include "resources/ShippedResources.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

using namespace keystrip;

namespace {

std::string Show(const std::u16string& text) {
    return Utf16ToUtf8(text);
}

// --- Lookups -------------------------------------------------------------------

// The shipped layout, plus the awkward lines the parser must cope with.
const std::vector<std::u16string> kLines = {
    u"Orphan=before any section",
    u"[MainForm]",
    u"EulaAcceptButton=&Accept",
    u"  EulaExitButton   =   &Exit   ",
    u"\tProductsLabel1\x01=\x1F"
    u"Please choose\x7F",
    u"Equation=a=b=c",
    u"Duplicate=first",
    u"Duplicate=second",
    u"; Commented=never found",
    u"   ;Indented=comment too",
    u"NoEqualsHere",
    u"Empty=",
    u"Blank =    ",
    u"[Broken=still an entry of MainForm",
    u"Broken]=also an entry",
    u"My Key = spaced key",
    u"=nameless",
    u"",
    u"[  Texts  ]",
    u"Text01=%s. Please wait. This might take some time...",
    u"Text02=An unknown error occurred. Error code: %d.",
    u"[MainForm]",
    u"OnlyInSecond=shadowed",
    u"[\u00DCbersicht]",
    u"\u00C4nderung=umlauts",
    u"[]",
    u"InEmptySection=yes",
};

struct LookupRow {
    const char* name;
    std::u16string section, ident, expected; // default is "DEF"
};

void PrintTo(const LookupRow& row, std::ostream* os) {
    *os << row.name;
}

class InterfaceTextsLookupTest : public testing::TestWithParam<LookupRow> {};

TEST_P(InterfaceTextsLookupTest, FindsTheFirstMatchingEntry) {
    const auto& row = GetParam();
    TInterfaceTexts texts;
    texts.SetStrings(kLines);
    EXPECT_EQ(Show(texts.ReadString(row.section, row.ident, u"DEF")), Show(row.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, InterfaceTextsLookupTest,
    testing::Values(
        LookupRow{"Exact", u"MainForm", u"EulaAcceptButton", u"&Accept"},
        LookupRow{"SectionLowerCase", u"mainform", u"EulaAcceptButton", u"&Accept"},
        LookupRow{"SectionUpperCase", u"MAINFORM", u"EulaAcceptButton", u"&Accept"},
        LookupRow{"KeyLowerCase", u"MainForm", u"eulaacceptbutton", u"&Accept"},
        LookupRow{"KeyUpperCase", u"MainForm", u"EULAACCEPTBUTTON", u"&Accept"},
        LookupRow{"BlanksAroundEqualsTrimmed", u"MainForm", u"EulaExitButton", u"&Exit"},
        LookupRow{"ControlCodesTrimmedButNotDelete", u"MainForm", u"ProductsLabel1",
                  u"Please choose\x7F"},
        LookupRow{"FurtherEqualsKept", u"MainForm", u"Equation", u"a=b=c"},
        LookupRow{"FirstOfTwoKeys", u"MainForm", u"Duplicate", u"first"},
        LookupRow{"CommentNotFound", u"MainForm", u"; Commented", u"DEF"},
        LookupRow{"CommentKeyNotFound", u"MainForm", u"Commented", u"DEF"},
        LookupRow{"IndentedCommentNotFound", u"MainForm", u";Indented", u"DEF"},
        LookupRow{"LineWithoutEqualsUnreachable", u"MainForm", u"NoEqualsHere", u"DEF"},
        LookupRow{"EmptyValueIsNotTheDefault", u"MainForm", u"Empty", u""},
        LookupRow{"BlankValueIsEmpty", u"MainForm", u"Blank", u""},
        LookupRow{"OpenBracketLineIsAnEntry", u"MainForm", u"[Broken",
                  u"still an entry of MainForm"},
        LookupRow{"CloseBracketLineIsAnEntry", u"MainForm", u"Broken]", u"also an entry"},
        LookupRow{"InnerBlanksOfKeyKept", u"MainForm", u"My Key", u"spaced key"},
        LookupRow{"InnerBlanksOfKeyMatter", u"MainForm", u"MyKey", u"DEF"},
        LookupRow{"KeyIsNotTrimmedOnLookup", u"MainForm", u" My Key", u"DEF"},
        LookupRow{"EmptyKey", u"MainForm", u"", u"nameless"},
        LookupRow{"SectionNameTrimmed", u"Texts", u"Text01",
                  u"%s. Please wait. This might take some time..."},
        LookupRow{"SecondSection", u"texts", u"TEXT02",
                  u"An unknown error occurred. Error code: %d."},
        LookupRow{"KeyOfOtherSection", u"Texts", u"EulaAcceptButton", u"DEF"},
        LookupRow{"SecondSectionOfSameNameShadowed", u"MainForm", u"OnlyInSecond", u"DEF"},
        LookupRow{"EntryBeforeFirstSectionDropped", u"", u"Orphan", u"DEF"},
        LookupRow{"MissingSection", u"Nowhere", u"Text01", u"DEF"},
        LookupRow{"MissingKey", u"Texts", u"Text03", u"DEF"},
        LookupRow{"SectionCaseBeyondAscii", u"\u00FCBERSICHT", u"\u00E4NDERUNG", u"umlauts"},
        LookupRow{"EmptySectionName", u"", u"InEmptySection", u"yes"},
        LookupRow{"BracketsAreNotPartOfTheName", u"[Texts]", u"Text01", u"DEF"}),
    [](const testing::TestParamInfo<LookupRow>& info) { return std::string(info.param.name); });

TEST(InterfaceTextsTest, StoresEntriesAsKeyEqualsValueInLineOrder) {
    TInterfaceTexts texts;
    texts.SetStrings(kLines);
    ASSERT_EQ(texts.SectionCount(), 5);
    EXPECT_EQ(Show(texts.SectionName(0)), "MainForm");
    EXPECT_EQ(Show(texts.SectionName(1)), "Texts");
    EXPECT_EQ(Show(texts.SectionName(2)), "MainForm");
    EXPECT_EQ(Show(texts.SectionName(4)), "");
    const std::vector<std::u16string> mainForm = {u"EulaAcceptButton=&Accept",
                                                  u"EulaExitButton=&Exit",
                                                  u"ProductsLabel1=Please choose\x7F",
                                                  u"Equation=a=b=c",
                                                  u"Duplicate=first",
                                                  u"Duplicate=second",
                                                  u"NoEqualsHere",
                                                  u"Empty=",
                                                  u"Blank=",
                                                  u"[Broken=still an entry of MainForm",
                                                  u"Broken]=also an entry",
                                                  u"My Key=spaced key",
                                                  u"=nameless"};
    EXPECT_EQ(texts.SectionEntries(0), mainForm);
    EXPECT_THROW(texts.SectionName(5), EListError);
}

TEST(InterfaceTextsTest, SetStringsReplacesEverything) {
    TInterfaceTexts texts;
    texts.SetStrings(kLines);
    texts.SetStrings({u"[Texts]", u"Text03=new"});
    EXPECT_EQ(texts.SectionCount(), 1);
    EXPECT_EQ(Show(texts.ReadString(u"Texts", u"Text03", u"")), "new");
    EXPECT_EQ(Show(texts.ReadString(u"Texts", u"Text01", u"%s")), "%s");
    texts.SetStrings({});
    EXPECT_EQ(texts.SectionCount(), 0);
    EXPECT_EQ(Show(texts.ReadString(u"Texts", u"Text03", u"gone")), "gone");
}

TEST(InterfaceTextsTest, EmptyStoreGivesDefaults) {
    const TInterfaceTexts texts;
    EXPECT_EQ(Show(texts.ReadString(u"MainForm", u"EulaAcceptButton", u"")), "");
    EXPECT_EQ(Show(texts.ReadString(u"Texts", u"Text02", u"%d")), "%d");
}

// --- Loading bytes -------------------------------------------------------------

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text, bool bigEndian) {
    std::vector<uint8_t> bytes =
        bigEndian ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
    for (char16_t c : text) {
        const auto lo = static_cast<uint8_t>(c & 0xFF);
        const auto hi = static_cast<uint8_t>(c >> 8);
        bytes.push_back(bigEndian ? hi : lo);
        bytes.push_back(bigEndian ? lo : hi);
    }
    return bytes;
}

struct LoadRow {
    const char* name;
    std::vector<uint8_t> bytes;
    std::u16string ident; // looked up in section S, default "DEF"
    std::u16string expected;
};

void PrintTo(const LoadRow& row, std::ostream* os) {
    *os << row.name;
}

class InterfaceTextsLoadTest : public testing::TestWithParam<LoadRow> {};

TEST_P(InterfaceTextsLoadTest, DecodesAndSplits) {
    const auto& row = GetParam();
    TInterfaceTexts texts;
    texts.LoadFromBytes(row.bytes);
    EXPECT_EQ(Show(texts.ReadString(u"S", row.ident, u"DEF")), Show(row.expected));

    // The same through a stream.
    platform::MemoryStream stream(row.bytes);
    TInterfaceTexts streamed;
    streamed.LoadFromStream(stream);
    EXPECT_EQ(Show(streamed.ReadString(u"S", row.ident, u"DEF")), Show(row.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, InterfaceTextsLoadTest,
    testing::Values(
        LoadRow{"AsciiCrLfNoFinalBreak", Bytes("[S]\r\nA=1\r\n\r\n[T]\r\nB=2"), u"A", u"1"},
        LoadRow{"LastLineWithoutBreak", Bytes("[S]\r\nA=1\r\nB=2"), u"B", u"2"},
        LoadRow{"LoneLf", Bytes("[S]\nA=1\nB=2\n"), u"B", u"2"},
        LoadRow{"LoneCr", Bytes("[S]\rA=1\rB=2"), u"B", u"2"},
        LoadRow{"LfCrIsTwoBreaks", Bytes("[S]\n\rA=1"), u"A", u"1"},
        LoadRow{"NoMarkIsAnsi", Bytes("[S]\r\nA=\xFC\x80"), u"A", u"\u00FC\u20AC"},
        LoadRow{"Utf8Mark", Bytes("\xEF\xBB\xBF[S]\r\nA=\xC3\xBC\xE2\x82\xAC"), u"A",
                u"\u00FC\u20AC"},
        LoadRow{"Utf8MarkIsNotPartOfTheFirstLine", Bytes("\xEF\xBB\xBF[S]\r\nA=1"), u"A", u"1"},
        LoadRow{"MarkOnlyInAnsiPositionIsText",
                Bytes("[S]\r\n\xEF\xBB\xBF"
                      "A=1"),
                u"A", u"DEF"},
        LoadRow{"Utf16LittleEndian", Utf16Bytes(u"[S]\r\nA=\u00FC\u20AC\u4E2D", false), u"A",
                u"\u00FC\u20AC\u4E2D"},
        LoadRow{"Utf16BigEndian", Utf16Bytes(u"[S]\r\nA=\u00FC\u20AC\u4E2D", true), u"A",
                u"\u00FC\u20AC\u4E2D"},
        LoadRow{"NulEndsTheText", Bytes(std::string("[S]\r\nA=1\r\n\0B=2", 14)), u"B", u"DEF"},
        LoadRow{"NulInsideALineCutsIt",
                Bytes(std::string("[S]\r\nA=1\0"
                                  "23",
                                  11)),
                u"A", u"1"},
        LoadRow{"NulInUtf16EndsTheText", Utf16Bytes(std::u16string(u"[S]\nA=1\0\nB=2", 12), false),
                u"B", u"DEF"},
        LoadRow{"Utf16MarkOnly", {0xFF, 0xFE}, u"A", u"DEF"}, LoadRow{"Empty", {}, u"A", u"DEF"}),
    [](const testing::TestParamInfo<LoadRow>& info) { return std::string(info.param.name); });

// --- Loading from the resources ------------------------------------------------

TEST(InterfaceTextsTest, LoadsTheTextsResourceByName) {
    platform::FakeResources resources;
    resources.Add(u"ZOLVASTRINGS", std::string("[Texts]\r\nText03=Checking"));
    resources.Add(u"OTHER", std::string("[Texts]\r\nText03=wrong"));
    TInterfaceTexts texts;
    EXPECT_TRUE(texts.LoadFromResources(resources));
    EXPECT_EQ(resources.OpenCount(u"ZOLVASTRINGS"), 1);
    EXPECT_EQ(resources.OpenCount(u"OTHER"), 0);
    EXPECT_EQ(resources.LiveStreams(), 0);
    EXPECT_EQ(Show(texts.ReadString(u"Texts", u"Text03", u"")), "Checking");
}

TEST(InterfaceTextsTest, MissingResourceLeavesTheStoreAlone) {
    platform::FakeResources resources;
    TInterfaceTexts texts;
    EXPECT_FALSE(texts.LoadFromResources(resources));
    EXPECT_EQ(texts.SectionCount(), 0);
    EXPECT_EQ(Show(texts.ReadString(u"Texts", u"Text02", u"%d")), "%d");
}

TEST(InterfaceTextsTest, UnreadableResourceIsAnErrorForTheCaller) {
    platform::FakeResources resources;
    resources.AddBroken(u"ZOLVASTRINGS");
    TInterfaceTexts texts;
    EXPECT_THROW(texts.LoadFromResources(resources), EInOutError);
    EXPECT_EQ(resources.LiveStreams(), 0);
}

TEST(InterfaceTextsTest, ShippedTextsComposeTheWindowsMessages) {
    platform::EmbeddedResources shipped(resources::ShippedFiles());
    TInterfaceTexts texts;
    ASSERT_TRUE(texts.LoadFromResources(shipped));
    EXPECT_EQ(Show(texts.ReadString(u"MainForm", u"EulaAcceptButton", u"")), "&Accept");
    EXPECT_EQ(Show(texts.ReadString(u"mainform", u"ERRORCLOSEBUTTON", u"")), "&Close");
    const std::u16string step = texts.ReadString(u"Texts", u"Text03", u"");
    EXPECT_EQ(Show(FormatString(texts.ReadString(u"Texts", u"Text01", u"%s"), step)),
              "Checking your system for installed Zolva products. Please wait. This might take "
              "some time...");
    EXPECT_EQ(Show(FormatInteger(texts.ReadString(u"Texts", u"Text02", u"%d"), 1003)),
              "An unknown error occurred. Error code: 1003.");
    // The messages the window shows without an argument are there as well.
    for (const char16_t* key : {u"Text03", u"Text04", u"Text05", u"Text06", u"Text07"})
        EXPECT_NE(texts.ReadString(u"Texts", key, u""), u"");
}

// --- Formatting ----------------------------------------------------------------

struct FormatRow {
    std::u16string format;
    bool integer;        // which argument the row passes
    std::u16string text; // the string argument
    int32_t number;      // the integer argument
    bool fails;
    std::u16string expected;
};

void PrintTo(const FormatRow& row, std::ostream* os) {
    *os << Show(row.format);
}

FormatRow S(std::u16string format, std::u16string arg, std::u16string expected) {
    return {std::move(format), false, std::move(arg), 0, false, std::move(expected)};
}
FormatRow SFails(std::u16string format) {
    return {std::move(format), false, u"X", 0, true, {}};
}
FormatRow I(std::u16string format, int32_t arg, std::u16string expected) {
    return {std::move(format), true, {}, arg, false, std::move(expected)};
}
FormatRow IFails(std::u16string format) {
    return {std::move(format), true, {}, 7, true, {}};
}

class FormatTest : public testing::TestWithParam<FormatRow> {};

TEST_P(FormatTest, FormatsOrFails) {
    const auto& row = GetParam();
    auto run = [&] {
        return row.integer ? FormatInteger(row.format, row.number)
                           : FormatString(row.format, row.text);
    };
    if (row.fails) {
        EXPECT_THROW(run(), EFormatError);
    } else {
        EXPECT_EQ(Show(run()), Show(row.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatTest,
    testing::Values(S(u"%s. Please wait. This might take some time...", u"Checking your system",
                      u"Checking your system. Please wait. This might take some time..."),
                    S(u"%s", u"", u""), S(u"%s. Please wait", u"", u". Please wait"),
                    S(u"Please wait", u"ignored", u"Please wait"), S(u"", u"ignored", u""),
                    S(u"100%% of %s", u"keys", u"100% of keys"), S(u"%%s", u"X", u"%s"),
                    S(u"%s", u"%s%d%%", u"%s%d%%"), // the argument is never a format
                    S(u"%S!", u"up", u"up!"), S(u"[%0:s|%0:s]", u"r", u"[r|r]"),
                    S(u"[%6s]", u"abc", u"[   abc]"), S(u"[%-6s]", u"abc", u"[abc   ]"),
                    S(u"[%2s]", u"abcdef", u"[abcdef]"), S(u"[%.2s]", u"abcdef", u"[ab]"),
                    S(u"[%-5.2s]", u"abcdef", u"[ab   ]"), S(u"[%.0s]", u"abc", u"[]"),
                    S(u"[%.1s]", u"\U0001F600z", u"[]"), // never half a surrogate pair
                    S(u"\u00C4 %s \u20AC", u"\u00FC", u"\u00C4 \u00FC \u20AC"),
                    SFails(u"%s and %s"), SFails(u"%0:s %s"), SFails(u"%1:s"), SFails(u"%d"),
                    SFails(u"%u"), SFails(u"%x"), SFails(u"%f"), SFails(u"%p"), SFails(u"%q"),
                    SFails(u"%*s"), SFails(u"%.*s"), SFails(u"%"), SFails(u"Done %"), SFails(u"%5"),
                    SFails(u"%-"), SFails(u"%0:"), SFails(u"%99999999s"), SFails(u"%.99999999s"),
                    SFails(u"%99999999999999999999:s"),
                    I(u"An unknown error occurred. Error code: %d.", 1003,
                      u"An unknown error occurred. Error code: 1003."),
                    I(u"%d", 0, u"0"), I(u"%d", -5, u"-5"), I(u"%d", INT32_MAX, u"2147483647"),
                    I(u"%d", INT32_MIN, u"-2147483648"), I(u"Error", 1001, u"Error"),
                    I(u"%D", 12, u"12"), I(u"%%d %d%%", 3, u"%d 3%"), I(u"[%5d]", 42, u"[   42]"),
                    I(u"[%-5d]", 42, u"[42   ]"), I(u"[%.5d]", 42, u"[00042]"),
                    I(u"[%.5d]", -42, u"[-00042]"), I(u"[%8.5d]", -42, u"[  -00042]"),
                    I(u"%x", 255, u"FF"), I(u"%X", 1003, u"3EB"), I(u"%x", -1, u"FFFFFFFF"),
                    I(u"%u", -1, u"4294967295"), I(u"%.4x", 10, u"000A"),
                    I(u"%0:d/%0:x", 16, u"16/10"), IFails(u"%d %d"), IFails(u"%s"), IFails(u"%f"),
                    IFails(u"%e"), IFails(u"%g"), IFails(u"%n"), IFails(u"%m"), IFails(u"%*d"),
                    IFails(u"%1:d"), IFails(u"code %"), IFails(u"%.d %")),
    [](const testing::TestParamInfo<FormatRow>& info) {
        return "Row" + std::to_string(info.index);
    });

} // namespace
