// What a screen reader reads through Microsoft Active Accessibility, asked
// in-process (Wine answers no other process): the products list's rows with
// their names, ticks, focus and default actions and the events that announce
// a change; the status symbols' names from the texts; a name for every
// control that Tab reaches on every page.
#include "WizardFixture.h"

#include <algorithm>

namespace keystrip::test {
namespace {

// An owned interface pointer.
struct Object {
    IAccessible* P = nullptr;
    explicit Object(HWND window) {
        EXPECT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&P)),
                  S_OK);
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() {
        if (P)
            P->Release();
    }
    IAccessible* operator->() const { return P; }
};

VARIANT Child(long id) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// A text the object gives for a child, e.g. &IAccessible::get_accName.
std::u16string Read(const Object& object, long id,
                    HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
    BSTR text = nullptr;
    (object.P->*get)(Child(id), &text);
    std::u16string out = text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : u"";
    SysFreeString(text);
    return out;
}
std::u16string Name(const Object& object, long id) {
    return Read(object, id, &IAccessible::get_accName);
}
long Role(const Object& object, long id = CHILDID_SELF) {
    VARIANT role{};
    EXPECT_EQ(object->get_accRole(Child(id), &role), S_OK);
    return role.vt == VT_I4 ? role.lVal : -1;
}
long State(const Object& object, long id) {
    VARIANT state{};
    EXPECT_EQ(object->get_accState(Child(id), &state), S_OK);
    return state.vt == VT_I4 ? state.lVal : 0;
}
std::vector<bool> Checked(const Object& object) {
    std::vector<bool> checked;
    for (long id = 1; id <= static_cast<long>(TestProducts().size()); ++id)
        checked.push_back((State(object, id) & STATE_SYSTEM_CHECKED) != 0);
    return checked;
}

struct Event {
    DWORD Kind;
    LONG Child;
    bool operator==(const Event& other) const { return Kind == other.Kind && Child == other.Child; }
};

std::vector<Event>& Heard() {
    static std::vector<Event> events;
    return events;
}
HWND gListened = nullptr;

void CALLBACK Listen(HWINEVENTHOOK, DWORD kind, HWND window, LONG object, LONG child, DWORD,
                     DWORD) {
    if (window == gListened && object == OBJID_CLIENT)
        Heard().push_back(Event{kind, child});
}

class AccessibilityTest : public WizardTest {
protected:
    void TearDown() override {
        if (FHook)
            UnhookWinEvent(FHook);
        WizardTest::TearDown();
    }

    // The products page, shown, with the list focused, and the events the
    // list raises recorded from now on.
    void ToTheList() {
        Open();
        Press(VK_RETURN);
        ASSERT_EQ(Form->ActivePage(), piProducts);
        ASSERT_EQ(GetFocus(), C(ciProductsListBox));
        gListened = C(ciProductsListBox);
        Heard().clear();
        FHook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_STATECHANGE, nullptr, Listen,
                                GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        ASSERT_NE(FHook, nullptr);
    }
    bool HeardEvent(DWORD kind, LONG child) {
        return std::find(Heard().begin(), Heard().end(), Event{kind, child}) != Heard().end();
    }

    HWINEVENTHOOK FHook = nullptr;
};

TEST_F(AccessibilityTest, EveryRowReadsAsACheckButtonWithItsNameAndTickAndSpaceChangesIt) {
    Plant(TestProducts()[1]);
    ToTheList();
    const Object list(C(ciProductsListBox));
    EXPECT_EQ(Role(list), ROLE_SYSTEM_LIST);
    EXPECT_EQ(Name(list, CHILDID_SELF), TextOf(C(ciProductsLabel1)));
    long count = 0;
    EXPECT_EQ(list->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 3);
    for (long id = 1; id <= 3; ++id) {
        EXPECT_EQ(Name(list, id), U16(TestProducts()[static_cast<size_t>(id - 1)].Name));
        EXPECT_EQ(Role(list, id), ROLE_SYSTEM_CHECKBUTTON) << id;
        EXPECT_EQ(Read(list, id, &IAccessible::get_accDefaultAction),
                  id == 2 ? u"Uncheck" : u"Check");
    }
    EXPECT_EQ(Checked(list), (std::vector<bool>{false, true, false}));

    // Down to the first row, then space: the reader hears the focus move and
    // the tick change, and reads the row as focused, selected and checked.
    Press(VK_DOWN);
    Pump();
    const long row = static_cast<long>(SendMessageW(C(ciProductsListBox), LB_GETCURSEL, 0, 0)) + 1;
    ASSERT_GE(row, 1);
    EXPECT_NE(State(list, row) & STATE_SYSTEM_FOCUSED, 0);
    EXPECT_NE(State(list, row) & STATE_SYSTEM_SELECTED, 0);
    Key(WM_CHAR, L' ');
    Pump();
    EXPECT_NE(State(list, row) & STATE_SYSTEM_CHECKED, 0);
    EXPECT_EQ(Checked(list)[static_cast<size_t>(row - 1)], true);
    EXPECT_EQ(Read(list, row, &IAccessible::get_accDefaultAction), u"Uncheck");
    EXPECT_TRUE(HeardEvent(EVENT_OBJECT_FOCUS, row));
    EXPECT_TRUE(HeardEvent(EVENT_OBJECT_STATECHANGE, row));
    VARIANT focus{};
    EXPECT_EQ(list->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.vt, VT_I4);
    EXPECT_EQ(focus.lVal, row);
}

// The default action ticks a row as a click does; a row is found by its place
// and by navigation; an object kept after its window is gone answers
// disconnected.
TEST_F(AccessibilityTest, TheDefaultActionPlaceAndNavigationOfARow) {
    ToTheList();
    const Object list(C(ciProductsListBox));
    ASSERT_FALSE(IsWindowEnabled(C(ciProductsRemoveButton)));
    EXPECT_EQ(list->accDoDefaultAction(Child(3)), S_OK);
    Pump();
    EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, true}));
    // The form heard it as a user's click: Remove and the select-all box follow.
    EXPECT_TRUE(IsWindowEnabled(C(ciProductsRemoveButton)));
    EXPECT_EQ(CheckState(C(ciProductsSelectAllBox)), BST_INDETERMINATE);
    EXPECT_EQ(Heard(), (std::vector<Event>{{EVENT_OBJECT_STATECHANGE, 3}}));
    EXPECT_EQ(list->accDoDefaultAction(Child(4)), E_INVALIDARG);
    // The select-all box's ticks are announced too.
    Heard().clear();
    Click(ciProductsSelectAllBox);
    Pump();
    EXPECT_EQ(Checked(list), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(Heard(),
              (std::vector<Event>{{EVENT_OBJECT_STATECHANGE, 1}, {EVENT_OBJECT_STATECHANGE, 2}}));

    long x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(list->accLocation(&x, &y, &w, &h, Child(2)), S_OK);
    EXPECT_GT(w, 0);
    EXPECT_EQ(h, Form->ProductsListBox().RowHeight());
    VARIANT found{};
    ASSERT_EQ(list->accHitTest(x + w / 2, y + h / 2, &found), S_OK);
    EXPECT_EQ(found.vt, VT_I4);
    EXPECT_EQ(found.lVal, 2);
    ASSERT_EQ(list->accNavigate(NAVDIR_NEXT, Child(2), &found), S_OK);
    EXPECT_EQ(found.lVal, 3);
    EXPECT_EQ(list->accNavigate(NAVDIR_NEXT, Child(3), &found), S_FALSE);
    ASSERT_EQ(list->accNavigate(NAVDIR_LASTCHILD, Child(CHILDID_SELF), &found), S_OK);
    EXPECT_EQ(found.lVal, 3);

    Form.reset();
    long count = 0;
    EXPECT_EQ(list->get_accChildCount(&count), RPC_E_DISCONNECTED);
    EXPECT_EQ(list->accDoDefaultAction(Child(1)), RPC_E_DISCONNECTED);
}

// The symbols say what they show, in the words of the texts.
struct SymbolRow {
    const char* Case;
    TControlIndex Image;
    const char16_t* Name;
};

class SymbolNameTest : public AccessibilityTest, public testing::WithParamInterface<SymbolRow> {};

TEST_P(SymbolNameTest, TheSymbolIsAGraphicNamedByTheTexts) {
    const SymbolRow& row = GetParam();
    const std::vector<uint8_t> shipped = ShippedBytes(u"ZOLVASTRINGS");
    std::string texts(shipped.begin(), shipped.end());
    const std::string section = "[Accessibility]";
    ASSERT_NE(texts.find(section), std::string::npos);
    // A translation: the names follow the texts.
    texts.insert(texts.find(section) + section.size(),
                 "\r\nSuccess=Erfolg\r\nWarning=Warnung\r\nError=Fehler");
    Resources.Add(u"ZOLVASTRINGS", texts);
    Plant(TestProducts()[0]);
    if (row.Image == ciErrorSymbol)
        Resources.Remove(u"ZOLVAPRODUCT1");
    if (row.Image == ciSuccessSymbol && std::string(row.Case) == "partial")
        Registry.DenyDelete(platform::kHkeyLocalMachine, ProductKey(TestProducts()[0]));
    Create();
    Click(ciEulaAcceptButton);
    if (row.Image == ciSuccessSymbol)
        Click(ciProductsRemoveButton);
    const Object image(C(row.Image));
    EXPECT_EQ(Name(image, CHILDID_SELF), row.Name);
    EXPECT_EQ(Role(image), ROLE_SYSTEM_GRAPHIC);
}

INSTANTIATE_TEST_SUITE_P(Pages, SymbolNameTest,
                         testing::Values(SymbolRow{"warning", ciProductsSymbol, u"Warnung"},
                                         SymbolRow{"removed", ciSuccessSymbol, u"Erfolg"},
                                         SymbolRow{"partial", ciSuccessSymbol, u"Warnung"},
                                         SymbolRow{"error", ciErrorSymbol, u"Fehler"}),
                         [](const testing::TestParamInfo<SymbolRow>& info) {
                             return std::string(info.param.Case);
                         });

// Every control that Tab reaches on a page has a name: its caption or the
// label beside it.
TEST_F(AccessibilityTest, EveryControlTabReachesHasAName) {
    Plant(TestProducts()[0]);
    Open();
    auto names = [&](int stops) {
        std::vector<std::u16string> seen;
        for (int i = 0; i < stops; ++i) {
            Press(VK_TAB);
            seen.push_back(AccessibleName(GetFocus()));
        }
        return seen;
    };
    EXPECT_EQ(names(3),
              (std::vector<std::u16string>{u"Accept", u"Exit", TextOf(C(ciEulaAcceptLabel))}));
    Press(VK_RETURN);
    ASSERT_EQ(Form->ActivePage(), piProducts);
    EXPECT_EQ(names(4), (std::vector<std::u16string>{u"Remove", u"Cancel", u"Select all / none",
                                                     TextOf(C(ciProductsLabel1))}));
    Press(VK_RETURN);
    ASSERT_EQ(Form->ActivePage(), piSuccess);
    Press(VK_TAB);
    ASSERT_EQ(GetFocus(), C(ciSuccessShowDetailsBox));
    Click(ciSuccessShowDetailsBox);
    ASSERT_TRUE(Shown(C(ciSuccessMemo)));
    EXPECT_EQ(names(2),
              (std::vector<std::u16string>{u"Ok", u"Show details about removed registry keys"}));
}

} // namespace
} // namespace keystrip::test
