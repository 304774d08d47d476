// Window, storage-path, loading and event exports.
#include <string>

#include "engine_standin/document_loader.h"
#include "engine_standin/fetch.h"
#include "engine_standin/standin.h"
#include "engine_standin/text.h"
#include "engine_standin/thread_guard.h"
#include "engine_standin/web_view.h"

using standin::FindView;
using standin::WebView;

#define STANDIN_VIEW_OR_RETURN(name, handle, ...)   \
  STANDIN_UI_ONLY(name, __VA_ARGS__);               \
  WebView* view = FindView(handle, name);           \
  if (!view) return __VA_ARGS__

STANDIN_EXPORT(void*) wkeCreateWebWindow(int type, HWND parent, int x, int y, int width,
                                         int height) {
  STANDIN_UI_ONLY("wkeCreateWebWindow", nullptr);
  return standin::CreateWebView(type, parent, x, y, width, height);
}

// A view without a window of its own in the engine; here its window is never shown.
STANDIN_EXPORT(void*) wkeCreateWebView() {
  STANDIN_UI_ONLY("wkeCreateWebView", nullptr);
  return standin::CreateWebView(0, nullptr, 0, 0, 640, 480);
}

STANDIN_EXPORT(void) wkeDestroyWebView(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeDestroyWebView", webView);
  standin::DestroyWebView(view);
}

STANDIN_EXPORT(void) wkeDestroyWebWindow(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeDestroyWebWindow", webView);
  standin::DestroyWebView(view);
}

STANDIN_EXPORT(HWND) wkeGetHostHWND(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeGetHostHWND", webView, nullptr);
  return view->hwnd;
}

STANDIN_EXPORT(HWND) wkeGetWindowHandle(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeGetWindowHandle", webView, nullptr);
  return view->hwnd;
}

STANDIN_EXPORT(void) wkeShowWindow(void* webView, bool show) {
  STANDIN_VIEW_OR_RETURN("wkeShowWindow", webView);
  if (!view->hwnd) return;
  ShowWindow(view->hwnd, show ? SW_SHOW : SW_HIDE);
  if (show) {
    // A borderless window gets no focus from a window manager; take it, so that the
    // keyboard (Alt+F4 included) reaches the page's window.
    SetForegroundWindow(view->hwnd);
    SetFocus(view->hwnd);
    UpdateWindow(view->hwnd);
  }
}

STANDIN_EXPORT(void) wkeMoveToCenter(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeMoveToCenter", webView);
  if (!view->hwnd) return;
  RECT window;
  GetWindowRect(view->hwnd, &window);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(view->hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcWork;
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  SetWindowPos(view->hwnd, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

STANDIN_EXPORT(void) wkeSetWindowTitleW(void* webView, const wchar_t* title) {
  STANDIN_VIEW_OR_RETURN("wkeSetWindowTitleW", webView);
  if (view->hwnd) SetWindowTextW(view->hwnd, title ? title : L"");
}

STANDIN_EXPORT(void) wkeSetWindowTitle(void* webView, const char* title) {
  STANDIN_VIEW_OR_RETURN("wkeSetWindowTitle", webView);
  if (view->hwnd) SetWindowTextW(view->hwnd, standin::Utf8ToWide(title ? title : "").c_str());
}

STANDIN_EXPORT(void) wkeSetContextMenuEnabled(void* webView, bool enabled) {
  STANDIN_VIEW_OR_RETURN("wkeSetContextMenuEnabled", webView);
  view->contextMenuEnabled = enabled;
  standin::Say("wkeSetContextMenuEnabled: %s", enabled ? "true" : "false");
}

STANDIN_EXPORT(void) wkeSetZoomFactor(void* webView, float factor) {
  STANDIN_VIEW_OR_RETURN("wkeSetZoomFactor", webView);
  // Refused outside what a page zoom can be (NaN included), as nothing sensible is drawn.
  if (!(factor >= 0.1f && factor <= 10.0f)) {
    standin::Say("wkeSetZoomFactor: %g refused", factor);
    return;
  }
  view->zoomFactor = factor;
  standin::Say("wkeSetZoomFactor: %.2f", factor);
  standin::RepaintView(view);
}

STANDIN_EXPORT(float) wkeGetZoomFactor(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeGetZoomFactor", webView, 0.0f);
  return view->zoomFactor;
}

STANDIN_EXPORT(void) wkeSetViewProxy(void* webView, const standin::EngineProxy* proxy) {
  STANDIN_VIEW_OR_RETURN("wkeSetViewProxy", webView);
  view->proxy = standin::ProxyText(proxy);
  standin::Say("wkeSetViewProxy: %s", view->proxy.empty() ? "none" : view->proxy.c_str());
}

STANDIN_EXPORT(void) wkeSetCookieJarFullPath(void* webView, const wchar_t* path) {
  STANDIN_VIEW_OR_RETURN("wkeSetCookieJarFullPath", webView);
  view->cookieJarPath = path ? path : L"";
  standin::Say("wkeSetCookieJarFullPath: %s", standin::WideToUtf8(view->cookieJarPath).c_str());
}

STANDIN_EXPORT(void) wkeSetLocalStorageFullPath(void* webView, const wchar_t* path) {
  STANDIN_VIEW_OR_RETURN("wkeSetLocalStorageFullPath", webView);
  view->localStoragePath = path ? path : L"";
  standin::Say("wkeSetLocalStorageFullPath: %s",
               standin::WideToUtf8(view->localStoragePath).c_str());
}

STANDIN_EXPORT(void) wkeSetDebugConfig(void* webView, const char* name, const char* value) {
  STANDIN_VIEW_OR_RETURN("wkeSetDebugConfig", webView);
  standin::Say("wkeSetDebugConfig: %s = %s", name ? name : "(null)", value ? value : "(null)");
}

STANDIN_EXPORT(void) wkeLoadURL(void* webView, const char* url) {
  STANDIN_VIEW_OR_RETURN("wkeLoadURL", webView);
  standin::LoadUrl(view, url ? url : "");
}

STANDIN_EXPORT(void) wkeLoadURLW(void* webView, const wchar_t* url) {
  STANDIN_VIEW_OR_RETURN("wkeLoadURLW", webView);
  standin::LoadUrl(view, standin::WideToUtf8(url ? url : L""));
}

STANDIN_EXPORT(const char*) wkeGetURL(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeGetURL", webView, "");
  return view->url.c_str();
}

STANDIN_EXPORT(bool) wkeIsDocumentReady(void* webView) {
  STANDIN_VIEW_OR_RETURN("wkeIsDocumentReady", webView, false);
  return view->documentReady;
}

STANDIN_EXPORT(void) wkeOnDocumentReady(void* webView, standin::DocumentReadyCallback callback,
                                        void* param) {
  STANDIN_VIEW_OR_RETURN("wkeOnDocumentReady", webView);
  view->onDocumentReady = callback;
  view->documentReadyParam = param;
}

STANDIN_EXPORT(void) wkeOnWindowClosing(void* webView, standin::WindowClosingCallback callback,
                                        void* param) {
  STANDIN_VIEW_OR_RETURN("wkeOnWindowClosing", webView);
  view->onWindowClosing = callback;
  view->windowClosingParam = param;
}

STANDIN_EXPORT(void) wkeOnLoadUrlFail(void* webView, standin::LoadUrlFailCallback callback,
                                      void* param) {
  STANDIN_VIEW_OR_RETURN("wkeOnLoadUrlFail", webView);
  view->onLoadUrlFail = callback;
  view->loadUrlFailParam = param;
}
