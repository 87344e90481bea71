#include "app/CheckListBox.h"

#include "app/Accessibility.h"
#include "app/Dpi.h"
#include "app/Win32Text.h"
#include "common/Errors.h"

#include <commctrl.h>

#include <utility>

namespace keystrip {

namespace {

constexpr UINT_PTR kSubclassId = 0x4B53;
// The window property that leads from the list box to its TCheckListBox.
constexpr wchar_t kListProperty[] = L"KeystripCheckList";

// The messages that may move the focus from row to row.
bool MayMoveFocus(UINT msg) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_SETFOCUS:
    case LB_SETCURSEL:
    case LB_SETCARETINDEX:
        return true;
    default:
        return false;
    }
}

} // namespace

TCheckListBox::~TCheckListBox() {
    if (FHandle && IsWindow(FHandle)) {
        RemoveWindowSubclass(FHandle, SubclassProc, kSubclassId);
        RemovePropW(FHandle, kListProperty);
    }
}

void TCheckListBox::Attach(HWND listBox) {
    FHandle = listBox;
    SetWindowSubclass(listBox, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    SetPropW(listBox, kListProperty, this);
}

TCheckListBox* TCheckListBox::FromHandle(HWND Window) {
    if (!Window || !IsWindow(Window))
        return nullptr;
    auto* list = static_cast<TCheckListBox*>(GetPropW(Window, kListProperty));
    return list && list->FHandle == Window ? list : nullptr;
}

void TCheckListBox::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        throw EListError(Index);
}

void TCheckListBox::Clear() {
    FRows.clear();
    if (FHandle)
        SendMessageW(FHandle, LB_RESETCONTENT, 0, 0);
}

int TCheckListBox::Add(const std::u16string& Text, void* Object) {
    FRows.push_back(Row{Object, false});
    if (FHandle) {
        const std::wstring text = AsWide(Text);
        SendMessageW(FHandle, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    return Count() - 1;
}

std::u16string TCheckListBox::Items(int Index) const {
    CheckIndex(Index);
    const LRESULT length = SendMessageW(FHandle, LB_GETTEXTLEN, Index, 0);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(FHandle, LB_GETTEXT, Index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return FromWide(text);
}

void* TCheckListBox::Objects(int Index) const {
    CheckIndex(Index);
    return FRows[static_cast<size_t>(Index)].Object;
}

bool TCheckListBox::Checked(int Index) const {
    CheckIndex(Index);
    return FRows[static_cast<size_t>(Index)].Checked;
}

void TCheckListBox::SetChecked(int Index, bool Checked) {
    CheckIndex(Index);
    auto& row = FRows[static_cast<size_t>(Index)];
    if (row.Checked == Checked)
        return;
    row.Checked = Checked;
    if (!FHandle)
        return;
    if (FUpdateDepth == 0) {
        RECT r;
        if (SendMessageW(FHandle, LB_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&r)) != LB_ERR)
            InvalidateRect(FHandle, &r, FALSE);
    }
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, FHandle, OBJID_CLIENT, Index + 1);
}

void TCheckListBox::NotifyFocus() const {
    const auto caret = static_cast<LONG>(SendMessageW(FHandle, LB_GETCARETINDEX, 0, 0));
    NotifyWinEvent(EVENT_OBJECT_FOCUS, FHandle, OBJID_CLIENT,
                   caret >= 0 && caret < Count() ? caret + 1 : CHILDID_SELF);
}

void TCheckListBox::BeginUpdate() {
    if (FUpdateDepth++ == 0 && FHandle)
        SendMessageW(FHandle, WM_SETREDRAW, FALSE, 0);
}

void TCheckListBox::EndUpdate() {
    if (FUpdateDepth == 0)
        return;
    if (--FUpdateDepth == 0 && FHandle) {
        SendMessageW(FHandle, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(FHandle, nullptr, TRUE);
    }
}

void TCheckListBox::SetMetrics(int RowHeight, int Dpi) {
    FRowHeight = RowHeight;
    FDpi = Dpi;
    if (FHandle) {
        SendMessageW(FHandle, LB_SETITEMHEIGHT, 0, RowHeight);
        InvalidateRect(FHandle, nullptr, TRUE);
    }
}

int TCheckListBox::BoxSize() const {
    const int size = dpi::Scale(11, FDpi);
    return size < FRowHeight ? size : FRowHeight;
}

RECT TCheckListBox::BoxRect(int Index) const {
    RECT item{};
    SendMessageW(FHandle, LB_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&item));
    const int size = BoxSize();
    const int left = item.left + dpi::Scale(2, FDpi);
    const int top = item.top + (item.bottom - item.top - size) / 2;
    return RECT{left, top, left + size, top + size};
}

void TCheckListBox::DrawItem(const DRAWITEMSTRUCT& Item) const {
    HDC dc = Item.hDC;
    RECT row = Item.rcItem;
    FillRect(dc, &row, GetSysColorBrush(COLOR_WINDOW));
    if (static_cast<int>(Item.itemID) < 0 || static_cast<int>(Item.itemID) >= Count()) {
        if (Item.itemState & ODS_FOCUS)
            DrawFocusRect(dc, &row);
        return;
    }
    const int index = static_cast<int>(Item.itemID);

    // The flat tick box: a one-pixel frame around a white square.
    const int size = BoxSize();
    const int left = row.left + dpi::Scale(2, FDpi);
    const int top = row.top + (row.bottom - row.top - size) / 2;
    RECT box{left, top, left + size, top + size};
    const int line = dpi::Scale(1, FDpi) > 0 ? dpi::Scale(1, FDpi) : 1;
    HBRUSH frame = GetSysColorBrush(COLOR_BTNSHADOW);
    FillRect(dc, &box, frame);
    RECT inner = box;
    InflateRect(&inner, -line, -line);
    FillRect(dc, &inner, GetSysColorBrush(COLOR_WINDOW));
    if (FRows[static_cast<size_t>(index)].Checked) {
        // The classic tick, drawn in box units of an 11-pixel box.
        HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
        HGDIOBJ old = SelectObject(dc, pen);
        const double unit = size / 11.0;
        const int thickness = MulDiv(3, size, 11);
        for (int t = 0; t < thickness; ++t) {
            POINT pts[3] = {{left + int(2.5 * unit), top + int(4.5 * unit) + t},
                            {left + int(4.5 * unit), top + int(6.5 * unit) + t},
                            {left + int(8.5 * unit) + 1, top + int(2.5 * unit) + t - 1}};
            Polyline(dc, pts, 3);
        }
        SelectObject(dc, old);
        DeleteObject(pen);
    }

    RECT text = row;
    text.left = box.right + dpi::Scale(4, FDpi);
    const bool selected = (Item.itemState & ODS_SELECTED) != 0;
    if (selected)
        FillRect(dc, &text, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    const std::wstring caption = AsWide(Items(index));
    RECT textArea = text;
    textArea.left += dpi::Scale(2, FDpi);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &textArea,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
    if (Item.itemState & ODS_FOCUS)
        DrawFocusRect(dc, &text);
}

int TCheckListBox::RowAt(LPARAM point, bool& onBox) const {
    onBox = false;
    const LRESULT hit = SendMessageW(FHandle, LB_ITEMFROMPOINT, 0, point);
    if (HIWORD(hit) != 0)
        return -1;
    const int index = LOWORD(hit);
    if (index >= Count())
        return -1;
    const RECT box = BoxRect(index);
    RECT zone = box;
    InflateRect(&zone, dpi::Scale(1, FDpi), dpi::Scale(1, FDpi));
    const POINT p{static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    onBox = PtInRect(&zone, p) != 0;
    return index;
}

void TCheckListBox::ToggleByUser(int Index) {
    if (Index < 0 || Index >= Count())
        return;
    SetChecked(Index, !Checked(Index));
    if (OnClickCheck)
        OnClickCheck();
}

LRESULT TCheckListBox::Handle(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = false;
    switch (msg) {
    case WM_GETOBJECT:
        if (static_cast<LONG>(lParam) == OBJID_CLIENT) {
            const LRESULT object = accessibility::CheckListObject(FHandle, wParam);
            handled = object != 0;
            return object;
        }
        break;
    case kGetCheckMessage: {
        handled = true;
        const int index = static_cast<int>(wParam);
        if (index < 0 || index >= Count())
            return -1;
        return FRows[static_cast<size_t>(index)].Checked ? 1 : 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // Selection and focus as usual; a click on the box toggles the tick
        // (the second click of a double click arrives as WM_LBUTTONDBLCLK).
        bool onBox = false;
        const int index = RowAt(lParam, onBox);
        handled = true;
        const LRESULT result = DefSubclassProc(FHandle, msg, wParam, lParam);
        if (onBox)
            ToggleByUser(index);
        return result;
    }
    case WM_CHAR:
        if (wParam == L' ') {
            handled = true;
            int index = static_cast<int>(SendMessageW(FHandle, LB_GETCURSEL, 0, 0));
            if (index < 0 && Count() > 0) {
                index = static_cast<int>(SendMessageW(FHandle, LB_GETCARETINDEX, 0, 0));
                if (index < 0 || index >= Count())
                    index = 0;
                SendMessageW(FHandle, LB_SETCURSEL, index, 0);
            }
            ToggleByUser(index);
            return 0;
        }
        break;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_KEYDOWN:
    case WM_KEYUP: {
        // Shift+F10 asks for the focused row's context menu. Made here, once,
        // and the key kept from the default handling, which differs (Wine's
        // makes none for a list) and must not add a second. The menu key's
        // menu comes from the default handling everywhere.
        const bool shiftF10 = wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000) != 0;
        if (!shiftF10)
            break;
        handled = true;
        if (msg == WM_SYSKEYDOWN || msg == WM_KEYDOWN)
            SendMessageW(FHandle, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(FHandle),
                         MAKELPARAM(-1, -1));
        return 0;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(FHandle, SubclassProc, kSubclassId);
        RemovePropW(FHandle, kListProperty);
        FHandle = nullptr;
        break;
    }
    return 0;
}

LRESULT CALLBACK TCheckListBox::SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR self) {
    auto* list = reinterpret_cast<TCheckListBox*>(self);
    if (!list || list->FHandle != window)
        return DefSubclassProc(window, msg, wParam, lParam);
    // Screen readers follow the focus from row to row by its events.
    // The focused row is the caret's; the first move may select it without
    // moving the caret, which a reader hears as the focus arriving there.
    const bool watch = MayMoveFocus(msg);
    auto where = [window] {
        return std::make_pair(SendMessageW(window, LB_GETCARETINDEX, 0, 0),
                              SendMessageW(window, LB_GETCURSEL, 0, 0));
    };
    const auto before = watch ? where() : std::make_pair(LRESULT{0}, LRESULT{0});
    bool handled = false;
    LRESULT result = list->Handle(msg, wParam, lParam, handled);
    if (!handled)
        result = DefSubclassProc(window, msg, wParam, lParam);
    if (watch && list->FHandle == window && GetFocus() == window &&
        (msg == WM_SETFOCUS || where() != before))
        list->NotifyFocus();
    return result;
}

} // namespace keystrip
