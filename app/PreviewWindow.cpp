#include "app/PreviewWindow.h"

#include "app/Dpi.h"
#include "app/Win32Text.h"

#include <commctrl.h>

namespace keystrip {

const wchar_t TPreviewWindow::kClassName[] = L"TPreviewForm";

namespace {

// Design measures at 96 pixels per inch, as the main window's.
constexpr int kWidth = 640;
constexpr int kHeight = 420;
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 200;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 85;
constexpr int kButtonHeight = 25;

struct TState {
    HWND Report = nullptr;
    HWND Close = nullptr;
    int Dpi = 96;
    bool Done = false;
};

void Layout(HWND window, const TState& state) {
    RECT client;
    GetClientRect(window, &client);
    const int margin = dpi::Scale(kMargin, state.Dpi);
    const int width = dpi::Scale(kButtonWidth, state.Dpi);
    const int height = dpi::Scale(kButtonHeight, state.Dpi);
    const int buttonTop = client.bottom - margin - height;
    SetWindowPos(state.Close, nullptr, client.right - margin - width, buttonTop, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(state.Report, nullptr, margin, margin, client.right - 2 * margin,
                 buttonTop - 2 * margin, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (msg) {
    case WM_NCCREATE:
        SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        break;
    case WM_SIZE:
        if (state && state->Report)
            Layout(window, *state);
        return 0;
    case WM_GETMINMAXINFO:
        if (state) {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = dpi::Scale(kMinWidth, state->Dpi);
            info->ptMinTrackSize.y = dpi::Scale(kMinHeight, state->Dpi);
        }
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (state)
            state->Done = true;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

void RegisterOnce(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(instance, TPreviewWindow::kClassName, &wc))
        return;
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(instance, L"MAINICON");
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = TPreviewWindow::kClassName;
    RegisterClassExW(&wc);
}

} // namespace

void TPreviewWindow::Show(HWND Owner, const TPreviewTexts& Texts, const std::u16string& Report,
                          HFONT ReportFont, HFONT WindowFont, int Dpi) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterOnce(instance);
    TState state;
    state.Dpi = Dpi;
    const DWORD style = (WS_OVERLAPPEDWINDOW & ~WS_MINIMIZEBOX) | WS_CLIPCHILDREN;
    const SIZE size = dpi::WindowSizeForClient(dpi::Scale(kWidth, Dpi), dpi::Scale(kHeight, Dpi),
                                               style, WS_EX_DLGMODALFRAME, Dpi);
    RECT owner{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (Owner)
        GetWindowRect(Owner, &owner);
    const int x = owner.left + (owner.right - owner.left - size.cx) / 2;
    const int y = owner.top + (owner.bottom - owner.top - size.cy) / 2;
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName,
                                  AsWide(Texts.Title).c_str(), style, x, y, size.cx, size.cy, Owner,
                                  nullptr, instance, &state);
    if (!window)
        return;
    state.Report = CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_EDITW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
            ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL,
        0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kReportId)), instance,
        nullptr);
    state.Close =
        CreateWindowExW(0, WC_BUTTONW, AsWide(Texts.Close).c_str(),
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCloseId)), instance, nullptr);
    SendMessageW(state.Report, EM_SETLIMITTEXT, 0, 0);
    SendMessageW(state.Report, WM_SETFONT, reinterpret_cast<WPARAM>(ReportFont), FALSE);
    SendMessageW(state.Close, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont), FALSE);
    SetWindowTextW(state.Report, AsWide(Report).c_str());
    Layout(window, state);

    if (Owner)
        EnableWindow(Owner, FALSE);
    ShowWindow(window, SW_SHOWNORMAL);
    SetFocus(state.Close);
    bool quit = false;
    int quitCode = 0;
    MSG msg;
    while (!state.Done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            DestroyWindow(window);
            break;
        }
        if (got < 0)
            break;
        if (!IsDialogMessageW(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (Owner) {
        EnableWindow(Owner, TRUE);
        SetActiveWindow(Owner);
    }
    if (IsWindow(window))
        DestroyWindow(window);
    if (quit)
        PostQuitMessage(quitCode);
}

} // namespace keystrip
