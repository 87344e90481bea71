#include "app/Application.h"

#include "app/Win32Text.h"
#include "platform/SystemLibraryWin32.h"

#include <commctrl.h>

namespace keystrip {

TApplication::~TApplication() {
    if (FRichEdit)
        FreeLibrary(FRichEdit);
}

void TApplication::Initialize() {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    if (!FRichEdit)
        FRichEdit = platform::LoadSystemLibrary(L"Riched20.dll");
}

void TApplication::SetCursor(TAppCursor Cursor) {
    FCursor = Cursor;
    ::SetCursor(LoadCursorW(nullptr, Cursor == TAppCursor::Wait ? IDC_WAIT : IDC_ARROW));
}

bool TApplication::ApplyCursor() const {
    if (FCursor == TAppCursor::Default)
        return false;
    ::SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    return true;
}

void TApplication::Terminate() {
    if (!FTerminated)
        PostQuitMessage(0);
    FTerminated = true;
}

void TApplication::Run(HWND mainWindow) {
    if (FTerminated)
        return;
    if (FShowMainForm && mainWindow) {
        ShowWindow(mainWindow, SW_SHOWNORMAL);
        UpdateWindow(mainWindow);
    }
    MSG msg;
    while (!FTerminated) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        DispatchForWindow(mainWindow, msg);
    }
    FTerminated = true;
}

void TApplication::HandleException(const std::exception& Error) const {
    const std::wstring text = WideFromUtf8(Error.what());
    MessageBoxW(nullptr, text.c_str(), AsWide(FTitle).c_str(), MB_OK | MB_ICONERROR);
}

namespace {

bool IsPushButton(HWND window) {
    wchar_t name[16];
    if (!window || !GetClassNameW(window, name, 16) || lstrcmpiW(name, WC_BUTTONW) != 0)
        return false;
    const LONG_PTR type = GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

} // namespace

void DispatchForWindow(HWND mainWindow, MSG& Msg) {
    if (mainWindow && IsWindow(mainWindow)) {
        // Enter on a focused push button presses that button; elsewhere the
        // dialog manager presses the window's default button.
        if (Msg.message == WM_KEYDOWN && Msg.wParam == VK_RETURN && IsPushButton(Msg.hwnd) &&
            IsChild(mainWindow, Msg.hwnd)) {
            SendMessageW(Msg.hwnd, BM_CLICK, 0, 0);
            return;
        }
        if (IsDialogMessageW(mainWindow, &Msg))
            return;
    }
    TranslateMessage(&Msg);
    DispatchMessageW(&Msg);
}

} // namespace keystrip
