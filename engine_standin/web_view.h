// The engine's web windows: a real Win32 window per view that paints the page's
// title and its latest console lines, asks the host before it closes, and owns the
// view's current page.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine_standin/html.h"
#include "engine_standin/standin.h"

namespace standin {

using DocumentReadyCallback = void(__cdecl*)(void* view, void* param);
using WindowClosingCallback = bool(__cdecl*)(void* view, void* param);
using LoadUrlFailCallback = void(__cdecl*)(void* view, void* param, const char* url, void* job);

struct WebView {
  uint32_t id = 0;
  HWND hwnd = nullptr;  // null once the window is destroyed
  std::unique_ptr<Page> page;
  std::string url;  // the current document's URL
  bool documentReady = false;
  // Loading: each navigation has a number; results of older ones are dropped.
  uint32_t navigation = 0;
  std::vector<ScriptElement> scripts;
  size_t nextScript = 0;
  std::deque<std::string> consoleLines;
  std::wstring cookieJarPath;
  std::string proxy;  // "host:port" of wkeSetViewProxy; empty: the process-wide one
  std::wstring localStoragePath;
  bool contextMenuEnabled = true;
  // CSS pixels are drawn this many device pixels wide; the page's viewport is the
  // window's client area divided by it.
  float zoomFactor = 1.0f;
  DocumentReadyCallback onDocumentReady = nullptr;
  void* documentReadyParam = nullptr;
  WindowClosingCallback onWindowClosing = nullptr;
  void* windowClosingParam = nullptr;
  LoadUrlFailCallback onLoadUrlFail = nullptr;
  void* loadUrlFailParam = nullptr;
};

// type: 0 framed popup, 1 borderless ("transparent"), 2 child control of `parent`.
WebView* CreateWebView(int type, HWND parent, int x, int y, int width, int height);
// The view behind an API handle; null (with a line naming `function`) when the handle
// is not a view of this engine.
WebView* FindView(void* handle, const char* function);
WebView* FindViewById(uint32_t id);
std::vector<WebView*> AllViews();
void DestroyWebView(WebView* view);
// Frees every view (engine shutdown).
void DestroyAllViews();

// The view's page, made empty (about:blank) when no document has loaded yet.
Page* CurrentPage(WebView* view);
// Makes a new page the view's document; the old one is retired.
void ReplacePage(WebView* view, std::unique_ptr<Page> page);

void AddConsoleLine(WebView* view, const std::string& line);
void RepaintView(WebView* view);

}  // namespace standin
