// The preview window in-process: its tree holds the record, opens a level at
// a time (a large tree costs only what is opened), copies the report, is
// reached by Tab with names, and follows its size and the monitor's resolution.
#include "WizardFixture.h"

#include "app/Dpi.h"
#include "app/PreviewWindow.h"
#include "app/Win32Text.h"

#include <algorithm>

namespace keystrip::test {
namespace {

class PreviewWindowTest : public WizardTest {
protected:
    // The preview of the first test product, as the products page shows it.
    std::unique_ptr<TPreviewWindow> Open(int dpi = 96) {
        Products = std::make_unique<TZolvaProducts>(Registry, Resources);
        Products->LoadFromResource();
        TActivityLogger log;
        std::vector<TPreviewProduct> record(1);
        Products->Inspect(Products->Items(0), &log, &record.front());
        Report = log.Export({eoInfo, eoWarning, eoError});
        return std::make_unique<TPreviewWindow>(
            nullptr, TPreviewTexts{u"What will be removed", u"&Copy", u"&Close"}, Report,
            std::move(record), dpi);
    }

    static std::u16string ItemText(HWND tree, HTREEITEM item) {
        wchar_t text[1024] = L"";
        TVITEMW tv{};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = 1024;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        return FromWide(text);
    }
    static HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
    // Every item's text below (and with) the first, indented by level;
    // opens every item on the way when Open is set.
    static void Items(HWND tree, HTREEITEM item, int level, bool open,
                      std::vector<std::u16string>& out) {
        for (; item; item = Next(tree, item, TVGN_NEXT)) {
            out.push_back(std::u16string(static_cast<size_t>(level) * 2, u' ') +
                          ItemText(tree, item));
            if (open)
                SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
            const auto state =
                SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED);
            if (state & TVIS_EXPANDED)
                Items(tree, Next(tree, item, TVGN_CHILD), level + 1, open, out);
        }
    }
    static std::vector<std::u16string> Items(HWND tree, bool open) {
        std::vector<std::u16string> out;
        Items(tree, Next(tree, nullptr, TVGN_ROOT), 0, open, out);
        return out;
    }

    std::unique_ptr<TZolvaProducts> Products;
    std::u16string Report;
};

TEST_F(PreviewWindowTest, OpensAtTheFirstLevelCopiesTheReportAndIsReachedByTab) {
    const TestProduct& alpha = TestProducts()[0];
    Plant(alpha);
    Registry.SetDword(platform::kHkeyLocalMachine, ProductKey(alpha) + u"\\Settings\\K", u"n", 1);
    auto window = Open();
    const HWND tree = window->Tree();
    // The product and its two rules' targets, nothing deeper yet.
    const std::u16string key =
        u"  HKEY_LOCAL_MACHINE\\" + ProductKey(alpha) + u" (3 keys, 2 values)";
    const std::u16string run = u"  HKEY_CURRENT_USER\\" + RunKey();
    EXPECT_EQ(Items(tree, false), (std::vector<std::u16string>{u"Zolva Alpha", key, run}));
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(Items(tree, true),
              (std::vector<std::u16string>{
                  u"Zolva Alpha", key, u"    Settings (2 keys, 2 values)",
                  u"      K (1 key, 1 value)", u"        n (REG_DWORD, 4 bytes)",
                  u"      Path (REG_SZ, 18 bytes)", run, u"    Alpha (REG_SZ, 16 bytes)"}));

    // Copy puts the text report on the clipboard.
    SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(TPreviewWindow::kCopyId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window->Handle(), TPreviewWindow::kCopyId)));
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const std::u16string copied = data ? static_cast<const char16_t*>(GlobalLock(data)) : u"";
    if (data)
        GlobalUnlock(data);
    CloseClipboard();
    EXPECT_EQ(copied, Report);
    EXPECT_NE(copied.find(u"would be deleted (3 keys, 2 values)"), std::u16string::npos);

    // Tab goes round the tree, Copy and Close, each with a name; Escape closes.
    const HWND handle = window->Handle();
    ShowWindow(handle, SW_SHOWNORMAL);
    SetForegroundWindow(handle);
    SetFocus(tree);
    std::vector<std::u16string> names;
    for (int i = 0; i < 3; ++i) {
        names.push_back(AccessibleName(GetFocus()));
        MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 1, 0, {}};
        IsDialogMessageW(handle, &tab);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"What will be removed", u"Copy", u"Close"}));
    EXPECT_EQ(GetFocus(), tree) << "Tab comes round to the tree";
    MSG escape{GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
    IsDialogMessageW(handle, &escape);
    EXPECT_FALSE(IsWindow(handle));
}

// A big tree costs what is opened: the window holds the first level, an
// opened key its children, and a key with more subkeys than a batch gets
// them a batch at a time, the rest behind an item that opening (the right
// arrow) turns into the next batch.
TEST_F(PreviewWindowTest, ALargeTreeIsFilledOnlyWhereItIsOpenedABatchAtATime) {
    const TestProduct& alpha = TestProducts()[0];
    const size_t batch = TPreviewWindow::kBatch, subkeys = 2 * batch + 200;
    for (size_t i = 0; i < subkeys; ++i)
        Registry.CreateKey(platform::kHkeyLocalMachine,
                           ProductKey(alpha) + u"\\S" + U16(std::to_string(i)));
    for (int i = 0; i < 99; ++i)
        Registry.CreateKey(platform::kHkeyLocalMachine,
                           ProductKey(alpha) + u"\\S0\\B" + U16(std::to_string(i)));
    auto window = Open();
    const HWND tree = window->Tree();
    const auto count = [tree] { return SendMessageW(tree, TVM_GETCOUNT, 0, 0); };
    EXPECT_EQ(Items(tree, false)[1],
              u"  HKEY_LOCAL_MACHINE\\" + ProductKey(alpha) + u" (1300 keys, 0 values)");
    EXPECT_EQ(count(), 3);
    HTREEITEM target = Next(tree, Next(tree, nullptr, TVGN_ROOT), TVGN_CHILD);
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
    const auto opened = static_cast<LRESULT>(3 + batch + 1);
    EXPECT_EQ(count(), opened);
    auto children = [&] {
        std::vector<std::u16string> out;
        for (HTREEITEM item = Next(tree, target, TVGN_CHILD); item;
             item = Next(tree, item, TVGN_NEXT))
            out.push_back(ItemText(tree, item));
        return out;
    };
    std::vector<std::u16string> shown = children();
    ASSERT_EQ(shown.front(), u"S0 (100 keys, 0 values)");
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND,
                 reinterpret_cast<LPARAM>(Next(tree, target, TVGN_CHILD)));
    EXPECT_EQ(count(), opened + 99);
    // Closed and opened again, nothing is added twice.
    SendMessageW(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(target));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
    EXPECT_EQ(count(), opened + 99);

    ASSERT_EQ(shown.size(), batch + 1);
    EXPECT_EQ(shown.back(), u"\u2026 " + U16(std::to_string(subkeys - batch)) +
                                u" more: open to show the next " + U16(std::to_string(batch)));
    for (size_t n = 2; n <= 3; ++n) {
        HTREEITEM more = Next(tree, target, TVGN_CHILD);
        while (Next(tree, more, TVGN_NEXT))
            more = Next(tree, more, TVGN_NEXT);
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(more));
        SetFocus(tree);
        SendMessageW(tree, WM_KEYDOWN, VK_RIGHT, 0);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        shown = children();
        const size_t expected = std::min(n * batch, subkeys);
        ASSERT_EQ(shown.size(), expected + (expected < subkeys ? 1 : 0)) << n;
        // The focus goes on to the first of the new keys.
        EXPECT_EQ(ItemText(tree, Next(tree, nullptr, TVGN_CARET)), shown[(n - 1) * batch]) << n;
    }
    // Every subkey once, none lost at the seams.
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(std::unique(shown.begin(), shown.end()), shown.end());
    EXPECT_EQ(shown.size(), subkeys);
}

// The measures at 96 pixels per inch, scaled: the client area, the tree
// filling it above the buttons, the buttons at the bottom right.
struct ScaleRow {
    int Dpi;      // asked for at creation (the owner's)
    int Monitor;  // the resolution it then takes: its monitor's (the suite runs at 96)
    int ChangeTo; // WM_DPICHANGED afterwards, 0 for none
};

class PreviewScaleTest : public PreviewWindowTest, public testing::WithParamInterface<ScaleRow> {};

TEST_P(PreviewScaleTest, ItsMeasuresFollowTheResolutionAndItsSize) {
    Plant(TestProducts()[0]);
    const ScaleRow& row = GetParam();
    auto window = Open(row.Dpi);
    const HWND handle = window->Handle();
    const int dpi = row.ChangeTo ? row.ChangeTo : row.Monitor;
    const auto scale = [dpi](int pixels) { return dpi::Scale(pixels, dpi); };
    if (row.ChangeTo) {
        RECT now{};
        GetWindowRect(handle, &now);
        const SIZE size = dpi::WindowSizeForClient(
            scale(640), scale(420), static_cast<DWORD>(GetWindowLongW(handle, GWL_STYLE)),
            static_cast<DWORD>(GetWindowLongW(handle, GWL_EXSTYLE)), dpi);
        RECT suggested{now.left, now.top, now.left + size.cx, now.top + size.cy};
        SendMessageW(handle, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
    }
    // Each control's place in the client area as {left, top, right, bottom}.
    const auto place = [handle](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, handle, reinterpret_cast<POINT*>(&r), 2);
        return std::vector<LONG>{r.left, r.top, r.right, r.bottom};
    };
    const auto check = [&](const char* when) {
        RECT client{};
        GetClientRect(handle, &client);
        const int margin = scale(8), right = client.right - margin;
        const int top = client.bottom - margin - scale(25), close = right - scale(85);
        EXPECT_EQ(place(GetDlgItem(handle, TPreviewWindow::kCloseId)),
                  (std::vector<LONG>{close, top, right, client.bottom - margin}))
            << when;
        const std::vector<LONG> copy = place(GetDlgItem(handle, TPreviewWindow::kCopyId));
        EXPECT_EQ(copy[2], close - scale(6)) << when;
        const std::vector<LONG> tree = place(window->Tree());
        EXPECT_EQ((std::vector<LONG>{tree[0], tree[2], tree[3]}),
                  (std::vector<LONG>{margin, right, top - margin}))
            << when;
        // The tree's font is the window's, at this resolution.
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window->Tree(), WM_GETFONT, 0, 0)),
                   sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -scale(11)) << when;
        return client;
    };
    const RECT client = check("opened");
    EXPECT_EQ(client.right, scale(640));
    EXPECT_EQ(client.bottom, scale(420));
    // Made smaller, everything moves with the edges.
    RECT outer{};
    GetWindowRect(handle, &outer);
    SetWindowPos(handle, nullptr, 0, 0, outer.right - outer.left - 100,
                 outer.bottom - outer.top - 80, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(check("made smaller").right, client.right - 100);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, PreviewScaleTest,
                         testing::Values(ScaleRow{96, 96, 0}, ScaleRow{144, 96, 0},
                                         ScaleRow{96, 96, 144}),
                         [](const testing::TestParamInfo<ScaleRow>& info) {
                             return std::to_string(info.param.Dpi) + "to" +
                                    std::to_string(info.param.ChangeTo);
                         });

} // namespace
} // namespace keystrip::test
