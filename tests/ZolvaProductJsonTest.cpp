// The JSON document form of a product definition: reading rules, malformed
// documents, the exact written form, and reading from streams and files.
#include "definitions/ZolvaProduct.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "platform/ByteStream.h"
#include "platform/Files.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace keystrip;
using keystrip::testing_support::Bytes;
using keystrip::testing_support::ReadBytes;
using keystrip::testing_support::TempDir;
using keystrip::testing_support::WriteBytes;

namespace {

// A document with both rule lists, each holding one rule whose texts are all V.
std::string DocumentWithValue(const std::string& v) {
    return R"({"name": )" + v + R"(, "detection": [{"root": "HKEY_USERS", "key": )" + v +
           R"(, "name": )" + v + R"(, "value": )" + v + R"(, "action": "NameExist"}],)" +
           R"( "removal": [{"root": "HKEY_USERS", "key": )" + v + R"(, "name": )" + v +
           R"(, "action": "NameOnly"}]})";
}

// A literal with its NUL characters kept.
template <size_t N> std::u16string WithNul(const char16_t (&text)[N]) {
    return {text, N - 1};
}

std::string RepeatText(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

// --- Reading rules ------------------------------------------------------------

struct TextMemberRow {
    std::string json;        // the member's JSON value as written
    std::u16string expected; // the text it reads as
};

class TextMemberTest : public testing::TestWithParam<TextMemberRow> {};

TEST_P(TextMemberTest, ReadsStringsAsTheyAreAndOtherValuesAsCompactJson) {
    const auto& row = GetParam();
    TZolvaProduct product(u"before");
    product.LoadFromBuffer(U16(DocumentWithValue(row.json)));
    EXPECT_EQ(product.Name(), row.expected);
    ASSERT_EQ(product.DetectionCount(), 1);
    ASSERT_EQ(product.RemovalCount(), 1);
    const auto* d = product.Detections(0);
    EXPECT_EQ(d->Key, row.expected);
    EXPECT_EQ(d->Name, row.expected);
    EXPECT_EQ(d->Value, row.expected);
    EXPECT_EQ(d->Action, daNameExist);
    const auto* r = product.Removals(0);
    EXPECT_EQ(r->Key, row.expected);
    EXPECT_EQ(r->Name, row.expected);
    EXPECT_EQ(r->Action, raNameOnly);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextMemberTest,
    testing::Values(TextMemberRow{R"("plain")", u"plain"}, TextMemberRow{R"("")", u""},
                    TextMemberRow{R"("SOFTWARE\\X\/Y")", u"SOFTWARE\\X/Y"},
                    TextMemberRow{R"("\u00dcber \u00DC")", u"\u00DCber \u00DC"},
                    TextMemberRow{"\"\xC3\x9C raw\"", u"\u00DC raw"},
                    TextMemberRow{R"("\ud83d\ude00")", u"\U0001F600"},
                    TextMemberRow{R"("tab\there\r\n")", u"tab\there\r\n"},
                    TextMemberRow{R"("nul\u0000inside")", WithNul(u"nul\0inside")},
                    TextMemberRow{"5", u"5"}, TextMemberRow{"-12", u"-12"},
                    TextMemberRow{"1.5", u"1.5"},
                    // 64-bit integers keep every digit.
                    TextMemberRow{"12345678901234567890", u"12345678901234567890"},
                    TextMemberRow{"-9223372036854775808", u"-9223372036854775808"},
                    TextMemberRow{"true", u"true"}, TextMemberRow{"false", u"false"},
                    TextMemberRow{"null", u"null"},
                    TextMemberRow{R"({ "b" : [ 1, "x" ] })", u"{\"b\":[1,\"x\"]}"},
                    TextMemberRow{R"([ ])", u"[]"}, TextMemberRow{R"({})", u"{}"},
                    TextMemberRow{R"(["\u00dc/"])", u"[\"\u00DC/\"]"}));

TEST(ZolvaProductReadTest, AbsentMembersReadAsEmptyTextsAndOrdinalZero) {
    TZolvaProduct product(u"before");
    product.LoadFromBuffer(u"{\"detection\": [{}], \"removal\": [{}]}");
    EXPECT_EQ(product.Name(), u"");
    EXPECT_EQ(product.Version(), 0);
    ASSERT_EQ(product.DetectionCount(), 1);
    const auto* d = product.Detections(0);
    EXPECT_EQ(d->Root, rkClassesRoot);
    EXPECT_EQ(d->Key, u"");
    EXPECT_EQ(d->Name, u"");
    EXPECT_EQ(d->Value, u"");
    EXPECT_EQ(d->Action, daKeyExist);
    ASSERT_EQ(product.RemovalCount(), 1);
    EXPECT_EQ(product.Removals(0)->Root, rkClassesRoot);
    EXPECT_EQ(product.Removals(0)->Action, raCompleteKey);
}

TEST(ZolvaProductReadTest, EnumerationTextsAreReadCaseInsensitivelyAndMembersInAnyOrder) {
    TZolvaProduct product(u"before");
    product.LoadFromBuffer(U16(R"({"removal": [
        {"name": "Path", "action": "nameonly", "root": "hkey_current_user", "key": "A"},
        {"action": "Delete", "root": "HKLM", "key": "B"}],
      "detection": [{"action": "NAMEMATCHVALUE", "root": "Hkey_Local_Machine", "value": "v"},
                    {"action": "KeyExist ", "root": "HKEY_USERS"}],
      "creator": "ignored", "extra": [1, 2], "Name": "wrong case", "name": "right"})"));
    EXPECT_EQ(product.Name(), u"right");
    ASSERT_EQ(product.DetectionCount(), 2);
    EXPECT_EQ(product.Detections(0)->Root, rkLocalMachine);
    EXPECT_EQ(product.Detections(0)->Action, daNameMatchValue);
    EXPECT_EQ(product.Detections(0)->Value, u"v");
    EXPECT_EQ(product.Detections(1)->Root, rkUsers);
    EXPECT_EQ(product.Detections(1)->Action, daKeyExist);
    ASSERT_EQ(product.RemovalCount(), 2);
    EXPECT_EQ(product.Removals(0)->Root, rkCurrentUser);
    EXPECT_EQ(product.Removals(0)->Action, raNameOnly);
    EXPECT_EQ(product.Removals(0)->Name, u"Path");
    EXPECT_EQ(product.Removals(1)->Root, rkClassesRoot);
    EXPECT_EQ(product.Removals(1)->Action, raCompleteKey);
}

struct VersionRow {
    std::string json; // empty: no "version" member
    int32_t expected;
};

class VersionTest : public testing::TestWithParam<VersionRow> {};

TEST_P(VersionTest, ReadsTheVersionByItsRules) {
    const auto& row = GetParam();
    std::string doc = R"({"detection": [], "removal": [])";
    if (!row.json.empty())
        doc += R"(, "version": )" + row.json;
    doc += "}";
    TZolvaProduct product(u"P");
    product.LoadFromBuffer(U16(doc));
    EXPECT_EQ(product.Version(), row.expected) << row.json;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionTest,
    testing::Values(
        VersionRow{"7", 7}, VersionRow{"", 0}, VersionRow{"-3", -3}, VersionRow{"0", 0},
        VersionRow{"null", 0}, VersionRow{"{}", 0}, VersionRow{"[7]", 0},
        VersionRow{R"({"version": 7})", 0}, VersionRow{"true", 1}, VersionRow{"false", 0},
        // strings: an integer is read, anything else is 0
        VersionRow{R"("12")", 12}, VersionRow{R"("-12")", -12}, VersionRow{R"("+4")", 4},
        VersionRow{R"("")", 0}, VersionRow{R"("-")", 0}, VersionRow{R"(" 7")", 0},
        VersionRow{R"("7 ")", 0}, VersionRow{R"("1.5")", 0}, VersionRow{R"("0x10")", 0},
        VersionRow{R"("1e3")", 0}, VersionRow{R"("seven")", 0}, VersionRow{R"("4294967298")", 2},
        // fractions round to the nearest integer, halves to the even one
        VersionRow{"2.5", 2}, VersionRow{"3.5", 4}, VersionRow{"-2.5", -2}, VersionRow{"-3.5", -4},
        VersionRow{"0.5", 0}, VersionRow{"1.5", 2}, VersionRow{"2.4999", 2},
        VersionRow{"2.5001", 3}, VersionRow{"-0.4", 0}, VersionRow{"7.0", 7},
        VersionRow{"1e2", 100},
        // outside the 32-bit range: the low 32 bits
        VersionRow{"2147483647", 2147483647}, VersionRow{"2147483648", -2147483647 - 1},
        VersionRow{"4294967297", 1}, VersionRow{"-2147483649", 2147483647},
        VersionRow{"-4294967296", 0}, VersionRow{"18446744073709551615", -1},
        VersionRow{"9223372036854775807", -1}, VersionRow{"12345678901234567890", -350287150},
        VersionRow{"-9223372036854775807", 1}, VersionRow{"1e20", 1661992960},
        VersionRow{"4294967296.5", 0}, VersionRow{"-1e300", 0}));

struct RuleListRow {
    std::string detection, removal; // the JSON values of the two members
    int detections, removals;
};

class RuleListTest : public testing::TestWithParam<RuleListRow> {};

TEST_P(RuleListTest, OnlyArraysAndObjectsHoldRules) {
    const auto& row = GetParam();
    TZolvaProduct product(u"P");
    product.AddDetection(rkUsers, u"old", u"", u"", daNameExist);
    product.LoadFromBuffer(
        U16(R"({"detection": )" + row.detection + R"(, "removal": )" + row.removal + "}"));
    EXPECT_EQ(product.DetectionCount(), row.detections);
    EXPECT_EQ(product.RemovalCount(), row.removals);
    // Whatever the elements were, no old rule survives and unreadable ones are empty.
    for (int i = 0; i < product.DetectionCount(); ++i)
        EXPECT_NE(product.Detections(i)->Key, u"old");
}

INSTANTIATE_TEST_SUITE_P(
    Table, RuleListTest,
    testing::Values(RuleListRow{"[]", "[]", 0, 0}, RuleListRow{R"("x")", "5", 0, 0},
                    RuleListRow{"true", "null", 0, 0}, RuleListRow{"false", "1.5", 0, 0},
                    RuleListRow{R"([{}, {}, {}])", R"([{}])", 3, 1},
                    RuleListRow{R"([1, "a", null, [], true])", R"([[{"key": "x"}]])", 5, 1},
                    RuleListRow{R"({"b": {"key": "B"}, "a": {"key": "A"}})", "{}", 2, 0}));

TEST(ZolvaProductReadTest, ANonObjectRuleReadsAsARuleWithEmptyTexts) {
    TZolvaProduct product(u"P");
    product.LoadFromBuffer(
        u"{\"detection\": [\"HKEY_USERS\", 3], \"removal\": [[\"HKEY_USERS\", \"K\"]]}");
    ASSERT_EQ(product.DetectionCount(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(product.Detections(i)->Root, rkClassesRoot);
        EXPECT_EQ(product.Detections(i)->Key, u"");
        EXPECT_EQ(product.Detections(i)->Action, daKeyExist);
    }
    ASSERT_EQ(product.RemovalCount(), 1);
    EXPECT_EQ(product.Removals(0)->Key, u"");
    EXPECT_EQ(product.Removals(0)->Action, raCompleteKey);
}

TEST(ZolvaProductReadTest, AnEmptyBufferLeavesTheProductAsItWas) {
    TZolvaProduct product(u"Kept");
    product.AddDetection(rkUsers, u"K", u"", u"", daKeyExist);
    product.LoadFromBuffer(u"");
    EXPECT_EQ(product.Name(), u"Kept");
    EXPECT_EQ(product.Version(), 1);
    EXPECT_EQ(product.DetectionCount(), 1);
}

TEST(ZolvaProductReadTest, TrailingWhiteSpaceAndLineBreaksAreAccepted) {
    TZolvaProduct product(u"P");
    product.LoadFromBuffer(
        u"\r\n \t{\"name\": \"N\", \"detection\": [],\r\n\"removal\": []}\r\n\r\n \t\n");
    EXPECT_EQ(product.Name(), u"N");
}

TEST(ZolvaProductReadTest, ALoadReplacesTheRulesOfAnEarlierLoad) {
    TZolvaProduct product(u"P");
    product.LoadFromBuffer(u"{\"detection\": [{}, {}], \"removal\": [{}], \"version\": 3}");
    product.LoadFromBuffer(
        u"{\"detection\": [{\"key\": \"K\"}], \"removal\": [], \"name\": \"Q\"}");
    EXPECT_EQ(product.Name(), u"Q");
    EXPECT_EQ(product.Version(), 0);
    ASSERT_EQ(product.DetectionCount(), 1);
    EXPECT_EQ(product.Detections(0)->Key, u"K");
    EXPECT_EQ(product.RemovalCount(), 0);
}

// --- Documents that cannot be read ----------------------------------------------

TEST(ZolvaProductReadTest, AMissingRemovalFailsAfterTheEarlierStepsRan) {
    TZolvaProduct product(u"before");
    product.AddRemoval(rkUsers, u"old", u"", raCompleteKey);
    EXPECT_THROW(product.LoadFromBuffer(U16(R"({"name": "N", "version": 4,
        "detection": [{"key": "A"}, {"key": "B"}]})")),
                 EParseError);
    EXPECT_EQ(product.Name(), u"N");
    EXPECT_EQ(product.Version(), 4);
    ASSERT_EQ(product.DetectionCount(), 2);
    EXPECT_EQ(product.Detections(1)->Key, u"B");
    EXPECT_EQ(product.RemovalCount(), 0);
}

TEST(ZolvaProductReadTest, AMissingDetectionFailsBeforeAnyRuleIsAdded) {
    TZolvaProduct product(u"before");
    product.AddDetection(rkUsers, u"old", u"", u"", daKeyExist);
    EXPECT_THROW(product.LoadFromBuffer(u"{\"name\": \"N\", \"removal\": [{}]}"), EParseError);
    EXPECT_EQ(product.Name(), u"N");
    EXPECT_EQ(product.DetectionCount(), 0);
    EXPECT_EQ(product.RemovalCount(), 0);
}

struct MalformedRow {
    const char* label;
    std::u16string text;
};

class MalformedTest : public testing::TestWithParam<MalformedRow> {};

TEST_P(MalformedTest, FailsWithAParseErrorAndClearedRules) {
    TZolvaProduct product(u"before");
    product.AddDetection(rkUsers, u"old", u"", u"", daKeyExist);
    product.AddRemoval(rkUsers, u"old", u"", raCompleteKey);
    EXPECT_THROW(product.LoadFromBuffer(GetParam().text), EParseError);
    EXPECT_EQ(product.DetectionCount(), 0);
    EXPECT_EQ(product.RemovalCount(), 0);
}

const std::u16string kValid = u"{\"name\": \"N\", \"detection\": [], \"removal\": []}";

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedTest,
    testing::Values(
        MalformedRow{"NotJson", u"hello"}, MalformedRow{"LineBreakOnly", u"\r\n"},
        MalformedRow{"Blanks", u"   "}, MalformedRow{"OpenBrace", u"{"},
        MalformedRow{"TopLevelArray", u"[{\"detection\": [], \"removal\": []}]"},
        MalformedRow{"TopLevelString", u"\"detection removal\""},
        MalformedRow{"TopLevelNull", u"null"}, MalformedRow{"EmptyObject", u"{}"},
        MalformedRow{"MemberNamesCaseDiffer", u"{\"Detection\": [], \"Removal\": []}"},
        MalformedRow{"TextAfterDocument", kValid + u" x"},
        MalformedRow{"SecondDocument", kValid + kValid},
        MalformedRow{"Comment", u"// c\r\n" + kValid},
        MalformedRow{"SingleQuotes", u"{'detection': [], 'removal': []}"},
        MalformedRow{"UnquotedNames", u"{detection: [], removal: []}"},
        MalformedRow{"TrailingComma", u"{\"detection\": [], \"removal\": [],}"},
        MalformedRow{"BadEscape", u"{\"name\": \"\\x41\", \"detection\": [], \"removal\": []}"},
        MalformedRow{"RawControlInString",
                     u"{\"name\": \"a\tb\", \"detection\": [], \"removal\": []}"},
        MalformedRow{"NulBeforeEnd", WithNul(u"{\"detection\": [], \0\"removal\": []}")},
        MalformedRow{"NumberOverflow", u"{\"version\": 1e400, \"detection\": [], \"removal\": []}"},
        MalformedRow{"LoneHighSurrogate",
                     u"{\"name\": \"a\xD800z\", \"detection\": [], \"removal\": []}"},
        MalformedRow{"LoneLowSurrogate",
                     u"{\"name\": \"\xDC00\", \"detection\": [], \"removal\": []}"},
        MalformedRow{"SurrogateAtEnd", kValid + u"\xD83D"},
        MalformedRow{"SwappedPair",
                     u"{\"name\": \"\xDE00\xD83D\", \"detection\": [], \"removal\": []}"},
        MalformedRow{"EscapedLoneSurrogate",
                     u"{\"name\": \"\\ud800\", \"detection\": [], \"removal\": []}"},
        MalformedRow{"DeepOpenArrays", U16(RepeatText("[", 200000))},
        MalformedRow{"DeepClosedArrays", U16(RepeatText("[", 100000) + RepeatText("]", 100000))},
        MalformedRow{"DeepObjectsInName",
                     U16(R"({"detection": [], "removal": [], "name": )" +
                         RepeatText(R"({"a":)", 50000) + "1" + RepeatText("}", 50000) + "}")}),
    [](const testing::TestParamInfo<MalformedRow>& info) { return std::string(info.param.label); });

TEST(ZolvaProductReadTest, EveryTruncationOfADocumentFails) {
    const std::u16string doc =
        U16(R"({"name": "Zolva \u00dc", "version": 2.5, "detection": [)"
            R"({"root": "HKEY_LOCAL_MACHINE", "key": "A\\B", "action": "KeyExist"}],)"
            R"( "removal": [{"key": "C", "name": null}]})");
    TZolvaProduct product(u"P");
    ASSERT_NO_THROW(product.LoadFromBuffer(doc));
    for (size_t n = 1; n < doc.size(); ++n)
        EXPECT_THROW(product.LoadFromBuffer(doc.substr(0, n)), EParseError) << n;
}

TEST(ZolvaProductReadTest, NestingWellWithinTheBoundIsRead) {
    const int depth = 100;
    TZolvaProduct product(u"P");
    product.LoadFromBuffer(U16(R"({"detection": [], "removal": [], "name": )" +
                               RepeatText("[", depth) + RepeatText("]", depth) + "}"));
    EXPECT_EQ(product.Name(), U16(RepeatText("[", depth) + RepeatText("]", depth)));
}

// --- The written form ------------------------------------------------------------

std::u16string DataFile(const char* leaf) {
    return U16(std::string(KEYSTRIP_TEST_DATA) + (KEYSTRIP_TEST_DATA[0] == '/' ? "/" : "\\") +
               leaf);
}

std::vector<uint8_t> DataBytes(const char* leaf) {
    return platform::ReadFileBytes(DataFile(leaf));
}

void AddSampleRules(TZolvaProduct& product, bool withRemoval) {
    product.AddDetection(rkLocalMachine, u"SOFTWARE\\Zolva\\Reader/2", u"", u"", daKeyExist);
    product.AddDetection(rkCurrentUser, u"Software\\Zolva\\Reader", u"Install Path",
                         u"C:\\Program Files\\Zolva", daNameMatchValue);
    if (withRemoval)
        product.AddRemoval(rkClassesRoot, u"CLSID\\{8A1F3C52-6D0E-4B7A-9C21-3E5F7A9B0C4D}", u"",
                           raCompleteKey);
}

const std::u16string kSampleName = u"Zolva Reader \u00DCber";
const std::u16string kCreator = u"Keystrip test writer 1.0";

TEST(ZolvaProductWriteTest, WritesTheDocumentFormByteForByte) {
    TempDir dir;
    TZolvaProduct product(kSampleName);
    AddSampleRules(product, true);
    const auto file = dir.File(u"saved.json");
    product.SaveToFile(file, kCreator);
    EXPECT_EQ(ReadBytes(file), DataBytes("ProductSaved.json"));
}

TEST(ZolvaProductWriteTest, WritesAnEmptyRemovalListAsTwoBrackets) {
    TempDir dir;
    TZolvaProduct product(kSampleName);
    AddSampleRules(product, false);
    const auto file = dir.File(u"saved.json");
    product.SaveToFile(file, kCreator);
    EXPECT_EQ(ReadBytes(file), DataBytes("ProductSavedNoRemoval.json"));
}

TEST(ZolvaProductWriteTest, WithoutCreatorOrRulesWritesTheShortForm) {
    TempDir dir;
    TZolvaProduct product(u"");
    const auto file = dir.File(u"saved.json");
    product.SaveToFile(file, u"");
    EXPECT_EQ(ReadBytes(file), Bytes("{\r\n \"detection\": [],\r\n \"version\": 1,\r\n"
                                     " \"removal\": [],\r\n \"name\": \"\"\r\n}"));
}

TEST(ZolvaProductWriteTest, ReplacesALongerFileCompletely) {
    TempDir dir;
    const auto file = dir.File(u"saved.json");
    WriteBytes(file, std::vector<uint8_t>(5000, 'x'));
    TZolvaProduct product(kSampleName);
    AddSampleRules(product, true);
    product.SaveToFile(file, kCreator);
    EXPECT_EQ(ReadBytes(file), DataBytes("ProductSaved.json"));
}

TEST(ZolvaProductWriteTest, WritesVersionOneWhateverWasRead) {
    TempDir dir;
    TZolvaProduct product(u"P");
    product.LoadFromBuffer(u"{\"version\": 7, \"detection\": [], \"removal\": []}");
    ASSERT_EQ(product.Version(), 7);
    const auto file = dir.File(u"saved.json");
    product.SaveToFile(file, u"");
    const auto bytes = ReadBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("\r\n \"version\": 1,\r\n"), std::string::npos) << text;
    EXPECT_EQ(product.Version(), 7);
}

struct EscapeRow {
    std::u16string text;
    std::string written; // between the quotes
};

class EscapeTest : public testing::TestWithParam<EscapeRow> {};

TEST_P(EscapeTest, EscapesEveryCodeUnitOutsidePrintableAscii) {
    const auto& row = GetParam();
    TempDir dir;
    TZolvaProduct product(row.text);
    const auto file = dir.File(u"escaped.json");
    product.SaveToFile(file, u"");
    const auto bytes = ReadBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    const std::string nameLine = R"( "name": ")" + row.written + "\"\r\n}";
    ASSERT_GE(text.size(), nameLine.size());
    EXPECT_EQ(text.substr(text.size() - nameLine.size()), nameLine);
    for (const uint8_t b : bytes)
        EXPECT_LT(b, 0x80);
    // Every text but a broken one reads back as it was.
    const bool lone = row.written.find("\\ud800") != std::string::npos;
    if (!lone) {
        TZolvaProduct back(u"");
        back.LoadFromFile(file);
        EXPECT_EQ(back.Name(), row.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapeTest,
    testing::Values(EscapeRow{u"plain ASCII ~!@#$%^&*()", "plain ASCII ~!@#$%^&*()"},
                    EscapeRow{u"say \"hi\"", "say \\\"hi\\\""}, EscapeRow{u"a\\b", "a\\\\b"},
                    EscapeRow{u"a/b", "a\\/b"}, EscapeRow{u"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
                    EscapeRow{WithNul(u"\0\x01\x1F"), "\\u0000\\u0001\\u001f"},
                    EscapeRow{u"\x7F", "\x7F"},
                    EscapeRow{u"\x80\u00DC\u00FF", "\\u0080\\u00dc\\u00ff"},
                    EscapeRow{u"\uABCD\uFFFF", "\\uabcd\\uffff"},
                    EscapeRow{u"\U0001F600", "\\ud83d\\ude00"}, EscapeRow{u"\xD800", "\\ud800"}));

TEST(ZolvaProductWriteTest, ARoundTripKeepsEveryRule) {
    TempDir dir;
    TZolvaProduct product(kSampleName);
    AddSampleRules(product, true);
    product.AddDetection(rkDynData, u"k\"\\/\u00E9", u"n\t", u"\U0001F600", daNameExist);
    product.AddRemoval(rkUsers, u".DEFAULT\\Software\\Zolva", u"Last/Used", raNameOnly);
    product.AddRemoval(rkPerformanceData, u"", u"", raCompleteKey);
    const auto file = dir.File(u"round.json");
    product.SaveToFile(file, kCreator);

    TZolvaProduct back(u"other");
    back.LoadFromFile(file);
    EXPECT_EQ(back.Name(), product.Name());
    EXPECT_EQ(back.Version(), 1);
    ASSERT_EQ(back.DetectionCount(), product.DetectionCount());
    for (int i = 0; i < product.DetectionCount(); ++i) {
        const auto *a = product.Detections(i), *b = back.Detections(i);
        EXPECT_EQ(b->Root, a->Root);
        EXPECT_EQ(b->Key, a->Key);
        EXPECT_EQ(b->Name, a->Name);
        EXPECT_EQ(b->Value, a->Value);
        EXPECT_EQ(b->Action, a->Action);
    }
    ASSERT_EQ(back.RemovalCount(), product.RemovalCount());
    for (int i = 0; i < product.RemovalCount(); ++i) {
        const auto *a = product.Removals(i), *b = back.Removals(i);
        EXPECT_EQ(b->Root, a->Root);
        EXPECT_EQ(b->Key, a->Key);
        EXPECT_EQ(b->Name, a->Name);
        EXPECT_EQ(b->Action, a->Action);
    }
    // Written again, the read-back product gives the same bytes.
    const auto again = dir.File(u"again.json");
    back.SaveToFile(again, kCreator);
    EXPECT_EQ(ReadBytes(again), ReadBytes(file));
}

TEST(ZolvaProductWriteTest, TheHandWrittenFileReadsAsItsProduct) {
    TZolvaProduct product(u"P");
    product.LoadFromFile(DataFile("ProductSaved.json"));
    EXPECT_EQ(product.Name(), kSampleName);
    ASSERT_EQ(product.DetectionCount(), 2);
    EXPECT_EQ(product.Detections(0)->Key, u"SOFTWARE\\Zolva\\Reader/2");
    EXPECT_EQ(product.Detections(1)->Value, u"C:\\Program Files\\Zolva");
    EXPECT_EQ(product.Detections(1)->Action, daNameMatchValue);
    ASSERT_EQ(product.RemovalCount(), 1);
    EXPECT_EQ(product.Removals(0)->Root, rkClassesRoot);
}

TEST(ZolvaProductWriteTest, AFileThatCannotBeCreatedFailsNamingIt) {
    TempDir dir;
    TZolvaProduct product(u"P");
    const auto file =
        dir.File(u"missing-folder") + (KEYSTRIP_TEST_DATA[0] == '/' ? u"/" : u"\\") + u"x.json";
    try {
        product.SaveToFile(file, u"");
        FAIL() << "no error";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(Utf16ToUtf8(file)), std::string::npos) << e.what();
    }
    EXPECT_EQ(product.Name(), u"P");
}

// --- Reading files and streams ----------------------------------------------------

const std::string kStreamDoc =
    "{\"name\": \"Zolva \\u00dc\", \"detection\": [{\"key\": \"A\"}],\r\n\"removal\": []}";

std::vector<uint8_t> Utf16Bytes(const std::u16string& text, bool little) {
    std::vector<uint8_t> out;
    for (const char16_t c : text) {
        const auto lo = static_cast<uint8_t>(c & 0xFF), hi = static_cast<uint8_t>(c >> 8);
        out.push_back(little ? lo : hi);
        out.push_back(little ? hi : lo);
    }
    return out;
}

struct EncodedRow {
    const char* label;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The document of kStreamDoc, plus a name holding U+00C4 written in the encoding itself.
const std::u16string kEncodedDoc =
    u"{\"name\": \"\u00C4\", \"detection\": [{\"key\": \"A\"}],\r\"removal\": []}\n";

class EncodedTest : public testing::TestWithParam<EncodedRow> {};

TEST_P(EncodedTest, DecodesByTheByteOrderMarkFromStreamsAndFiles) {
    const auto& bytes = GetParam().bytes;
    platform::MemoryStream stream(bytes);
    TZolvaProduct fromStream(u"P");
    fromStream.LoadFromStream(stream);
    EXPECT_EQ(fromStream.Name(), u"\u00C4");
    ASSERT_EQ(fromStream.DetectionCount(), 1);
    EXPECT_EQ(fromStream.Detections(0)->Key, u"A");

    TempDir dir;
    const auto file = dir.File(u"encoded.json");
    WriteBytes(file, bytes);
    TZolvaProduct fromFile(u"P");
    fromFile.LoadFromFile(file);
    EXPECT_EQ(fromFile.Name(), u"\u00C4");
    EXPECT_EQ(fromFile.DetectionCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodedTest,
    testing::Values(
        EncodedRow{"Utf8Mark", Concat({0xEF, 0xBB, 0xBF}, Bytes(Utf16ToUtf8(kEncodedDoc)))},
        EncodedRow{"Utf16LEMark", Concat({0xFF, 0xFE}, Utf16Bytes(kEncodedDoc, true))},
        EncodedRow{"Utf16BEMark", Concat({0xFE, 0xFF}, Utf16Bytes(kEncodedDoc, false))},
        // Without a mark the ANSI code page applies; 0xC4 is U+00C4 in Windows-1252.
        EncodedRow{"NoMark", Bytes("{\"name\": \"\xC4\", \"detection\": [{\"key\": \"A\"}],\r"
                                   "\"removal\": []}\n")},
        EncodedRow{"NulEndsTheText",
                   Concat(Concat({0xEF, 0xBB, 0xBF}, Bytes(Utf16ToUtf8(kEncodedDoc))),
                          {0, '{', '{', 0xFF})}),
    [](const testing::TestParamInfo<EncodedRow>& info) { return std::string(info.param.label); });

TEST(ZolvaProductStreamTest, ReadsFromTheCurrentPositionWithoutRewinding) {
    const std::string junk = "not a document";
    platform::MemoryStream stream(Bytes(junk + kStreamDoc));
    stream.Seek(static_cast<int64_t>(junk.size()));
    TZolvaProduct product(u"P");
    product.LoadFromStream(stream);
    EXPECT_EQ(product.Name(), u"Zolva \u00DC");
    EXPECT_EQ(stream.Position(), stream.Size());
}

struct UnchangedStreamRow {
    const char* label;
    std::vector<uint8_t> bytes;
    int64_t position;
};

class UnchangedStreamTest : public testing::TestWithParam<UnchangedStreamRow> {};

TEST_P(UnchangedStreamTest, LeavesTheProductAsItWas) {
    platform::MemoryStream stream(GetParam().bytes);
    stream.Seek(GetParam().position);
    TZolvaProduct product(u"Kept");
    product.AddRemoval(rkUsers, u"K", u"", raCompleteKey);
    product.LoadFromStream(stream);
    EXPECT_EQ(product.Name(), u"Kept");
    EXPECT_EQ(product.RemovalCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, UnchangedStreamTest,
                         testing::Values(UnchangedStreamRow{"Empty", {}, 0},
                                         UnchangedStreamRow{"Utf8MarkOnly", {0xEF, 0xBB, 0xBF}, 0},
                                         UnchangedStreamRow{"Utf16MarkOnly", {0xFF, 0xFE}, 0},
                                         UnchangedStreamRow{"NulFirst", {0, '{', '}'}, 0},
                                         UnchangedStreamRow{"AtTheEnd", Bytes("{}"), 2}),
                         [](const testing::TestParamInfo<UnchangedStreamRow>& info) {
                             return std::string(info.param.label);
                         });

TEST(ZolvaProductStreamTest, ALineBreakAloneIsNotEmptyAndFails) {
    platform::MemoryStream stream(Bytes("\n"));
    TZolvaProduct product(u"P");
    product.AddDetection(rkUsers, u"K", u"", u"", daKeyExist);
    EXPECT_THROW(product.LoadFromStream(stream), EParseError);
    EXPECT_EQ(product.DetectionCount(), 0);
}

TEST(ZolvaProductFileTest, AMissingFileOrAFolderLeavesTheProductAsItWas) {
    TempDir dir;
    TZolvaProduct product(u"Kept");
    product.AddDetection(rkUsers, u"K", u"", u"", daKeyExist);
    product.LoadFromFile(dir.File(u"no such file.json"));
    product.LoadFromFile(dir.File(u""));
    product.LoadFromFile(u"");
    EXPECT_EQ(product.Name(), u"Kept");
    EXPECT_EQ(product.DetectionCount(), 1);
}

TEST(ZolvaProductFileTest, NonAsciiFileNamesWork) {
    TempDir dir;
    const auto file = dir.File(u"\u00DCbersicht \u65E5\u672C.json");
    TZolvaProduct product(kSampleName);
    AddSampleRules(product, true);
    product.SaveToFile(file, kCreator);
    ASSERT_TRUE(platform::FileExists(file));
    TZolvaProduct back(u"");
    back.LoadFromFile(file);
    EXPECT_EQ(back.Name(), kSampleName);
    EXPECT_EQ(back.RemovalCount(), 1);
}

TEST(FilesTest, ReadingAMissingFileFailsNamingIt) {
    TempDir dir;
    const auto file = dir.File(u"gone.json");
    EXPECT_FALSE(platform::FileExists(file));
    try {
        platform::ReadFileBytes(file);
        FAIL() << "no error";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(Utf16ToUtf8(file)), std::string::npos) << e.what();
    }
}

TEST(FilesTest, WritesAndReadsEveryByteValue) {
    TempDir dir;
    const auto file = dir.File(u"bytes.bin");
    std::string bytes;
    for (int i = 0; i < 3 * 65536 + 17; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    platform::WriteFileBytes(file, bytes);
    EXPECT_TRUE(platform::FileExists(file));
    EXPECT_EQ(platform::ReadFileBytes(file), Bytes(bytes));
    EXPECT_FALSE(platform::FileExists(dir.Path().u16string()));
}

} // namespace
