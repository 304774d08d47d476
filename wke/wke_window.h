// The program's one window: a borderless engine window showing the service's page,
// the UI thread's message loop, and the orderly tear-down after it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "wke/wke_api.h"

class WkeFunction;
class MouseHook;

// The module whose resources carry the engine for Init; null (the default) is the
// program's own file. Tests point it at a module of their choosing.
void SetEngineResourceModule(HMODULE module);

class WkeWindow {
 public:
  WkeWindow() = default;
  ~WkeWindow();
  WkeWindow(const WkeWindow&) = delete;
  WkeWindow& operator=(const WkeWindow&) = delete;

  // Writes the embedded engine to the cache directory and loads it.
  void Init(bool recharge);
  void Create(HINSTANCE hInstance, unsigned short width, unsigned short height,
              const char* url);
  void RunMessageLoop() const;

  static bool __cdecl OnWkeWindowClosingCallback(wkeWebView webView, void* param);
  static void __cdecl OnWkeDocumentReadyCallback(wkeWebView webView, void* param);
  static void __cdecl OnWkeLoadUrlFailCallback(wkeWebView webView, void* param,
                                               const char* url, void* job);
  // libcurl progress function of a download; clientp is its DownloadTask.
  static int OnDownloadProgressCallback(void* clientp, double dltotal, double dlnow,
                                        double ultotal, double ulnow);

  wkeWebView webView = nullptr;
  std::shared_ptr<WkeFunction> wkeFunction;
  std::wstring nodeDllPath;
  std::shared_ptr<MouseHook> mouseHook;
  bool recharge = false;
};
