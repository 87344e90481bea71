// The wizard's flow: start-up, detection, the product list and its select-all
// box, removal, the result page, the error pages, the product switch and the
// silent path.
#include "WizardFixture.h"

#include <richedit.h>

namespace keystrip::test {
namespace {

const TestProduct& Alpha() {
    return TestProducts()[0];
}
const TestProduct& Beta() {
    return TestProducts()[1];
}
const TestProduct& Gamma() {
    return TestProducts()[2];
}

// --- start-up -------------------------------------------------------------------

TEST_F(WizardTest, OpensOnTheTermsWithAcceptAsDefaultAndTheCursorNormal) {
    Create();
    EXPECT_EQ(Form->ActivePage(), piEula);
    EXPECT_EQ(Form->DefaultButton(), C(ciEulaAcceptButton));
    EXPECT_EQ(GetWindowLongPtrW(C(ciEulaAcceptButton), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(App.Cursor(), TAppCursor::Default);
    EXPECT_EQ(TextOf(Form->Handle()), u"Zolva Keystrip");
    EXPECT_FALSE(App.Terminated());
    EXPECT_FALSE(IsWindowVisible(Form->Handle())); // the message loop shows it
}

struct CaptionRow {
    TControlIndex Control;
    const char16_t* Caption;
};

class CaptionTest : public WizardTest, public testing::WithParamInterface<CaptionRow> {};

TEST_P(CaptionTest, ComesFromTheTextsByControlName) {
    Create();
    EXPECT_EQ(TextOf(C(GetParam().Control)), GetParam().Caption);
}

INSTANTIATE_TEST_SUITE_P(
    Shipped, CaptionTest,
    testing::Values(
        CaptionRow{ciEulaAcceptButton, u"&Accept"}, CaptionRow{ciEulaExitButton, u"&Exit"},
        CaptionRow{ciProductsLabel1, u"Please choose Zolva products from the list where all "
                                     u"registry keys should be removed."},
        CaptionRow{ciProductsSelectAllBox, u"Select all / none"},
        CaptionRow{ciProductsRemoveButton, u"&Remove"},
        CaptionRow{ciProductsCancelButton, u"&Cancel"},
        CaptionRow{ciSuccessShowDetailsBox, u"Show details about removed registry keys"},
        CaptionRow{ciSuccessCloseButton, u"&Ok"}, CaptionRow{ciErrorCloseButton, u"&Close"},
        // Labels the flow fills later have no key and start empty.
        CaptionRow{ciSuccessLabel1, u""}, CaptionRow{ciProgressLabel, u""},
        CaptionRow{ciErrorLabel, u""}));

TEST_F(WizardTest, CaptionsReachOnlyLabelsButtonsAndCheckBoxes) {
    Resources.Add(u"ZOLVASTRINGS", std::string("[mainform]\r\nEULAACCEPTBUTTON = Yes \r\n"
                                               "EulaEdit=not me\r\nProductsListBox=nor me\r\n"
                                               "ErrorLabel=a=b\r\nNotebook=x\r\n"));
    Create();
    EXPECT_EQ(TextOf(C(ciEulaAcceptButton)), u"Yes"); // nested two pages deep, any case
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"a=b");
    EXPECT_EQ(TextOf(C(ciEulaExitButton)), u"");
    EXPECT_EQ(TextOf(C(ciNotebook)), u"");
    EXPECT_EQ(TextOf(Form->Handle()), u"Zolva Keystrip");
    EXPECT_EQ(Form->ProductsListBox().Count(), 0);
    EXPECT_EQ(TextOf(C(ciEulaEdit)).find(u"not me"), std::u16string::npos);
}

TEST_F(WizardTest, TermsShowAsPlainTextWithTheirWindows1252CharactersFromTheFirstLine) {
    Create();
    const std::u16string text = TextOf(C(ciEulaEdit));
    EXPECT_EQ(text.rfind(u"ZOLVA KEYSTRIP", 0), 0u);
    EXPECT_NE(text.find(u"Z\u00FCrich"), std::u16string::npos);
    EXPECT_NE(text.find(u"\u201CAgreement\u201D"), std::u16string::npos);
    EXPECT_EQ(text.find(u"{\\rtf"), std::u16string::npos);
    // The whole document, beyond the control's default limit of 32767.
    EXPECT_GT(text.size(), 40000u);
    CHARRANGE sel{-1, -1};
    SendMessageW(C(ciEulaEdit), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&sel));
    EXPECT_EQ(sel.cpMin, 0);
    EXPECT_EQ(sel.cpMax, 0);
}

TEST_F(WizardTest, RichTextTermsLoadAsRichText) {
    Resources.Add(u"EULA", std::string(R"({\rtf1\ansi {\b Bold} terms\par})"));
    Create();
    EXPECT_EQ(Form->ActivePage(), piEula);
    const std::u16string text = TextOf(C(ciEulaEdit));
    EXPECT_NE(text.find(u"Bold terms"), std::u16string::npos);
    EXPECT_EQ(text.find(u"rtf1"), std::u16string::npos);
}

TEST_F(WizardTest, Utf8TermsWithAMarkLoadWithoutTheMark) {
    Resources.Add(u"EULA", std::string("\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
                                       "e"));
    Create();
    EXPECT_EQ(TextOf(C(ciEulaEdit)), u"Gr\u00FC\u00DFe");
}

TEST_F(WizardTest, MissingTermsOpenOnError1000WhoseCloseEndsTheProgram) {
    Resources.Remove(u"EULA");
    Create();
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"An unknown error occurred. Error code: 1000.");
    Click(ciErrorCloseButton);
    EXPECT_TRUE(App.Terminated());
    EXPECT_EQ(Form->Handle(), nullptr);
}

TEST_F(WizardTest, WithoutTextsCaptionsAreBlankAndTheErrorPageShowsOnlyTheCode) {
    Resources.Remove(u"ZOLVASTRINGS");
    for (int i = 1; i <= 3; ++i)
        Resources.Remove(U16("ZOLVAPRODUCT" + std::to_string(i)));
    Create();
    EXPECT_EQ(TextOf(C(ciEulaAcceptButton)), u"");
    Click(ciEulaAcceptButton);
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"1003");
}

TEST_F(WizardTest, WithoutTextsTheFlowStillWorks) {
    Resources.Remove(u"ZOLVASTRINGS");
    Plant(Alpha());
    Create();
    Click(ciEulaAcceptButton);
    ASSERT_EQ(Form->ActivePage(), piProducts);
    Click(ciProductsRemoveButton);
    EXPECT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_EQ(TextOf(C(ciSuccessLabel1)), u"");
    EXPECT_FALSE(Traces(Alpha()));
}

// --- detection and the product list --------------------------------------------

struct DetectionRow {
    std::vector<int> Planted;
    std::vector<bool> Ticks;
    LRESULT SelectAll;
    bool RemoveEnabled;
};

class DetectionTest : public WizardTest, public testing::WithParamInterface<DetectionRow> {};

TEST_P(DetectionTest, TicksTheFoundProductsAndSetsTheBoxAndRemove) {
    for (int i : GetParam().Planted)
        Plant(TestProducts()[static_cast<size_t>(i)]);
    Create();
    Click(ciEulaAcceptButton);
    ASSERT_EQ(Form->ActivePage(), piProducts);
    EXPECT_EQ(Ticks(), GetParam().Ticks);
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), GetParam().SelectAll);
    EXPECT_EQ(IsWindowEnabled(C(ciProductsRemoveButton)) != 0, GetParam().RemoveEnabled);
    EXPECT_EQ(Form->DefaultButton(), C(ciProductsRemoveButton));
    EXPECT_EQ(App.Cursor(), TAppCursor::Default);
    EXPECT_EQ(ProgressMaximum(), 4);
    EXPECT_EQ(ProgressPosition(), 4);
    EXPECT_EQ(Form->UpdateCount(), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Form->ProductsListBox().Items(i),
                  U16(TestProducts()[static_cast<size_t>(i)].Name));
        EXPECT_EQ(
            Form->Products()->Find(static_cast<TZolvaProduct*>(Form->ProductsListBox().Objects(i))),
            Form->Products()->Items(i));
    }
    // Detection changes nothing.
    for (int i : GetParam().Planted)
        EXPECT_TRUE(Traces(TestProducts()[static_cast<size_t>(i)]));
}

INSTANTIATE_TEST_SUITE_P(
    Found, DetectionTest,
    testing::Values(DetectionRow{{}, {false, false, false}, BST_UNCHECKED, false},
                    DetectionRow{{1}, {false, true, false}, BST_INDETERMINATE, true},
                    DetectionRow{{0, 2}, {true, false, true}, BST_INDETERMINATE, true},
                    DetectionRow{{0, 1, 2}, {true, true, true}, BST_CHECKED, true}));

// A user's click on the select-all box, from each state it can be in.
struct SelectAllRow {
    std::vector<int> Planted;
    std::vector<bool> Ticks;
    LRESULT Box;
    bool RemoveEnabled;
};

class SelectAllTest : public WizardTest, public testing::WithParamInterface<SelectAllRow> {};

TEST_P(SelectAllTest, UserClickSetsEveryRow) {
    for (int i : GetParam().Planted)
        Plant(TestProducts()[static_cast<size_t>(i)]);
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsSelectAllBox);
    EXPECT_EQ(Ticks(), GetParam().Ticks);
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), GetParam().Box);
    EXPECT_EQ(IsWindowEnabled(C(ciProductsRemoveButton)) != 0, GetParam().RemoveEnabled);
    EXPECT_EQ(Form->UpdateCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Transitions, SelectAllTest,
    testing::Values(SelectAllRow{{}, {true, true, true}, BST_CHECKED, true},  // unchecked
                    SelectAllRow{{0}, {true, true, true}, BST_CHECKED, true}, // indeterminate
                    SelectAllRow{
                        {0, 1, 2}, {false, false, false}, BST_UNCHECKED, false})); // checked

TEST_F(WizardTest, TickingRowsByBoxAndSpaceRecomputesBoxAndRemove) {
    Plant(Beta());
    Create();
    Click(ciEulaAcceptButton);
    ClickBox(1); // untick the only ticked row
    EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), BST_UNCHECKED);
    EXPECT_FALSE(IsWindowEnabled(C(ciProductsRemoveButton)));

    SendMessageW(C(ciProductsListBox), LB_SETCURSEL, 2, 0);
    SendMessageW(C(ciProductsListBox), WM_CHAR, L' ', 0);
    EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), BST_INDETERMINATE);
    EXPECT_TRUE(IsWindowEnabled(C(ciProductsRemoveButton)));

    ClickBox(0);
    ClickBox(1);
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), BST_CHECKED);
}

TEST_F(WizardTest, ClickOnARowsTextSelectsItWithoutTicking) {
    Create();
    Click(ciEulaAcceptButton);
    RECT row{};
    SendMessageW(C(ciProductsListBox), LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
    const LPARAM at = MAKELPARAM(row.left + 200, (row.top + row.bottom) / 2);
    SendMessageW(C(ciProductsListBox), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(C(ciProductsListBox), WM_LBUTTONUP, 0, at);
    EXPECT_EQ(SendMessageW(C(ciProductsListBox), LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false}));
}

TEST_F(WizardTest, AnEmptyListCountsAsAllTicked) {
    Create();
    Click(ciEulaAcceptButton);
    Form->ProductsListBox().Clear();
    Form->ProductsListBoxClickCheck(C(ciProductsListBox));
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(C(ciProductsRemoveButton)));
}

TEST_F(WizardTest, RemoveWithoutATickDoesNothing) {
    Create();
    Click(ciEulaAcceptButton);
    Form->ProductsRemoveButtonClick(C(ciProductsRemoveButton));
    EXPECT_EQ(Form->ActivePage(), piProducts);
}

// --- removal and the result page ---------------------------------------------

TEST_F(WizardTest, RemovesExactlyTheTickedProductsAndShowsTheResult) {
    Plant(Alpha());
    Plant(Beta());
    Plant(Gamma());
    Create();
    Click(ciEulaAcceptButton);
    ClickBox(2); // keep Gamma
    Click(ciProductsRemoveButton);

    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_FALSE(Traces(Alpha()));
    EXPECT_FALSE(Traces(Beta()));
    EXPECT_TRUE(Registry.KeyPresent(platform::kHkeyLocalMachine, ProductKey(Gamma())));
    EXPECT_TRUE(Registry.ValuePresent(platform::kHkeyCurrentUser, RunKey(), u"Gamma"));
    EXPECT_TRUE(UnrelatedIntact());

    EXPECT_EQ(TextOf(C(ciSuccessLabel1)), Text("Text05"));
    EXPECT_EQ(Form->DefaultButton(), C(ciSuccessCloseButton));
    EXPECT_EQ(App.Cursor(), TAppCursor::Default);
    EXPECT_EQ(ProgressPosition(), 4);
    EXPECT_EQ(ProgressMaximum(), 4);
    // The report: every info, warning and error entry since start-up.
    const std::u16string report = TextOf(C(ciSuccessMemo));
    EXPECT_EQ(report, Form->Products()->Activity()->Export({eoInfo, eoWarning, eoError}));
    EXPECT_NE(report.find(u"SOFTWARE\\ZolvaTest\\Alpha"), std::u16string::npos);
    EXPECT_EQ(report.find(u"Gamma"), std::u16string::npos);
    // Hidden until asked for.
    EXPECT_FALSE(Shown(C(ciSuccessMemo)));
    EXPECT_FALSE(Shown(C(ciSuccessBackground)));
    EXPECT_TRUE(Shown(C(ciSuccessShowDetailsBox)));
}

TEST_F(WizardTest, ShowDetailsRevealsTheReportForGood) {
    Plant(Alpha());
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsRemoveButton);
    Click(ciSuccessShowDetailsBox);
    EXPECT_TRUE(Shown(C(ciSuccessMemo)));
    EXPECT_TRUE(Shown(C(ciSuccessBackground)));
    EXPECT_FALSE(Shown(C(ciSuccessShowDetailsBox)));
    Click(ciSuccessShowDetailsBox); // hidden: cannot be pressed again
    EXPECT_TRUE(Shown(C(ciSuccessMemo)));
}

struct ResultRow {
    int CleanBoot;
    bool Refused; // one of the removals is refused
    const char* Text;
    TSymbolKind Symbol;
};

class ResultTest : public WizardTest, public testing::WithParamInterface<ResultRow> {};

TEST_P(ResultTest, SentenceAndSymbolFollowTheOutcomeAndSafeMode) {
    Plant(Alpha());
    Plant(Beta());
    if (GetParam().Refused)
        Registry.DenyDelete(platform::kHkeyLocalMachine, ProductKey(Beta()) + u"\\Settings");
    CleanBoot = GetParam().CleanBoot;
    Create();
    Click(ciEulaAcceptButton);
    Click(ciProductsRemoveButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_EQ(TextOf(C(ciSuccessLabel1)), Text(GetParam().Text));
    int w = 0, h = 0, size = 0;
    EXPECT_EQ(Pixels(controls::ImageBitmap(C(ciSuccessSymbol)), w, h),
              ListEntry(Form->SymbolsImageList(), GetParam().Symbol, size));
    EXPECT_FALSE(Traces(Alpha())); // the remover goes on after a refusal
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ResultTest,
                         testing::Values(ResultRow{0, false, "Text05", skSuccess},
                                         ResultRow{0, true, "Text06", skWarning},
                                         ResultRow{1, true, "Text05", skSuccess},
                                         ResultRow{2, true, "Text05", skSuccess},
                                         ResultRow{3, true, "Text06", skWarning}));

TEST_F(WizardTest, AFailingRunShowsItsCodeAndKeepsTheWaitCursor) {
    Create();
    Click(ciEulaAcceptButton);
    const int row = Form->ProductsListBox().Add(u"not a product", nullptr);
    Form->ProductsListBox().SetChecked(row, true);
    Form->ProductsRemoveButtonClick(C(ciProductsRemoveButton));
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"An unknown error occurred. Error code: 1002.");
    EXPECT_EQ(App.Cursor(), TAppCursor::Wait);
    int w = 0, h = 0, size = 0;
    EXPECT_EQ(Pixels(controls::ImageBitmap(C(ciErrorSymbol)), w, h),
              ListEntry(Form->SymbolsImageList(), skError, size));
}

TEST_F(WizardTest, AProgressTextThatDoesNotFitFailsTheRunBeforeItsPage) {
    Resources.Add(u"ZOLVASTRINGS", std::string("[Texts]\r\nText01=%s and %s\r\n"
                                               "Text02=Code %d.\r\n"));
    Create();
    Click(ciEulaAcceptButton);
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"Code 1001.");
    EXPECT_EQ(App.Cursor(), TAppCursor::Default);
}

TEST_F(WizardTest, AProgressTextWithoutPlaceholderShowsUnchanged) {
    Resources.Add(u"ZOLVASTRINGS", std::string("[Texts]\r\nText01=Busy\r\n"));
    Create();
    Form->BeginProgress(5, u"ignored");
    EXPECT_EQ(TextOf(C(ciProgressLabel)), u"Busy");
    EXPECT_EQ(Form->ActivePage(), piProgress);
    EXPECT_EQ(App.Cursor(), TAppCursor::Wait);
    Form->StepProgress(-1);
    Form->StepProgress(-1);
    EXPECT_EQ(ProgressPosition(), 2);
    Form->StepProgress(4);
    EXPECT_EQ(ProgressPosition(), 4);
    EXPECT_EQ(ProgressMaximum(), 5);
    Form->EndProgress(piSuccess);
    EXPECT_EQ(App.Cursor(), TAppCursor::Default);
    EXPECT_EQ(Form->ActivePage(), piSuccess);
}

TEST_F(WizardTest, AnErrorTextThatDoesNotFitStillShowsTheCode) {
    Resources.Add(u"ZOLVASTRINGS", std::string("[Texts]\r\nText02=%s failed\r\n"));
    Create();
    Form->ShowError(1001);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"1001");
}

TEST_F(WizardTest, UnloadableDefinitionsGiveError1003AndLoadAgainLater) {
    Resources.AddBroken(u"ZOLVAPRODUCT1");
    Create();
    Click(ciEulaAcceptButton);
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"An unknown error occurred. Error code: 1003.");
    Resources.Add(u"ZOLVAPRODUCT1", ProductJson(Alpha()));
    EXPECT_TRUE(Form->EnsureProductsLoaded());
    EXPECT_EQ(Form->Products()->Count(), 3);
}

// --- the product switch and the silent path ------------------------------------

TEST_F(WizardTest, ProductSwitchRemovesThatProductAloneWithoutDetection) {
    Plant(Alpha());
    Plant(Beta());
    Arguments("-product \"zolva BETA\"");
    Create();
    Click(ciEulaAcceptButton);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_FALSE(Traces(Beta()));
    EXPECT_TRUE(Traces(Alpha()));
    ASSERT_EQ(Form->ProductsListBox().Count(), 1);
    EXPECT_EQ(Form->ProductsListBox().Items(0), u"Zolva Beta");
    EXPECT_EQ(ProgressPosition(), 2);
    EXPECT_EQ(ProgressMaximum(), 4);
    // Only the removal logged anything the report shows.
    EXPECT_EQ(TextOf(C(ciSuccessMemo)).find(u"Alpha"), std::u16string::npos);
    EXPECT_NE(TextOf(C(ciSuccessMemo)).find(u"Beta"), std::u16string::npos);
    EXPECT_EQ(TextOf(C(ciSuccessLabel1)), Text("Text05"));
}

class NoProductSwitchTest : public WizardTest, public testing::WithParamInterface<const char*> {};

TEST_P(NoProductSwitchTest, LeadsToTheDetectionRun) {
    Plant(Alpha());
    Arguments(GetParam());
    Create();
    Click(ciEulaAcceptButton);
    EXPECT_EQ(Form->ActivePage(), piProducts);
    EXPECT_EQ(Ticks(), (std::vector<bool>{true, false, false}));
}

INSTANTIATE_TEST_SUITE_P(Switches, NoProductSwitchTest,
                         testing::Values("-product \"Zolva Delta\"", "-product", "-product \"\"",
                                         "/product \"Zolva Alpha\"", "Zolva Alpha"));

TEST_F(WizardTest, ProductSwitchWithUnloadableDefinitionsGivesError1003) {
    Resources.Remove(u"ZOLVAPRODUCT1");
    Arguments("-product \"Zolva Alpha\"");
    Create();
    Click(ciEulaAcceptButton);
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(TextOf(C(ciErrorLabel)), u"An unknown error occurred. Error code: 1003.");
}

TEST_F(WizardTest, SilentWithAKnownProductRemovesItAndEndsUnseen) {
    Plant(Alpha());
    Plant(Gamma());
    App.SetShowMainForm(false);
    Arguments("-silent -product \"ZOLVA ALPHA\"");
    Create();
    EXPECT_TRUE(App.Terminated());
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
    EXPECT_FALSE(Traces(Alpha()));
    EXPECT_TRUE(Traces(Gamma()));
    EXPECT_TRUE(UnrelatedIntact());
    App.Run(Form->Handle()); // ends at once
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
}

class SilentShowsTest : public WizardTest, public testing::WithParamInterface<const char*> {};

TEST_P(SilentShowsTest, TheWindowAfterAllOnTheTerms) {
    Plant(Alpha());
    App.SetShowMainForm(false);
    Arguments(GetParam());
    Create();
    EXPECT_FALSE(App.Terminated());
    EXPECT_TRUE(IsWindowVisible(Form->Handle()));
    EXPECT_EQ(Form->ActivePage(), piEula);
    EXPECT_TRUE(Traces(Alpha()));
    Click(ciEulaExitButton);
    EXPECT_TRUE(App.Terminated());
}

INSTANTIATE_TEST_SUITE_P(Switches, SilentShowsTest,
                         testing::Values("-silent", "-silent -product \"Zolva Delta\"",
                                         "-silent -product"));

TEST_F(WizardTest, SilentWithoutDefinitionsShowsError1003) {
    Resources.Remove(u"ZOLVAPRODUCT1");
    App.SetShowMainForm(false);
    Arguments("-silent -product \"Zolva Alpha\"");
    Create();
    EXPECT_FALSE(App.Terminated());
    EXPECT_TRUE(IsWindowVisible(Form->Handle()));
    EXPECT_EQ(Form->ActivePage(), piError);
}

// --- closing -----------------------------------------------------------------

class CloseTest : public WizardTest, public testing::WithParamInterface<TControlIndex> {};

TEST_P(CloseTest, EveryCloseButtonEndsTheProgram) {
    Plant(Alpha());
    Create();
    const TControlIndex button = GetParam();
    if (button != ciEulaExitButton)
        Click(ciEulaAcceptButton);
    if (button == ciSuccessCloseButton)
        Click(ciProductsRemoveButton);
    Click(button);
    EXPECT_TRUE(App.Terminated());
    EXPECT_EQ(Form->Handle(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Buttons, CloseTest,
                         testing::Values(ciEulaExitButton, ciProductsCancelButton,
                                         ciSuccessCloseButton));

TEST_F(WizardTest, TheCloseBoxEndsTheProgram) {
    Create();
    SendMessageW(Form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(App.Terminated());
}

TEST_F(WizardTest, ButtonsOfAHiddenPageCannotBePressed) {
    Plant(Alpha());
    Create();
    Click(ciProductsRemoveButton);
    Click(ciSuccessCloseButton);
    EXPECT_EQ(Form->ActivePage(), piEula);
    EXPECT_FALSE(App.Terminated());
    EXPECT_TRUE(Traces(Alpha()));
}

} // namespace
} // namespace keystrip::test
