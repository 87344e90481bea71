// Scaling the 96-pixels-per-inch design to the resolution of the monitor the
// window is on. The Windows 10 calls are looked up at run time, so the exe
// still starts on systems that lack them (they then report the system DPI).
#pragma once

#include <windows.h>

namespace keystrip::dpi {

constexpr int kDesign = 96;

// value * dpi / 96, rounded half away from zero.
int Scale(int value, int dpi);
RECT Scale(const RECT& design, int dpi);

// The resolution of the window's monitor (GetDpiForWindow), else the system's.
int ForWindow(HWND window);
// The resolution the process sees for the primary monitor.
int ForSystem();

// The outer size of a window with the given client size at that resolution.
SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi);

// Which prepared artwork rendering suits a resolution: 96, 144 or 192. The
// smallest one at least as fine as the resolution, so that a picture is only
// ever scaled down; 192 beyond that.
int ArtworkDpi(int dpi);

// Per-monitor awareness for a process whose manifest does not declare it
// (the test executables). Does nothing where the call is missing.
void EnablePerMonitorAwareness();

} // namespace keystrip::dpi
