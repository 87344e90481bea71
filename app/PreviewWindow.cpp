#include "app/PreviewWindow.h"

#include "app/Accessibility.h"
#include "app/Dpi.h"
#include "app/MainFormDesign.h"
#include "app/Win32Text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace keystrip {

const wchar_t TPreviewWindow::kClassName[] = L"TPreviewForm";

namespace {

// Design measures at 96 pixels per inch, as the main window's.
constexpr int kWidth = 640;
constexpr int kHeight = 420;
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 200;
constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kButtonWidth = 85;
constexpr int kButtonHeight = 25;
constexpr int kIndent = 19;
// Posted by an opened "more" item (its lParam): the next batch is added once
// the tree has finished the notification.
constexpr UINT kAddBatch = WM_APP + 1;

constexpr DWORD kStyle = (WS_OVERLAPPEDWINDOW & ~WS_MINIMIZEBOX) | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

void RegisterOnce(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(instance, TPreviewWindow::kClassName, &wc))
        return;
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(instance, L"MAINICON");
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = TPreviewWindow::kClassName;
    RegisterClassExW(&wc);
}

HWND Child(HWND parent, DWORD exStyle, const wchar_t* className, const std::u16string& text,
           DWORD style, int id) {
    return CreateWindowExW(exStyle, className, AsWide(text).c_str(),
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

} // namespace

TPreviewWindow::TPreviewWindow(HWND Owner, TPreviewTexts Texts, std::u16string Report,
                               std::vector<TPreviewProduct> Products, int Dpi)
    : FOwner(Owner), FTexts(std::move(Texts)), FReport(std::move(Report)),
      FProducts(std::move(Products)), FModel(FProducts), FDpi(Dpi) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    RegisterOnce(instance, WindowProc);
    const SIZE size = dpi::WindowSizeForClient(dpi::Scale(kWidth, FDpi), dpi::Scale(kHeight, FDpi),
                                               kStyle, kExStyle, FDpi);
    RECT owner{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (FOwner)
        GetWindowRect(FOwner, &owner);
    const int x = owner.left + (owner.right - owner.left - size.cx) / 2;
    const int y = owner.top + (owner.bottom - owner.top - size.cy) / 2;
    CreateWindowExW(kExStyle, kClassName, AsWide(FTexts.Title).c_str(), kStyle, x, y, size.cx,
                    size.cy, FOwner, nullptr, instance, this);
    if (!FHandle)
        return;
    // In tab order: the tree, Copy, Close.
    FTree = Child(FHandle, WS_EX_CLIENTEDGE, WC_TREEVIEWW, u"",
                  TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS, kTreeId);
    FCopy = Child(FHandle, 0, WC_BUTTONW, FTexts.Copy, BS_PUSHBUTTON, kCopyId);
    FClose = Child(FHandle, 0, WC_BUTTONW, FTexts.Close, BS_DEFPUSHBUTTON, kCloseId);
    const std::u16string title = FTexts.Title;
    accessibility::SetName(FTree, [title] { return std::u16string(title); });
    const int actual = dpi::ForWindow(FHandle);
    if (actual != FDpi) {
        FDpi = actual;
        const SIZE scaled = dpi::WindowSizeForClient(
            dpi::Scale(kWidth, FDpi), dpi::Scale(kHeight, FDpi), kStyle, kExStyle, FDpi);
        SetWindowPos(FHandle, nullptr, 0, 0, scaled.cx, scaled.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    ApplyDpi();

    HTREEITEM first = nullptr;
    for (const TPreviewNode& root : FModel.Roots()) {
        HTREEITEM item = Insert(TVI_ROOT, root);
        if (!first)
            first = item;
        SendMessageW(FTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    }
    if (first)
        SendMessageW(FTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(first));
}

TPreviewWindow::~TPreviewWindow() {
    if (FHandle && IsWindow(FHandle))
        DestroyWindow(FHandle);
}

void TPreviewWindow::Show(HWND Owner, TPreviewTexts Texts, std::u16string Report,
                          std::vector<TPreviewProduct> Products, int Dpi) {
    TPreviewWindow window(Owner, std::move(Texts), std::move(Report), std::move(Products), Dpi);
    window.RunModal();
}

HTREEITEM TPreviewWindow::Insert(HTREEITEM Parent, const TPreviewNode& Node) {
    const std::wstring text = AsWide(FModel.Label(Node));
    TVINSERTSTRUCTW insert{};
    insert.hParent = Parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.cChildren = FModel.HasChildren(Node) ? 1 : 0;
    insert.item.lParam = static_cast<LPARAM>(FNodes.size());
    FNodes.push_back(Node);
    FFilled.push_back(false);
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(FTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

void TPreviewWindow::Fill(HTREEITEM Item, LPARAM Index) {
    const auto index = static_cast<size_t>(Index);
    if (Index < 0 || index >= FNodes.size() || FFilled[index])
        return;
    FFilled[index] = true;
    FMore.push_back(TMore{FModel.Children(FNodes[index]), 0});
    AddBatch(Item, FMore.size() - 1);
}

void TPreviewWindow::AddBatch(HTREEITEM Parent, size_t More) {
    TMore& more = FMore[More];
    const size_t end = std::min(more.Rest.size(), more.Next + kBatch);
    HTREEITEM first = nullptr;
    for (size_t i = more.Next; i < end; ++i) {
        HTREEITEM item = Insert(Parent, more.Rest[i]);
        if (!first)
            first = item;
    }
    more.Next = end;
    const size_t left = more.Rest.size() - end;
    if (left == 0) {
        more.Rest = {};
    } else {
        const std::wstring text =
            AsWide(u"\u2026 " + U16(std::to_string(left)) + u" more: open to show the next " +
                   U16(std::to_string(std::min(left, kBatch))));
        TVINSERTSTRUCTW insert{};
        insert.hParent = Parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
        insert.item.pszText = const_cast<wchar_t*>(text.c_str());
        insert.item.cChildren = 1;
        insert.item.lParam = -1 - static_cast<LPARAM>(More);
        SendMessageW(FTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
    }
    // A later batch is asked for from its "more" item: the focus goes on to
    // the first of the new items.
    if (more.Next > kBatch && first)
        SendMessageW(FTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(first));
}

void TPreviewWindow::ApplyDpi() {
    const auto& w = design::Window();
    FFont.Reset(CreateFontW(-dpi::Scale(w.FontHeight, FDpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                            FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, WidePtr(w.FontName)));
    for (HWND control : {FTree, FCopy, FClose})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), TRUE);
    // The rows follow the font; the indent is the tree's own measure.
    SendMessageW(FTree, TVM_SETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    SendMessageW(FTree, TVM_SETINDENT, static_cast<WPARAM>(dpi::Scale(kIndent, FDpi)), 0);
    Layout();
}

void TPreviewWindow::Layout() {
    RECT client;
    GetClientRect(FHandle, &client);
    const int margin = dpi::Scale(kMargin, FDpi);
    const int gap = dpi::Scale(kGap, FDpi);
    const int width = dpi::Scale(kButtonWidth, FDpi);
    const int height = dpi::Scale(kButtonHeight, FDpi);
    const int buttonTop = client.bottom - margin - height;
    const int closeLeft = client.right - margin - width;
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(FClose, nullptr, closeLeft, buttonTop, width, height, flags);
    SetWindowPos(FCopy, nullptr, closeLeft - gap - width, buttonTop, width, height, flags);
    SetWindowPos(FTree, nullptr, margin, margin, client.right - 2 * margin, buttonTop - 2 * margin,
                 flags);
}

void TPreviewWindow::CopyReport() {
    if (!OpenClipboard(FHandle))
        return;
    EmptyClipboard();
    const size_t bytes = (FReport.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (void* data = memory ? GlobalLock(memory) : nullptr) {
        std::memcpy(data, FReport.c_str(), bytes);
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory))
            GlobalFree(memory);
    } else if (memory) {
        GlobalFree(memory);
    }
    CloseClipboard();
}

LRESULT CALLBACK TPreviewWindow::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TPreviewWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self =
            static_cast<TPreviewWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self)
        return DefWindowProcW(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->FHandle = nullptr;
        self->FDone = true;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    return self->HandleMessage(msg, wParam, lParam);
}

LRESULT TPreviewWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        if (FTree)
            Layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = dpi::Scale(kMinWidth, FDpi);
        info->ptMinTrackSize.y = dpi::Scale(kMinHeight, FDpi);
        return 0;
    }
    case WM_DPICHANGED: {
        // The client area keeps its size in design measures; the frame may
        // not scale as the suggestion assumed, so it is measured.
        RECT client;
        GetClientRect(FHandle, &client);
        const int width = MulDiv(client.right, HIWORD(wParam), FDpi);
        const int height = MulDiv(client.bottom, HIWORD(wParam), FDpi);
        FDpi = HIWORD(wParam);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        SetWindowPos(FHandle, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top, flags);
        RECT outer;
        GetWindowRect(FHandle, &outer);
        GetClientRect(FHandle, &client);
        SetWindowPos(FHandle, nullptr, 0, 0, width + (outer.right - outer.left) - client.right,
                     height + (outer.bottom - outer.top) - client.bottom, flags | SWP_NOMOVE);
        ApplyDpi();
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == FTree && header->code == TVN_ITEMEXPANDINGW) {
            const auto* change = reinterpret_cast<const NMTREEVIEWW*>(lParam);
            if (!(change->action & TVE_EXPAND))
                return FALSE;
            if (change->itemNew.lParam < 0) {
                // A "more" item: it gives way to the next batch, after this.
                PostMessageW(FHandle, kAddBatch, reinterpret_cast<WPARAM>(change->itemNew.hItem),
                             change->itemNew.lParam);
                return TRUE;
            }
            Fill(change->itemNew.hItem, change->itemNew.lParam);
            return FALSE;
        }
        break;
    }
    case kAddBatch: {
        // wParam: the "more" item, still there (nothing else removes items).
        const auto more = static_cast<size_t>(-1 - lParam);
        auto* item = reinterpret_cast<HTREEITEM>(wParam);
        TVITEMW found{};
        found.mask = TVIF_PARAM;
        found.hItem = item;
        if (more >= FMore.size() ||
            !SendMessageW(FTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&found)) ||
            found.lParam != lParam)
            return 0;
        auto* parent = reinterpret_cast<HTREEITEM>(
            SendMessageW(FTree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
        SendMessageW(FTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
        AddBatch(parent, more);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kCopyId) {
            CopyReport();
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            DestroyWindow(FHandle);
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(FHandle);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(FHandle, msg, wParam, lParam);
}

void TPreviewWindow::RunModal() {
    if (!FHandle)
        return;
    if (FOwner)
        EnableWindow(FOwner, FALSE);
    ShowWindow(FHandle, SW_SHOWNORMAL);
    SetFocus(FTree);
    bool quit = false;
    int quitCode = 0;
    MSG msg;
    while (!FDone) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            DestroyWindow(FHandle);
            break;
        }
        if (got < 0)
            break;
        if (!IsDialogMessageW(FHandle, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (FOwner) {
        EnableWindow(FOwner, TRUE);
        SetActiveWindow(FOwner);
    }
    if (FHandle && IsWindow(FHandle))
        DestroyWindow(FHandle);
    if (quit)
        PostQuitMessage(quitCode);
}

} // namespace keystrip
