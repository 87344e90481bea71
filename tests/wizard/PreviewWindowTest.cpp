// The preview window in-process: its tree holds what the text report counts,
// opens a level at a time (a tree of 10,000 keys costs only what is opened),
// copies the report, is reached by Tab with names, and follows its size and
// the monitor's resolution.
#include "WizardFixture.h"

#include "app/Dpi.h"
#include "app/PreviewWindow.h"
#include "app/Win32Text.h"

#include <oleacc.h>

#include <regex>

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

TEST_F(PreviewWindowTest, TheTreeHoldsWhatTheReportCountsAndOpensAtTheFirstLevel) {
    const TestProduct& alpha = TestProducts()[0];
    Plant(alpha);
    for (int i = 0; i < 3; ++i)
        Registry.SetDword(platform::kHkeyLocalMachine,
                          ProductKey(alpha) + u"\\Settings\\K" + U16(std::to_string(i)), u"n", 1);
    auto window = Open();
    const HWND tree = window->Tree();
    // The product and its two rules' targets, nothing deeper yet.
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\" + ProductKey(alpha);
    const std::u16string run = u"HKEY_CURRENT_USER\\" + RunKey();
    EXPECT_EQ(Items(tree, false),
              (std::vector<std::u16string>{u"Zolva Alpha", u"  " + key + u" (5 keys, 4 values)",
                                           u"  " + run}));
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3);

    const std::vector<std::u16string> all = Items(tree, true);
    const std::vector<std::u16string> expected = {
        u"Zolva Alpha",
        u"  " + key + u" (5 keys, 4 values)",
        u"    Settings (4 keys, 4 values)",
        u"      K0 (1 key, 1 value)",
        u"        n (REG_DWORD, 4 bytes)",
        u"      K1 (1 key, 1 value)",
        u"        n (REG_DWORD, 4 bytes)",
        u"      K2 (1 key, 1 value)",
        u"        n (REG_DWORD, 4 bytes)",
        u"      Path (REG_SZ, 18 bytes)",
        u"  " + run,
        u"    Alpha (REG_SZ, 16 bytes)",
    };
    EXPECT_EQ(all, expected);
    // The same keys and values as the report's lines.
    const std::string report = Utf16ToUtf8(Report);
    EXPECT_NE(report.find("Key \"" + Utf16ToUtf8(key) + "\" would be deleted (5 keys, 4 values)"),
              std::string::npos)
        << report;
    EXPECT_NE(
        report.find("Name \"" + Utf16ToUtf8(run) + "\\Alpha\" would be deleted (REG_SZ, 16 bytes)"),
        std::string::npos)
        << report;
    size_t keys = 0, values = 0;
    for (size_t i = 2; i < 10; ++i)
        (all[i].find(u"REG_") != std::u16string::npos ? values : keys) += 1;
    EXPECT_EQ(keys + 1, 5u) << "with the rule's own key";
    EXPECT_EQ(values, 4u);
}

TEST_F(PreviewWindowTest, CopyPutsTheTextReportOnTheClipboard) {
    Plant(TestProducts()[0]);
    auto window = Open();
    SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(TPreviewWindow::kCopyId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window->Handle(), TPreviewWindow::kCopyId)));
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    std::u16string copied;
    if (data) {
        copied = static_cast<const char16_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    EXPECT_EQ(copied, Report);
    EXPECT_NE(copied.find(u"would be deleted"), std::u16string::npos);
}

// A big tree costs what is opened: the window holds the first level, an
// opened key its children.
TEST_F(PreviewWindowTest, ALargeTreeIsFilledOnlyWhereItIsOpened) {
    const TestProduct& alpha = TestProducts()[0];
    for (int a = 0; a < 100; ++a)
        for (int b = 0; b < 99; ++b)
            Registry.CreateKey(platform::kHkeyLocalMachine, ProductKey(alpha) + u"\\A" +
                                                                U16(std::to_string(a)) + u"\\B" +
                                                                U16(std::to_string(b)));
    auto window = Open();
    const HWND tree = window->Tree();
    EXPECT_EQ(Items(tree, false)[1],
              u"  HKEY_LOCAL_MACHINE\\" + ProductKey(alpha) + u" (10001 keys, 0 values)");
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3);
    HTREEITEM target = Next(tree, Next(tree, nullptr, TVGN_ROOT), TVGN_CHILD);
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3 + 100);
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND,
                 reinterpret_cast<LPARAM>(Next(tree, target, TVGN_CHILD)));
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3 + 100 + 99);
    // Closed and opened again, nothing is added twice.
    SendMessageW(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(target));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3 + 100 + 99);
}

// A key with more subkeys than a batch gets them a batch at a time, the rest
// behind an item that opening (the right arrow) turns into the next batch.
TEST_F(PreviewWindowTest, AKeyWithThousandsOfSubkeysOpensABatchAtATime) {
    const TestProduct& alpha = TestProducts()[0];
    const size_t subkeys = 2 * TPreviewWindow::kBatch + 200;
    for (size_t i = 0; i < subkeys; ++i)
        Registry.CreateKey(platform::kHkeyLocalMachine,
                           ProductKey(alpha) + u"\\S" + U16(std::to_string(i)));
    auto window = Open();
    const HWND tree = window->Tree();
    HTREEITEM target = Next(tree, Next(tree, nullptr, TVGN_ROOT), TVGN_CHILD);
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
    auto children = [&] {
        std::vector<std::u16string> out;
        for (HTREEITEM item = Next(tree, target, TVGN_CHILD); item;
             item = Next(tree, item, TVGN_NEXT))
            out.push_back(ItemText(tree, item));
        return out;
    };
    std::vector<std::u16string> shown = children();
    ASSERT_EQ(shown.size(), TPreviewWindow::kBatch + 1);
    EXPECT_EQ(shown.back(), u"\u2026 " + U16(std::to_string(subkeys - TPreviewWindow::kBatch)) +
                                u" more: open to show the next " +
                                U16(std::to_string(TPreviewWindow::kBatch)));
    for (size_t batch = 2; batch <= 3; ++batch) {
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
        const size_t expected = std::min(batch * TPreviewWindow::kBatch, subkeys);
        ASSERT_EQ(shown.size(), expected + (expected < subkeys ? 1 : 0)) << batch;
        // The focus goes on to the first of the new keys.
        auto* caret =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        EXPECT_EQ(ItemText(tree, caret), shown[(batch - 1) * TPreviewWindow::kBatch]) << batch;
    }
    // Every subkey once, none lost at the seams.
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(std::unique(shown.begin(), shown.end()), shown.end());
    EXPECT_EQ(shown.size(), subkeys);
}

TEST_F(PreviewWindowTest, TabReachesTheTreeCopyAndCloseEachWithAName) {
    Plant(TestProducts()[0]);
    auto window = Open();
    const HWND handle = window->Handle();
    ShowWindow(handle, SW_SHOWNORMAL);
    SetForegroundWindow(handle);
    SetFocus(window->Tree());
    std::vector<std::u16string> names;
    for (int i = 0; i < 3; ++i) {
        IAccessible* object = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(GetFocus(), OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&object)),
                  S_OK);
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        object->get_accName(self, &name);
        names.push_back(name ? std::u16string(reinterpret_cast<const char16_t*>(name)) : u"");
        SysFreeString(name);
        object->Release();
        MSG tab{handle, WM_KEYDOWN, VK_TAB, 1, 0, {}};
        tab.hwnd = GetFocus();
        IsDialogMessageW(handle, &tab);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"What will be removed", u"Copy", u"Close"}));
    EXPECT_EQ(GetFocus(), window->Tree()) << "Tab comes round to the tree";
    // Escape closes it.
    MSG escape{GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
    IsDialogMessageW(handle, &escape);
    EXPECT_FALSE(IsWindow(handle));
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
    int dpi = row.Monitor;
    if (row.ChangeTo) {
        dpi = row.ChangeTo;
        RECT now{};
        GetWindowRect(handle, &now);
        const SIZE size =
            dpi::WindowSizeForClient(dpi::Scale(640, dpi), dpi::Scale(420, dpi),
                                     static_cast<DWORD>(GetWindowLongW(handle, GWL_STYLE)),
                                     static_cast<DWORD>(GetWindowLongW(handle, GWL_EXSTYLE)), dpi);
        RECT suggested{now.left, now.top, now.left + size.cx, now.top + size.cy};
        SendMessageW(handle, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
    }
    auto check = [&](const char* when) {
        RECT client{}, tree{}, close{}, copy{};
        GetClientRect(handle, &client);
        auto placeOf = [&](HWND control, RECT& r) {
            GetWindowRect(control, &r);
            MapWindowPoints(nullptr, handle, reinterpret_cast<POINT*>(&r), 2);
        };
        placeOf(window->Tree(), tree);
        placeOf(GetDlgItem(handle, TPreviewWindow::kCloseId), close);
        placeOf(GetDlgItem(handle, TPreviewWindow::kCopyId), copy);
        const int margin = dpi::Scale(8, dpi);
        EXPECT_EQ(close.right, client.right - margin) << when;
        EXPECT_EQ(close.bottom, client.bottom - margin) << when;
        EXPECT_EQ(close.right - close.left, dpi::Scale(85, dpi)) << when;
        EXPECT_EQ(close.bottom - close.top, dpi::Scale(25, dpi)) << when;
        EXPECT_EQ(copy.right, close.left - dpi::Scale(6, dpi)) << when;
        EXPECT_EQ(tree.left, margin) << when;
        EXPECT_EQ(tree.right, client.right - margin) << when;
        EXPECT_EQ(tree.bottom, close.top - margin) << when;
        // The tree's font is the window's, at this resolution.
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window->Tree(), WM_GETFONT, 0, 0)),
                   sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -dpi::Scale(11, dpi)) << when;
        return client;
    };
    const RECT client = check("opened");
    EXPECT_EQ(client.right, dpi::Scale(640, dpi));
    EXPECT_EQ(client.bottom, dpi::Scale(420, dpi));
    // Made smaller, everything moves with the edges.
    RECT outer{};
    GetWindowRect(handle, &outer);
    SetWindowPos(handle, nullptr, 0, 0, outer.right - outer.left - 100,
                 outer.bottom - outer.top - 80, SWP_NOMOVE | SWP_NOZORDER);
    const RECT smaller = check("made smaller");
    EXPECT_EQ(smaller.right, client.right - 100);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, PreviewScaleTest,
                         testing::Values(ScaleRow{96, 96, 0}, ScaleRow{144, 96, 0},
                                         ScaleRow{96, 96, 144}, ScaleRow{96, 96, 192}),
                         [](const testing::TestParamInfo<ScaleRow>& info) {
                             return std::to_string(info.param.Dpi) + "to" +
                                    std::to_string(info.param.ChangeTo);
                         });

} // namespace
} // namespace keystrip::test
