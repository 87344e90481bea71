#include "backup/RegFile.h"

#include "common/TextCase.h"
#include "common/Utf.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using namespace keystrip;

namespace {

std::vector<uint8_t> Units(const std::u16string& text) {
    return EncodeRegFileText(text, false);
}

std::vector<uint8_t> Sz(const std::u16string& text) {
    return Units(text + u'\0');
}

TRegFileDocument RoundTrip(const TRegFileDocument& document) {
    return ReadRegFile(EncodeRegFileText(RegFileDocumentText(document), true));
}

const std::u16string kKey = u"HKEY_CURRENT_USER\\Software\\Zolva\\Office";

// kKey's subkey of that name.
std::u16string Under(const std::u16string& name) {
    std::u16string path = kKey;
    path += u'\\';
    path += name;
    return path;
}

// --- Every value form: the form chosen, and the same type and bytes back ----

struct FormRow {
    const char* label;
    uint32_t type;
    std::vector<uint8_t> data;
    std::u16string line; // without its CR LF
};

void PrintTo(const FormRow& row, std::ostream* os) {
    *os << row.label;
}

class RegFileFormTest : public testing::TestWithParam<FormRow> {};

TEST_P(RegFileFormTest, WritesTheExactFormAndReadsBackTheSameBytes) {
    const FormRow& row = GetParam();
    const TRegFileValue value{u"v", row.type, row.data};
    EXPECT_EQ(RegFileValueText(value), row.line + u"\r\n");

    const TRegFileDocument back = RoundTrip({{{kKey, {value}}}});
    ASSERT_EQ(back.Keys.size(), 1u);
    ASSERT_EQ(back.Keys[0].Values.size(), 1u);
    EXPECT_EQ(back.Keys[0].Values[0].Type, row.type);
    EXPECT_EQ(back.Keys[0].Values[0].Data, row.data);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegFileFormTest,
    testing::Values(
        FormRow{"text", platform::kRegSz, Sz(u"Zolva Office"), u"\"v\"=\"Zolva Office\""},
        FormRow{"escapes", platform::kRegSz, Sz(u"C:\\a \"b\" ];="),
                u"\"v\"=\"C:\\\\a \\\"b\\\" ];=\""},
        FormRow{"only its NUL", platform::kRegSz, Sz(u""), u"\"v\"=\"\""},
        FormRow{"non-ASCII", platform::kRegSz, Sz(u"\u00e4\u20ac\U0001F600"),
                u"\"v\"=\"\u00e4\u20ac\U0001F600\""},
        FormRow{"sz without NUL", platform::kRegSz, Units(u"ab"), u"\"v\"=hex(1):61,00,62,00"},
        FormRow{"sz empty", platform::kRegSz, {}, u"\"v\"=hex(1):"},
        FormRow{"sz NUL inside", platform::kRegSz, Sz(std::u16string(u"a\0b", 3)),
                u"\"v\"=hex(1):61,00,00,00,62,00,00,00"},
        FormRow{"sz two NULs", platform::kRegSz, Sz(std::u16string(u"a\0", 2)),
                u"\"v\"=hex(1):61,00,00,00,00,00"},
        FormRow{"sz odd", platform::kRegSz, {0x61, 0x00, 0x00}, u"\"v\"=hex(1):61,00,00"},
        FormRow{"sz one byte", platform::kRegSz, {0x00}, u"\"v\"=hex(1):00"},
        FormRow{"sz CR", platform::kRegSz, Sz(u"a\rb"), u"\"v\"=hex(1):61,00,0d,00,62,00,00,00"},
        FormRow{"sz LF", platform::kRegSz, Sz(u"a\n"), u"\"v\"=hex(1):61,00,0a,00,00,00"},
        FormRow{"dword", platform::kRegDword, {0x0a, 0, 0, 0}, u"\"v\"=dword:0000000a"},
        FormRow{
            "dword max", platform::kRegDword, {0xff, 0xff, 0xff, 0xff}, u"\"v\"=dword:ffffffff"},
        FormRow{
            "dword order", platform::kRegDword, {0x78, 0x56, 0x34, 0x12}, u"\"v\"=dword:12345678"},
        FormRow{"dword short", platform::kRegDword, {1, 2, 3}, u"\"v\"=hex(4):01,02,03"},
        FormRow{"dword long", platform::kRegDword, {1, 2, 3, 4, 5}, u"\"v\"=hex(4):01,02,03,04,05"},
        FormRow{"dword empty", platform::kRegDword, {}, u"\"v\"=hex(4):"},
        FormRow{"binary", platform::kRegBinary, {0x00, 0xab, 0xff}, u"\"v\"=hex:00,ab,ff"},
        FormRow{"binary empty", platform::kRegBinary, {}, u"\"v\"=hex:"},
        FormRow{"expand", platform::kRegExpandSz, Sz(u"%P%"),
                u"\"v\"=hex(2):25,00,50,00,25,00,00,00"},
        FormRow{"multi", platform::kRegMultiSz, Units(std::u16string(u"a\0\0", 3)),
                u"\"v\"=hex(7):61,00,00,00,00,00"},
        FormRow{"qword",
                platform::kRegQword,
                {1, 2, 3, 4, 5, 6, 7, 8},
                u"\"v\"=hex(b):01,02,03,04,05,06,07,08"},
        FormRow{"none", platform::kRegNone, {}, u"\"v\"=hex(0):"},
        FormRow{
            "big endian", platform::kRegDwordBigEndian, {0, 0, 0, 1}, u"\"v\"=hex(5):00,00,00,01"},
        FormRow{"link", platform::kRegLink, Units(u"\\R"), u"\"v\"=hex(6):5c,00,52,00"},
        FormRow{"unknown", 0x12345, {0x7f}, u"\"v\"=hex(12345):7f"},
        FormRow{"largest type", 0xffffffffu, {1}, u"\"v\"=hex(ffffffff):01"}),
    [](const testing::TestParamInfo<FormRow>& info) {
        std::string name;
        for (const char* p = info.param.label; *p != '\0'; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) != 0 ? *p : '_';
        return name;
    });

// --- Wrapping of long hex data -------------------------------------------------

std::vector<std::u16string> LinesOf(const std::u16string& text) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    for (size_t end = text.find(u"\r\n"); end != std::u16string::npos;
         start = end + 2, end = text.find(u"\r\n", start))
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text must end with CR LF";
    return lines;
}

TEST(RegFileWrapTest, LongDataWrapsLikeTheRegistryEditor) {
    struct Row {
        std::u16string name;
        size_t bytes;
    };
    for (const Row& row : {Row{u"v", 1000}, Row{std::u16string(255, u'n'), 60}, Row{u"v", 23},
                           Row{u"v", 24}, Row{u"", 1 << 20}}) {
        std::vector<uint8_t> data(row.bytes);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 7);
        const TRegFileValue value{row.name, platform::kRegBinary, data};
        const std::vector<std::u16string> lines = LinesOf(RegFileValueText(value));
        ASSERT_FALSE(lines.empty());
        size_t bytes = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::u16string& line = lines[i];
            const bool last = i + 1 == lines.size();
            if (i > 0) {
                ASSERT_EQ(line.substr(0, 2), u"  ");
                ASSERT_NE(line[2], u' ');
            }
            // The registry editor's width; only a first line with a very
            // long name may pass it, and then it holds a single byte.
            if (i > 0 || row.name.size() < 60) {
                ASSERT_LE(line.size(), 80u) << "line " << i;
            }
            if (!last) {
                ASSERT_EQ(line.substr(line.size() - 2), u",\\");
            }
            const size_t commas = std::count(line.begin(), line.end(), u',');
            const size_t lineBytes = last ? commas + 1 : commas;
            if (i > 0 && !last) {
                EXPECT_EQ(lineBytes, 25u) << "a full continuation line holds 25 bytes";
            }
            bytes += lineBytes;
        }
        EXPECT_EQ(bytes, row.bytes);

        const TRegFileDocument back = RoundTrip({{{kKey, {value}}}});
        ASSERT_EQ(back.Keys.at(0).Values.size(), 1u);
        EXPECT_EQ(back.Keys[0].Values[0], value);
    }
}

// --- Names ---------------------------------------------------------------------

struct NameRow {
    std::u16string name;
    std::u16string written; // the value line up to '='
};

void PrintTo(const NameRow& row, std::ostream* os) {
    *os << Utf16ToUtf8(row.written);
}

class RegFileValueNameTest : public testing::TestWithParam<NameRow> {};

TEST_P(RegFileValueNameTest, IsEscapedAndComesBack) {
    const NameRow& row = GetParam();
    const TRegFileValue value{row.name, platform::kRegDword, {1, 0, 0, 0}};
    EXPECT_EQ(RegFileValueText(value), row.written + u"=dword:00000001\r\n");
    const TRegFileDocument back = RoundTrip({{{kKey, {value}}}});
    EXPECT_EQ(back.Keys.at(0).Values.at(0).Name, row.name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegFileValueNameTest,
    testing::Values(NameRow{u"", u"@"}, NameRow{u"@", u"\"@\""}, NameRow{u"a\\b", u"\"a\\\\b\""},
                    NameRow{u"a\"b", u"\"a\\\"b\""}, NameRow{u"\\", u"\"\\\\\""},
                    NameRow{u"\"", u"\"\\\"\""}, NameRow{u"a=b", u"\"a=b\""},
                    NameRow{u"a]b", u"\"a]b\""}, NameRow{u"[x]", u"\"[x]\""},
                    NameRow{u";x", u"\";x\""}, NameRow{u" lead", u"\" lead\""},
                    NameRow{u"trail ", u"\"trail \""},
                    NameRow{u"\u00e4\u20ac\U0001F600", u"\"\u00e4\u20ac\U0001F600\""},
                    NameRow{u"\xD800", u"\"\xD800\""},
                    NameRow{std::u16string(255, u'x'), u"\"" + std::u16string(255, u'x') + u"\""}));

TEST(RegFileKeyNameTest, KeyNamesAreWrittenAsTheyAreAndComeBack) {
    // Measured with reg import: the section ends at the last ']' on its line,
    // so no key name character needs an escape.
    const std::vector<std::u16string> names{u"A]B",
                                            u"A]",
                                            u"[A",
                                            u"A=B",
                                            u"A\"B",
                                            u"A;B",
                                            u"-A",
                                            u"@",
                                            u" lead",
                                            u"trail ",
                                            u"\u00e4\u20ac\U0001F600",
                                            u"Semi;Colon ]=\"[",
                                            std::u16string(255, u'k')};
    for (const std::u16string& name : names) {
        const TRegFileKey key{Under(name), {}, 0};
        EXPECT_EQ(RegFileKeyText(key), u"[" + key.Path + u"]\r\n\r\n");
        const TRegFileDocument back = RoundTrip({{key}});
        ASSERT_EQ(back.Keys.size(), 1u);
        EXPECT_EQ(back.Keys[0].Path, key.Path);
    }
}

TEST(RegFileRefusalTest, NamesTheFormatCannotCarryAreRefused) {
    const std::u16string nul(1, u'\0');
    for (const std::u16string& name :
         {u"a" + nul + u"b", std::u16string(u"a\rb"), std::u16string(u"a\nb"), nul}) {
        try {
            RegFileValueText({name, platform::kRegSz, Sz(u"x")});
            ADD_FAILURE() << "value name accepted";
        } catch (const ERegFileError& e) {
            EXPECT_EQ(e.Line(), 0);
            EXPECT_NE(std::string(e.what()).find("cannot be written"), std::string::npos);
        }
        // The whole key refuses, so nothing of it is half written.
        EXPECT_THROW(RegFileKeyText({kKey, {{name, platform::kRegSz, Sz(u"x")}}, 0}),
                     ERegFileError);
    }
    for (const std::u16string& path :
         {Under(nul), Under(u"a\rb"), Under(u"a\nb"), Under(u"\\b"), Under(u""),
          std::u16string(u"HKEY_LOCAL_MACHINE\\"), std::u16string(u"\\HKEY_LOCAL_MACHINE\\a"),
          std::u16string(u"HKLM\\Software"), std::u16string(u"HKEY_PERFORMANCE_DATA\\x"),
          std::u16string()}) {
        EXPECT_THROW(RegFileKeyText({path, {}, 0}), ERegFileError) << Utf16ToUtf8(path);
    }
}

// --- Roots ---------------------------------------------------------------------

TEST(RegFilePathTest, SplitsTheFiveRootsInAnyCase) {
    struct Row {
        std::u16string path;
        platform::RegKey root;
        std::u16string relative;
    };
    for (const Row& row : {Row{u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva", platform::kHkeyLocalMachine,
                               u"SOFTWARE\\Zolva"},
                           Row{u"hkey_current_user\\a", platform::kHkeyCurrentUser, u"a"},
                           Row{u"HKEY_CLASSES_ROOT\\.zolva", platform::kHkeyClassesRoot, u".zolva"},
                           Row{u"HKEY_USERS\\.DEFAULT", platform::kHkeyUsers, u".DEFAULT"},
                           Row{u"HKEY_CURRENT_CONFIG", platform::kHkeyCurrentConfig, u""}}) {
        platform::RegKey root = 0;
        std::u16string relative;
        ASSERT_TRUE(SplitRegFilePath(row.path, root, relative)) << Utf16ToUtf8(row.path);
        EXPECT_EQ(root, row.root);
        EXPECT_EQ(relative, row.relative);
        const std::u16string rootName = RegFileRootName(root);
        EXPECT_TRUE(AsciiSameText(row.path.substr(0, rootName.size()), rootName));
    }
    EXPECT_EQ(RegFileRootName(platform::kHkeyPerformanceData), u"");
}

// --- Links and empty keys ------------------------------------------------------

// Only a section the writer marked is a link; the same values unmarked are
// a plain key that holds them (any user can give a key such a value).
TEST(RegFileLinkTest, OnlyAMarkedSectionOfTheLinkShapeIsALink) {
    const TRegFileValue target{u"SymbolicLinkValue", platform::kRegLink,
                               Units(u"\\REGISTRY\\MACHINE\\SOFTWARE\\Zolva")};
    struct Row {
        std::vector<TRegFileValue> values;
        bool marked;
        bool link;
    };
    TRegFileValue otherCase = target;
    otherCase.Name = u"symboliclinkvalue";
    TRegFileValue asText = target;
    asText.Type = platform::kRegSz;
    TRegFileValue otherName = target;
    otherName.Name = u"SymbolicLink";
    for (const Row& row :
         {Row{{target}, true, true}, Row{{otherCase}, true, true}, Row{{target}, false, false},
          Row{{}, false, false}, Row{{asText}, false, false}, Row{{otherName}, false, false},
          Row{{target, {u"x", platform::kRegDword, {0, 0, 0, 0}}}, false, false}}) {
        TRegFileKey key{kKey, row.values, 0};
        key.Link = row.marked;
        EXPECT_EQ(key.IsLink(), row.link);
        EXPECT_EQ(key.LinkTarget(), row.link ? u"\\REGISTRY\\MACHINE\\SOFTWARE\\Zolva" : u"");
        // Written and read back, a section is what it was.
        const TRegFileDocument back = RoundTrip({{key}});
        EXPECT_EQ(back.Keys.at(0).Link, row.marked);
        EXPECT_EQ(back.Keys.at(0).IsLink(), row.link);
    }
    TRegFileKey link{kKey + u"\\Link", {target}, 0};
    link.Link = true;
    const std::u16string start =
        u"; registry link\r\n[" + kKey + u"\\Link]\r\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,";
    EXPECT_EQ(RegFileKeyText(link).substr(0, start.size()), start);
    link.Values.push_back({u"x", platform::kRegDword, {0, 0, 0, 0}});
    EXPECT_THROW(RegFileKeyText(link), ERegFileError);

    // The mark belongs to the very next line's section, which must be a link.
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n";
    const std::u16string mark = u"; registry link\r\n";
    const std::u16string linked = u"[" + kKey + u"]\r\n\"SymbolicLinkValue\"=hex(6):5c,00\r\n";
    const std::vector<std::pair<std::u16string, int>> misplaced = {
        {mark + u"\r\n" + linked, 3},
        {mark + mark + linked, 3},
        {linked + mark, 5},
        {mark + linked + u"\"v\"=dword:00000001\r\n", 4},
        {mark + u"[" + kKey + u"]\r\n", 4}};
    for (const auto& [text, line] : misplaced) {
        try {
            ReadRegFile(EncodeRegFileText(head + text, true));
            ADD_FAILURE() << "read: " << Utf16ToUtf8(text);
        } catch (const ERegFileError& e) {
            EXPECT_EQ(e.Line(), line) << e.what();
        }
    }
}

TEST(RegFileDocumentTest, WritesTheExactTextAndKeepsEmptyAndRepeatedSections) {
    const TRegFileDocument document{{
        {kKey, {{u"", platform::kRegSz, Sz(u"d")}}, 0},
        {kKey + u"\\Empty", {}, 0},
        {kKey, {{u"n", platform::kRegDword, {2, 0, 0, 0}}}, 0},
    }};
    const std::u16string text = RegFileDocumentText(document);
    EXPECT_EQ(text, u"Windows Registry Editor Version 5.00\r\n\r\n"
                    u"[" +
                        kKey +
                        u"]\r\n@=\"d\"\r\n\r\n"
                        u"[" +
                        kKey +
                        u"\\Empty]\r\n\r\n"
                        u"[" +
                        kKey + u"]\r\n\"n\"=dword:00000002\r\n\r\n");
    const std::vector<uint8_t> bytes = EncodeRegFileText(text, true);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4)),
              (std::vector<uint8_t>{0xFF, 0xFE, 'W', 0}));
    EXPECT_EQ(bytes.size(), 2 + 2 * text.size());

    const TRegFileDocument back = ReadRegFile(bytes);
    ASSERT_EQ(back.Keys.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.Keys[i].Path, document.Keys[i].Path);
        EXPECT_EQ(back.Keys[i].Values, document.Keys[i].Values);
    }
    EXPECT_EQ(back.Keys[0].Line, 3);
    EXPECT_EQ(back.Keys[1].Line, 6);
    EXPECT_EQ(back.Keys[2].Line, 8);
}

// --- Reading what others write -------------------------------------------------

std::vector<uint8_t> File(const std::u16string& body) {
    return EncodeRegFileText(u"Windows Registry Editor Version 5.00\r\n\r\n" + body, true);
}

TEST(RegFileReadTest, AcceptsTheFormsTheRegistryEditorAccepts) {
    struct Row {
        const char* label;
        std::vector<uint8_t> bytes;
        TRegFileValue expected;
    };
    const std::u16string section = u"[" + kKey + u"]\r\n";
    const TRegFileValue one{u"v", platform::kRegDword, {1, 0, 0, 0}};
    for (const Row& row : {
             Row{"header with trailing blanks",
                 EncodeRegFileText(u"Windows Registry Editor Version 5.00 \t\r\n" + section +
                                       u"\"v\"=dword:1",
                                   true),
                 one},
             Row{"LF line ends, no final line end",
                 EncodeRegFileText(u"Windows Registry Editor Version 5.00\n[" + kKey +
                                       u"]\n\"v\"=dword:00000001",
                                   true),
                 one},
             Row{"comments, blanks and a trailing comment",
                 File(u"; a comment\r\n\r\n  " + section + u"; more\r\n  \"v\" = dword:1 ; c\r\n"),
                 one},
             Row{"empty quoted name is the default value",
                 File(section + u"\"\"=\"x\"\r\n"),
                 {u"", platform::kRegSz, Sz(u"x")}},
             Row{"upper-case hex digits",
                 File(section + u"\"v\"=hex(B):AB,cD\r\n"),
                 {u"v", 11, {0xab, 0xcd}}},
             Row{"blanks around bytes",
                 File(section + u"\"v\"=hex: 01 , 02\r\n"),
                 {u"v", platform::kRegBinary, {1, 2}}},
             Row{"continuation with a comment line inside",
                 File(section + u"\"v\"=hex(7):61,00,\\\r\n  ; note\r\n  00,00\r\n"),
                 {u"v", platform::kRegMultiSz, {0x61, 0, 0, 0}}},
             Row{"continuation right after the form",
                 File(section + u"\"v\"=hex:\\\r\n  01\r\n"),
                 {u"v", platform::kRegBinary, {1}}},
             Row{"lone CR line ends",
                 EncodeRegFileText(u"Windows Registry Editor Version 5.00\r[" + kKey +
                                       u"]\r\"v\"=dword:1\r",
                                   true),
                 one},
         }) {
        SCOPED_TRACE(row.label);
        const TRegFileDocument document = ReadRegFile(row.bytes);
        ASSERT_EQ(document.Keys.size(), 1u);
        EXPECT_EQ(document.Keys[0].Path, kKey);
        ASSERT_EQ(document.Keys[0].Values.size(), 1u);
        EXPECT_EQ(document.Keys[0].Values[0], row.expected);
    }
}

struct BadRow {
    const char* label;
    std::vector<uint8_t> bytes;
    int line;
    const char* says;
};

void PrintTo(const BadRow& row, std::ostream* os) {
    *os << row.label;
}

class RegFileMalformedTest : public testing::TestWithParam<BadRow> {};

TEST_P(RegFileMalformedTest, FailsWithItsLineAndWhatIsWrong) {
    const BadRow& row = GetParam();
    try {
        ReadRegFile(row.bytes);
        FAIL() << "read without error";
    } catch (const ERegFileError& e) {
        EXPECT_EQ(e.Line(), row.line);
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("line " + std::to_string(row.line) + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(row.says), std::string::npos) << message;
        EXPECT_EQ(message, "line " + std::to_string(row.line) + ": " + e.Problem());
    }
}

const std::u16string kSection = u"[" + kKey + u"]\r\n"; // line 3 in File()

std::vector<uint8_t> OddSized() {
    std::vector<uint8_t> bytes = File(kSection + u"\"v\"=dword:1\r\n");
    bytes.push_back(0x41);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegFileMalformedTest,
    testing::Values(
        BadRow{"empty", {}, 1, "byte order mark"},
        BadRow{"no byte order mark", {'W', 0, 'i', 0}, 1, "byte order mark"},
        BadRow{"big endian", {0xFE, 0xFF, 0, 'W'}, 1, "byte order mark"},
        BadRow{"only the mark", {0xFF, 0xFE}, 1, "does not start with"},
        BadRow{"older header", EncodeRegFileText(u"REGEDIT4\r\n", true), 1, "does not start with"},
        BadRow{"header in other case",
               EncodeRegFileText(u"WINDOWS REGISTRY EDITOR VERSION 5.00\r\n", true), 1,
               "does not start with"},
        BadRow{"blank line first",
               EncodeRegFileText(u"\r\nWindows Registry Editor Version 5.00\r\n", true), 1,
               "does not start with"},
        BadRow{"odd byte count", OddSized(), 5, "middle of a character"},
        BadRow{"value before any section", File(u"\"v\"=dword:1\r\n"), 3, "before the first"},
        BadRow{"unclosed section", File(u"[" + kKey + u"\r\n"), 3, "no closing ]"},
        BadRow{"text after section", File(kSection.substr(0, kSection.size() - 2) + u" x\r\n"), 3,
               "after its closing ]"},
        BadRow{"deletion section", File(u"[-" + kKey + u"]\r\n"), 3, "deletes a key"},
        BadRow{"bad root", File(u"[HKEY_ZOLVA\\x]\r\n"), 3, "does not start with HKEY_"},
        BadRow{"short root name", File(u"[HKCU\\x]\r\n"), 3, "does not start with HKEY_"},
        BadRow{"blank before root", File(u"[ " + kKey + u"]\r\n"), 3, "does not start with"},
        BadRow{"empty part", File(u"[HKEY_CURRENT_USER\\a\\\\b]\r\n"), 3, "empty name part"},
        BadRow{"empty section", File(u"[]\r\n"), 3, "does not start with"},
        BadRow{"value deletion", File(kSection + u"\"v\"=-\r\n"), 4, "deletes a value"},
        BadRow{"unclosed data", File(kSection + u"\"v\"=\"abc\r\n"), 4, "no closing quote"},
        BadRow{"unclosed name", File(kSection + u"\"v=1\r\n"), 4, "no closing quote"},
        BadRow{"unknown escape", File(kSection + u"\"v\"=\"a\\nb\"\r\n"), 4, "unknown escape \\n"},
        BadRow{"escape at the end", File(kSection + u"\"v\\"), 4, "no closing quote"},
        BadRow{"text after data", File(kSection + u"\"v\"=\"a\" b\r\n"), 4, "after its closing"},
        BadRow{"name without =", File(kSection + u"\"v\" dword:1\r\n"), 4, "not followed by ="},
        BadRow{"no data", File(kSection + u"\"v\"=\r\n"), 4, "has no data"},
        BadRow{"not hexadecimal", File(kSection + u"\"v\"=hex(2):4a,zz\r\n"), 4,
               "the value data \"hex(2):4a,zz\" is not hexadecimal"},
        BadRow{"one digit", File(kSection + u"\"v\"=hex:1\r\n"), 4, "not hexadecimal"},
        BadRow{"three digits", File(kSection + u"\"v\"=hex:123\r\n"), 4, "not hexadecimal"},
        BadRow{"trailing comma", File(kSection + u"\"v\"=hex:01,\r\n"), 4, "not hexadecimal"},
        BadRow{"two commas", File(kSection + u"\"v\"=hex:01,,02\r\n"), 4, "not hexadecimal"},
        BadRow{"empty dword", File(kSection + u"\"v\"=dword:\r\n"), 4, "1 to 8 hex digits"},
        BadRow{"nine-digit dword", File(kSection + u"\"v\"=dword:123456789\r\n"), 4,
               "1 to 8 hex digits"},
        BadRow{"dword not hex", File(kSection + u"\"v\"=dword:xyz\r\n"), 4, "1 to 8 hex digits"},
        BadRow{"upper-case form", File(kSection + u"\"v\"=DWORD:1\r\n"), 4, "unknown form"},
        BadRow{"unquoted text", File(kSection + u"\"v\"=text\r\n"), 4, "unknown form"},
        BadRow{"negative type", File(kSection + u"\"v\"=hex(-1):01\r\n"), 4, "hex(N):"},
        BadRow{"nine-digit type", File(kSection + u"\"v\"=hex(100000000):01\r\n"), 4, "hex(N):"},
        BadRow{"type without colon", File(kSection + u"\"v\"=hex(1)01\r\n"), 4, "hex(N):"},
        BadRow{"continued past the end", File(kSection + u"\"v\"=hex:01,\\\r\n  02,\\\r\n"), 5,
               "past the end"},
        BadRow{"continued by an empty line", File(kSection + u"\"v\"=hex:01,\\\r\n\r\n"), 5,
               "empty line"},
        BadRow{"bad byte on a continuation line",
               File(kSection + u"\"v\"=hex:01,\\\r\n  02,\\\r\n  0x\r\n"), 6, "at \"0x\""},
        BadRow{"continued without a comma", File(kSection + u"\"v\"=hex:01\\\r\n  02\r\n"), 4,
               "without a comma"},
        BadRow{"stray text", File(kSection + u"#comment\r\n"), 4, "neither"},
        BadRow{"NUL in a line",
               File(kSection + u"\"v\"=\"a" + std::u16string(1, u'\0') + u"\"\r\n"), 4,
               "NUL character"},
        BadRow{"later error after good lines",
               File(kSection + u"\"a\"=dword:1\r\n\r\n" + kSection + u"\"b\"=hex:0\r\n"), 7,
               "not hexadecimal"}),
    [](const testing::TestParamInfo<BadRow>& info) {
        std::string name;
        for (const char* p = info.param.label; *p != '\0'; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) != 0 ? *p : '_';
        return name;
    });

} // namespace
