// A list box with a flat tick box in every row; each row carries a borrowed
// object. The user toggles a tick with a click on its box or with the space
// bar; code sets ticks without raising OnClickCheck. Screen readers see the
// rows with their ticks (app/Accessibility): a changed tick and the moving
// focus are announced to them as the system's own lists announce theirs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace keystrip {

class TCheckListBox {
public:
    // Asks a list for the tick of row wParam (0 or 1, -1 for no such row);
    // works across processes, for the end-to-end driver.
    static constexpr UINT kGetCheckMessage = WM_APP + 0x41;

    // What the list's accessible object reads when asked: the list's name and
    // the names of a row's default action.
    struct TAccessibleTexts {
        std::function<std::u16string()> Name, Check, Uncheck;
    };

    TCheckListBox() = default;
    ~TCheckListBox();
    TCheckListBox(const TCheckListBox&) = delete;
    TCheckListBox& operator=(const TCheckListBox&) = delete;

    // Takes over a list box created with LBS_OWNERDRAWFIXED | LBS_HASSTRINGS.
    void Attach(HWND listBox);
    HWND Handle() const { return FHandle; }
    // The list that took over the window, or null.
    static TCheckListBox* FromHandle(HWND Window);

    int Count() const { return static_cast<int>(FRows.size()); }
    void Clear();
    // Appends an unticked row; returns its index.
    int Add(const std::u16string& Text, void* Object);
    std::u16string Items(int Index) const;
    void* Objects(int Index) const;
    bool Checked(int Index) const;
    void SetChecked(int Index, bool Checked);
    // Changes a row's tick as the user's click does: OnClickCheck follows.
    void ToggleByUser(int Index);

    // Nested; the list redraws once when the outermost update ends.
    void BeginUpdate();
    void EndUpdate();

    // Row height and the scale of the tick box, in device pixels.
    void SetMetrics(int RowHeight, int Dpi);
    int RowHeight() const { return FRowHeight; }
    // The tick box of a row, in the list's client coordinates.
    RECT BoxRect(int Index) const;

    // Paints a row (WM_DRAWITEM of the list).
    void DrawItem(const DRAWITEMSTRUCT& Item) const;

    // Raised after the user changed a tick.
    std::function<void()> OnClickCheck;

    void SetAccessibleTexts(TAccessibleTexts Texts) { FAccessibleTexts = std::move(Texts); }
    const TAccessibleTexts& AccessibleTexts() const { return FAccessibleTexts; }

private:
    struct Row {
        void* Object;
        bool Checked;
    };

    static LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    void NotifyFocus() const;
    int RowAt(LPARAM point, bool& onBox) const;
    int BoxSize() const;
    void CheckIndex(int Index) const;

    HWND FHandle = nullptr;
    std::vector<Row> FRows;
    int FUpdateDepth = 0;
    int FRowHeight = 13;
    int FDpi = 96;
    TAccessibleTexts FAccessibleTexts;
};

} // namespace keystrip
