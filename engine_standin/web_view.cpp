#include "engine_standin/web_view.h"

#include <map>

#include "engine_standin/document_loader.h"
#include "engine_standin/engine_window.h"
#include "engine_standin/page.h"
#include "engine_standin/web_view_paint.h"

namespace standin {

namespace {

const wchar_t kClassName[] = L"BrindlexStandinWebWindow";
constexpr size_t kConsoleLinesKept = 40;

std::map<uint32_t, std::unique_ptr<WebView>> g_views;
uint32_t g_nextViewId = 1;

WebView* ViewOfWindow(HWND hwnd) {
  return reinterpret_cast<WebView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// Closing the usual way asks the host first; the host may destroy the window itself
// from inside its callback.
void Close(WebView* view, HWND hwnd) {
  bool allow = true;
  if (view->onWindowClosing) allow = view->onWindowClosing(view, view->windowClosingParam);
  if (allow && IsWindow(hwnd)) DestroyWindow(hwnd);
}

LRESULT CALLBACK WebWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WebView* view = ViewOfWindow(hwnd);
  if (!view) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_PAINT:
      PaintWebView(view, hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      Close(view, hwnd);
      return 0;
    case WM_DESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      view->hwnd = nullptr;
      CancelLoading(view);
      RetirePage(std::move(view->page));
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

bool RegisterWindowClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WebWindowProc;
  windowClass.hInstance = EngineModule();
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = kClassName;
  registered = RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return registered;
}

}  // namespace

WebView* CreateWebView(int type, HWND parent, int x, int y, int width, int height) {
  if (!RegisterWindowClass()) {
    Say("could not register the web window class (error %lu)", static_cast<unsigned long>(GetLastError()));
    return nullptr;
  }
  DWORD style = WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  DWORD exStyle = WS_EX_APPWINDOW;
  if (type == 0) {
    style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  } else if (type == 2) {
    style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
    exStyle = 0;
  } else {
    parent = nullptr;  // the borderless window is always top-level
  }
  auto owned = std::make_unique<WebView>();
  WebView* view = owned.get();
  view->id = g_nextViewId++;
  HWND hwnd = CreateWindowExW(exStyle, kClassName, L"", style, x, y, width, height, parent,
                              nullptr, EngineModule(), nullptr);
  if (!hwnd) {
    Say("could not create a web window (error %lu)", static_cast<unsigned long>(GetLastError()));
    return nullptr;
  }
  view->hwnd = hwnd;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  g_views[view->id] = std::move(owned);
  return view;
}

WebView* FindView(void* handle, const char* function) {
  for (const auto& entry : g_views) {
    if (entry.second.get() == handle) return entry.second.get();
  }
  Say("%s: %p is not a web view of this engine", function, handle);
  return nullptr;
}

WebView* FindViewById(uint32_t id) {
  const auto found = g_views.find(id);
  return found == g_views.end() ? nullptr : found->second.get();
}

std::vector<WebView*> AllViews() {
  std::vector<WebView*> views;
  for (const auto& entry : g_views) views.push_back(entry.second.get());
  return views;
}

void DestroyWebView(WebView* view) {
  // WM_DESTROY clears the view's window and page; the record stays, so a host that
  // still holds the handle gets refusals rather than a crash.
  if (view->hwnd) DestroyWindow(view->hwnd);
}

void DestroyAllViews() {
  for (const auto& entry : g_views) DestroyWebView(entry.second.get());
  g_views.clear();
}

Page* CurrentPage(WebView* view) {
  if (!view->page && view->hwnd) {
    view->page = std::make_unique<Page>(view, "about:blank", std::string(), EngineWindow());
  }
  return view->page.get();
}

void ReplacePage(WebView* view, std::unique_ptr<Page> page) {
  RetirePage(std::move(view->page));
  view->page = std::move(page);
  RepaintView(view);
}

void AddConsoleLine(WebView* view, const std::string& line) {
  view->consoleLines.push_back(line);
  while (view->consoleLines.size() > kConsoleLinesKept) view->consoleLines.pop_front();
  RepaintView(view);
}

void RepaintView(WebView* view) {
  if (view->hwnd) InvalidateRect(view->hwnd, nullptr, FALSE);
}

}  // namespace standin
