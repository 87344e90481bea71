// On the products page, what removing one product would delete: a row's
// context menu offers it, and its window shows the preview of that product
// alone, logged apart so that the removal's report stays as it is.
#pragma once

#include "app/InterfaceTexts.h"
#include "app/PreviewWindow.h"
#include "definitions/ZolvaProducts.h"

#include <windows.h>

#include <string>

namespace keystrip {

struct TProductPreviewTexts {
    std::u16string MenuItem;
    TPreviewTexts Window;
};

// From the interface texts, with the English defaults.
TProductPreviewTexts ReadProductPreviewTexts(const TInterfaceTexts& Strings);

// The menu with its one item at At (screen coordinates); true when the item
// was chosen.
bool ChooseProductPreview(HWND Owner, const std::u16string& MenuItem, POINT At);

// Runs the preview of Item and shows it until its window is closed.
void ShowProductPreview(HWND Owner, TZolvaProducts& Products, pZolvaProductsItem Item,
                        const TPreviewTexts& Texts, int Dpi);

} // namespace keystrip
