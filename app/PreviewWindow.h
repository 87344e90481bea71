// The window that shows what removing one product would delete: modal to its
// owner, resizable, the preview as a tree (products, rule targets, subkeys,
// values) whose first level is open and whose deeper levels are filled when
// opened (a key with thousands of subkeys a batch at a time, the rest behind
// an item that opens the next batch), a Copy button that puts the plain-text
// report on the clipboard and a Close button. Escape, Close and the close box close it. It scales
// with the resolution of its monitor as the main window does.
#pragma once

#include "app/GdiHandle.h"
#include "app/PreviewTree.h"
#include "rules/PreviewRecord.h"

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace keystrip {

struct TPreviewTexts {
    std::u16string Title;
    std::u16string Copy;
    std::u16string Close;
};

class TPreviewWindow {
public:
    // The window class the end-to-end driver looks for.
    static const wchar_t kClassName[];
    // The identifiers of its controls.
    static constexpr int kTreeId = 101;
    static constexpr int kCopyId = 102;
    static constexpr int kCloseId = IDCANCEL;
    // The most children an opened item gets at once.
    static constexpr size_t kBatch = 500;

    // Creates the window, hidden, with its tree's first level filled and
    // open. Report is what Copy copies.
    TPreviewWindow(HWND Owner, TPreviewTexts Texts, std::u16string Report,
                   std::vector<TPreviewProduct> Products, int Dpi);
    ~TPreviewWindow();
    TPreviewWindow(const TPreviewWindow&) = delete;
    TPreviewWindow& operator=(const TPreviewWindow&) = delete;

    HWND Handle() const { return FHandle; }
    HWND Tree() const { return FTree; }

    // Shows the window until it is closed; the owner takes no input
    // meanwhile. A WM_QUIT that arrives ends the window and is passed on.
    void RunModal();

    // Creates the window and runs it.
    static void Show(HWND Owner, TPreviewTexts Texts, std::u16string Report,
                     std::vector<TPreviewProduct> Products, int Dpi);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    HTREEITEM Insert(HTREEITEM Parent, const TPreviewNode& Node);
    // Fills an item's children the first time it is opened.
    void Fill(HTREEITEM Item, LPARAM Index);
    // Adds the next batch of a parent's children, and an item for the rest.
    void AddBatch(HTREEITEM Parent, size_t More);
    void ApplyDpi();
    void Layout();
    void CopyReport();

    HWND FOwner;
    TPreviewTexts FTexts;
    std::u16string FReport;
    std::vector<TPreviewProduct> FProducts;
    TPreviewTree FModel;
    // The nodes the tree's items stand for (an item's lParam is its index)
    // and whether each one's children are in the tree yet.
    std::vector<TPreviewNode> FNodes;
    std::vector<bool> FFilled;
    // The children not yet in the tree, behind an item whose lParam is
    // -1 - its index here.
    struct TMore {
        std::vector<TPreviewNode> Rest;
        size_t Next = 0;
    };
    std::vector<TMore> FMore;
    HWND FHandle = nullptr;
    HWND FTree = nullptr;
    HWND FCopy = nullptr;
    HWND FClose = nullptr;
    TFont FFont;
    int FDpi;
    bool FDone = false;
};

} // namespace keystrip
