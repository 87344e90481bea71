#include "app/StartMessages.h"

#include "app/HelpText.h"
#include "app/Win32Text.h"

#include <windows.h>

namespace keystrip {

void TellConsole(const std::u16string& Text) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const std::wstring line = L"Zolva Keystrip: " + AsWide(Text) + L"\r\n";
    DWORD written = 0;
    if (!WriteConsoleW(error, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        const std::string bytes = Utf16ToUtf8(FromWide(line));
        WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    FreeConsole();
}

int EndAtStart(TRunStart& Start, bool Silent, const std::u16string& Title) {
    UINT icon = MB_ICONINFORMATION;
    std::u16string text = Start.Message();
    switch (Start.Action()) {
    case TStartAction::ShowHelp:
        text = HelpText();
        break;
    case TStartAction::AlreadyRunning:
        break;
    case TStartAction::Refuse:
        TellConsole(text);
        icon = MB_ICONERROR;
        break;
    case TStartAction::Run:
        return 0;
    }
    if (!Silent)
        MessageBoxW(nullptr, AsWide(text).c_str(), AsWide(Title).c_str(), MB_OK | icon);
    return Start.End();
}

} // namespace keystrip
