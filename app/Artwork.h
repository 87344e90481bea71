// The banner and the status symbols, taken from the BITMAP resources that
// resources/artwork/Artwork.rc embeds (one rendering each for 96, 144 and
// 192 pixels per inch) and fitted to the size a resolution asks for.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace keystrip::artwork {

// A 24-bit bitmap of exactly width x height; the rendering for the
// resolution, scaled smoothly when its size differs. Null when the module
// carries no banner.
HBITMAP LoadBanner(HINSTANCE module, int dpi, int width, int height);

// An image list of the three symbols (success, warning, error), each size x
// size pixels, without transparency. Null when the module carries none.
HIMAGELIST CreateSymbolList(HINSTANCE module, int dpi, int size);

// An empty 24-bit bitmap (a top-down DIB section), white.
HBITMAP CreateBitmap24(int width, int height);

} // namespace keystrip::artwork
