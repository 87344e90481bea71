#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace keystrip;

namespace {

std::string Show(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    return out;
}

// --- Splitting ---------------------------------------------------------------

struct SplitRow {
    const char* name;
    std::u16string line;
    std::vector<std::u16string> arguments; // after the program's path
};

void PrintTo(const SplitRow& row, std::ostream* os) {
    *os << row.name;
}

class CommandLineSplitTest : public testing::TestWithParam<SplitRow> {};

TEST_P(CommandLineSplitTest, GivesTheArgumentsAfterTheProgramPath) {
    const auto& row = GetParam();
    const TCommandLine commandLine(row.line);
    EXPECT_EQ(commandLine.Arguments(), row.arguments) << Show(row.line);
    EXPECT_EQ(commandLine.Switches(), static_cast<int32_t>(row.arguments.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineSplitTest,
    testing::Values(
        SplitRow{"EmptyLine", u"", {}}, SplitRow{"OnlyBlanks", u"   \t ", {}},
        SplitRow{"ProgramOnly", u"keystrip.exe", {}},
        SplitRow{"QuotedProgramPathWithBlanks", u"\"C:\\Program Files\\Zolva\\keystrip.exe\"", {}},
        SplitRow{"QuotedProgramPathThenSwitch",
                 u"\"C:\\Program Files\\keystrip.exe\" -silent",
                 {u"-silent"}},
        SplitRow{"OpenQuoteInProgramPathSwallowsAll", u"\"C:\\My Dir\\keystrip.exe -silent", {}},
        SplitRow{"PlainArguments", u"k a b c", {u"a", u"b", u"c"}},
        SplitRow{"RunsOfBlanksAndTabs", u"k   a\t\t b \t", {u"a", u"b"}},
        SplitRow{"ControlCharactersSeparate",
                 u"k a\x01"
                 u"b\x1F"
                 u"c\r\nd",
                 {u"a", u"b", u"c", u"d"}},
        SplitRow{"DeleteAndNoBreakSpaceDoNotSeparate",
                 u"k a\x7F"
                 u"b c\u00A0d",
                 {u"a\x7F"
                  u"b",
                  u"c\u00A0d"}},
        SplitRow{"QuotedStretchKeepsBlanks", u"k \"a b\" c", {u"a b", u"c"}},
        SplitRow{"QuotedTabAndControlsKept",
                 u"k \"a\tb\x01"
                 u"c\"",
                 {u"a\tb\x01"
                  u"c"}},
        SplitRow{"StretchesJoinWithinOneArgument", u"k a\"b c\"d\"e\"", {u"ab cde"}},
        SplitRow{"QuoteOpenToTheEnd", u"k -product \"Zolva Office", {u"-product", u"Zolva Office"}},
        SplitRow{"EmptyPairAtArgumentStartSkipped", u"k \"\" a", {u"a"}},
        SplitRow{"SeveralEmptyPairsSkipped", u"k \"\"\"\" \"\"  a", {u"a"}},
        SplitRow{"EmptyPairGluedToText", u"k \"\"a", {u"a"}},
        SplitRow{"EmptyPairInsideArgument", u"k a\"\"b", {u"ab"}},
        SplitRow{"TrailingEmptyPairs", u"k a \"\" \"\"", {u"a"}},
        SplitRow{"ThreeQuotesOpenAStretch", u"k a \"\"\" b", {u"a", u" b"}},
        SplitRow{"LoneQuoteAtTheEndEndsTheList", u"k a \"", {u"a"}},
        SplitRow{"QuotedBlankIsAnArgument", u"k \" \" x", {u" ", u"x"}},
        SplitRow{"BackslashIsOrdinary", u"k C:\\dir\\ \"a\\\" b", {u"C:\\dir\\", u"a\\", u"b"}},
        SplitRow{"BackslashQuoteIsNoEscape", u"k \\\"a b\\\"", {u"\\a b\\"}},
        SplitRow{"NulEndsTheLine", std::u16string(u"k -product\0-silent", 18), {u"-product"}},
        SplitRow{
            "NonAsciiKept", u"k -product \u00C4rger\u20AC", {u"-product", u"\u00C4rger\u20AC"}}),
    [](const testing::TestParamInfo<SplitRow>& info) { return std::string(info.param.name); });

// The whole split, the program's path included: a line that holds no argument
// gives none at all, not an empty path.
class SplitWholeLineTest : public testing::TestWithParam<SplitRow> {};

TEST_P(SplitWholeLineTest, GivesThePathFirstAndNothingForALineWithoutArguments) {
    EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().arguments) << Show(GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitWholeLineTest,
    testing::Values(SplitRow{"EmptyLine", u"", {}}, SplitRow{"OnlyBlanks", u" \t\r\n ", {}},
                    SplitRow{"OnlyEmptyPairs", u"\"\" \"\"\"\"", {}},
                    SplitRow{"LoneQuote", u"  \"", {}},
                    SplitRow{"NulFirst", std::u16string(u"\0k -silent", 10), {}},
                    SplitRow{"PathOnly", u"k.exe", {u"k.exe"}},
                    SplitRow{"PathAfterEmptyPair", u"\"\" k -x", {u"k", u"-x"}},
                    SplitRow{"QuotedBlankPath", u"\" \" -x", {u" ", u"-x"}},
                    SplitRow{"PathAndSwitches",
                             u"k -silent -product \"A B\"",
                             {u"k", u"-silent", u"-product", u"A B"}}),
    [](const testing::TestParamInfo<SplitRow>& info) { return std::string(info.param.name); });

// --- Switches ----------------------------------------------------------------

struct SwitchRow {
    const char* name;
    std::u16string line;
    bool silent;            // presence of the silent switch
    std::u16string product; // SwitchValue("product", "DEF")
};

void PrintTo(const SwitchRow& row, std::ostream* os) {
    *os << row.name;
}

class CommandLineSwitchTest : public testing::TestWithParam<SwitchRow> {};

TEST_P(CommandLineSwitchTest, ReadsSilentAndProduct) {
    const auto& row = GetParam();
    const TCommandLine commandLine(row.line);
    EXPECT_EQ(commandLine.HasSwitch(u"silent"), row.silent);
    EXPECT_EQ(Show(commandLine.SwitchValue(u"product", u"DEF")), Show(row.product));
    // The switch name's own case does not matter either.
    EXPECT_EQ(Show(commandLine.SwitchValue(u"PRODUCT", u"DEF")), Show(row.product));
    EXPECT_EQ(commandLine.HasSwitch(u"SILENT"), row.silent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineSwitchTest,
    testing::Values(
        SwitchRow{"NoArguments", u"k.exe", false, u"DEF"},
        SwitchRow{"LastValueWins", u"k -product A -product B", false, u"B"},
        SwitchRow{"TrailingSwitchAddsNothing", u"k -product A -product", false, u"A"},
        SwitchRow{"LastOccurrenceWithValueWins", u"k -product A B -product", false, u"A"},
        SwitchRow{"OnlySwitchGivesDefault", u"k -product", false, u"DEF"},
        SwitchRow{"ValueBeforeSwitchIsNotTaken", u"k X -product", false, u"DEF"},
        SwitchRow{"UpperCaseSwitchValueKept", u"k -PRODUCT XyZ", false, u"XyZ"},
        SwitchRow{"MixedCaseSilent", u"k -SiLeNt", true, u"DEF"},
        SwitchRow{"SlashIsNoSwitch", u"k /product X /silent", false, u"DEF"},
        SwitchRow{"DoubleDashIsNoSwitch", u"k --silent --product X", false, u"DEF"},
        SwitchRow{"SuffixIsNoSwitch", u"k -silent:1 -product:X", false, u"DEF"},
        SwitchRow{"BareNameIsNoSwitch", u"k silent product X", false, u"DEF"},
        SwitchRow{"DashAloneIsNoSwitch", u"k - silent - product X", false, u"DEF"},
        SwitchRow{"ValueMayLookLikeASwitch", u"k -product -silent", true, u"-silent"},
        SwitchRow{"SilentBeforeProduct", u"k -silent -product Z", true, u"Z"},
        SwitchRow{"QuotedNameKeepsBlanks", u"k -product \"Zolva Office Suite 2\"", false,
                  u"Zolva Office Suite 2"},
        SwitchRow{"QuotedNameOpenToTheEnd", u"k -product \"Zolva  Office ", false,
                  u"Zolva  Office "},
        SwitchRow{"QuotedSwitchIsASwitch", u"k \"-silent\" \"-product\" \"A B\"", true, u"A B"},
        SwitchRow{"PartlyQuotedSwitch", u"k -sil\"ent\" -pro\"duct\" X", true, u"X"},
        SwitchRow{"TabsAndControlsSeparate",
                  u"k\t-silent\x02-product\x1F"
                  u"X",
                  true, u"X"},
        SwitchRow{"EmptyPairBeforeValueSkipped", u"k -product \"\" X", false, u"X"},
        SwitchRow{"QuotedBlankValue", u"k -product \" \"", false, u" "},
        SwitchRow{"SwitchWithTrailingBlankInQuotes", u"k \"-silent \"", false, u"DEF"}),
    [](const testing::TestParamInfo<SwitchRow>& info) { return std::string(info.param.name); });

TEST(CommandLineTest, PresenceFollowsTheLocaleButValuesOnlyFoldAscii) {
    // The presence test ignores case beyond ASCII; the value lookup folds only
    // A..Z, so an upper-case umlaut switch is present yet has no value.
    const TCommandLine commandLine(u"k -\u00C4RGER x -\u00E4rger y");
    EXPECT_TRUE(commandLine.HasSwitch(u"\u00E4rger"));
    EXPECT_TRUE(commandLine.HasSwitch(u"\u00C4rger"));
    EXPECT_EQ(Show(commandLine.SwitchValue(u"\u00E4rger", u"DEF")), "y");
    EXPECT_EQ(Show(commandLine.SwitchValue(u"\u00C4rger", u"DEF")), "x");

    const TCommandLine upperOnly(u"k -\u00C4RGER x");
    EXPECT_TRUE(upperOnly.HasSwitch(u"\u00E4rger"));
    EXPECT_EQ(Show(upperOnly.SwitchValue(u"\u00E4rger", u"DEF")), "DEF");
}

TEST(CommandLineTest, EmptySwitchNameMatchesALoneDash) {
    EXPECT_TRUE(TCommandLine(u"k - x").HasSwitch(u""));
    EXPECT_EQ(Show(TCommandLine(u"k - x").SwitchValue(u"", u"DEF")), "x");
    EXPECT_FALSE(TCommandLine(u"k -a").HasSwitch(u""));
}

TEST(CommandLineTest, RepeatedQueriesGiveTheSameAnswers) {
    const TCommandLine commandLine(u"k -product A -silent");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(commandLine.Switches(), 3);
        EXPECT_TRUE(commandLine.HasSwitch(u"silent"));
        EXPECT_EQ(Show(commandLine.SwitchValue(u"product", u"")), "A");
    }
}

TEST(CommandLineTest, ProcessLineHasTheProgramPathFirst) {
    // Whatever the test runner passed, the process's own line splits into at
    // least the path, and the reader agrees with the splitting.
    const TCommandLine process;
    EXPECT_GE(process.Switches(), 0);
    EXPECT_EQ(process.Switches(), static_cast<int32_t>(process.Arguments().size()));
    EXPECT_FALSE(process.HasSwitch(u"no-such-switch-here"));
}

// --- The integer form --------------------------------------------------------

struct IntegerRow {
    std::u16string value; // the argument after -n
    int32_t expected;     // with the default -7
};

void PrintTo(const IntegerRow& row, std::ostream* os) {
    *os << Show(row.value);
}

class CommandLineIntegerTest : public testing::TestWithParam<IntegerRow> {};

TEST_P(CommandLineIntegerTest, ConvertsOrFallsBack) {
    const auto& row = GetParam();
    const TCommandLine commandLine(u"k -n \"" + row.value + u"\"");
    EXPECT_EQ(commandLine.SwitchValue(u"n", -7), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineIntegerTest,
    testing::Values(IntegerRow{u"42", 42}, IntegerRow{u"0", 0}, IntegerRow{u"-0", 0},
                    IntegerRow{u"007", 7}, IntegerRow{u"   42", 42}, IntegerRow{u"+42", 42},
                    IntegerRow{u"-42", -42}, IntegerRow{u"  -42", -42}, IntegerRow{u"$1F", 31},
                    IntegerRow{u"$1f", 31}, IntegerRow{u"x1F", 31}, IntegerRow{u"X1f", 31},
                    IntegerRow{u"0x1F", 31}, IntegerRow{u"0X1f", 31}, IntegerRow{u"-$10", -16},
                    IntegerRow{u"+0x10", 16}, IntegerRow{u" -x10", -16},
                    IntegerRow{u"2147483647", INT32_MAX}, IntegerRow{u"-2147483648", INT32_MIN},
                    IntegerRow{u"$7FFFFFFF", INT32_MAX}, IntegerRow{u"-$80000000", INT32_MIN},
                    IntegerRow{u"0000000000000000000000042", 42},
                    // Out of the 32-bit signed range: no conversion, not a wrap-around.
                    IntegerRow{u"2147483648", -7}, IntegerRow{u"-2147483649", -7},
                    IntegerRow{u"$80000000", -7}, IntegerRow{u"$FFFFFFFF", -7},
                    IntegerRow{u"99999999999999999999", -7}, IntegerRow{u"0x100000000", -7},
                    // Not numbers.
                    IntegerRow{u"abc", -7}, IntegerRow{u"12abc", -7}, IntegerRow{u"12 ", -7},
                    IntegerRow{u"1 2", -7}, IntegerRow{u"\t42", -7}, IntegerRow{u" ", -7},
                    IntegerRow{u"-", -7}, IntegerRow{u"+-1", -7}, IntegerRow{u"$", -7},
                    IntegerRow{u"0x", -7}, IntegerRow{u"x", -7}, IntegerRow{u"$G", -7},
                    IntegerRow{u"0x-1", -7}, IntegerRow{u"$-1", -7}, IntegerRow{u"1e3", -7},
                    IntegerRow{u"1.0", -7}, IntegerRow{u"0b101", -7}, IntegerRow{u"00x1", -7},
                    IntegerRow{u"\uFF11\uFF12", -7}, // full-width digits
                    IntegerRow{u"\u0661", -7}),      // Arabic-Indic digit
    [](const testing::TestParamInfo<IntegerRow>& info) {
        return "Row" + std::to_string(info.index);
    });

TEST(CommandLineTest, IntegerDefaultComesBackUntouched) {
    for (int32_t def : {0, -1, 123, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(TCommandLine(u"k").SwitchValue(u"n", def), def);
        EXPECT_EQ(TCommandLine(u"k -n").SwitchValue(u"n", def), def);
        EXPECT_EQ(TCommandLine(u"k -m 5").SwitchValue(u"n", def), def);
    }
    EXPECT_EQ(TCommandLine(u"k -n 5 -n").SwitchValue(u"n", 0), 5);
    EXPECT_EQ(TCommandLine(u"k -n 5 -n bad").SwitchValue(u"n", 9), 9);
}

TEST(StrToInt32Test, TextsThatCannotComeFromACommandLine) {
    EXPECT_FALSE(StrToInt32(u"").has_value());
    EXPECT_FALSE(StrToInt32(u"   ").has_value());
    EXPECT_FALSE(StrToInt32(std::u16string(u"1\0"
                                           u"2",
                                           3))
                     .has_value());
    EXPECT_EQ(StrToInt32(u" 12"), 12);
}

} // namespace
