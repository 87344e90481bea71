// TMainForm: the wizard window and the driver of everything else. Terms of
// use, a detection run over all product definitions, the product list, a
// removal run over the ticked products and the result with its report, or an
// error page with a code; and the silent removal of one named product.
//
// The window is built from the design tables (MainFormDesign) and scaled to
// the resolution of its monitor by TFormBuilder; this class is the flow. The
// runs are synchronous: they execute inside the button handlers and process
// no messages until they end.
#pragma once

#include "app/Application.h"
#include "app/CheckListBox.h"
#include "app/FormBuilder.h"
#include "app/InterfaceTexts.h"
#include "app/MainFormDesign.h"
#include "app/RunExtras.h"
#include "app/RunLog.h"
#include "app/RunOutcome.h"
#include "app/RunSwitches.h"
#include "definitions/ZolvaProducts.h"
#include "platform/Registry.h"
#include "platform/Resources.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keystrip {

// What the window reaches outside itself; tests put doubles in.
struct TMainFormServices {
    platform::IRegistry* Registry = nullptr;
    const platform::IResourceSource* Resources = nullptr;
    // The module whose BITMAP resources hold the artwork.
    HINSTANCE Instance = nullptr;
    // GetSystemMetrics(SM_CLEANBOOT) unless set.
    std::function<int()> CleanBoot;
    // The process's command line unless set.
    std::optional<std::u16string> CommandLine;
    // The -log file, written when a removal run ends; null without -log.
    TRunLog* Log = nullptr;
    // No one is there to close the window (-silent with -exitcode): a silent
    // run that cannot remove ends with its exit code instead of showing it.
    bool Unattended = false;
    // What the runs do beyond removing (-preview, -backup, -restore,
    // -allusers), and the users' hives for -allusers.
    TRunSwitches Switches;
    platform::IHives* Hives = nullptr;
    // Who may change the registry's keys, for the record of backups: the
    // system's unless set.
    platform::IKeySecurity* KeySecurity = nullptr;
};

class TMainForm {
public:
    // The window class name the end-to-end driver looks for.
    static const wchar_t kClassName[];

    // Creates the window (hidden) with all its controls and runs FormCreate.
    TMainForm(TApplication& Application, TMainFormServices Services);
    // FormDestroy, then the window goes.
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    HWND Handle() const { return FHandle; }
    HWND Control(TControlIndex Index) const { return FControls[Index]; }
    TCheckListBox& ProductsListBox() { return FProductsListBox; }
    HIMAGELIST SymbolsImageList() const { return FBuilder.SymbolsImageList(); }

    // Event handlers, bound to the controls by the design.
    void FormCreate();
    void FormDestroy();
    void EulaAcceptButtonClick(HWND Sender);
    void EulaExitButtonClick(HWND Sender);
    void ProductsListBoxClickCheck(HWND Sender);
    void ProductsSelectAllBoxClick(HWND Sender);
    void ProductsRemoveButtonClick(HWND Sender);
    void SuccessShowDetailsBoxClick(HWND Sender);
    // A row's context menu (right click, Shift+F10, the menu key) and a double
    // click on a row: what removing its product would delete.
    void ProductsListBoxContextPopup(POINT At);
    // Whether a context menu request (its WM_CONTEXTMENU point) is for the list.
    bool FromProductsList(LPARAM At) const;
    void ProductsListBoxDblClick(HWND Sender);

    // Operations.
    void LoadStrings();
    void TranslateControls(HWND Container);
    bool EnsureProductsLoaded();
    void BeginProgress(int Maximum, const std::u16string& Message);
    void EndProgress(int PageIndex);
    void StepProgress(int Position);
    void ShowEula();
    void ShowError(int Code);
    void DetectProducts();
    void FillProductList();
    void RemoveProducts();
    // -restore: puts back what the backup holds and shows the result page.
    void RestoreBackup();
    void SetSymbol(HWND Image, TSymbolKind Kind);
    bool IsSafeMode();
    bool SelectCommandLineProduct();
    void RunSilent();

    // State, for the flow and for tests.
    TZolvaProducts* Products() const { return FProducts.get(); }
    TInterfaceTexts* Strings() const { return FStrings.get(); }
    int UpdateCount() const { return FUpdateCount; }
    int ActivePage() const;
    HWND DefaultButton() const { return FDefaultButton; }
    int Dpi() const { return FBuilder.Dpi(); }
    // What the run has come to so far, for the log and the exit code.
    TRunOutcome& Outcome() { return FOutcome; }
    // Closes the window: the close box and every Exit, Cancel, Ok and Close button.
    void Close();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void Command(int Id, int Code, HWND Sender);
    void Dispatch(TControlHandler Handler, HWND Sender);
    void ShowPage(int Index);
    void SetDefaultButton(HWND Button);
    void SetSelectAllState(int State);
    void SetCaption(HWND Control, const std::u16string& Text);
    void FillPendingTerms();
    void WriteRunLog();
    void FocusActivePage();
    void PreviewRow(int Row);

    TApplication& FApplication;
    TMainFormServices FServices;
    HWND FHandle = nullptr;
    TCheckListBox FProductsListBox;
    TFormBuilder FBuilder;
    const TFormBuilder::TControls& FControls; // the builder's, by design index
    HWND FDefaultButton = nullptr;
    HWND FLastFocus = nullptr;

    std::unique_ptr<TZolvaProducts> FProducts;
    int FUpdateCount = 0;
    std::unique_ptr<TInterfaceTexts> FStrings;
    TRunOutcome FOutcome;
    std::unique_ptr<TRunExtras> FExtras;
    // The terms of a silent run, read but not yet shown (see ShowEula).
    std::optional<std::vector<uint8_t>> FPendingTerms;
};

} // namespace keystrip
