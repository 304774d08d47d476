#include "engine_standin/engine_window.h"

#include <memory>

#include "engine_standin/document_loader.h"
#include "engine_standin/page.h"
#include "engine_standin/standin.h"

namespace standin {

namespace {

const wchar_t kClassName[] = L"BrindlexStandinEngine";
HWND g_window = nullptr;

LRESULT CALLBACK EngineWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kMsgFetched:
      OnFetched(std::unique_ptr<FetchResult>(reinterpret_cast<FetchResult*>(lParam)));
      return 0;
    case WM_TIMER:
      if (!Page::DispatchTimer(wParam)) KillTimer(hwnd, wParam);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

bool CreateEngineWindow() {
  if (g_window) return true;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = EngineWindowProc;
  windowClass.hInstance = EngineModule();
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // fails harmlessly when already registered
  g_window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             EngineModule(), nullptr);
  if (!g_window) {
    Say("could not create the engine window (error %lu)", static_cast<unsigned long>(GetLastError()));
  }
  return g_window != nullptr;
}

void DestroyEngineWindow() {
  if (!g_window) return;
  // Fetch results still queued for it are freed here rather than lost.
  MSG msg;
  while (PeekMessageW(&msg, g_window, kMsgFetched, kMsgFetched, PM_REMOVE)) {
    delete reinterpret_cast<FetchResult*>(msg.lParam);
  }
  DestroyWindow(g_window);
  g_window = nullptr;
}

HWND EngineWindow() { return g_window; }

}  // namespace standin
