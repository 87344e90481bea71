// The switches that shape a run and the help that lists them.
#include "app/HelpText.h"
#include "app/RunOutcome.h"
#include "app/RunSwitches.h"

#include "common/Utf.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace keystrip;

namespace {

// --- reading the switches ------------------------------------------------------

struct SwitchesRow {
    const char* name;
    std::u16string line;
    bool help, silent, exitCode;
    std::optional<std::u16string> log;
};

void PrintTo(const SwitchesRow& row, std::ostream* os) {
    *os << row.name;
}

class RunSwitchesTest : public testing::TestWithParam<SwitchesRow> {};

TEST_P(RunSwitchesTest, AreReadFromTheCommandLine) {
    const TRunSwitches s = ReadRunSwitches(TCommandLine(GetParam().line));
    EXPECT_EQ(s.Help, GetParam().help);
    EXPECT_EQ(s.Silent, GetParam().silent);
    EXPECT_EQ(s.ExitCode, GetParam().exitCode);
    EXPECT_EQ(s.LogFile, GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunSwitchesTest,
    testing::Values(
        SwitchesRow{"None", u"k.exe", false, false, false, std::nullopt},
        SwitchesRow{"EmptyLine", u"", false, false, false, std::nullopt},
        SwitchesRow{"Help", u"k -help", true, false, false, std::nullopt},
        SwitchesRow{"QuestionMark", u"k -?", true, false, false, std::nullopt},
        SwitchesRow{"HelpAnyCaseWithSilent", u"k -HeLp -SILENT", true, true, false, std::nullopt},
        SwitchesRow{"SlashIsNoSwitch", u"k /help /? /exitcode /log x", false, false, false,
                    std::nullopt},
        SwitchesRow{"ExitCode", u"k -silent -exitcode -product A", false, true, true, std::nullopt},
        SwitchesRow{"Log", u"k -log C:\\ProgramData\\k.log", false, false, false,
                    u"C:\\ProgramData\\k.log"},
        SwitchesRow{"QuotedLogWithBlanks", u"k -LOG \"C:\\Program Data\\k.log\" -exitcode", false,
                    false, true, u"C:\\Program Data\\k.log"},
        SwitchesRow{"LastLogWins", u"k -log a.log -log b.log", false, false, false, u"b.log"},
        SwitchesRow{"LogWithoutFile", u"k -exitcode -log", false, false, true, u""},
        // As for -product, the next argument is the value whatever it is.
        SwitchesRow{"LogTakesTheNextArgument", u"k -log -exitcode", false, false, true,
                    u"-exitcode"},
        SwitchesRow{"NoPartialNames", u"k -exit -logfile x -helpme", false, false, false,
                    std::nullopt}),
    [](const testing::TestParamInfo<SwitchesRow>& info) { return std::string(info.param.name); });

// --- the help text -------------------------------------------------------------

TEST(HelpTextTest, ListsEverySwitchWithItsArgumentAndLineThenTheExitCodes) {
    const std::u16string text = HelpText();
    EXPECT_EQ(text.rfind(u"Usage: ZolvaKeystrip.exe [switches]\r\n", 0), 0u);
    std::u16string switches;
    for (const TSwitchHelp& row : SwitchHelpRows()) {
        std::u16string line = row.Switch;
        if (*row.Argument)
            line += std::u16string(u" ") + row.Argument;
        switches += u"\r\n" + line + u"\r\n\t" + row.Line;
    }
    EXPECT_NE(text.find(switches + u"\r\n\r\n"), std::u16string::npos) << Utf16ToUtf8(text);
    for (TExitCode code : {ecDone, ecRuleFailed, ecUnknownProduct, ecCouldNotStart})
        EXPECT_NE(text.find(U16("\r\n" + std::to_string(code) + "\t") + DescribeExitCode(code)),
                  std::u16string::npos);
    EXPECT_NE(text.find(u"(without it, always 0); the highest that applies:"),
              std::u16string::npos);
}

TEST(RunSwitchesTest, ProductIsNotedEvenWithoutAValueSoThatRestoreCanRefuseIt) {
    TRunSwitches s = ReadRunSwitches(TCommandLine(u"k -restore f.reg -product X"));
    EXPECT_TRUE(s.ProductSwitch);
    EXPECT_EQ(s.RestoreFile, u"f.reg");
    s = ReadRunSwitches(TCommandLine(u"k -restore f.reg -PRODUCT"));
    EXPECT_TRUE(s.ProductSwitch);
    // The value of -restore, not a switch of its own.
    s = ReadRunSwitches(TCommandLine(u"k -restore -product"));
    EXPECT_EQ(s.RestoreFile, u"-product");
    EXPECT_TRUE(s.ProductSwitch);
    EXPECT_FALSE(ReadRunSwitches(TCommandLine(u"k -restore f.reg")).ProductSwitch);
}

TEST(HelpTextTest, ListsWhatTheSwitchesDoTogether) {
    const std::u16string text = HelpText();
    std::u16string together = u"\r\n\r\nTogether:";
    for (const TSwitchCombination& row : SwitchCombinationRows()) {
        together += std::u16string(u"\r\n") + row.Switches + u"\r\n\t" + row.Line;
        EXPECT_LE(std::u16string(row.Line).size(), 40u) << Utf16ToUtf8(row.Line);
    }
    EXPECT_NE(text.find(together + u"\r\n\r\nExit codes"), std::u16string::npos)
        << Utf16ToUtf8(text);
    EXPECT_EQ(SwitchCombinationRows().size(), 3u);
}

TEST(HelpTextTest, EverySwitchReadByTheProgramHasARow) {
    std::set<std::u16string> listed;
    for (const TSwitchHelp& row : SwitchHelpRows()) {
        const std::u16string names = row.Switch;
        for (size_t start = 0; start < names.size();) {
            size_t end = names.find(u", ", start);
            if (end == std::u16string::npos)
                end = names.size();
            listed.insert(names.substr(start, end - start));
            start = end + 2;
        }
        // Short enough for one line of a message box.
        EXPECT_LE(std::u16string(row.Line).size(), 40u) << Utf16ToUtf8(row.Line);
    }
    EXPECT_EQ(listed, (std::set<std::u16string>{u"-product", u"-silent", u"-preview", u"-backup",
                                                u"-restore", u"-allusers", u"-log", u"-exitcode",
                                                u"-help", u"-?"}));
}

} // namespace
