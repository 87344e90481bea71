#include "app/FormControls.h"

#include "app/MainFormDesign.h"

#include <memory>

namespace keystrip::controls {

const wchar_t kShapeClass[] = L"KeystripShape";
const wchar_t kImageClass[] = L"KeystripImage";
const wchar_t kNotebookClass[] = L"KeystripNotebook";
const wchar_t kPageClass[] = L"KeystripPage";

namespace {

COLORREF gPanelColour = RGB(0xF8, 0xF8, 0xF8);
HBRUSH gPanelBrush = nullptr;

HBRUSH PanelBrush() {
    if (!gPanelBrush)
        gPanelBrush = CreateSolidBrush(gPanelColour);
    return gPanelBrush;
}

struct ShapeData {
    COLORREF Fill = RGB(255, 255, 255);
    COLORREF Border = RGB(0, 0, 0);
    int BorderWidth = 1;
};

struct ImageData {
    HBITMAP Bitmap = nullptr;
    ~ImageData() {
        if (Bitmap)
            DeleteObject(Bitmap);
    }
};

template <typename T> T* Data(HWND window) {
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

template <typename T> void Attach(HWND window) {
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new T));
}

template <typename T> void Detach(HWND window) {
    delete Data<T>(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void PaintShape(HWND window, HDC dc) {
    const ShapeData* d = Data<ShapeData>(window);
    RECT r;
    GetClientRect(window, &r);
    if (!d)
        return;
    const int b = d->BorderWidth;
    if (b > 0) {
        FillSolid(dc, r, d->Border);
        InflateRect(&r, -b, -b);
    }
    if (r.right > r.left && r.bottom > r.top)
        FillSolid(dc, r, d->Fill);
}

void PaintImage(HWND window, HDC dc) {
    const ImageData* d = Data<ImageData>(window);
    RECT r;
    GetClientRect(window, &r);
    FillRect(dc, &r, PanelBrush());
    if (!d || !d->Bitmap)
        return;
    BITMAP bm{};
    GetObjectW(d->Bitmap, sizeof(bm), &bm);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, d->Bitmap);
    BitBlt(dc, 0, 0, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

template <void (*Paint)(HWND, HDC)> LRESULT PaintMessage(HWND window, UINT msg, WPARAM wParam) {
    if (msg == WM_PRINTCLIENT) {
        Paint(window, reinterpret_cast<HDC>(wParam));
        return 0;
    }
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    Paint(window, dc);
    EndPaint(window, &ps);
    return 0;
}

LRESULT CALLBACK ShapeProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_NCCREATE:
        Attach<ShapeData>(window);
        break;
    case WM_NCDESTROY:
        Detach<ShapeData>(window);
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        return PaintMessage<PaintShape>(window, msg, wParam);
    case WM_NCHITTEST:
        return HTTRANSPARENT; // a picture, not a control
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

LRESULT CALLBACK ImageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_NCCREATE:
        Attach<ImageData>(window);
        break;
    case WM_NCDESTROY:
        Detach<ImageData>(window);
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        return PaintMessage<PaintImage>(window, msg, wParam);
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

// Messages a page (or the container) hands to the top-level window.
bool IsForwarded(UINT msg) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK PanelProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (IsForwarded(msg)) {
        HWND root = GetAncestor(window, GA_ROOT);
        if (root && root != window)
            return SendMessageW(root, msg, wParam, lParam);
    }
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(window, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, PanelBrush());
        return 1;
    }
    case WM_PRINTCLIENT: {
        // Themed controls ask their parent for the ground behind them.
        RECT r;
        GetClientRect(window, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, PanelBrush());
        return 0;
    }
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

bool Register(HINSTANCE instance, const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(instance, name, &wc))
        return true;
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

} // namespace

void RegisterClasses(HINSTANCE instance) {
    Register(instance, kShapeClass, ShapeProc);
    Register(instance, kImageClass, ImageProc);
    Register(instance, kNotebookClass, PanelProc);
    Register(instance, kPageClass, PanelProc);
}

void SetPanelColour(COLORREF colour) {
    if (gPanelBrush && colour == gPanelColour)
        return;
    if (gPanelBrush)
        DeleteObject(gPanelBrush);
    gPanelColour = colour;
    gPanelBrush = CreateSolidBrush(colour);
}

void SetShapeStyle(HWND shape, COLORREF fill, COLORREF border, int borderWidth) {
    if (auto* d = Data<ShapeData>(shape)) {
        d->Fill = fill;
        d->Border = border;
        d->BorderWidth = borderWidth;
        InvalidateRect(shape, nullptr, TRUE);
    }
}

void SetImageBitmap(HWND image, HBITMAP bitmap) {
    auto* d = Data<ImageData>(image);
    if (!d) {
        if (bitmap)
            DeleteObject(bitmap);
        return;
    }
    if (d->Bitmap && d->Bitmap != bitmap)
        DeleteObject(d->Bitmap);
    d->Bitmap = bitmap;
    InvalidateRect(image, nullptr, TRUE);
}

HBITMAP ImageBitmap(HWND image) {
    const ImageData* d = Data<ImageData>(image);
    return d ? d->Bitmap : nullptr;
}

HWND PageAt(HWND notebook, int index) {
    return index >= 0 ? GetDlgItem(notebook, kFirstPageId + index) : nullptr;
}

void ShowPage(HWND notebook, int index) {
    // Show the new page before hiding the old one, so that the container
    // never flashes its empty ground.
    HWND target = PageAt(notebook, index);
    if (target)
        ShowWindow(target, SW_SHOW);
    for (HWND page = GetWindow(notebook, GW_CHILD); page; page = GetWindow(page, GW_HWNDNEXT))
        if (page != target)
            ShowWindow(page, SW_HIDE);
}

int ActivePage(HWND notebook) {
    for (int i = 0;; ++i) {
        HWND page = PageAt(notebook, i);
        if (!page)
            return -1;
        if (GetWindowLongPtrW(page, GWL_STYLE) & WS_VISIBLE)
            return i;
    }
}

} // namespace keystrip::controls
