#include "app/FormBuilder.h"

#include "app/Accessibility.h"
#include "app/Artwork.h"
#include "app/Dpi.h"
#include "app/FormControls.h"
#include "app/Win32Text.h"
#include "common/Errors.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <string>
#include <vector>

namespace keystrip {

namespace {

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr UINT_PTR kTextViewSubclass = 0x4B54;

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

LRESULT CALLBACK TextViewProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) {
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

// A control's caption as a name, read when asked.
accessibility::TText CaptionOf(HWND control) {
    return [control] {
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
        text.resize(static_cast<size_t>(
            std::max(0, GetWindowTextW(control, text.data(), static_cast<int>(text.size())))));
        return accessibility::WithoutAccessKey(FromWide(text));
    };
}

} // namespace

bool IsCaptioned(TControlKind Kind) {
    return Kind == TControlKind::Label || Kind == TControlKind::PushButton ||
           Kind == TControlKind::CheckBox;
}

TFormBuilder::TFormBuilder(TCheckListBox& ProductsListBox, HINSTANCE Artwork)
    : FProductsListBox(ProductsListBox), FArtwork(Artwork) {}

HWND TFormBuilder::CreateMainWindow(const wchar_t* ClassName, WNDPROC Proc, void* Param) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    controls::RegisterClasses(instance);
    controls::SetPanelColour(ToColorRef(design::Window().PanelColour));

    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, ClassName, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = LoadIconW(instance, L"MAINICON");
        wc.lpszClassName = ClassName;
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
    return CreateWindowExW(kWindowExStyle, ClassName, title.c_str(), kWindowStyle, x, y, size.cx,
                           size.cy, nullptr, nullptr, instance, Param);
}

void TFormBuilder::Build(HWND Window) {
    FWindow = Window;
    // The monitor may differ from what the system reported.
    const int actual = dpi::ForWindow(FWindow);
    FWindowBrush.Reset(CreateSolidBrush(GetSysColor(COLOR_WINDOW)));
    FPanelBrush.Reset(CreateSolidBrush(ToColorRef(design::Window().PanelColour)));
    CreateFonts();
    CreateControls();
    ApplyFonts();
    ApplyLayout();
    LoadArtwork();
    if (actual != FDpi)
        ChangeDpi(actual, nullptr);
}

void TFormBuilder::CreateControls() {
    for (int index : CreationOrder(kOnWindow)) {
        CreateControl(index, FWindow);
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

void TFormBuilder::CreateControl(int Index, HWND Parent) {
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
        break;
    default:
        break;
    }
}

void TFormBuilder::CreateFonts() {
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

void TFormBuilder::ApplyFonts() {
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
    SendMessageW(FWindow, WM_SETFONT, reinterpret_cast<WPARAM>(FWindowFont.Get()), FALSE);
}

void TFormBuilder::LoadArtwork() {
    HWND logo = FControls[ciLogoImage];
    const RECT r = dpi::Scale(DesignRect(ciLogoImage), FDpi);
    controls::SetImageBitmap(
        logo, artwork::LoadBanner(FArtwork, FDpi, r.right - r.left, r.bottom - r.top));
    FSymbolsImageList.Reset(artwork::CreateSymbolList(
        FArtwork, FDpi, dpi::Scale(DesignOf(ciSymbolsImageList).Width, FDpi)));
}

void TFormBuilder::ApplyLayout() {
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

void TFormBuilder::ChangeDpi(int NewDpi, const RECT* Suggested) {
    FDpi = NewDpi;
    const auto& w = design::Window();
    const SIZE size =
        dpi::WindowSizeForClient(dpi::Scale(w.ClientWidth, FDpi), dpi::Scale(w.ClientHeight, FDpi),
                                 kWindowStyle, kWindowExStyle, FDpi);
    RECT current;
    GetWindowRect(FWindow, &current);
    const POINT at =
        Suggested ? POINT{Suggested->left, Suggested->top} : POINT{current.left, current.top};
    SetWindowPos(FWindow, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame may not scale as the calculation assumed: correct the window
    // by what the client area misses.
    RECT client;
    GetClientRect(FWindow, &client);
    const int dx = dpi::Scale(w.ClientWidth, FDpi) - client.right;
    const int dy = dpi::Scale(w.ClientHeight, FDpi) - client.bottom;
    if (dx != 0 || dy != 0)
        SetWindowPos(FWindow, nullptr, 0, 0, size.cx + dx, size.cy + dy,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    CreateFonts();
    ApplyFonts();
    ApplyLayout();
    LoadArtwork();
    // The symbols shown so far, at the new size.
    const auto shown = FSymbols;
    for (const auto& [image, kind] : shown) {
        controls::SetImageBitmap(image, nullptr);
        DrawSymbol(image, kind);
    }
    InvalidateRect(FWindow, nullptr, TRUE);
}

void TFormBuilder::DrawSymbol(HWND Image, TSymbolKind Kind) {
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

void TFormBuilder::NameControls(const std::function<const TInterfaceTexts*()>& Texts) {
    // The texts of the section, by key, with their English defaults.
    auto text = [Texts](const char16_t* key) {
        const TInterfaceTexts* texts = Texts();
        return texts ? texts->ReadString(u"Accessibility", key, key) : std::u16string(key);
    };
    FProductsListBox.SetAccessibleTexts({CaptionOf(FControls[ciProductsLabel1]),
                                         [text] { return text(u"Check"); },
                                         [text] { return text(u"Uncheck"); }});
    accessibility::SetName(FControls[ciEulaEdit], CaptionOf(FControls[ciEulaAcceptLabel]));
    accessibility::SetName(FControls[ciSuccessMemo], CaptionOf(FControls[ciSuccessShowDetailsBox]));
    accessibility::SetName(FControls[ciProgressBar], CaptionOf(FControls[ciProgressLabel]));
    for (TControlIndex index : {ciProductsSymbol, ciSuccessSymbol, ciErrorSymbol}) {
        HWND image = FControls[index];
        auto name = [this, image, text]() -> std::u16string {
            static const char16_t* const kKeys[] = {u"Success", u"Warning", u"Error"};
            TSymbolKind kind = skSuccess;
            return SymbolOf(image, kind) ? text(kKeys[kind]) : std::u16string();
        };
        accessibility::SetName(image, name, true);
    }
}

bool TFormBuilder::SymbolOf(HWND Image, TSymbolKind& Kind) const {
    const auto found = FSymbols.find(Image);
    if (found == FSymbols.end())
        return false;
    Kind = found->second;
    return true;
}

bool TFormBuilder::HandleMessage(UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result) {
    if (!FWindow)
        return false; // not built yet
    switch (Msg) {
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (design::IndexFromId(static_cast<int>(item->CtlID)) != ciProductsListBox)
            return false;
        item->itemHeight = static_cast<UINT>(dpi::Scale(DesignOf(ciProductsListBox).Margin, FDpi));
        Result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem != FProductsListBox.Handle())
            return false;
        FProductsListBox.DrawItem(*item);
        Result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const HWND control = reinterpret_cast<HWND>(lParam);
        if (control == FControls[ciSuccessMemo]) {
            // The report is read-only but keeps the window colour.
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            Result = reinterpret_cast<LRESULT>(FWindowBrush.Get());
            return true;
        }
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, ToColorRef(design::Window().PanelColour));
        Result = reinterpret_cast<LRESULT>(FPanelBrush.Get());
        return true;
    }
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), ToColorRef(design::Window().PanelColour));
        Result = reinterpret_cast<LRESULT>(FPanelBrush.Get());
        return true;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(FWindow, &r);
        HBRUSH brush = CreateSolidBrush(ToColorRef(design::Window().Colour));
        FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
        DeleteObject(brush);
        Result = 1;
        return true;
    }
    case WM_DPICHANGED:
        ChangeDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        Result = 0;
        return true;
    default:
        return false;
    }
}

} // namespace keystrip
