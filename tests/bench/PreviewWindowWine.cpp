// Opening the preview of one key with 100,000 keys below it, under Wine on
// the in-memory registry, in one run: the anchor is the text preview as the
// window showed it before the tree (the preview for the report alone, its
// text in a read-only multi-line edit control, shown and painted); against
// it the tree window (the preview with its record, the window with the first
// level of its tree, shown and painted), then opening the key with the most
// subkeys. Two shapes: a thousand subkeys of 99 keys each, and 99,999
// subkeys directly below the key. Each key holds one value. Medians of 3
// alternating rounds.
// Build and run on a display:
//   cmake --build --preset win64 --target keystrip_bench_preview_window
//   P=$PWD/build/win64/guiprefix
//   tests/e2e/with-xvfb.sh $P cmake/wine-run.sh $P
//       build/win64/tests/bench/keystrip_bench_preview_window.exe
// (one command line).
#include "app/PreviewWindow.h"
#include "common/Utf.h"
#include "platform/doubles/MemoryRegistry.h"
#include "rules/ZolvaProductInspector.h"
#include "tests/bench/BenchTiming.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>

namespace {

using namespace keystrip;
using bench::Median;
using bench::Milliseconds;

const std::u16string kTop = u"SOFTWARE\\ZolvaBench\\Tree";

// Dispatches what is waiting (the paints among it).
void Settle() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Plant(platform::IRegistry& registry, int children, int below) {
    bench::Plant(registry, platform::kHkeyLocalMachine, kTop, u"v");
    for (int c = 0; c < children; ++c) {
        const std::u16string child = kTop + u"\\C" + U16(std::to_string(c));
        bench::Plant(registry, platform::kHkeyLocalMachine, child, u"v");
        for (int g = 0; g < below; ++g)
            bench::Plant(registry, platform::kHkeyLocalMachine,
                         child + u"\\G" + U16(std::to_string(g)), u"v");
    }
}

// The text preview as its window was: the report in a read-only edit.
double TextPreview(platform::IRegistry& registry, TZolvaProduct& product) {
    return Milliseconds([&] {
        TActivityLogger log;
        TZolvaProductInspector(&product, &log, registry).ProductInspected();
        const std::u16string report = log.Export({eoInfo, eoWarning, eoError});
        HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, WC_STATICW, L"What will be removed",
                                      WS_OVERLAPPEDWINDOW, 0, 0, 640, 420, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        HWND edit =
            CreateWindowExW(WS_EX_CLIENTEDGE, WC_EDITW, L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                            8, 8, 600, 340, window, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowTextW(edit, reinterpret_cast<const wchar_t*>(report.c_str()));
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        Settle();
        DestroyWindow(window);
    });
}

// The tree window shown, then its widest key opened: both times, and the
// tree's items then.
size_t TreePreview(platform::IRegistry& registry, TZolvaProduct& product, std::vector<double>& open,
                   std::vector<double>& expand) {
    std::unique_ptr<TPreviewWindow> window;
    open.push_back(Milliseconds([&] {
        TActivityLogger log;
        std::vector<TPreviewProduct> record(1);
        TZolvaProductInspector inspector(&product, &log, registry);
        inspector.SetRecord(&record.front());
        inspector.ProductInspected();
        window = std::make_unique<TPreviewWindow>(
            nullptr, TPreviewTexts{u"What will be removed", u"&Copy", u"&Close"},
            log.Export({eoInfo, eoWarning, eoError}), std::move(record), 96);
        ShowWindow(window->Handle(), SW_SHOWNORMAL);
        UpdateWindow(window->Handle());
        Settle();
    }));
    const HWND tree = window->Tree();
    auto next = [tree](HTREEITEM item, UINT relation) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    };
    HTREEITEM target = next(next(nullptr, TVGN_ROOT), TVGN_CHILD);
    expand.push_back(Milliseconds([&] {
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
        UpdateWindow(window->Handle());
        Settle();
    }));
    const auto items = static_cast<size_t>(SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    window.reset();
    Settle();
    return items;
}

void Shape(int children, int below) {
    platform::MemoryRegistry registry;
    Plant(registry, children, below);
    TZolvaProduct product(u"Zolva Bench");
    product.AddRemoval(rkLocalMachine, kTop, u"", raCompleteKey);
    std::vector<double> text, open, expand;
    size_t items = 0;
    for (int round = 0; round < 3; ++round) {
        text.push_back(TextPreview(registry, product));
        items = TreePreview(registry, product, open, expand);
    }
    const double t = Median(text), o = Median(open), e = Median(expand);
    std::printf("%d subkeys of %d keys each (%d keys), medians of 3 rounds\n", children, below + 1,
                1 + children * (below + 1));
    std::printf("  text preview shown          %8.1f ms\n", t);
    std::printf("  tree preview shown          %8.1f ms  (%.2f times the text preview)\n", o,
                o / t);
    std::printf("  widest key opened           %8.1f ms  (%.2f times the text preview; %zu items "
                "in the tree then)\n",
                e, e / t, items);
}

} // namespace

int main() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    Shape(1000, 99);
    Shape(99999, 0);
    return 0;
}
