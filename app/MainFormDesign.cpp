#include "app/MainFormDesign.h"

namespace keystrip::design {

namespace {

using K = TControlKind;
using F = TControlFont;
using H = TControlHandler;

constexpr uint32_t kPanel = Rgb(0xF8, 0xF8, 0xF8);
constexpr uint32_t kFrame = Rgb(0xC8, 0xC8, 0xC8);
constexpr uint32_t kWhite = Rgb(0xFF, 0xFF, 0xFF);

const TWindowDesign kWindow{
    u"MainForm", u"Zolva Keystrip", 494, 374, Rgb(0xF0, 0xF0, 0xF0), u"Tahoma", 11, kPanel, 478,
    300};

const TPageDesign kPages[] = {{u"eula"}, {u"products"}, {u"success"}, {u"progress"}, {u"error"}};

// In the order in which the window class declares its controls.
// clang-format off
const TControlDesign kControls[] = {
//   Name                     Kind               Page        L    T    W    H  Tab         Options                                        Font           Fill          Border     Handler                          Margin
    {u"Background",           K::Shape,          kOnWindow,  4,  61, 486, 308, kNoTabStop, coNone,                                        F::Window,     kPanel,       kFrame,    H::None,                         0},
    {u"LogoImage",            K::Image,          kOnWindow,  0,   0, 494,  57, kNoTabStop, coAlignTop | coBanner,                         F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"Notebook",             K::PageContainer,  kOnWindow,  8,  65, 478, 300, 0,          coNone,                                        F::Window,     kPanel,       kNoColour, H::None,                         0},
    {u"EulaEdit",             K::RichEdit,       0,          4,   4, 470, 226, 0,          coReadOnly | coVScrollAlways | coKeepSelection, F::TahomaAnsi, kSystemWindowColour, kNoColour, H::None,              3},
    {u"EulaFrame",            K::Shape,          0,          2,   2, 474, 230, kNoTabStop, coNone,                                        F::Window,     kWhite,       kFrame,    H::None,                         0},
    {u"EulaAcceptButton",     K::PushButton,     0,        151, 272,  85,  25, 1,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::EulaAcceptButtonClick,        0},
    {u"EulaExitButton",       K::PushButton,     0,        242, 272,  85,  25, 2,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::EulaExitButtonClick,          0},
    {u"EulaAcceptLabel",      K::Label,          0,          2, 238, 474,  28, kNoTabStop, coWordWrap,                                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"ProductsListBox",      K::CheckListBox,   1,          4,  32, 470, 146, 0,          coFlat,                                        F::Window,     kSystemWindowColour, kNoColour, H::ProductsListBoxClickCheck, 13},
    {u"ProductsLabel1",       K::Label,          1,          2,   5, 474,  13, kNoTabStop, coNone,                                        F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"ProductsFrame",        K::Shape,          1,          2,  30, 474, 150, kNoTabStop, coNone,                                        F::Window,     kWhite,       kFrame,    H::None,                         0},
    {u"ProductsRemoveButton", K::PushButton,     1,        151, 272,  85,  25, 1,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::ProductsRemoveButtonClick,    0},
    {u"ProductsCancelButton", K::PushButton,     1,        242, 272,  85,  25, 2,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::EulaExitButtonClick,          0},
    {u"ProductsSelectAllBox", K::CheckBox,       1,          2, 186, 200,  17, 3,          coAllowGrayed,                                 F::Window,     kNoColour,    kNoColour, H::ProductsSelectAllBoxClick,    0},
    {u"ProductsSymbol",       K::Image,          1,         16, 220,  24,  24, kNoTabStop, coAutoSize,                                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"ProductsLabel2",       K::Label,          1,         46, 219, 410,  40, kNoTabStop, coWordWrap,                                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"SuccessBackground",    K::Shape,          2,          2,  75, 474, 180, kNoTabStop, coHidden,                                      F::Window,     kWhite,       kFrame,    H::None,                         0},
    {u"SuccessLabel1",        K::Label,          2,         46,  15, 410,  42, kNoTabStop, coWordWrap,                                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"SuccessSymbol",        K::Image,          2,         16,  16,  24,  24, kNoTabStop, coAutoSize,                                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"SuccessCloseButton",   K::PushButton,     2,        197, 272,  85,  25, 0,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::EulaExitButtonClick,          0},
    {u"SuccessMemo",          K::Memo,           2,          4,  77, 470, 176, 1,          coReadOnly | coScrollBoth | coKeepSelection | coHidden, F::CourierNew, kSystemWindowColour, kNoColour, H::None,       0},
    {u"ProgressLabel",        K::Label,          3,          2,   5, 474,  24, kNoTabStop, coNone,                                        F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"ProgressBar",          K::ProgressBar,    3,         24,  50, 430,  16, kNoTabStop, coSmooth,                                      F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"SymbolsImageList",     K::ImageList,      kNotVisual, 0,   0,  24,  24, kNoTabStop, coNone,                                        F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"SuccessShowDetailsBox", K::CheckBox,      2,          2, 238, 250,  17, 2,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::SuccessShowDetailsBoxClick,   0},
    {u"ErrorSymbol",          K::Image,          4,         16,  16,  24,  24, kNoTabStop, coAutoSize,                                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"ErrorLabel",           K::Label,          4,         46,  15, 410,  39, kNoTabStop, coWordWrap | coTransparent,                    F::Window,     kNoColour,    kNoColour, H::None,                         0},
    {u"ErrorCloseButton",     K::PushButton,     4,        197, 272,  85,  25, 0,          coNone,                                        F::Window,     kNoColour,    kNoColour, H::EulaExitButtonClick,          0},
    {u"SuccessLogLabel",      K::Label,          2,         46,  59, 410,  14, kNoTabStop, coHidden,                                      F::Window,     kNoColour,    kNoColour, H::None,                         0},
};
// clang-format on

constexpr int kControlCount = static_cast<int>(sizeof(kControls) / sizeof(kControls[0]));
constexpr int kPageCount = static_cast<int>(sizeof(kPages) / sizeof(kPages[0]));
static_assert(kControlCount == ciCount, "one table row per control index");
static_assert(kPageCount == piCount, "one page row per page index");

} // namespace

const TWindowDesign& Window() {
    return kWindow;
}
int ControlCount() {
    return kControlCount;
}
const TControlDesign& Control(int index) {
    return kControls[index];
}
int PageCount() {
    return kPageCount;
}
const TPageDesign& Page(int index) {
    return kPages[index];
}

int IndexOf(const std::u16string& name) {
    for (int i = 0; i < kControlCount; ++i)
        if (name == kControls[i].Name)
            return i;
    return -1;
}

int IndexFromId(int id) {
    const int index = id - kFirstControlId;
    return index >= 0 && index < kControlCount ? index : -1;
}

} // namespace keystrip::design
