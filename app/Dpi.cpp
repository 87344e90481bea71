#include "app/Dpi.h"

namespace keystrip::dpi {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using SetAwarenessFn = BOOL(WINAPI*)(HANDLE);

FARPROC User32Entry(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? GetProcAddress(user32, name) : nullptr;
}

template <typename Fn> Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(User32Entry(name)));
}

} // namespace

int Scale(int value, int dpi) {
    return MulDiv(value, dpi, kDesign);
}

RECT Scale(const RECT& design, int dpi) {
    // Edges are scaled, not sizes, so that neighbours stay flush.
    return RECT{Scale(design.left, dpi), Scale(design.top, dpi), Scale(design.right, dpi),
                Scale(design.bottom, dpi)};
}

int ForSystem() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDesign;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDesign;
}

int ForWindow(HWND window) {
    static const auto getDpi = Entry<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi && window) {
        const UINT dpi = getDpi(window);
        if (dpi > 0)
            return static_cast<int>(dpi);
    }
    return ForSystem();
}

SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi) {
    static const auto adjust = Entry<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    RECT r{0, 0, clientWidth, clientHeight};
    if (!adjust || !adjust(&r, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

int ArtworkDpi(int dpi) {
    if (dpi <= 96)
        return 96;
    if (dpi <= 144)
        return 144;
    return 192;
}

void EnablePerMonitorAwareness() {
    static const auto set = Entry<SetAwarenessFn>("SetProcessDpiAwarenessContext");
    if (set)
        set(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))); // PER_MONITOR_AWARE_V2
}

} // namespace keystrip::dpi
