// What a run comes to, seen from the window: the outcome that the exit code
// is made of, the -log file written when a removal run ends (and the result
// page's note when it cannot be), and the silent removal that reads the terms
// but never fills their view.
#include "WizardFixture.h"

#include "backup/RegFile.h"
#include "platform/Files.h"
#include "tests/support/RecordedBackup.h"

#include "tests/support/TempDir.h"

#include <richedit.h>

#include <filesystem>

namespace keystrip::test {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;

const TestProduct& Alpha() {
    return TestProducts()[0];
}

// --- the outcome of silent runs ------------------------------------------------

struct SilentRow {
    const char* Name;
    const char* Arguments;
    bool RemoveDefinitions;
    bool RemoveTerms;
    bool Refuse; // one of Alpha's deletions is refused
    bool Terminated;
    int Requested, Removed;
    int Code;
    bool AlphaGone;
};

void PrintTo(const SilentRow& row, std::ostream* os) {
    *os << row.Name;
}

class SilentOutcomeTest : public WizardTest, public testing::WithParamInterface<SilentRow> {};

TEST_P(SilentOutcomeTest, GivesTheExitCodeOfWhatHappened) {
    const SilentRow& row = GetParam();
    Plant(Alpha());
    if (row.RemoveDefinitions)
        Resources.Remove(u"ZOLVAPRODUCT1");
    if (row.RemoveTerms)
        Resources.Remove(u"EULA");
    if (row.Refuse)
        Registry.DenyDelete(platform::kHkeyLocalMachine, ProductKey(Alpha()) + u"\\Settings");
    App.SetShowMainForm(false);
    Arguments(row.Arguments);
    Create();
    EXPECT_EQ(App.Terminated(), row.Terminated);
    EXPECT_EQ(Form->Outcome().ProductsRequested(), row.Requested);
    EXPECT_EQ(Form->Outcome().ProductsRemoved(), row.Removed);
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), row.Code);
    EXPECT_EQ(!Traces(Alpha()), row.AlphaGone);
    EXPECT_TRUE(UnrelatedIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SilentOutcomeTest,
    testing::Values(SilentRow{"Removed", "-silent -product \"Zolva Alpha\"", false, false, false,
                              true, 1, 1, 0, true},
                    SilentRow{"RuleFailed", "-silent -product \"Zolva Alpha\"", false, false, true,
                              true, 1, 0, 1, false},
                    SilentRow{"UnknownProduct", "-silent -product \"Zolva Delta\"", false, false,
                              false, false, 0, 0, 2, false},
                    SilentRow{"NoProductSwitch", "-silent", false, false, false, false, 0, 0, 0,
                              false},
                    SilentRow{"NoDefinitions", "-silent -product \"Zolva Alpha\"", true, false,
                              false, false, 0, 0, 3, false},
                    // The removal goes on without the terms, as it always has; the code tells.
                    SilentRow{"NoTerms", "-silent -product \"Zolva Alpha\"", false, true, false,
                              true, 1, 1, 3, true},
                    SilentRow{"NoTermsAndUnknownProduct", "-silent -product \"Zolva Delta\"", false,
                              true, false, false, 0, 0, 3, false}),
    [](const testing::TestParamInfo<SilentRow>& info) { return std::string(info.param.Name); });

// -silent with -exitcode: where a silent run would show its window after all,
// it ends with its code, since no one is there to close the window.
struct UnattendedRow {
    const char* Name;
    const char* Arguments;
    bool RemoveDefinitions;
    int Code;
};

void PrintTo(const UnattendedRow& row, std::ostream* os) {
    *os << row.Name;
}

class UnattendedTest : public WizardTest, public testing::WithParamInterface<UnattendedRow> {};

TEST_P(UnattendedTest, EndsWithItsCodeAndNeverShowsTheWindow) {
    Plant(Alpha());
    if (GetParam().RemoveDefinitions)
        Resources.Remove(u"ZOLVAPRODUCT1");
    Unattended = true;
    App.SetShowMainForm(false);
    Arguments(GetParam().Arguments);
    Create();
    EXPECT_TRUE(App.Terminated());
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
    EXPECT_EQ(GetWindowTextLengthW(C(ciEulaEdit)), 0); // nothing filled for no one
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), GetParam().Code);
    EXPECT_TRUE(Traces(Alpha()));
    App.Run(Form->Handle()); // ends at once
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnattendedTest,
    testing::Values(
        UnattendedRow{"UnknownProduct", "-silent -exitcode -product \"Zolva Delta\"", false, 2},
        UnattendedRow{"NoProductSwitch", "-silent -exitcode", false, 2},
        UnattendedRow{"ProductSwitchWithoutName", "-silent -exitcode -product", false, 2},
        UnattendedRow{"NoDefinitions", "-silent -exitcode -product \"Zolva Alpha\"", true, 3}),
    [](const testing::TestParamInfo<UnattendedRow>& info) { return std::string(info.param.Name); });

TEST_F(WizardTest, AnUnattendedRunThatCanRemoveDoesSoAsAnyOther) {
    Plant(Alpha());
    Unattended = true;
    App.SetShowMainForm(false);
    Arguments("-silent -exitcode -product \"Zolva Alpha\"");
    Create();
    EXPECT_TRUE(App.Terminated());
    EXPECT_FALSE(Traces(Alpha()));
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 0);
}

// --- the outcome of wizard runs ------------------------------------------------

TEST_F(WizardTest, AWizardRemovalGivesCodeZeroAndAnUnknownProductSwitchTwo) {
    Plant(Alpha());
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsRemoveButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_EQ(Form->Outcome().ProductsRemoved(), 1);
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 0);

    Form.reset();
    Plant(Alpha());
    Arguments("-product \"Zolva Delta\"");
    Create();
    Click(ciEulaAcceptButton);
    ASSERT_EQ(Form->ActivePage(), piProducts);
    Click(ciProductsRemoveButton);
    EXPECT_FALSE(Traces(Alpha()));
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 2); // the switch named nothing known
}

TEST_F(WizardTest, InSafeModeTheResultPageSaysSuccessButTheCodeTellsTheFailedRule) {
    Plant(Alpha());
    Registry.DenyDelete(platform::kHkeyLocalMachine, ProductKey(Alpha()) + u"\\Settings");
    CleanBoot = 1;
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsRemoveButton);
    EXPECT_EQ(TextOf(C(ciSuccessLabel1)), Text("Text05"));
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 1);
    EXPECT_EQ(Form->Outcome().Notes()[0].Detail, u"Zolva Alpha");
}

TEST_F(WizardTest, ABrokenRunGivesCodeOneAndAWizardClosedEarlyZero) {
    Create();
    Click(ciEulaExitButton);
    EXPECT_TRUE(Form->Outcome().Notes().empty());
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 0);

    Form.reset();
    Create();
    Click(ciEulaAcceptButton);
    const int row = Form->ProductsListBox().Add(u"not a product", nullptr);
    Form->ProductsListBox().SetChecked(row, true);
    Form->ProductsRemoveButtonClick(C(ciProductsRemoveButton));
    ASSERT_EQ(Form->ActivePage(), piError);
    ASSERT_EQ(Form->Outcome().Notes().size(), 1u);
    EXPECT_EQ(Form->Outcome().Notes()[0].Problem, TRunProblem::RunBrokeOff);
    EXPECT_EQ(Form->Outcome().Notes()[0].Detail, u"a ticked row carries no product");
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 1);
}

TEST_F(WizardTest, MissingTermsInTheWizardGiveCodeThree) {
    Resources.Remove(u"EULA");
    Create();
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_TRUE(Form->Outcome().Has(TRunProblem::TermsUnreadable));
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 3);
}

// --- -restore with the switches beside it ------------------------------------

struct RestoreRow {
    const char* Name;
    const char* Arguments; // after -restore FILE
    const char* Caption;
    int Code;
};

void PrintTo(const RestoreRow& row, std::ostream* os) {
    *os << row.Name;
}

class RestoreResultTest : public WizardTest, public testing::WithParamInterface<RestoreRow> {};

// The result page says what happened, the registry shows that nothing was
// written or removed, and the outcome gives the exit code.
TEST_P(RestoreResultTest, ShowsOnTheResultPageAndWritesNothingButARestore) {
    const RestoreRow& row = GetParam();
    TempDir dir;
    const std::u16string file = dir.File(u"backup.reg");
    // A backup this program wrote on this computer, recorded in its ledger.
    RecordedBackup backup(Registry, kProgramKey, &Registry);
    const std::vector<uint8_t>& bytes =
        backup.Write({u"[HKEY_LOCAL_MACHINE\\" + ProductKey(TestProducts()[1]) +
                      u"]\r\n\"v\"=dword:00000001\r\n\r\n"});
    platform::WriteFileBytes(file, std::string(bytes.begin(), bytes.end()));
    Plant(Alpha());
    Arguments("-restore \"" + Utf16ToUtf8(file) + "\" " + row.Arguments);
    Create();
    Click(ciEulaAcceptButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_EQ(TextOf(C(ciSuccessLabel1)), Text(row.Caption));
    EXPECT_TRUE(Traces(Alpha()));
    EXPECT_TRUE(UnrelatedIntact());
    EXPECT_EQ(Registry.KeyPresent(platform::kHkeyLocalMachine, ProductKey(TestProducts()[1])),
              std::string(row.Caption) == "Text09");
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), row.Code);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, RestoreResultTest,
    testing::Values(RestoreRow{"Alone", "", "Text09", 0},
                    RestoreRow{"Preview", "-preview", "Text14", 0},
                    RestoreRow{"WithProduct", "-product \"Zolva Alpha\"", "Text15", 3},
                    RestoreRow{"WithBackup", "-backup other.reg", "Text15", 3},
                    RestoreRow{"WithProductAndPreview", "-preview -product \"Zolva Alpha\"",
                               "Text15", 3}),
    [](const testing::TestParamInfo<RestoreRow>& info) { return std::string(info.param.Name); });

// --- the terms of a silent run -------------------------------------------------

TEST_F(WizardTest, ASilentRemovalReadsTheTermsButNeverFillsTheirView) {
    Plant(Alpha());
    App.SetShowMainForm(false);
    Arguments("-silent -product \"Zolva Alpha\"");
    Create();
    ASSERT_TRUE(App.Terminated());
    EXPECT_FALSE(Traces(Alpha()));
    EXPECT_EQ(Resources.OpenCount(u"EULA"), 1);
    EXPECT_EQ(Resources.LiveStreams(), 0);
    EXPECT_EQ(GetWindowTextLengthW(C(ciEulaEdit)), 0);
    EXPECT_EQ(Form->ActivePage(), piSuccess);
}

class SilentFallbackTest : public WizardTest, public testing::WithParamInterface<const char*> {};

TEST_P(SilentFallbackTest, ShowsTheTermsFilledFromTheFirstLine) {
    App.SetShowMainForm(false);
    Arguments(GetParam());
    Create();
    ASSERT_TRUE(IsWindowVisible(Form->Handle()));
    EXPECT_EQ(Form->ActivePage(), piEula);
    EXPECT_EQ(Form->DefaultButton(), C(ciEulaAcceptButton));
    const std::u16string text = TextOf(C(ciEulaEdit));
    EXPECT_EQ(text.rfind(u"ZOLVA KEYSTRIP", 0), 0u);
    EXPECT_GT(text.size(), 40000u);
    CHARRANGE sel{-1, -1};
    SendMessageW(C(ciEulaEdit), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&sel));
    EXPECT_EQ(sel.cpMin, 0);
    EXPECT_EQ(sel.cpMax, 0);
    // The same as a window that was never silent.
    Form.reset();
    App.SetShowMainForm(true);
    Create();
    EXPECT_EQ(TextOf(C(ciEulaEdit)), text);
}

INSTANTIATE_TEST_SUITE_P(Switches, SilentFallbackTest,
                         testing::Values("-silent", "-silent -product \"Zolva Delta\"",
                                         "-silent -product"));

struct UnreadableRow {
    const char* Arguments;
    int Page;
    bool Terminated;
};

class SilentUnreadableTermsTest : public WizardTest,
                                  public testing::WithParamInterface<UnreadableRow> {};

TEST_P(SilentUnreadableTermsTest, EndOnTheSamePagesAsBefore) {
    Plant(Alpha());
    Resources.AddBroken(u"EULA");
    App.SetShowMainForm(false);
    Arguments(GetParam().Arguments);
    Create();
    EXPECT_EQ(Form->ActivePage(), GetParam().Page);
    EXPECT_EQ(App.Terminated(), GetParam().Terminated);
    EXPECT_TRUE(Form->Outcome().Has(TRunProblem::TermsUnreadable));
    if (GetParam().Page == piError) {
        EXPECT_TRUE(IsWindowVisible(Form->Handle()));
        EXPECT_EQ(TextOf(C(ciErrorLabel)), u"An unknown error occurred. Error code: 1000.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, SilentUnreadableTermsTest,
    testing::Values(UnreadableRow{"-silent -product \"Zolva Alpha\"", piSuccess, true},
                    UnreadableRow{"-silent -product \"Zolva Delta\"", piError, false},
                    UnreadableRow{"-silent", piError, false}));

// --- the log file --------------------------------------------------------------

std::u16string LogBody(const std::u16string& file) {
    const std::vector<uint8_t> bytes = ReadBytes(std::filesystem::path(file));
    if (bytes.size() < 3)
        return u"";
    return Utf8ToUtf16(std::string(bytes.begin() + 3, bytes.end()));
}

TEST_F(WizardTest, TheLogIsWrittenWhenTheResultPageShows) {
    TempDir dir;
    const std::u16string file = dir.File(u"keystrip.log");
    TRunLog log(file, u"ZolvaKeystrip.exe -log keystrip.log", false);
    Log = &log;
    Plant(Alpha());
    Create();
    Click(ciEulaAcceptButton);
    EXPECT_FALSE(log.Done()); // not for the detection run
    Click(ciProductsRemoveButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    ASSERT_TRUE(log.Done());
    EXPECT_FALSE(Shown(C(ciSuccessLogLabel)));
    const std::u16string body = LogBody(file);
    EXPECT_NE(body.find(u"\r\nCommand line: ZolvaKeystrip.exe -log keystrip.log\r\n"),
              std::u16string::npos);
    EXPECT_NE(body.find(u"\r\n\r\n" + TextOf(C(ciSuccessMemo)) + u"\r\n\r\n"),
              std::u16string::npos);
    EXPECT_NE(body.find(u"\r\nProducts removed completely: 1 of 1\r\nResult: 0, "),
              std::u16string::npos);
    EXPECT_TRUE(Form->Outcome().Notes().empty());
}

TEST_F(WizardTest, ASilentRemovalWritesTheLogBeforeItEnds) {
    TempDir dir;
    const std::u16string file = dir.File(u"silent.log");
    TRunLog log(file, u"k -silent", true);
    Log = &log;
    Plant(Alpha());
    App.SetShowMainForm(false);
    Arguments("-silent -product \"Zolva Alpha\" -exitcode");
    Create();
    ASSERT_TRUE(App.Terminated());
    EXPECT_NE(LogBody(file).find(u"Removing product \"Zolva Alpha\"\r\n"), std::u16string::npos);
    EXPECT_NE(LogBody(file).find(u"\r\nExit code: 0\r\n"), std::u16string::npos);
}

TEST_F(WizardTest, AWindowClosedBeforeAnyRemovalLeavesTheLogToTheEnd) {
    TempDir dir;
    TRunLog log(dir.File(u"early.log"), u"k", false);
    Log = &log;
    Create();
    Click(ciEulaExitButton);
    EXPECT_FALSE(log.Done());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

struct NoteRow {
    const char* Name;
    std::string Texts; // the ZOLVASTRINGS resource; empty: the shipped one
    std::u16string Note;
};

void PrintTo(const NoteRow& row, std::ostream* os) {
    *os << row.Name;
}

class UnwritableLogTest : public WizardTest, public testing::WithParamInterface<NoteRow> {};

TEST_P(UnwritableLogTest, TheRemovalGoesOnAndTheResultPageSaysSo) {
    TempDir dir;
    TRunLog log(dir.File(u"no such folder\\keystrip.log"), u"k", true);
    Log = &log;
    if (!GetParam().Texts.empty())
        Resources.Add(u"ZOLVASTRINGS", GetParam().Texts);
    Plant(Alpha());
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsRemoveButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_FALSE(Traces(Alpha()));
    EXPECT_TRUE(Shown(C(ciSuccessLogLabel)));
    EXPECT_EQ(TextOf(C(ciSuccessLogLabel)), GetParam().Note);
    EXPECT_TRUE(Form->Outcome().Has(TRunProblem::LogNotWritten));
    EXPECT_EQ(ExitCodeOf(Form->Outcome()), 3);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UnwritableLogTest,
    testing::Values(NoteRow{"Shipped", "", u"The log file could not be written."},
                    NoteRow{"Translated", "[Texts]\r\nText07=Kein Protokoll.\r\n",
                            u"Kein Protokoll."},
                    NoteRow{"MissingKeyTakesTheDefault", "[Texts]\r\nText05=Fertig.\r\n",
                            u"The log file could not be written."}),
    [](const testing::TestParamInfo<NoteRow>& info) { return std::string(info.param.Name); });

TEST_F(WizardTest, WithoutALogTheResultPageHasNoNote) {
    Plant(Alpha());
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsRemoveButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_FALSE(Shown(C(ciSuccessLogLabel)));
    EXPECT_EQ(TextOf(C(ciSuccessLogLabel)), u"");
}

} // namespace
} // namespace keystrip::test
