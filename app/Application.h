// The application object of the wizard: its title, the flag that decides
// whether the message loop shows the main window, the application-wide mouse
// cursor, the message loop and its termination, and the report of an error
// that escapes a message handler.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace keystrip {

enum class TAppCursor { Default, Wait };

class TApplication {
public:
    TApplication() = default;
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Common controls (version 6 through the manifest) and the rich edit
    // library, loaded from System32 only.
    void Initialize();

    const std::u16string& Title() const { return FTitle; }
    void SetTitle(const std::u16string& Title) { FTitle = Title; }

    bool ShowMainForm() const { return FShowMainForm; }
    void SetShowMainForm(bool Show) { FShowMainForm = Show; }

    // The cursor every window of the application shows; the wait cursor
    // takes effect at once, without a message being processed.
    TAppCursor Cursor() const { return FCursor; }
    void SetCursor(TAppCursor Cursor);
    // For WM_SETCURSOR: true when the application's cursor was set.
    bool ApplyCursor() const;

    // Asks the message loop to end; it ends before it starts when asked early.
    void Terminate();
    bool Terminated() const { return FTerminated; }

    // Shows mainWindow when the flag is set, then dispatches messages until
    // Terminate. Dialog keys (Tab, Enter, access keys) go to mainWindow.
    void Run(HWND mainWindow);

    // The default report of an error that escaped a message handler: a
    // message box with the title; the loop goes on.
    void HandleException(const std::exception& Error) const;

private:
    std::u16string FTitle;
    bool FShowMainForm = true;
    bool FTerminated = false;
    TAppCursor FCursor = TAppCursor::Default;
    HMODULE FRichEdit = nullptr;
};

// Processes one message for mainWindow the way the loop does: dialog keys
// first, then translation and dispatch. Tests use it to feed keystrokes.
void DispatchForWindow(HWND mainWindow, MSG& Msg);

} // namespace keystrip
