#include "app/ProductPreview.h"

#include "app/Win32Text.h"

namespace keystrip {

namespace {

constexpr UINT kPreviewCommand = 1;

} // namespace

TProductPreviewTexts ReadProductPreviewTexts(const TInterfaceTexts& Strings) {
    TProductPreviewTexts texts;
    texts.MenuItem =
        Strings.ReadString(u"MainForm", u"ProductsPreviewItem", u"Show what will be removed\u2026");
    texts.Window.Title =
        Strings.ReadString(u"PreviewForm", u"PreviewForm", u"What will be removed");
    texts.Window.Copy = Strings.ReadString(u"PreviewForm", u"PreviewCopyButton", u"&Copy");
    texts.Window.Close = Strings.ReadString(u"PreviewForm", u"PreviewCloseButton", u"&Close");
    return texts;
}

bool ChooseProductPreview(HWND Owner, const std::u16string& MenuItem, POINT At) {
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return false;
    AppendMenuW(menu, MF_STRING, kPreviewCommand, AsWide(MenuItem).c_str());
    // Its only item is the default, drawn bold as Windows draws a default action.
    SetMenuDefaultItem(menu, kPreviewCommand, FALSE);
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, At.x, At.y, 0, Owner, nullptr));
    DestroyMenu(menu);
    return chosen == kPreviewCommand;
}

void ShowProductPreview(HWND Owner, TZolvaProducts& Products, pZolvaProductsItem Item,
                        const TPreviewTexts& Texts, int Dpi) {
    TActivityLogger log;
    std::vector<TPreviewProduct> record(1);
    Products.Inspect(Item, &log, &record.front());
    TPreviewWindow::Show(Owner, Texts, log.Export({eoInfo, eoWarning, eoError}), std::move(record),
                         Dpi);
}

} // namespace keystrip
