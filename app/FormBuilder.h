// The machinery that builds the main window from its design tables and keeps
// it fitted to its monitor: the top-level window centred on the primary
// monitor, the controls created in tab order, the fonts and brushes, the
// banner and the status symbols, the layout at the window's resolution (and
// again when it changes), the text views' keyboard handling and the painting
// the design's colours ask for. The form (MainFormUnit) keeps the flow: the
// pages, the event handlers and the runs.
#pragma once

#include "app/CheckListBox.h"
#include "app/GdiHandle.h"
#include "app/InterfaceTexts.h"
#include "app/MainFormDesign.h"

#include <windows.h>

#include <array>
#include <functional>
#include <map>

namespace keystrip {

// Labels, push buttons and check boxes take their captions from the texts.
bool IsCaptioned(TControlKind Kind);

class TFormBuilder {
public:
    using TControls = std::array<HWND, ciCount>;

    // The check list is the form's; its control is created here. Artwork is
    // the module whose BITMAP resources hold the banner and the symbols.
    TFormBuilder(TCheckListBox& ProductsListBox, HINSTANCE Artwork);

    // Registers the window class once and creates the hidden top-level
    // window, centred on the primary monitor at its resolution; Param goes
    // to WM_NCCREATE. Null when it cannot be created.
    HWND CreateMainWindow(const wchar_t* ClassName, WNDPROC Proc, void* Param);
    // Creates every control of the design with its font, place and artwork,
    // at the resolution of the monitor the window is on.
    void Build(HWND Window);

    const TControls& Controls() const { return FControls; }
    int Dpi() const { return FDpi; }
    HIMAGELIST SymbolsImageList() const { return FSymbolsImageList.Get(); }

    // Puts a status symbol into an image, at the image's current size.
    void DrawSymbol(HWND Image, TSymbolKind Kind);
    // What DrawSymbol last put into the image; false when nothing yet.
    bool SymbolOf(HWND Image, TSymbolKind& Kind) const;

    // Names for screen readers, read when a reader asks: the products list
    // by its label and its rows' actions from the texts, the terms, the
    // report and the progress bar by the labels beside them, the status
    // symbols by what they show. Texts gives the interface texts (null until
    // they are loaded).
    void NameControls(const std::function<const TInterfaceTexts*()>& Texts);

    // Rescales everything to a new resolution (WM_DPICHANGED, with the
    // window's suggested place).
    void ChangeDpi(int NewDpi, const RECT* Suggested);

    // The messages about the window's look: measuring and drawing the check
    // list's rows, the design's colours behind controls and the window, and
    // a change of resolution. True when handled, with its result.
    bool HandleMessage(UINT Msg, WPARAM wParam, LPARAM lParam, LRESULT& Result);

private:
    void CreateControls();
    void CreateControl(int Index, HWND Parent);
    void CreateFonts();
    void ApplyFonts();
    void LoadArtwork();
    void ApplyLayout();

    TCheckListBox& FProductsListBox;
    HINSTANCE FArtwork;
    HWND FWindow = nullptr;
    TControls FControls{};
    HWND FPages[piCount] = {};
    TImageList FSymbolsImageList;
    TFont FWindowFont, FAnsiFont, FCourierFont;
    TBrush FWindowBrush, FPanelBrush;
    int FDpi = kDesignDpi;
    std::map<HWND, TSymbolKind> FSymbols; // what DrawSymbol last put into each image
};

} // namespace keystrip
