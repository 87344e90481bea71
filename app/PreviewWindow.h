// The window that shows what removing one product would delete: modal to its
// owner, resizable, the report read-only in the report's font, and a Close
// button. Escape, the button (Enter while it has the focus) and the close box
// close it.
#pragma once

#include <windows.h>

#include <string>

namespace keystrip {

struct TPreviewTexts {
    std::u16string Title;
    std::u16string Close;
};

class TPreviewWindow {
public:
    // The window class the end-to-end driver looks for.
    static const wchar_t kClassName[];
    // The identifiers of its two controls.
    static constexpr int kReportId = 101;
    static constexpr int kCloseId = IDCANCEL;

    // Shows Report until the window is closed; the owner takes no input
    // meanwhile. A WM_QUIT that arrives ends the window and is passed on.
    static void Show(HWND Owner, const TPreviewTexts& Texts, const std::u16string& Report,
                     HFONT ReportFont, HFONT WindowFont, int Dpi);
};

} // namespace keystrip
