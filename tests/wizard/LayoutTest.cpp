// The window's look: frame, geometry of every control at 96, 144 and 192
// pixels per inch, fonts, tab order, the text views, and the artwork.
#include "WizardFixture.h"

#include "app/Dpi.h"

#include <richedit.h>

namespace keystrip::test {
namespace {

RECT RectInParent(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT Expected(int index, int dpi) {
    const auto& d = design::Control(index);
    const int width = index == ciLogoImage ? design::Window().ClientWidth : d.Width;
    return RECT{MulDiv(d.Left, dpi, 96), MulDiv(d.Top, dpi, 96), MulDiv(d.Left + width, dpi, 96),
                MulDiv(d.Top + d.Height, dpi, 96)};
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

LOGFONTW FontOf(HWND control) {
    LOGFONTW lf{};
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    GetObjectW(font, sizeof(lf), &lf);
    return lf;
}

uint32_t PixelAt(const std::vector<uint32_t>& pixels, int width, int x, int y) {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

int Luminance(uint32_t rgb) {
    return static_cast<int>(((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF));
}

class GeometryTest : public WizardTest, public testing::WithParamInterface<int> {
protected:
    void Scale() {
        const int dpi = GetParam();
        if (dpi == Form->Dpi())
            return;
        RECT suggested{10, 10, 900, 700};
        SendMessageW(Form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        ASSERT_EQ(Form->Dpi(), dpi);
    }
};

TEST_P(GeometryTest, EveryControlSitsWhereTheDesignPutsItScaled) {
    Create();
    ASSERT_EQ(Form->Dpi(), 96) << "the suite runs at 96 pixels per inch";
    Scale();
    const int dpi = GetParam();
    RECT client;
    GetClientRect(Form->Handle(), &client);
    EXPECT_EQ(client.right, MulDiv(494, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(374, dpi, 96));
    for (int i = 0; i < ciCount; ++i) {
        if (i == ciSymbolsImageList)
            continue;
        SCOPED_TRACE(Utf16ToUtf8(design::Control(i).Name));
        EXPECT_EQ(Describe(RectInParent(C(static_cast<TControlIndex>(i)))),
                  Describe(Expected(i, dpi)));
    }
    for (int p = 0; p < piCount; ++p) {
        HWND page = controls::PageAt(C(ciNotebook), p);
        EXPECT_EQ(Describe(RectInParent(page)),
                  Describe(RECT{0, 0, MulDiv(478, dpi, 96), MulDiv(300, dpi, 96)}));
    }
}

TEST_P(GeometryTest, FontsScaleWithTheResolution) {
    Create();
    Scale();
    const int height = -MulDiv(11, GetParam(), 96);
    struct Row {
        TControlIndex Control;
        const wchar_t* Face;
        BYTE Charset;
    };
    for (const Row& row : {Row{ciEulaAcceptButton, L"Tahoma", DEFAULT_CHARSET},
                           Row{ciProductsLabel1, L"Tahoma", DEFAULT_CHARSET},
                           Row{ciProductsListBox, L"Tahoma", DEFAULT_CHARSET},
                           Row{ciSuccessMemo, L"Courier New", DEFAULT_CHARSET}}) {
        SCOPED_TRACE(Utf16ToUtf8(design::Control(row.Control).Name));
        const LOGFONTW lf = FontOf(C(row.Control));
        EXPECT_STREQ(lf.lfFaceName, row.Face);
        EXPECT_EQ(lf.lfHeight, height);
        EXPECT_EQ(lf.lfCharSet, row.Charset);
        EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    }
    EXPECT_EQ(SendMessageW(C(ciProductsListBox), LB_GETITEMHEIGHT, 0, 0),
              MulDiv(13, GetParam(), 96));

    // The terms view keeps its font as its default character format, in
    // twips of the screen's resolution.
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    SendMessageW(C(ciEulaEdit), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_STREQ(format.szFaceName, L"Tahoma");
    EXPECT_EQ(format.bCharSet, ANSI_CHARSET);
    const int twips = MulDiv(-height, 1440, dpi::ForSystem());
    EXPECT_NEAR(format.yHeight, twips, 20);
}

TEST_P(GeometryTest, PicturesAreRenderedForTheResolution) {
    Plant(TestProducts()[0]);
    Create();
    Click(ciEulaAcceptButton);
    Scale();
    const int dpi = GetParam();
    int w = 0, h = 0;
    const auto banner = Pixels(controls::ImageBitmap(C(ciLogoImage)), w, h);
    ASSERT_EQ(w, MulDiv(494, dpi, 96));
    ASSERT_EQ(h, MulDiv(57, dpi, 96));
    BITMAP bm{};
    GetObjectW(controls::ImageBitmap(C(ciLogoImage)), sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    // The shadow line keeps its exact greys, top and bottom row.
    const int rows = 6 * dpi / 96;
    EXPECT_EQ(PixelAt(banner, w, w / 2, h - rows), 0xC9C9C9u);
    EXPECT_EQ(PixelAt(banner, w, w / 2, h - 1), 0xF7F7F7u);
    EXPECT_EQ(PixelAt(banner, w, w - 5, 5), 0xFFFFFFu);

    int size = 0;
    const auto symbol = Pixels(controls::ImageBitmap(C(ciProductsSymbol)), w, h);
    EXPECT_EQ(w, MulDiv(24, dpi, 96));
    EXPECT_EQ(h, w);
    EXPECT_EQ(symbol, ListEntry(Form->SymbolsImageList(), skWarning, size));
    EXPECT_EQ(size, w);
}

INSTANTIATE_TEST_SUITE_P(Dpi, GeometryTest, testing::Values(96, 144, 192));

TEST_F(WizardTest, AResolutionWithoutItsOwnRenderingGetsPicturesOfItsSize) {
    Create();
    RECT suggested{10, 10, 800, 600};
    SendMessageW(Form->Handle(), WM_DPICHANGED, MAKEWPARAM(120, 120),
                 reinterpret_cast<LPARAM>(&suggested));
    int w = 0, h = 0;
    const auto banner = Pixels(controls::ImageBitmap(C(ciLogoImage)), w, h);
    EXPECT_EQ(w, 618);
    EXPECT_EQ(h, 71);
    EXPECT_EQ(PixelAt(banner, w, w - 5, 5), 0xFFFFFFu);
    int size = 0;
    ListEntry(Form->SymbolsImageList(), skSuccess, size);
    EXPECT_EQ(size, 30);
    RECT client;
    GetClientRect(Form->Handle(), &client);
    EXPECT_EQ(client.right, 618);
    EXPECT_EQ(client.bottom, 468);
}

TEST_F(WizardTest, TheWindowHasAFixedFrameWithMinimizeAndClose) {
    Create();
    const LONG_PTR style = GetWindowLongPtrW(Form->Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    // Centred on the screen.
    RECT r;
    GetWindowRect(Form->Handle(), &r);
    EXPECT_LE(std::abs((r.left + r.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2), 1);
    EXPECT_LE(std::abs((r.top + r.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2), 1);
}

TEST_F(WizardTest, EachPageKeepsItsControlsInTabOrder) {
    Create();
    const std::vector<std::vector<TControlIndex>> expected = {
        {ciEulaEdit, ciEulaAcceptButton, ciEulaExitButton},
        {ciProductsListBox, ciProductsRemoveButton, ciProductsCancelButton, ciProductsSelectAllBox},
        {ciSuccessCloseButton, ciSuccessMemo, ciSuccessShowDetailsBox},
        {},
        {ciErrorCloseButton}};
    for (int p = 0; p < piCount; ++p) {
        std::vector<TControlIndex> stops;
        for (HWND c = GetWindow(controls::PageAt(C(ciNotebook), p), GW_CHILD); c;
             c = GetWindow(c, GW_HWNDNEXT))
            if (GetWindowLongPtrW(c, GWL_STYLE) & WS_TABSTOP)
                stops.push_back(static_cast<TControlIndex>(design::IndexFromId(GetDlgCtrlID(c))));
        EXPECT_EQ(stops, expected[static_cast<size_t>(p)]) << "page " << p;
    }
}

TEST_F(WizardTest, TermsViewShowsItsScrollBarEvenWhenTheTextFits) {
    Resources.Add(u"EULA", std::string("Short terms."));
    Create();
    SCROLLBARINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetScrollBarInfo(C(ciEulaEdit), OBJID_VSCROLL, &info));
    EXPECT_FALSE(info.rgstate[0] & STATE_SYSTEM_INVISIBLE);
    EXPECT_TRUE(SendMessageW(C(ciEulaEdit), EM_GETOPTIONS, 0, 0) & ECO_READONLY);
}

TEST_F(WizardTest, ReportViewKeepsLongLinesWholeAndIsReadOnly) {
    Create();
    const std::wstring line(600, L'x');
    SetWindowTextW(C(ciSuccessMemo), (line + L"\r\nsecond").c_str());
    EXPECT_EQ(SendMessageW(C(ciSuccessMemo), EM_GETLINECOUNT, 0, 0), 2);
    const LONG_PTR style = GetWindowLongPtrW(C(ciSuccessMemo), GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & WS_HSCROLL);
    EXPECT_TRUE(style & WS_VSCROLL);
}

struct SymbolRow {
    TSymbolKind Kind;
    uint32_t Tile;
    POINT Glyph;  // a pixel of the white glyph
    POINT Shadow; // a pixel of its darker lower-right edge
};

class SymbolTest : public WizardTest, public testing::WithParamInterface<SymbolRow> {};

TEST_P(SymbolTest, TileGlyphAndEdgeHaveTheirColours) {
    Create();
    int size = 0;
    const auto pixels = ListEntry(Form->SymbolsImageList(), GetParam().Kind, size);
    ASSERT_EQ(size, 24);
    EXPECT_EQ(PixelAt(pixels, size, 2, 12), GetParam().Tile);
    EXPECT_EQ(PixelAt(pixels, size, 21, 3), GetParam().Tile);
    EXPECT_EQ(PixelAt(pixels, size, GetParam().Glyph.x, GetParam().Glyph.y), 0xFFFFFFu);
    EXPECT_LT(Luminance(PixelAt(pixels, size, GetParam().Shadow.x, GetParam().Shadow.y)),
              Luminance(GetParam().Tile));
    // Softened corners.
    EXPECT_NE(PixelAt(pixels, size, 0, 0), GetParam().Tile);
    EXPECT_NE(PixelAt(pixels, size, 23, 23), GetParam().Tile);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SymbolTest,
                         testing::Values(SymbolRow{skSuccess, 0x91BF6F, {10, 15}, {11, 18}},
                                         SymbolRow{skWarning, 0xD84F4F, {11, 9}, {14, 10}},
                                         SymbolRow{skError, 0xD84F4F, {11, 11}, {17, 18}}));

TEST_F(WizardTest, SetSymbolWithoutAnImageOrWithAnUnknownKindChangesNothing) {
    Create();
    Form->SetSymbol(nullptr, skError);
    Form->SetSymbol(C(ciSuccessSymbol), static_cast<TSymbolKind>(7));
    int w = 0, h = 0;
    const auto pixels = Pixels(controls::ImageBitmap(C(ciSuccessSymbol)), w, h);
    EXPECT_EQ(w, 24);
    for (uint32_t p : pixels)
        ASSERT_EQ(p, 0xFFFFFFu); // the empty bitmap it was given
}

} // namespace
} // namespace keystrip::test
