// What a screen reader learns of the wizard, through Microsoft Active
// Accessibility: each row of the products list with its name and its tick,
// and a name for the controls whose meaning a picture or a label beside them
// carries. The objects answer WM_GETOBJECT for the control's client area and
// read what they tell from the control when asked, so they never outlive
// what they describe: once the control is gone they answer
// RPC_E_DISCONNECTED. oleacc and oleaut32 are reached at run time from
// System32, as every library the program loads after its start-up.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace keystrip {

class TCheckListBox;

namespace accessibility {

// A text read at the time a client asks (from the interface texts, so that a
// translation translates it).
using TText = std::function<std::u16string()>;

// From now until the control is destroyed, its client object is the standard
// one of its class with Name as its name; with Picture its role is a
// graphic's. Where oleacc is missing nothing changes.
void SetName(HWND Control, TText Name, bool Picture = false);

// The answer to WM_GETOBJECT (wParam Flags, OBJID_CLIENT) for a check list:
// an object for the list and one child per row (name: the row's text; role:
// check button; state: checked, focused, selected; default action: Check
// or Uncheck, which ticks the row as a click does). 0 where oleacc is missing.
LRESULT CheckListObject(HWND List, WPARAM Flags);

// A caption as a name: the access key's "&" dropped, "&&" read as "&".
std::u16string WithoutAccessKey(const std::u16string& Caption);

} // namespace accessibility
} // namespace keystrip
