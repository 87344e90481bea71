// The keyboard, as the message loop feeds it: Enter presses the page's
// default button, Tab follows the tab order, Alt with the underlined letter
// presses that control, the space bar ticks a row.
#include "WizardFixture.h"

namespace keystrip::test {
namespace {

using KeyboardTest = WizardTest;

TEST_F(KeyboardTest, TheTermsPageStartsInTheTextAndTabCyclesItsControls) {
    Open();
    ASSERT_EQ(GetFocus(), C(ciEulaEdit));
    EXPECT_EQ(TabCycle(3),
              (std::vector<TControlIndex>{ciEulaAcceptButton, ciEulaExitButton, ciEulaEdit}));
}

TEST_F(KeyboardTest, EnterInTheTermsAcceptsThem) {
    Plant(TestProducts()[0]);
    Open();
    ASSERT_EQ(GetFocus(), C(ciEulaEdit));
    Press(VK_RETURN);
    EXPECT_EQ(Form->ActivePage(), piProducts);
    // The new page takes the focus, in its own tab order.
    EXPECT_EQ(GetFocus(), C(ciProductsListBox));
    EXPECT_EQ(TabCycle(4),
              (std::vector<TControlIndex>{ciProductsRemoveButton, ciProductsCancelButton,
                                          ciProductsSelectAllBox, ciProductsListBox}));
    // Enter from the list presses Remove, the default button.
    Press(VK_RETURN);
    EXPECT_EQ(Form->ActivePage(), piSuccess);
    EXPECT_FALSE(Traces(TestProducts()[0]));
    EXPECT_EQ(GetFocus(), C(ciSuccessCloseButton));
    EXPECT_EQ(TabCycle(2),
              (std::vector<TControlIndex>{ciSuccessShowDetailsBox, ciSuccessCloseButton}));
    Press(VK_RETURN);
    EXPECT_TRUE(App.Terminated());
}

TEST_F(KeyboardTest, EnterOnAFocusedButtonPressesThatButton) {
    Open();
    Press(VK_TAB);
    Press(VK_TAB);
    ASSERT_EQ(GetFocus(), C(ciEulaExitButton));
    Press(VK_RETURN);
    EXPECT_TRUE(App.Terminated());
}

TEST_F(KeyboardTest, SpaceTicksTheSelectedRow) {
    Open();
    Press(VK_RETURN);
    ASSERT_EQ(GetFocus(), C(ciProductsListBox));
    Press(VK_DOWN);
    Press(VK_DOWN);
    const auto selected = SendMessageW(C(ciProductsListBox), LB_GETCURSEL, 0, 0);
    ASSERT_GE(selected, 1);
    Key(WM_CHAR, L' ');
    std::vector<bool> expected(3, false);
    expected[static_cast<size_t>(selected)] = true;
    EXPECT_EQ(Ticks(), expected);
    EXPECT_TRUE(IsWindowEnabled(C(ciProductsRemoveButton)));
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), BST_INDETERMINATE);
}

struct AccessKeyRow {
    wchar_t Letter;
    bool Accept; // accept the terms first
    int Page;    // page afterwards, -1: the program ended
};

class AccessKeyTest : public KeyboardTest, public testing::WithParamInterface<AccessKeyRow> {};

TEST_P(AccessKeyTest, AltWithTheUnderlinedLetterPressesTheButton) {
    Plant(TestProducts()[1]);
    Open();
    if (GetParam().Accept)
        Alt(L'a');
    Alt(GetParam().Letter);
    if (GetParam().Page < 0)
        EXPECT_TRUE(App.Terminated());
    else
        EXPECT_EQ(Form->ActivePage(), GetParam().Page);
}

INSTANTIATE_TEST_SUITE_P(Letters, AccessKeyTest,
                         testing::Values(AccessKeyRow{L'a', false, piProducts},
                                         AccessKeyRow{L'e', false, -1},
                                         AccessKeyRow{L'r', true, piSuccess},
                                         AccessKeyRow{L'c', true, -1},
                                         // a letter of a hidden page does nothing
                                         AccessKeyRow{L'r', false, piEula}));

TEST_F(KeyboardTest, TheErrorPageHasNoDefaultButtonAndEnterPressesTheFocusedClose) {
    Resources.Remove(u"ZOLVAPRODUCT1");
    Open();
    Press(VK_RETURN);
    ASSERT_EQ(Form->ActivePage(), piError);
    // The terms page's default button is out of reach now.
    EXPECT_EQ(SendMessageW(Form->Handle(), DM_GETDEFID, 0, 0), 0);
    SendMessageW(Form->Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(Form->ActivePage(), piError);
    EXPECT_EQ(GetFocus(), C(ciErrorCloseButton));
    Press(VK_RETURN);
    EXPECT_TRUE(App.Terminated());
}

} // namespace
} // namespace keystrip::test
