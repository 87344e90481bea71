// The window classes of the main window's own simple controls: the framed
// rectangle (shape), the picture (image), the page container and its pages.
// Pages pass the notifications of their controls on to the top-level window,
// so that the form handles every control in one place.
#pragma once

#include <windows.h>

namespace keystrip::controls {

extern const wchar_t kShapeClass[];
extern const wchar_t kImageClass[];
extern const wchar_t kNotebookClass[];
extern const wchar_t kPageClass[];

// Registers the four classes once per process.
void RegisterClasses(HINSTANCE instance);

// Shapes: fill and border colours, border width in pixels (0: none).
void SetShapeStyle(HWND shape, COLORREF fill, COLORREF border, int borderWidth);

// Images own their bitmap; setting one frees the previous one. The bitmap is
// drawn at the top-left corner, unscaled.
void SetImageBitmap(HWND image, HBITMAP bitmap);
HBITMAP ImageBitmap(HWND image);

// Pages and the container paint this colour as their ground.
void SetPanelColour(COLORREF colour);

// Shows the page with the given index among the container's pages and hides
// the others. A page's control identifier is kFirstPageId + its index.
void ShowPage(HWND notebook, int index);
int ActivePage(HWND notebook);
HWND PageAt(HWND notebook, int index);

} // namespace keystrip::controls
