// The main window's design as data: the window itself, its five pages and
// every control with its kind, page, geometry at 96 pixels per inch, tab
// order, font, colours and the handler it is bound to. The window code builds
// the controls from these tables; the end-to-end driver finds controls by the
// identifiers derived from them.
#pragma once

#include <cstdint>
#include <string>

namespace keystrip {

enum class TControlKind : uint8_t {
    Shape,         // framed rectangle, painted by itself
    Image,         // shows a bitmap
    PageContainer, // holds the pages, shows one at a time
    RichEdit,      // read-only rich text view
    PushButton,
    Label,
    CheckListBox, // one tick box per row, each row carries an object
    CheckBox,
    Memo, // read-only multi-line text view
    ProgressBar,
    ImageList // not a window: the status symbols
};

enum class TControlFont : uint8_t {
    Window,     // the window's font (Tahoma, default character set)
    TahomaAnsi, // Tahoma, ANSI character set
    CourierNew
};

// Handlers the design binds to controls.
enum class TControlHandler : uint8_t {
    None,
    EulaAcceptButtonClick,
    EulaExitButtonClick,
    ProductsListBoxClickCheck,
    ProductsSelectAllBoxClick,
    ProductsRemoveButtonClick,
    SuccessShowDetailsBoxClick
};

// Option bits of a control.
enum TControlOption : uint32_t {
    coNone = 0,
    coWordWrap = 1u << 0,      // label wraps at word boundaries; else one line, cut
    coTransparent = 1u << 1,   // label paints no background of its own
    coHidden = 1u << 2,        // not visible at first
    coAllowGrayed = 1u << 3,   // check box with the indeterminate state
    coVScrollAlways = 1u << 4, // vertical scroll bar shown even when the text fits
    coScrollBoth = 1u << 5,    // horizontal and vertical scroll bars, no wrapping
    coReadOnly = 1u << 6,
    coKeepSelection = 1u << 7, // the selection stays visible without focus
    coFlat = 1u << 8,          // flat tick boxes
    coSmooth = 1u << 9,        // continuous progress bar
    coAutoSize = 1u << 10,     // image sized to its picture
    coAlignTop = 1u << 11,     // stretched across the parent's top edge
    coBanner = 1u << 12,       // shows the banner artwork
};

constexpr uint32_t kNoColour = 0xFFFFFFFFu;
constexpr uint32_t kSystemWindowColour = 0xFFFFFFFEu;

// A colour as 0xRRGGBB.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

constexpr int kOnWindow = -1;  // parent is the window, not a page
constexpr int kNotVisual = -2; // no window at all (the image list)
constexpr int kNoTabStop = -1;

// The controls in the order of the table (the order in which the window
// class declares them).
enum TControlIndex : int {
    ciBackground,
    ciLogoImage,
    ciNotebook,
    ciEulaEdit,
    ciEulaFrame,
    ciEulaAcceptButton,
    ciEulaExitButton,
    ciEulaAcceptLabel,
    ciProductsListBox,
    ciProductsLabel1,
    ciProductsFrame,
    ciProductsRemoveButton,
    ciProductsCancelButton,
    ciProductsSelectAllBox,
    ciProductsSymbol,
    ciProductsLabel2,
    ciSuccessBackground,
    ciSuccessLabel1,
    ciSuccessSymbol,
    ciSuccessCloseButton,
    ciSuccessMemo,
    ciProgressLabel,
    ciProgressBar,
    ciSymbolsImageList,
    ciSuccessShowDetailsBox,
    ciErrorSymbol,
    ciErrorLabel,
    ciErrorCloseButton,
    ciSuccessLogLabel,
    ciCount
};

// The pages of the container, by index.
enum TPageIndex : int { piEula, piProducts, piSuccess, piProgress, piError, piCount };

struct TControlDesign {
    const char16_t* Name;
    TControlKind Kind;
    int Page; // index of the page, kOnWindow or kNotVisual
    int Left, Top, Width, Height;
    int TabOrder; // position in the parent's tab order, or kNoTabStop
    uint32_t Options;
    TControlFont Font;
    uint32_t Fill;   // shape fill or control background, kNoColour for the default
    uint32_t Border; // shape border, kNoColour for none
    TControlHandler Handler;
    int Margin; // inner margin of a text view; row height of a check list
};

struct TPageDesign {
    const char16_t* Name;
};

struct TWindowDesign {
    const char16_t* Name;
    const char16_t* Title;
    int ClientWidth, ClientHeight;
    uint32_t Colour;
    const char16_t* FontName;
    int FontHeight;       // character height in pixels at 96 pixels per inch
    uint32_t PanelColour; // page container and pages
    int PageWidth, PageHeight;
};

constexpr int kDesignDpi = 96;

// Control identifiers are kFirstControlId + the control's index in the
// table, clear of IDOK and IDCANCEL, which the dialog manager sends itself.
constexpr int kFirstControlId = 100;
// Pages get identifiers of their own.
constexpr int kFirstPageId = 90;

namespace design {

const TWindowDesign& Window();
int ControlCount();
const TControlDesign& Control(int index);
// Index of the named control (exact spelling), or -1.
int IndexOf(const std::u16string& name);
int PageCount();
const TPageDesign& Page(int index);

inline int ControlId(int index) {
    return kFirstControlId + index;
}
// Index from a control identifier, or -1 when it is none of ours.
int IndexFromId(int id);

// Symbol picture size at 96 pixels per inch.
constexpr int kSymbolSize = 24;

// The banner's own size at 96 pixels per inch.
constexpr int kBannerWidth = 494;
constexpr int kBannerHeight = 57;

} // namespace design

// The index of a status symbol in the symbol list.
enum TSymbolKind : uint8_t { skSuccess, skWarning, skError };

} // namespace keystrip
