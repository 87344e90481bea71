#include "app/MainFormUnit.h"

#include "app/CommandLine.h"
#include "app/Dpi.h"
#include "app/FormControls.h"
#include "app/ProductPreview.h"
#include "app/TermsView.h"
#include "app/Win32Text.h"
#include "common/Errors.h"

#include <commctrl.h>

#include <vector>

namespace keystrip {

const wchar_t TMainForm::kClassName[] = L"TMainForm";

namespace {

const std::u16string kTextsSection = u"Texts";
// The result page's note when -log names a file that cannot be written.
const std::u16string kLogNotWrittenText = u"The log file could not be written.";
const std::u16string kPreviewMessage =
    u"Checking what removing the selected Zolva products would delete";
const std::u16string kPreviewResult = u"Nothing was removed. The details show what removing the "
                                      u"selected Zolva products would delete.";
const std::u16string kRestoreMessage = u"Restoring the registry keys and values of the backup";
const std::u16string kRestored = u"Everything in the backup has been restored.";
const std::u16string kNotRestored =
    u"Not everything in the backup could be restored. The details show what could not.";
const std::u16string kRestorePreviewMessage = u"Checking what restoring the backup would write";
const std::u16string kRestorePreviewResult =
    u"Nothing was restored. The details show what restoring the backup would write.";
const std::u16string kRestoreCombined =
    u"A backup cannot be restored together with a removal (-product) or a backup (-backup). "
    u"Nothing was removed or restored.";

const TControlDesign& DesignOf(int index) {
    return design::Control(index);
}

TMainFormServices WithInstance(TMainFormServices services) {
    if (!services.Instance)
        services.Instance = GetModuleHandleW(nullptr);
    return services;
}

} // namespace

// --- construction ------------------------------------------------------------

TMainForm::TMainForm(TApplication& Application, TMainFormServices Services)
    : FApplication(Application), FServices(WithInstance(std::move(Services))),
      FBuilder(FProductsListBox, FServices.Instance), FControls(FBuilder.Controls()) {
    FBuilder.CreateMainWindow(kClassName, WindowProc, this);
    if (!FHandle)
        throw EKeystripError("the main window could not be created");
    FBuilder.Build(FHandle);
    FBuilder.NameControls([this] { return FStrings.get(); });
    FProductsListBox.OnClickCheck = [this] {
        Dispatch(TControlHandler::ProductsListBoxClickCheck, FProductsListBox.Handle());
    };
    FormCreate();
}

TMainForm::~TMainForm() {
    FormDestroy();
    if (FHandle && IsWindow(FHandle))
        DestroyWindow(FHandle);
}

// --- messages ----------------------------------------------------------------

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    TMainForm* form = nullptr;
    if (msg == WM_NCCREATE) {
        form = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    } else {
        form = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!form)
        return DefWindowProcW(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    try {
        return form->HandleMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        form->FApplication.HandleException(e);
    } catch (...) {
        form->FApplication.HandleException(EKeystripError("unknown error"));
    }
    return 0;
}

LRESULT TMainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (FBuilder.HandleMessage(msg, wParam, lParam, result))
        return result;
    switch (msg) {
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_CONTEXTMENU:
        // Passed up from the list by the default handling of the windows it
        // sits in, which names the list (Windows) or the child of this window
        // that passed it on (Wine) as the window clicked.
        if ((reinterpret_cast<HWND>(wParam) == FProductsListBox.Handle() ||
             IsChild(reinterpret_cast<HWND>(wParam), FProductsListBox.Handle())) &&
            ActivePage() == piProducts && FromProductsList(lParam)) {
            ProductsListBoxContextPopup(
                POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
            return 0;
        }
        break;
    case WM_SETCURSOR:
        if (FApplication.ApplyCursor())
            return TRUE;
        break;
    case DM_GETDEFID: {
        if (FDefaultButton && IsWindowEnabled(FDefaultButton)) {
            // Only a button on the page that shows counts.
            HWND page = GetParent(FDefaultButton);
            if ((GetWindowLongPtrW(page, GWL_STYLE) & WS_VISIBLE) &&
                (GetWindowLongPtrW(FDefaultButton, GWL_STYLE) & WS_VISIBLE))
                return MAKELRESULT(GetDlgCtrlID(FDefaultButton), DC_HASDEFID);
        }
        return 0;
    }
    case WM_NEXTDLGCTL: {
        HWND target = nullptr;
        if (LOWORD(lParam)) {
            target = reinterpret_cast<HWND>(wParam);
        } else {
            HWND focus = GetFocus();
            if (!IsChild(FHandle, focus))
                focus = nullptr;
            target = GetNextDlgTabItem(FHandle, focus, wParam != 0);
        }
        if (target)
            SetFocus(target);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            FLastFocus = IsChild(FHandle, focus) ? focus : nullptr;
        } else {
            FocusActivePage();
        }
        return 0;
    case WM_SETFOCUS:
        FocusActivePage();
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        FApplication.Terminate();
        return 0;
    }
    return DefWindowProcW(FHandle, msg, wParam, lParam);
}

void TMainForm::FocusActivePage() {
    HWND focus = FLastFocus;
    const int page = ActivePage();
    if (!focus || !IsWindow(focus) || page < 0 ||
        GetParent(focus) != controls::PageAt(FControls[ciNotebook], page) ||
        !IsWindowEnabled(focus) || !(GetWindowLongPtrW(focus, GWL_STYLE) & WS_VISIBLE))
        focus = GetNextDlgTabItem(FHandle, nullptr, FALSE);
    if (focus && IsChild(FHandle, focus))
        SetFocus(focus);
}

void TMainForm::Command(int Id, int Code, HWND Sender) {
    const int index = design::IndexFromId(Id);
    if (index == ciProductsListBox && Code == LBN_DBLCLK && ActivePage() == piProducts) {
        ProductsListBoxDblClick(Sender);
        return;
    }
    if (index < 0 || Code != BN_CLICKED)
        return; // IDOK and IDCANCEL from the dialog keys, and other notifications
    const auto& d = DesignOf(index);
    HWND control = FControls[index];
    if (!control || !IsWindowEnabled(control))
        return;
    // A control on a page that does not show cannot be pressed, not even as
    // the default button.
    for (HWND w = control; w && w != FHandle; w = GetParent(w))
        if (!(GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE))
            return;
    if (d.Kind == TControlKind::CheckBox && (d.Options & coAllowGrayed)) {
        // A user's click: unchecked and indeterminate go to checked, checked
        // goes to unchecked.
        const LRESULT state = SendMessageW(control, BM_GETCHECK, 0, 0);
        SendMessageW(control, BM_SETCHECK, state == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
    }
    (void)Sender;
    Dispatch(d.Handler, control);
}

void TMainForm::Dispatch(TControlHandler Handler, HWND Sender) {
    try {
        switch (Handler) {
        case TControlHandler::None:
            break;
        case TControlHandler::EulaAcceptButtonClick:
            EulaAcceptButtonClick(Sender);
            break;
        case TControlHandler::EulaExitButtonClick:
            EulaExitButtonClick(Sender);
            break;
        case TControlHandler::ProductsListBoxClickCheck:
            ProductsListBoxClickCheck(Sender);
            break;
        case TControlHandler::ProductsSelectAllBoxClick:
            ProductsSelectAllBoxClick(Sender);
            break;
        case TControlHandler::ProductsRemoveButtonClick:
            ProductsRemoveButtonClick(Sender);
            break;
        case TControlHandler::SuccessShowDetailsBoxClick:
            SuccessShowDetailsBoxClick(Sender);
            break;
        }
    } catch (const std::exception& e) {
        FApplication.HandleException(e);
    }
}

// --- pages, buttons, captions --------------------------------------------------

int TMainForm::ActivePage() const {
    return controls::ActivePage(FControls[ciNotebook]);
}

void TMainForm::ShowPage(int Index) {
    HWND focus = GetFocus();
    controls::ShowPage(FControls[ciNotebook], Index);
    // Focus left on a hidden page moves to the first control of the new one.
    if (IsWindowVisible(FHandle) && (!focus || !IsWindowVisible(focus) || focus == FHandle)) {
        FLastFocus = nullptr;
        FocusActivePage();
    }
}

void TMainForm::SetDefaultButton(HWND Button) {
    if (FDefaultButton && FDefaultButton != Button)
        SendMessageW(FDefaultButton, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    FDefaultButton = Button;
    if (Button)
        SendMessageW(Button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void TMainForm::SetCaption(HWND Control, const std::u16string& Text) {
    SetWindowTextW(Control, AsWide(Text).c_str());
}

void TMainForm::SetSelectAllState(int State) {
    // Setting the box from code raises its click event, as a user's click
    // does; FUpdateCount makes the handler return at once.
    HWND box = FControls[ciProductsSelectAllBox];
    SendMessageW(box, BM_SETCHECK, static_cast<WPARAM>(State), 0);
    Dispatch(TControlHandler::ProductsSelectAllBoxClick, box);
}

void TMainForm::Close() {
    if (FHandle)
        DestroyWindow(FHandle);
    FApplication.Terminate();
}

// --- event handlers ------------------------------------------------------------

void TMainForm::FormCreate() {
    FStrings = std::make_unique<TInterfaceTexts>();
    LoadStrings();
    TranslateControls(FHandle);
    FProducts = std::make_unique<TZolvaProducts>(*FServices.Registry, *FServices.Resources);
    FExtras = std::make_unique<TRunExtras>(FServices.Switches, *FServices.Registry, FServices.Hives,
                                           FOutcome);
    if (FServices.KeySecurity != nullptr)
        FExtras->SetKeySecurity(*FServices.KeySecurity);
    FUpdateCount = 0;
    ShowEula();
    if (!FApplication.ShowMainForm())
        RunSilent();
}

void TMainForm::FormDestroy() {
    FProducts.reset();
    FStrings.reset();
}

void TMainForm::EulaAcceptButtonClick(HWND) {
    if (FExtras->Restore())
        RestoreBackup();
    else if (SelectCommandLineProduct())
        RemoveProducts();
    else
        DetectProducts();
}

void TMainForm::EulaExitButtonClick(HWND) {
    Close();
}

void TMainForm::ProductsListBoxClickCheck(HWND) {
    if (FUpdateCount != 0)
        return;
    ++FUpdateCount;
    const int rows = FProductsListBox.Count();
    int ticked = 0;
    for (int i = 0; i < rows; ++i)
        if (FProductsListBox.Checked(i))
            ++ticked;
    SetSelectAllState(ticked == rows ? BST_CHECKED
                                     : (ticked > 0 ? BST_INDETERMINATE : BST_UNCHECKED));
    EnableWindow(FControls[ciProductsRemoveButton], ticked > 0);
    --FUpdateCount;
}

void TMainForm::ProductsSelectAllBoxClick(HWND) {
    if (FUpdateCount != 0)
        return;
    ++FUpdateCount;
    const bool checked =
        SendMessageW(FControls[ciProductsSelectAllBox], BM_GETCHECK, 0, 0) == BST_CHECKED;
    FProductsListBox.BeginUpdate();
    for (int i = 0; i < FProductsListBox.Count(); ++i)
        FProductsListBox.SetChecked(i, checked);
    FProductsListBox.EndUpdate();
    --FUpdateCount;
    ProductsListBoxClickCheck(FProductsListBox.Handle());
}

void TMainForm::ProductsRemoveButtonClick(HWND) {
    for (int i = 0; i < FProductsListBox.Count(); ++i) {
        if (FProductsListBox.Checked(i)) {
            RemoveProducts();
            return;
        }
    }
}

void TMainForm::SuccessShowDetailsBoxClick(HWND) {
    const bool checked =
        SendMessageW(FControls[ciSuccessShowDetailsBox], BM_GETCHECK, 0, 0) == BST_CHECKED;
    ShowWindow(FControls[ciSuccessBackground], checked ? SW_SHOW : SW_HIDE);
    ShowWindow(FControls[ciSuccessMemo], checked ? SW_SHOW : SW_HIDE);
    const bool hadFocus = GetFocus() == FControls[ciSuccessShowDetailsBox];
    ShowWindow(FControls[ciSuccessShowDetailsBox], checked ? SW_HIDE : SW_SHOW);
    if (hadFocus && checked && IsWindowVisible(FHandle))
        SetFocus(FControls[ciSuccessMemo]);
}

// --- operations ----------------------------------------------------------------

void TMainForm::LoadStrings() {
    FStrings->LoadFromResources(*FServices.Resources);
}

void TMainForm::TranslateControls(HWND Container) {
    const std::u16string section = design::Window().Name;
    for (HWND child = GetWindow(Container, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int index = design::IndexFromId(GetDlgCtrlID(child));
        if (index >= 0 && FControls[index] == child && IsCaptioned(DesignOf(index).Kind))
            SetCaption(child, FStrings->ReadString(section, DesignOf(index).Name, u""));
        if (GetWindow(child, GW_CHILD))
            TranslateControls(child);
    }
}

bool TMainForm::EnsureProductsLoaded() {
    try {
        if (FProducts->Count() == 0)
            FProducts->LoadFromResource();
        if (FProducts->Count() > 0)
            return true;
        throw EInOutError("no product definitions");
    } catch (...) {
        ShowError(1003);
        return false;
    }
}

void TMainForm::BeginProgress(int Maximum, const std::u16string& Message) {
    SetCaption(FControls[ciProgressLabel],
               FormatString(FStrings->ReadString(kTextsSection, u"Text01", u"%s"), Message));
    HWND bar = FControls[ciProgressBar];
    SendMessageW(bar, PBM_SETRANGE32, 0, Maximum);
    SendMessageW(bar, PBM_SETSTEP, 1, 0);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    ShowPage(piProgress);
    RedrawWindow(FControls[ciNotebook], nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    FApplication.SetCursor(TAppCursor::Wait);
}

void TMainForm::EndProgress(int PageIndex) {
    FApplication.SetCursor(TAppCursor::Default);
    ShowPage(PageIndex);
}

void TMainForm::StepProgress(int Position) {
    HWND bar = FControls[ciProgressBar];
    if (Position < 0)
        SendMessageW(bar, PBM_STEPIT, 0, 0);
    else
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(Position), 0);
}

void TMainForm::ShowEula() {
    try {
        std::vector<uint8_t> terms = ReadTerms(*FServices.Resources);
        if (FApplication.ShowMainForm())
            FillTermsView(FControls[ciEulaEdit], terms);
        else
            FPendingTerms = std::move(terms); // filled only if the window shows after all
        ShowPage(piEula);
        SetDefaultButton(FControls[ciEulaAcceptButton]);
    } catch (...) {
        ShowError(1000);
    }
}

void TMainForm::FillPendingTerms() {
    if (!FPendingTerms)
        return;
    const std::vector<uint8_t> terms = std::move(*FPendingTerms);
    FPendingTerms.reset();
    try {
        FillTermsView(FControls[ciEulaEdit], terms);
    } catch (...) {
        // As if the terms had failed at start-up: a later error page stays.
        if (ActivePage() == piEula)
            ShowError(1000);
    }
}

void TMainForm::ShowError(int Code) {
    FOutcome.Note(ProblemOfErrorPage(Code), CurrentExceptionText());
    SetSymbol(FControls[ciErrorSymbol], skError);
    const std::u16string format = FStrings->ReadString(kTextsSection, u"Text02", u"%d");
    std::u16string caption;
    try {
        caption = FormatInteger(format, Code);
    } catch (const EFormatError&) {
        // A message that does not fit the code still shows the code.
        caption = FormatInteger(u"%d", Code);
    }
    SetCaption(FControls[ciErrorLabel], caption);
    ShowPage(piError);
}

void TMainForm::DetectProducts() {
    if (!EnsureProductsLoaded())
        return;
    try {
        TRunExtras::TRun run(*FExtras, *FProducts, false);
        const std::u16string message = FStrings->ReadString(kTextsSection, u"Text03", u"");
        const int count = FProducts->Count();
        BeginProgress(count + 1, message);
        StepProgress(-1);
        for (int i = 0; i < count; ++i) {
            FProducts->Detect(FProducts->Items(i));
            StepProgress(-1);
        }
        FillProductList();
        ProductsListBoxClickCheck(FProductsListBox.Handle());
        SetSymbol(FControls[ciProductsSymbol], skWarning);
        EndProgress(piProducts);
        SetDefaultButton(FControls[ciProductsRemoveButton]);
    } catch (...) {
        ShowError(1001);
    }
}

void TMainForm::FillProductList() {
    FProductsListBox.BeginUpdate();
    FProductsListBox.Clear();
    const int count = FProducts->Count();
    for (int i = 0; i < count; ++i) {
        pZolvaProductsItem item = FProducts->Items(i);
        if (!item->Product)
            continue;
        const int row = FProductsListBox.Add(item->Product->Name(), item->Product.get());
        FProductsListBox.SetChecked(row, item->Found);
    }
    FProductsListBox.EndUpdate();
}

void TMainForm::RemoveProducts() {
    if (!EnsureProductsLoaded())
        return;
    try {
        const bool preview = FExtras->Preview();
        TRunExtras::TRun run(*FExtras, *FProducts, true);
        const std::u16string message =
            preview ? FStrings->ReadString(kTextsSection, u"Text11", kPreviewMessage)
                    : FStrings->ReadString(kTextsSection, u"Text04", u"");
        const int count = FProducts->Count();
        BeginProgress(count + 1, message);
        StepProgress(-1);
        bool allRemoved = true;
        for (int i = 0; i < FProductsListBox.Count(); ++i) {
            if (FProductsListBox.Checked(i)) {
                auto* product = static_cast<TZolvaProduct*>(FProductsListBox.Objects(i));
                if (!product)
                    throw EKeystripError("a ticked row carries no product");
                pZolvaProductsItem item = FProducts->Find(product);
                if (item && !FExtras->Apply(*FProducts, item))
                    allRemoved = false;
            }
            StepProgress(-1);
        }
        const std::u16string report =
            FProducts->Activity()->Export(TActivityExportOptions{eoInfo, eoWarning, eoError});
        SetCaption(FControls[ciSuccessMemo], report);
        if (preview) {
            SetCaption(FControls[ciSuccessLabel1],
                       FStrings->ReadString(kTextsSection, u"Text08", kPreviewResult));
            SetSymbol(FControls[ciSuccessSymbol], allRemoved ? skSuccess : skWarning);
        } else if (allRemoved || IsSafeMode()) {
            SetCaption(FControls[ciSuccessLabel1],
                       FStrings->ReadString(kTextsSection, u"Text05", u""));
            SetSymbol(FControls[ciSuccessSymbol], skSuccess);
        } else {
            SetCaption(FControls[ciSuccessLabel1],
                       FStrings->ReadString(kTextsSection, u"Text06", u""));
            SetSymbol(FControls[ciSuccessSymbol], skWarning);
        }
        WriteRunLog();
        EndProgress(piSuccess);
        SetDefaultButton(FControls[ciSuccessCloseButton]);
    } catch (...) {
        ShowError(1002);
    }
}

void TMainForm::RestoreBackup() {
    const bool combined = !FExtras->RestoreConflict().empty();
    if (!combined && !EnsureProductsLoaded())
        return;
    try {
        const bool preview = FExtras->Preview();
        BeginProgress(
            2, preview ? FStrings->ReadString(kTextsSection, u"Text13", kRestorePreviewMessage)
                       : FStrings->ReadString(kTextsSection, u"Text12", kRestoreMessage));
        StepProgress(-1);
        const bool restored = FExtras->RunRestore(*FProducts);
        StepProgress(-1);
        SetCaption(FControls[ciSuccessMemo], FProducts->Activity()->Export(TActivityExportOptions{
                                                 eoInfo, eoWarning, eoError}));
        std::u16string caption;
        if (combined)
            caption = FStrings->ReadString(kTextsSection, u"Text15", kRestoreCombined);
        else if (preview)
            caption = FStrings->ReadString(kTextsSection, u"Text14", kRestorePreviewResult);
        else
            caption = restored ? FStrings->ReadString(kTextsSection, u"Text09", kRestored)
                               : FStrings->ReadString(kTextsSection, u"Text10", kNotRestored);
        SetCaption(FControls[ciSuccessLabel1], caption);
        SetSymbol(FControls[ciSuccessSymbol],
                  combined ? skError : (restored ? skSuccess : skWarning));
        WriteRunLog();
        EndProgress(piSuccess);
        SetDefaultButton(FControls[ciSuccessCloseButton]);
    } catch (...) {
        ShowError(1002);
    }
}

bool TMainForm::FromProductsList(LPARAM At) const {
    const HWND list = FProductsListBox.Handle();
    const POINT point{static_cast<short>(LOWORD(At)), static_cast<short>(HIWORD(At))};
    if (point.x == -1 && point.y == -1)
        return GetFocus() == list;
    RECT area{};
    GetWindowRect(list, &area);
    return PtInRect(&area, point) != 0;
}

void TMainForm::ProductsListBoxContextPopup(POINT At) {
    const HWND list = FProductsListBox.Handle();
    int row = -1;
    if (At.x == -1 && At.y == -1) {
        // From the keyboard: the focused row, the menu below it.
        row = static_cast<int>(SendMessageW(list, LB_GETCARETINDEX, 0, 0));
        RECT item{};
        if (row < 0 || SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                                    reinterpret_cast<LPARAM>(&item)) == LB_ERR)
            return;
        At = POINT{item.left + dpi::Scale(16, FBuilder.Dpi()), item.bottom};
        ClientToScreen(list, &At);
    } else {
        POINT client = At;
        ScreenToClient(list, &client);
        const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y));
        if (HIWORD(hit) != 0)
            return; // not on a row
        row = LOWORD(hit);
        SendMessageW(list, LB_SETCARETINDEX, static_cast<WPARAM>(row), FALSE);
    }
    if (ChooseProductPreview(FHandle, ReadProductPreviewTexts(*FStrings).MenuItem, At))
        PreviewRow(row);
}

void TMainForm::ProductsListBoxDblClick(HWND) {
    PreviewRow(static_cast<int>(SendMessageW(FProductsListBox.Handle(), LB_GETCARETINDEX, 0, 0)));
}

void TMainForm::PreviewRow(int Row) {
    if (Row < 0 || Row >= FProductsListBox.Count())
        return;
    auto* product = static_cast<TZolvaProduct*>(FProductsListBox.Objects(Row));
    pZolvaProductsItem item = product ? FProducts->Find(product) : nullptr;
    if (!item)
        return;
    TRunExtras::TRun run(*FExtras, *FProducts, false);
    ShowProductPreview(FHandle, *FProducts, item, ReadProductPreviewTexts(*FStrings).Window,
                       FBuilder.Dpi());
}

void TMainForm::SetSymbol(HWND Image, TSymbolKind Kind) {
    FBuilder.DrawSymbol(Image, Kind);
}

bool TMainForm::IsSafeMode() {
    const int boot = FServices.CleanBoot ? FServices.CleanBoot() : GetSystemMetrics(SM_CLEANBOOT);
    return boot == 1 || boot == 2;
}

bool TMainForm::SelectCommandLineProduct() {
    auto reader = FServices.CommandLine ? std::make_unique<TCommandLine>(*FServices.CommandLine)
                                        : std::make_unique<TCommandLine>();
    bool result = reader->Switches() > 0 && !reader->SwitchValue(u"product", u"").empty();
    if (result) {
        if (EnsureProductsLoaded()) {
            const std::u16string name = reader->SwitchValue(u"product", u"");
            pZolvaProductsItem item = FProducts->Find(name);
            result = item != nullptr;
            if (!item)
                FOutcome.Note(TRunProblem::UnknownProduct, name);
            if (item) {
                FProductsListBox.BeginUpdate();
                FProductsListBox.Clear();
                const int row = FProductsListBox.Add(item->Product->Name(), item->Product.get());
                FProductsListBox.SetChecked(row, true);
                FProductsListBox.EndUpdate();
            }
        } else {
            result = false;
        }
    }
    return result;
}

void TMainForm::RunSilent() {
    if (FExtras->Restore() &&
        (!FExtras->Preview() || FServices.Log || !FExtras->RestoreConflict().empty())) {
        RestoreBackup();
        FApplication.Terminate();
    } else if (FExtras->Preview() && !FServices.Log) {
        // The preview's report has nowhere to go: nothing runs.
        FOutcome.Note(TRunProblem::PreviewWithoutLog);
        FApplication.Terminate();
    } else if (SelectCommandLineProduct()) {
        RemoveProducts();
        FApplication.Terminate();
    } else if (FExtras->Preview() && !FOutcome.Has(TRunProblem::UnknownProduct) &&
               !FOutcome.Has(TRunProblem::NoDefinitions)) {
        // Without -product, every product the detection finds.
        DetectProducts();
        RemoveProducts();
        FApplication.Terminate();
    } else if (FServices.Unattended) {
        // Without a product to remove the exit code says why: 2 when no -product
        // names one, 3 when the definitions could not be loaded.
        if (ExitCodeOf(FOutcome) < ecUnknownProduct)
            FOutcome.Note(TRunProblem::UnknownProduct, u"no product named");
        FApplication.Terminate();
    } else {
        FillPendingTerms();
        ShowWindow(FHandle, SW_SHOWNORMAL);
        UpdateWindow(FHandle);
    }
}

void TMainForm::WriteRunLog() {
    if (!FServices.Log)
        return;
    HWND label = FControls[ciSuccessLogLabel];
    if (FServices.Log->Write(FProducts->Activity(), FOutcome)) {
        ShowWindow(label, SW_HIDE);
        return;
    }
    SetCaption(label, FStrings->ReadString(kTextsSection, u"Text07", kLogNotWrittenText));
    ShowWindow(label, SW_SHOW);
}

} // namespace keystrip
