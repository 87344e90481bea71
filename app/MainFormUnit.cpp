#include "app/MainFormUnit.h"

#include "app/Artwork.h"
#include "app/CommandLine.h"
#include "app/Dpi.h"
#include "app/FormControls.h"
#include "app/ProductPreview.h"
#include "app/TermsView.h"
#include "app/Win32Text.h"
#include "common/Errors.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <vector>

namespace keystrip {

const wchar_t TMainForm::kClassName[] = L"TMainForm";

namespace {

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr UINT_PTR kTextViewSubclass = 0x4B54;

const std::u16string kTextsSection = u"Texts";
// The result page's note when -log names a file that cannot be written.
const std::u16string kLogNotWrittenText = u"The log file could not be written.";
const std::u16string kPreviewMessage =
    u"Checking what removing the selected Zolva products would delete";
const std::u16string kPreviewResult = u"Nothing was removed. The details show what removing the "
                                      u"selected Zolva products would delete.";
const std::u16string kRestoreMessage = u"Restoring the registry keys and values of the backup";
const std::u16string kRestored = u"Everything in the backup has been restored.";
const std::u16string kNotRestored =
    u"Not everything in the backup could be restored. The details show what could not.";
const std::u16string kRestorePreviewMessage = u"Checking what restoring the backup would write";
const std::u16string kRestorePreviewResult =
    u"Nothing was restored. The details show what restoring the backup would write.";
const std::u16string kRestoreCombined =
    u"A backup cannot be restored together with a removal (-product) or a backup (-backup). "
    u"Nothing was removed or restored.";

COLORREF ToColorRef(uint32_t rgb) {
    if (rgb == kSystemWindowColour)
        return GetSysColor(COLOR_WINDOW);
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

const TControlDesign& DesignOf(int index) {
    return design::Control(index);
}

bool TakesFocus(TControlKind kind) {
    switch (kind) {
    case TControlKind::PushButton:
    case TControlKind::CheckBox:
    case TControlKind::CheckListBox:
    case TControlKind::RichEdit:
    case TControlKind::Memo:
        return true;
    default:
        return false;
    }
}

// The order in which the controls of one parent are created. Creation order
// is the order of the parent's children, which is the tab order: first the
// controls that take focus, by tab order; then the other controls; the
// framed rectangles last, beneath the controls they frame.
std::vector<int> CreationOrder(int page) {
    std::vector<int> focusable, others, shapes;
    for (int i = 0; i < design::ControlCount(); ++i) {
        const auto& d = DesignOf(i);
        if (d.Page != page)
            continue;
        if (d.Kind == TControlKind::Shape)
            shapes.push_back(i);
        else if (d.TabOrder != kNoTabStop &&
                 (TakesFocus(d.Kind) || d.Kind == TControlKind::PageContainer))
            focusable.push_back(i);
        else
            others.push_back(i);
    }
    std::stable_sort(focusable.begin(), focusable.end(),
                     [](int a, int b) { return DesignOf(a).TabOrder < DesignOf(b).TabOrder; });
    focusable.insert(focusable.end(), others.begin(), others.end());
    focusable.insert(focusable.end(), shapes.begin(), shapes.end());
    return focusable;
}

RECT DesignRect(int index) {
    const auto& d = DesignOf(index);
    if (d.Options & coAlignTop) {
        const auto& w = design::Window();
        return RECT{0, d.Top, w.ClientWidth, d.Top + d.Height};
    }
    return RECT{d.Left, d.Top, d.Left + d.Width, d.Top + d.Height};
}

bool IsCaptioned(TControlKind kind) {
    return kind == TControlKind::Label || kind == TControlKind::PushButton ||
           kind == TControlKind::CheckBox;
}

} // namespace

// --- construction ------------------------------------------------------------

TMainForm::TMainForm(TApplication& Application, TMainFormServices Services)
    : FApplication(Application), FServices(std::move(Services)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!FServices.Instance)
        FServices.Instance = instance;
    controls::RegisterClasses(instance);
    controls::SetPanelColour(ToColorRef(design::Window().PanelColour));

    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, kClassName, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = LoadIconW(instance, L"MAINICON");
        wc.lpszClassName = kClassName;
        RegisterClassExW(&wc);
    }

    // Centred on the primary monitor, at its resolution.
    FDpi = dpi::ForSystem();
    const auto& w = design::Window();
    const SIZE size =
        dpi::WindowSizeForClient(dpi::Scale(w.ClientWidth, FDpi), dpi::Scale(w.ClientHeight, FDpi),
                                 kWindowStyle, kWindowExStyle, FDpi);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    const std::wstring title = WidePtr(w.Title);
    CreateWindowExW(kWindowExStyle, kClassName, title.c_str(), kWindowStyle, x, y, size.cx, size.cy,
                    nullptr, nullptr, instance, this);
    if (!FHandle)
        throw EKeystripError("the main window could not be created");

    // The monitor may differ from what the system reported.
    const int actual = dpi::ForWindow(FHandle);
    FWindowBrush.Reset(CreateSolidBrush(GetSysColor(COLOR_WINDOW)));
    FPanelBrush.Reset(CreateSolidBrush(ToColorRef(w.PanelColour)));
    CreateFonts();
    CreateControls();
    ApplyFonts();
    ApplyLayout();
    LoadArtwork();
    if (actual != FDpi)
        ChangeDpi(actual, nullptr);

    FormCreate();
}

TMainForm::~TMainForm() {
    FormDestroy();
    if (FHandle && IsWindow(FHandle))
        DestroyWindow(FHandle);
}

HWND TMainForm::ParentOf(int Index) const {
    const int page = DesignOf(Index).Page;
    return page == kOnWindow ? FHandle : FPages[page];
}

void TMainForm::CreateControls() {
    for (int index : CreationOrder(kOnWindow)) {
        CreateControl(index, FHandle);
        if (DesignOf(index).Kind == TControlKind::PageContainer) {
            const auto& w = design::Window();
            const RECT r = dpi::Scale(RECT{0, 0, w.PageWidth, w.PageHeight}, FDpi);
            for (int p = 0; p < design::PageCount(); ++p) {
                const std::wstring name = WidePtr(design::Page(p).Name);
                FPages[p] =
                    CreateWindowExW(WS_EX_CONTROLPARENT, controls::kPageClass, name.c_str(),
                                    WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, r.left, r.top,
                                    r.right - r.left, r.bottom - r.top, FControls[index],
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstPageId + p)),
                                    GetModuleHandleW(nullptr), nullptr);
            }
        }
    }
    for (int p = 0; p < design::PageCount(); ++p)
        for (int index : CreationOrder(p))
            CreateControl(index, FPages[p]);
    FSymbolsImageList.Reset(nullptr);
}

void TMainForm::CreateControl(int Index, HWND Parent) {
    const auto& d = DesignOf(Index);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    const wchar_t* className = nullptr;
    if (!(d.Options & coHidden))
        style |= WS_VISIBLE;
    if (TakesFocus(d.Kind) && d.TabOrder != kNoTabStop)
        style |= WS_TABSTOP;

    switch (d.Kind) {
    case TControlKind::Shape:
        className = controls::kShapeClass;
        break;
    case TControlKind::Image:
        className = controls::kImageClass;
        break;
    case TControlKind::PageContainer:
        className = controls::kNotebookClass;
        style |= WS_CLIPCHILDREN;
        exStyle |= WS_EX_CONTROLPARENT;
        break;
    case TControlKind::RichEdit:
        className = L"RichEdit20W";
        style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL;
        if (d.Options & coReadOnly)
            style |= ES_READONLY;
        if (d.Options & coVScrollAlways)
            style |= ES_DISABLENOSCROLL;
        if (d.Options & coKeepSelection)
            style |= ES_NOHIDESEL;
        break;
    case TControlKind::PushButton:
        className = WC_BUTTONW;
        style |= BS_PUSHBUTTON;
        break;
    case TControlKind::Label:
        className = WC_STATICW;
        style |= (d.Options & coWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
        break;
    case TControlKind::CheckListBox:
        className = WC_LISTBOXW;
        style |=
            LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
        break;
    case TControlKind::CheckBox:
        className = WC_BUTTONW;
        style |= (d.Options & coAllowGrayed) ? BS_3STATE : BS_AUTOCHECKBOX;
        break;
    case TControlKind::Memo:
        className = WC_EDITW;
        style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL;
        if (d.Options & coScrollBoth)
            style |= WS_HSCROLL | WS_VSCROLL;
        if (d.Options & coReadOnly)
            style |= ES_READONLY;
        if (d.Options & coKeepSelection)
            style |= ES_NOHIDESEL;
        break;
    case TControlKind::ProgressBar:
        className = PROGRESS_CLASSW;
        if (d.Options & coSmooth)
            style |= PBS_SMOOTH;
        break;
    case TControlKind::ImageList:
        return;
    }

    const RECT r = dpi::Scale(DesignRect(Index), FDpi);
    HWND control = CreateWindowExW(
        exStyle, className, L"", style, r.left, r.top, r.right - r.left, r.bottom - r.top, Parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(design::ControlId(Index))),
        GetModuleHandleW(nullptr), nullptr);
    if (!control)
        throw EKeystripError("a control of the main window could not be created");
    FControls[Index] = control;

    switch (d.Kind) {
    case TControlKind::Shape:
        controls::SetShapeStyle(control, ToColorRef(d.Fill), ToColorRef(d.Border),
                                d.Border == kNoColour ? 0 : std::max(1, dpi::Scale(1, FDpi)));
        break;
    case TControlKind::RichEdit:
        SetWindowSubclass(control, TextViewProc, kTextViewSubclass,
                          reinterpret_cast<DWORD_PTR>(this));
        SendMessageW(control, EM_SETZOOM, 0, 0);
        SendMessageW(control, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
        break;
    case TControlKind::Memo:
        SetWindowSubclass(control, TextViewProc, kTextViewSubclass,
                          reinterpret_cast<DWORD_PTR>(this));
        SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
        break;
    case TControlKind::CheckListBox:
        FProductsListBox.Attach(control);
        FProductsListBox.SetMetrics(dpi::Scale(d.Margin, FDpi), FDpi);
        FProductsListBox.OnClickCheck = [this] {
            Dispatch(TControlHandler::ProductsListBoxClickCheck, FProductsListBox.Handle());
        };
        break;
    default:
        break;
    }
}

void TMainForm::CreateFonts() {
    const auto& w = design::Window();
    const std::wstring face = WidePtr(w.FontName);
    const int height = -dpi::Scale(w.FontHeight, FDpi);
    auto make = [&](const wchar_t* name, BYTE charset) {
        return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, name);
    };
    FWindowFont.Reset(make(face.c_str(), DEFAULT_CHARSET));
    FAnsiFont.Reset(make(face.c_str(), ANSI_CHARSET));
    FCourierFont.Reset(make(L"Courier New", DEFAULT_CHARSET));
}

void TMainForm::ApplyFonts() {
    for (int i = 0; i < ciCount; ++i) {
        if (!FControls[i])
            continue;
        HFONT font = FWindowFont.Get();
        switch (DesignOf(i).Font) {
        case TControlFont::TahomaAnsi:
            font = FAnsiFont.Get();
            break;
        case TControlFont::CourierNew:
            font = FCourierFont.Get();
            break;
        case TControlFont::Window:
            break;
        }
        SendMessageW(FControls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FWindowFont.Get()), FALSE);
}

void TMainForm::LoadArtwork() {
    HWND logo = FControls[ciLogoImage];
    const RECT r = dpi::Scale(DesignRect(ciLogoImage), FDpi);
    controls::SetImageBitmap(
        logo, artwork::LoadBanner(FServices.Instance, FDpi, r.right - r.left, r.bottom - r.top));
    FSymbolsImageList.Reset(artwork::CreateSymbolList(
        FServices.Instance, FDpi, dpi::Scale(DesignOf(ciSymbolsImageList).Width, FDpi)));
}

void TMainForm::ApplyLayout() {
    const auto& w = design::Window();
    const RECT page = dpi::Scale(RECT{0, 0, w.PageWidth, w.PageHeight}, FDpi);
    for (HWND p : FPages)
        SetWindowPos(p, nullptr, 0, 0, page.right, page.bottom,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    for (int i = 0; i < ciCount; ++i) {
        if (!FControls[i])
            continue;
        const RECT r = dpi::Scale(DesignRect(i), FDpi);
        SetWindowPos(FControls[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        const auto& d = DesignOf(i);
        if (d.Kind == TControlKind::Shape)
            controls::SetShapeStyle(FControls[i], ToColorRef(d.Fill), ToColorRef(d.Border),
                                    d.Border == kNoColour ? 0 : std::max(1, dpi::Scale(1, FDpi)));
        if (d.Kind == TControlKind::RichEdit) {
            // The inner margin, on every side of the client area (which
            // leaves out the scroll bar).
            RECT inner;
            GetClientRect(FControls[i], &inner);
            const int margin = dpi::Scale(d.Margin, FDpi);
            InflateRect(&inner, -margin, -margin);
            SendMessageW(FControls[i], EM_SETRECT, 0, reinterpret_cast<LPARAM>(&inner));
        }
    }
    FProductsListBox.SetMetrics(dpi::Scale(DesignOf(ciProductsListBox).Margin, FDpi), FDpi);
}

void TMainForm::ChangeDpi(int NewDpi, const RECT* Suggested) {
    FDpi = NewDpi;
    const auto& w = design::Window();
    const SIZE size =
        dpi::WindowSizeForClient(dpi::Scale(w.ClientWidth, FDpi), dpi::Scale(w.ClientHeight, FDpi),
                                 kWindowStyle, kWindowExStyle, FDpi);
    RECT current;
    GetWindowRect(FHandle, &current);
    const POINT at =
        Suggested ? POINT{Suggested->left, Suggested->top} : POINT{current.left, current.top};
    SetWindowPos(FHandle, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame may not scale as the calculation assumed: correct the window
    // by what the client area misses.
    RECT client;
    GetClientRect(FHandle, &client);
    const int dx = dpi::Scale(w.ClientWidth, FDpi) - client.right;
    const int dy = dpi::Scale(w.ClientHeight, FDpi) - client.bottom;
    if (dx != 0 || dy != 0)
        SetWindowPos(FHandle, nullptr, 0, 0, size.cx + dx, size.cy + dy,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    CreateFonts();
    ApplyFonts();
    ApplyLayout();
    LoadArtwork();
    // The symbols shown so far, at the new size.
    const auto shown = FSymbols;
    for (const auto& [image, kind] : shown) {
        controls::SetImageBitmap(image, nullptr);
        SetSymbol(image, kind);
    }
    InvalidateRect(FHandle, nullptr, TRUE);
}

// --- messages ----------------------------------------------------------------

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    TMainForm* form = nullptr;
    if (msg == WM_NCCREATE) {
        form = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    } else {
        form = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!form)
        return DefWindowProcW(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    try {
        return form->HandleMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        form->FApplication.HandleException(e);
    } catch (...) {
        form->FApplication.HandleException(EKeystripError("unknown error"));
    }
    return 0;
}

LRESULT CALLBACK TMainForm::TextViewProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR) {
    if (msg == WM_GETDLGCODE) {
        // Tab and Enter belong to the window: Tab moves on, Enter presses the
        // default button. Arrows and the other keys stay with the view.
        LRESULT code = DefSubclassProc(window, msg, wParam, lParam);
        code &= ~static_cast<LRESULT>(DLGC_WANTTAB | DLGC_WANTALLKEYS);
        return code;
    }
    if (msg == WM_NCDESTROY)
        RemoveWindowSubclass(window, TextViewProc, kTextViewSubclass);
    return DefSubclassProc(window, msg, wParam, lParam);
}

LRESULT TMainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_CONTEXTMENU:
        // Passed up from the list by the default handling of the windows it
        // sits in, which names the list (Windows) or the child of this window
        // that passed it on (Wine) as the window clicked.
        if ((reinterpret_cast<HWND>(wParam) == FProductsListBox.Handle() ||
             IsChild(reinterpret_cast<HWND>(wParam), FProductsListBox.Handle())) &&
            ActivePage() == piProducts && FromProductsList(lParam)) {
            ProductsListBoxContextPopup(
                POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
            return 0;
        }
        break;
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (design::IndexFromId(static_cast<int>(item->CtlID)) == ciProductsListBox) {
            item->itemHeight =
                static_cast<UINT>(dpi::Scale(DesignOf(ciProductsListBox).Margin, FDpi));
            return TRUE;
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem == FProductsListBox.Handle()) {
            FProductsListBox.DrawItem(*item);
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const HWND control = reinterpret_cast<HWND>(lParam);
        if (control == FControls[ciSuccessMemo]) {
            // The report is read-only but keeps the window colour.
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(FWindowBrush.Get());
        }
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, ToColorRef(design::Window().PanelColour));
        return reinterpret_cast<LRESULT>(FPanelBrush.Get());
    }
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), ToColorRef(design::Window().PanelColour));
        return reinterpret_cast<LRESULT>(FPanelBrush.Get());
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(FHandle, &r);
        HBRUSH brush = CreateSolidBrush(ToColorRef(design::Window().Colour));
        FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
        DeleteObject(brush);
        return 1;
    }
    case WM_SETCURSOR:
        if (FApplication.ApplyCursor())
            return TRUE;
        break;
    case DM_GETDEFID: {
        if (FDefaultButton && IsWindowEnabled(FDefaultButton)) {
            // Only a button on the page that shows counts.
            HWND page = GetParent(FDefaultButton);
            if ((GetWindowLongPtrW(page, GWL_STYLE) & WS_VISIBLE) &&
                (GetWindowLongPtrW(FDefaultButton, GWL_STYLE) & WS_VISIBLE))
                return MAKELRESULT(GetDlgCtrlID(FDefaultButton), DC_HASDEFID);
        }
        return 0;
    }
    case WM_NEXTDLGCTL: {
        HWND target = nullptr;
        if (LOWORD(lParam)) {
            target = reinterpret_cast<HWND>(wParam);
        } else {
            HWND focus = GetFocus();
            if (!IsChild(FHandle, focus))
                focus = nullptr;
            target = GetNextDlgTabItem(FHandle, focus, wParam != 0);
        }
        if (target)
            SetFocus(target);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            FLastFocus = IsChild(FHandle, focus) ? focus : nullptr;
        } else {
            FocusActivePage();
        }
        return 0;
    case WM_SETFOCUS:
        FocusActivePage();
        return 0;
    case WM_DPICHANGED:
        ChangeDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        FApplication.Terminate();
        return 0;
    }
    return DefWindowProcW(FHandle, msg, wParam, lParam);
}

void TMainForm::FocusActivePage() {
    HWND focus = FLastFocus;
    const int page = ActivePage();
    if (!focus || !IsWindow(focus) || page < 0 || GetParent(focus) != FPages[page] ||
        !IsWindowEnabled(focus) || !(GetWindowLongPtrW(focus, GWL_STYLE) & WS_VISIBLE))
        focus = GetNextDlgTabItem(FHandle, nullptr, FALSE);
    if (focus && IsChild(FHandle, focus))
        SetFocus(focus);
}

void TMainForm::Command(int Id, int Code, HWND Sender) {
    const int index = design::IndexFromId(Id);
    if (index == ciProductsListBox && Code == LBN_DBLCLK && ActivePage() == piProducts) {
        ProductsListBoxDblClick(Sender);
        return;
    }
    if (index < 0 || Code != BN_CLICKED)
        return; // IDOK and IDCANCEL from the dialog keys, and other notifications
    const auto& d = DesignOf(index);
    HWND control = FControls[index];
    if (!control || !IsWindowEnabled(control))
        return;
    // A control on a page that does not show cannot be pressed, not even as
    // the default button.
    for (HWND w = control; w && w != FHandle; w = GetParent(w))
        if (!(GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE))
            return;
    if (d.Kind == TControlKind::CheckBox && (d.Options & coAllowGrayed)) {
        // A user's click: unchecked and indeterminate go to checked, checked
        // goes to unchecked.
        const LRESULT state = SendMessageW(control, BM_GETCHECK, 0, 0);
        SendMessageW(control, BM_SETCHECK, state == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
    }
    (void)Sender;
    Dispatch(d.Handler, control);
}

void TMainForm::Dispatch(TControlHandler Handler, HWND Sender) {
    try {
        switch (Handler) {
        case TControlHandler::None:
            break;
        case TControlHandler::EulaAcceptButtonClick:
            EulaAcceptButtonClick(Sender);
            break;
        case TControlHandler::EulaExitButtonClick:
            EulaExitButtonClick(Sender);
            break;
        case TControlHandler::ProductsListBoxClickCheck:
            ProductsListBoxClickCheck(Sender);
            break;
        case TControlHandler::ProductsSelectAllBoxClick:
            ProductsSelectAllBoxClick(Sender);
            break;
        case TControlHandler::ProductsRemoveButtonClick:
            ProductsRemoveButtonClick(Sender);
            break;
        case TControlHandler::SuccessShowDetailsBoxClick:
            SuccessShowDetailsBoxClick(Sender);
            break;
        }
    } catch (const std::exception& e) {
        FApplication.HandleException(e);
    }
}

// --- pages, buttons, captions --------------------------------------------------

int TMainForm::ActivePage() const {
    return controls::ActivePage(FControls[ciNotebook]);
}

void TMainForm::ShowPage(int Index) {
    HWND focus = GetFocus();
    controls::ShowPage(FControls[ciNotebook], Index);
    // Focus left on a hidden page moves to the first control of the new one.
    if (IsWindowVisible(FHandle) && (!focus || !IsWindowVisible(focus) || focus == FHandle)) {
        FLastFocus = nullptr;
        FocusActivePage();
    }
}

void TMainForm::SetDefaultButton(HWND Button) {
    if (FDefaultButton && FDefaultButton != Button)
        SendMessageW(FDefaultButton, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    FDefaultButton = Button;
    if (Button)
        SendMessageW(Button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void TMainForm::SetCaption(HWND Control, const std::u16string& Text) {
    SetWindowTextW(Control, AsWide(Text).c_str());
}

void TMainForm::SetSelectAllState(int State) {
    // Setting the box from code raises its click event, as a user's click
    // does; FUpdateCount makes the handler return at once.
    HWND box = FControls[ciProductsSelectAllBox];
    SendMessageW(box, BM_SETCHECK, static_cast<WPARAM>(State), 0);
    Dispatch(TControlHandler::ProductsSelectAllBoxClick, box);
}

void TMainForm::Close() {
    if (FHandle)
        DestroyWindow(FHandle);
    FApplication.Terminate();
}

// --- event handlers ------------------------------------------------------------

void TMainForm::FormCreate() {
    FStrings = std::make_unique<TInterfaceTexts>();
    LoadStrings();
    TranslateControls(FHandle);
    FProducts = std::make_unique<TZolvaProducts>(*FServices.Registry, *FServices.Resources);
    FExtras = std::make_unique<TRunExtras>(FServices.Switches, *FServices.Registry, FServices.Hives,
                                           FOutcome);
    FUpdateCount = 0;
    ShowEula();
    if (!FApplication.ShowMainForm())
        RunSilent();
}

void TMainForm::FormDestroy() {
    FProducts.reset();
    FStrings.reset();
}

void TMainForm::EulaAcceptButtonClick(HWND) {
    if (FExtras->Restore())
        RestoreBackup();
    else if (SelectCommandLineProduct())
        RemoveProducts();
    else
        DetectProducts();
}

void TMainForm::EulaExitButtonClick(HWND) {
    Close();
}

void TMainForm::ProductsListBoxClickCheck(HWND) {
    if (FUpdateCount != 0)
        return;
    ++FUpdateCount;
    const int rows = FProductsListBox.Count();
    int ticked = 0;
    for (int i = 0; i < rows; ++i)
        if (FProductsListBox.Checked(i))
            ++ticked;
    SetSelectAllState(ticked == rows ? BST_CHECKED
                                     : (ticked > 0 ? BST_INDETERMINATE : BST_UNCHECKED));
    EnableWindow(FControls[ciProductsRemoveButton], ticked > 0);
    --FUpdateCount;
}

void TMainForm::ProductsSelectAllBoxClick(HWND) {
    if (FUpdateCount != 0)
        return;
    ++FUpdateCount;
    const bool checked =
        SendMessageW(FControls[ciProductsSelectAllBox], BM_GETCHECK, 0, 0) == BST_CHECKED;
    FProductsListBox.BeginUpdate();
    for (int i = 0; i < FProductsListBox.Count(); ++i)
        FProductsListBox.SetChecked(i, checked);
    FProductsListBox.EndUpdate();
    --FUpdateCount;
    ProductsListBoxClickCheck(FProductsListBox.Handle());
}

void TMainForm::ProductsRemoveButtonClick(HWND) {
    for (int i = 0; i < FProductsListBox.Count(); ++i) {
        if (FProductsListBox.Checked(i)) {
            RemoveProducts();
            return;
        }
    }
}

void TMainForm::SuccessShowDetailsBoxClick(HWND) {
    const bool checked =
        SendMessageW(FControls[ciSuccessShowDetailsBox], BM_GETCHECK, 0, 0) == BST_CHECKED;
    ShowWindow(FControls[ciSuccessBackground], checked ? SW_SHOW : SW_HIDE);
    ShowWindow(FControls[ciSuccessMemo], checked ? SW_SHOW : SW_HIDE);
    const bool hadFocus = GetFocus() == FControls[ciSuccessShowDetailsBox];
    ShowWindow(FControls[ciSuccessShowDetailsBox], checked ? SW_HIDE : SW_SHOW);
    if (hadFocus && checked && IsWindowVisible(FHandle))
        SetFocus(FControls[ciSuccessMemo]);
}

// --- operations ----------------------------------------------------------------

void TMainForm::LoadStrings() {
    FStrings->LoadFromResources(*FServices.Resources);
}

void TMainForm::TranslateControls(HWND Container) {
    const std::u16string section = design::Window().Name;
    for (HWND child = GetWindow(Container, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int index = design::IndexFromId(GetDlgCtrlID(child));
        if (index >= 0 && FControls[index] == child && IsCaptioned(DesignOf(index).Kind))
            SetCaption(child, FStrings->ReadString(section, DesignOf(index).Name, u""));
        if (GetWindow(child, GW_CHILD))
            TranslateControls(child);
    }
}

bool TMainForm::EnsureProductsLoaded() {
    try {
        if (FProducts->Count() == 0)
            FProducts->LoadFromResource();
        if (FProducts->Count() > 0)
            return true;
        throw EInOutError("no product definitions");
    } catch (...) {
        ShowError(1003);
        return false;
    }
}

void TMainForm::BeginProgress(int Maximum, const std::u16string& Message) {
    SetCaption(FControls[ciProgressLabel],
               FormatString(FStrings->ReadString(kTextsSection, u"Text01", u"%s"), Message));
    HWND bar = FControls[ciProgressBar];
    SendMessageW(bar, PBM_SETRANGE32, 0, Maximum);
    SendMessageW(bar, PBM_SETSTEP, 1, 0);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    ShowPage(piProgress);
    RedrawWindow(FControls[ciNotebook], nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    FApplication.SetCursor(TAppCursor::Wait);
}

void TMainForm::EndProgress(int PageIndex) {
    FApplication.SetCursor(TAppCursor::Default);
    ShowPage(PageIndex);
}

void TMainForm::StepProgress(int Position) {
    HWND bar = FControls[ciProgressBar];
    if (Position < 0)
        SendMessageW(bar, PBM_STEPIT, 0, 0);
    else
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(Position), 0);
}

void TMainForm::ShowEula() {
    try {
        std::vector<uint8_t> terms = ReadTerms(*FServices.Resources);
        if (FApplication.ShowMainForm())
            FillTermsView(FControls[ciEulaEdit], terms);
        else
            FPendingTerms = std::move(terms); // filled only if the window shows after all
        ShowPage(piEula);
        SetDefaultButton(FControls[ciEulaAcceptButton]);
    } catch (...) {
        ShowError(1000);
    }
}

void TMainForm::FillPendingTerms() {
    if (!FPendingTerms)
        return;
    const std::vector<uint8_t> terms = std::move(*FPendingTerms);
    FPendingTerms.reset();
    try {
        FillTermsView(FControls[ciEulaEdit], terms);
    } catch (...) {
        // As if the terms had failed at start-up: a later error page stays.
        if (ActivePage() == piEula)
            ShowError(1000);
    }
}

void TMainForm::ShowError(int Code) {
    FOutcome.Note(ProblemOfErrorPage(Code), CurrentExceptionText());
    SetSymbol(FControls[ciErrorSymbol], skError);
    const std::u16string format = FStrings->ReadString(kTextsSection, u"Text02", u"%d");
    std::u16string caption;
    try {
        caption = FormatInteger(format, Code);
    } catch (const EFormatError&) {
        // A message that does not fit the code still shows the code.
        caption = FormatInteger(u"%d", Code);
    }
    SetCaption(FControls[ciErrorLabel], caption);
    ShowPage(piError);
}

void TMainForm::DetectProducts() {
    if (!EnsureProductsLoaded())
        return;
    try {
        TRunExtras::TRun run(*FExtras, *FProducts, false);
        const std::u16string message = FStrings->ReadString(kTextsSection, u"Text03", u"");
        const int count = FProducts->Count();
        BeginProgress(count + 1, message);
        StepProgress(-1);
        for (int i = 0; i < count; ++i) {
            FProducts->Detect(FProducts->Items(i));
            StepProgress(-1);
        }
        FillProductList();
        ProductsListBoxClickCheck(FProductsListBox.Handle());
        SetSymbol(FControls[ciProductsSymbol], skWarning);
        EndProgress(piProducts);
        SetDefaultButton(FControls[ciProductsRemoveButton]);
    } catch (...) {
        ShowError(1001);
    }
}

void TMainForm::FillProductList() {
    FProductsListBox.BeginUpdate();
    FProductsListBox.Clear();
    const int count = FProducts->Count();
    for (int i = 0; i < count; ++i) {
        pZolvaProductsItem item = FProducts->Items(i);
        if (!item->Product)
            continue;
        const int row = FProductsListBox.Add(item->Product->Name(), item->Product.get());
        FProductsListBox.SetChecked(row, item->Found);
    }
    FProductsListBox.EndUpdate();
}

void TMainForm::RemoveProducts() {
    if (!EnsureProductsLoaded())
        return;
    try {
        const bool preview = FExtras->Preview();
        TRunExtras::TRun run(*FExtras, *FProducts, true);
        const std::u16string message =
            preview ? FStrings->ReadString(kTextsSection, u"Text11", kPreviewMessage)
                    : FStrings->ReadString(kTextsSection, u"Text04", u"");
        const int count = FProducts->Count();
        BeginProgress(count + 1, message);
        StepProgress(-1);
        bool allRemoved = true;
        for (int i = 0; i < FProductsListBox.Count(); ++i) {
            if (FProductsListBox.Checked(i)) {
                auto* product = static_cast<TZolvaProduct*>(FProductsListBox.Objects(i));
                if (!product)
                    throw EKeystripError("a ticked row carries no product");
                pZolvaProductsItem item = FProducts->Find(product);
                if (item && !FExtras->Apply(*FProducts, item))
                    allRemoved = false;
            }
            StepProgress(-1);
        }
        const std::u16string report =
            FProducts->Activity()->Export(TActivityExportOptions{eoInfo, eoWarning, eoError});
        SetCaption(FControls[ciSuccessMemo], report);
        if (preview) {
            SetCaption(FControls[ciSuccessLabel1],
                       FStrings->ReadString(kTextsSection, u"Text08", kPreviewResult));
            SetSymbol(FControls[ciSuccessSymbol], allRemoved ? skSuccess : skWarning);
        } else if (allRemoved || IsSafeMode()) {
            SetCaption(FControls[ciSuccessLabel1],
                       FStrings->ReadString(kTextsSection, u"Text05", u""));
            SetSymbol(FControls[ciSuccessSymbol], skSuccess);
        } else {
            SetCaption(FControls[ciSuccessLabel1],
                       FStrings->ReadString(kTextsSection, u"Text06", u""));
            SetSymbol(FControls[ciSuccessSymbol], skWarning);
        }
        WriteRunLog();
        EndProgress(piSuccess);
        SetDefaultButton(FControls[ciSuccessCloseButton]);
    } catch (...) {
        ShowError(1002);
    }
}

void TMainForm::RestoreBackup() {
    const bool combined = !FExtras->RestoreConflict().empty();
    if (!combined && !EnsureProductsLoaded())
        return;
    try {
        const bool preview = FExtras->Preview();
        BeginProgress(
            2, preview ? FStrings->ReadString(kTextsSection, u"Text13", kRestorePreviewMessage)
                       : FStrings->ReadString(kTextsSection, u"Text12", kRestoreMessage));
        StepProgress(-1);
        const bool restored = FExtras->RunRestore(*FProducts);
        StepProgress(-1);
        SetCaption(FControls[ciSuccessMemo], FProducts->Activity()->Export(TActivityExportOptions{
                                                 eoInfo, eoWarning, eoError}));
        std::u16string caption;
        if (combined)
            caption = FStrings->ReadString(kTextsSection, u"Text15", kRestoreCombined);
        else if (preview)
            caption = FStrings->ReadString(kTextsSection, u"Text14", kRestorePreviewResult);
        else
            caption = restored ? FStrings->ReadString(kTextsSection, u"Text09", kRestored)
                               : FStrings->ReadString(kTextsSection, u"Text10", kNotRestored);
        SetCaption(FControls[ciSuccessLabel1], caption);
        SetSymbol(FControls[ciSuccessSymbol],
                  combined ? skError : (restored ? skSuccess : skWarning));
        WriteRunLog();
        EndProgress(piSuccess);
        SetDefaultButton(FControls[ciSuccessCloseButton]);
    } catch (...) {
        ShowError(1002);
    }
}

bool TMainForm::FromProductsList(LPARAM At) const {
    const HWND list = FProductsListBox.Handle();
    const POINT point{static_cast<short>(LOWORD(At)), static_cast<short>(HIWORD(At))};
    if (point.x == -1 && point.y == -1)
        return GetFocus() == list;
    RECT area{};
    GetWindowRect(list, &area);
    return PtInRect(&area, point) != 0;
}

void TMainForm::ProductsListBoxContextPopup(POINT At) {
    const HWND list = FProductsListBox.Handle();
    int row = -1;
    if (At.x == -1 && At.y == -1) {
        // From the keyboard: the focused row, the menu below it.
        row = static_cast<int>(SendMessageW(list, LB_GETCARETINDEX, 0, 0));
        RECT item{};
        if (row < 0 || SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                                    reinterpret_cast<LPARAM>(&item)) == LB_ERR)
            return;
        At = POINT{item.left + dpi::Scale(16, FDpi), item.bottom};
        ClientToScreen(list, &At);
    } else {
        POINT client = At;
        ScreenToClient(list, &client);
        const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y));
        if (HIWORD(hit) != 0)
            return; // not on a row
        row = LOWORD(hit);
        SendMessageW(list, LB_SETCARETINDEX, static_cast<WPARAM>(row), FALSE);
    }
    if (ChooseProductPreview(FHandle, ReadProductPreviewTexts(*FStrings).MenuItem, At))
        PreviewRow(row);
}

void TMainForm::ProductsListBoxDblClick(HWND) {
    PreviewRow(static_cast<int>(SendMessageW(FProductsListBox.Handle(), LB_GETCARETINDEX, 0, 0)));
}

void TMainForm::PreviewRow(int Row) {
    if (Row < 0 || Row >= FProductsListBox.Count())
        return;
    auto* product = static_cast<TZolvaProduct*>(FProductsListBox.Objects(Row));
    pZolvaProductsItem item = product ? FProducts->Find(product) : nullptr;
    if (!item)
        return;
    TRunExtras::TRun run(*FExtras, *FProducts, false);
    ShowProductPreview(FHandle, *FProducts, item, ReadProductPreviewTexts(*FStrings).Window,
                       FCourierFont.Get(), FWindowFont.Get(), FDpi);
}

void TMainForm::SetSymbol(HWND Image, TSymbolKind Kind) {
    if (!Image)
        return;
    const int size = dpi::Scale(design::kSymbolSize, FDpi);
    HBITMAP bitmap = controls::ImageBitmap(Image);
    BITMAP bm{};
    if (bitmap)
        GetObjectW(bitmap, sizeof(bm), &bm);
    if (!bitmap || bm.bmWidth != size || bm.bmHeight != size) {
        bitmap = artwork::CreateBitmap24(size, size);
        controls::SetImageBitmap(Image, bitmap);
    }
    if (Kind != skSuccess && Kind != skWarning && Kind != skError)
        return;
    FSymbols[Image] = Kind;
    if (!FSymbolsImageList)
        return;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    ImageList_Draw(FSymbolsImageList.Get(), Kind, dc, 0, 0, ILD_NORMAL);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    InvalidateRect(Image, nullptr, FALSE);
}

bool TMainForm::IsSafeMode() {
    const int boot = FServices.CleanBoot ? FServices.CleanBoot() : GetSystemMetrics(SM_CLEANBOOT);
    return boot == 1 || boot == 2;
}

bool TMainForm::SelectCommandLineProduct() {
    auto reader = FServices.CommandLine ? std::make_unique<TCommandLine>(*FServices.CommandLine)
                                        : std::make_unique<TCommandLine>();
    bool result = reader->Switches() > 0 && !reader->SwitchValue(u"product", u"").empty();
    if (result) {
        if (EnsureProductsLoaded()) {
            const std::u16string name = reader->SwitchValue(u"product", u"");
            pZolvaProductsItem item = FProducts->Find(name);
            result = item != nullptr;
            if (!item)
                FOutcome.Note(TRunProblem::UnknownProduct, name);
            if (item) {
                FProductsListBox.BeginUpdate();
                FProductsListBox.Clear();
                const int row = FProductsListBox.Add(item->Product->Name(), item->Product.get());
                FProductsListBox.SetChecked(row, true);
                FProductsListBox.EndUpdate();
            }
        } else {
            result = false;
        }
    }
    return result;
}

void TMainForm::RunSilent() {
    if (FExtras->Restore() &&
        (!FExtras->Preview() || FServices.Log || !FExtras->RestoreConflict().empty())) {
        RestoreBackup();
        FApplication.Terminate();
    } else if (FExtras->Preview() && !FServices.Log) {
        // The preview's report has nowhere to go: nothing runs.
        FOutcome.Note(TRunProblem::PreviewWithoutLog);
        FApplication.Terminate();
    } else if (SelectCommandLineProduct()) {
        RemoveProducts();
        FApplication.Terminate();
    } else if (FExtras->Preview() && !FOutcome.Has(TRunProblem::UnknownProduct) &&
               !FOutcome.Has(TRunProblem::NoDefinitions)) {
        // Without -product, every product the detection finds.
        DetectProducts();
        RemoveProducts();
        FApplication.Terminate();
    } else if (FServices.Unattended) {
        // Without a product to remove the exit code says why: 2 when no -product
        // names one, 3 when the definitions could not be loaded.
        if (ExitCodeOf(FOutcome) < ecUnknownProduct)
            FOutcome.Note(TRunProblem::UnknownProduct, u"no product named");
        FApplication.Terminate();
    } else {
        FillPendingTerms();
        ShowWindow(FHandle, SW_SHOWNORMAL);
        UpdateWindow(FHandle);
    }
}

void TMainForm::WriteRunLog() {
    if (!FServices.Log)
        return;
    HWND label = FControls[ciSuccessLogLabel];
    if (FServices.Log->Write(FProducts->Activity(), FOutcome)) {
        ShowWindow(label, SW_HIDE);
        return;
    }
    SetCaption(label, FStrings->ReadString(kTextsSection, u"Text07", kLogNotWrittenText));
    ShowWindow(label, SW_SHOW);
}

} // namespace keystrip
