// How many pixels the displays give an inch: 96 at 100 % scaling. Windows 8.1 and 10
// answer per monitor (looked up at run time); before them every monitor has the
// screen's one setting.
#pragma once

#include <windows.h>

namespace DisplayDpi {

constexpr UINT kBaseDpi = 96;

// The DPI of the monitor that holds point, or of the primary monitor when none does.
UINT OfPoint(POINT point);
// The DPI the window is drawn at.
UINT OfWindow(HWND hwnd);
// A length in pixels at 96 DPI, at dpi instead.
int Scale(int length, UINT dpi);

}  // namespace DisplayDpi
