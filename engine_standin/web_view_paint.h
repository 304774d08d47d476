// What a person looking at a web window sees: the page title, its URL and the
// latest console lines.
#pragma once

#include <windows.h>

namespace standin {

struct WebView;

// Handles WM_PAINT for the view's window.
void PaintWebView(WebView* view, HWND hwnd);

}  // namespace standin
