// The main window at the scale of the monitor it is on: its size in device pixels
// grows with the monitor's DPI and the engine zooms by as much, so the page always
// lays out at the same size in CSS pixels and is drawn sharp rather than stretched.
#pragma once

#include <windows.h>

#include "wke/wke_api.h"

namespace WindowScale {

// Zooms the view for a monitor of dpi.
void ApplyZoom(wkeWebView webView, UINT dpi);
// From now on, when Windows moves the view's window to a monitor of another DPI, the
// window keeps its centre and takes width x height (pixels at 96 DPI) at the new DPI,
// and the view the zoom of the new DPI. One window at a time; false when the window
// could not be followed.
bool FollowDpiChanges(wkeWebView webView, HWND hwnd, int width, int height);

}  // namespace WindowScale
