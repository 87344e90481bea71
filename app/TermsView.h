// The terms of use: read from the raw-data resource "EULA", then put into the
// rich text view of the first page. The two steps are apart so that a silent
// run that removes a product still reads the terms (a missing or unreadable
// text still ends on error page 1000) without filling a view no one sees.
#pragma once

#include "platform/Resources.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace keystrip {

// The resource's bytes; fails with EInOutError when it is missing, or with the
// source's error when it cannot be read.
std::vector<uint8_t> ReadTerms(const platform::IResourceSource& Resources);

// Replaces the view's text by the terms: as rich text when the view takes
// them so, else as plain text in the encoding their byte-order mark names
// (the system ANSI code page without one), the mark not shown. Then puts the
// caret on the first character. Fails with EInOutError when the view refuses
// the plain text too.
void FillTermsView(HWND Edit, const std::vector<uint8_t>& Terms);

} // namespace keystrip
