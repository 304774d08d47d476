#include "wke/window_scale.h"

#include "app/log.h"
#include "wke/display_dpi.h"

namespace WindowScale {
namespace {

constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED (Windows 8.1), beyond XP's headers

// DPIs a monitor may have: 25 % to 800 % of 96.
constexpr UINT kLowestDpi = DisplayDpi::kBaseDpi / 4;
constexpr UINT kHighestDpi = DisplayDpi::kBaseDpi * 8;

wkeWebView g_followed = nullptr;
WNDPROC g_engineProcedure = nullptr;
int g_baseWidth = 0;
int g_baseHeight = 0;

// Sits in front of the engine's own window procedure. Any process may post
// WM_DPICHANGED with any parameters, so the rectangle Windows suggests (a pointer in
// lParam) is never read: the window keeps its centre and takes its size at the new DPI.
LRESULT CALLBACK FollowingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallWindowProcW(g_engineProcedure, hwnd, message, wParam, lParam);
  if (message != kDpiChanged) return result;
  const UINT dpi = LOWORD(wParam);
  SetLastError(0);
  RECT current = {};
  if (dpi < kLowestDpi || dpi > kHighestDpi || !GetWindowRect(hwnd, &current)) {
    LOG_WARNING("window told of a monitor of %u dpi; ignored", dpi);
    return 0;
  }
  LOG_INFO("window moved to a monitor of %u dpi", dpi);
  const int width = DisplayDpi::Scale(g_baseWidth, dpi);
  const int height = DisplayDpi::Scale(g_baseHeight, dpi);
  const int centreX = current.left + (current.right - current.left) / 2;
  const int centreY = current.top + (current.bottom - current.top) / 2;
  SetWindowPos(hwnd, nullptr, centreX - width / 2, centreY - height / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ApplyZoom(g_followed, dpi);
  return 0;
}

}  // namespace

void ApplyZoom(wkeWebView webView, UINT dpi) {
  if (!webView || dpi == 0) return;
  const float zoom = static_cast<float>(dpi) / DisplayDpi::kBaseDpi;
  SetLastError(0);  // no system call failed; keep a stale code out of the line
  LOG_INFO("page zoom %.2f for %u dpi", zoom, dpi);
  wkeSetZoomFactor(webView, zoom);
}

bool FollowDpiChanges(wkeWebView webView, HWND hwnd, int width, int height) {
  if (!IsWindow(hwnd)) return false;
  g_followed = webView;
  g_baseWidth = width;
  g_baseHeight = height;
  const LONG_PTR previous = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  if (!previous) return false;
  // Already in front (the window was followed before): only the view changes.
  if (previous == reinterpret_cast<LONG_PTR>(&FollowingProcedure)) return true;
  g_engineProcedure = reinterpret_cast<WNDPROC>(previous);
  const LONG_PTR following = reinterpret_cast<LONG_PTR>(&FollowingProcedure);
  return SetWindowLongPtrW(hwnd, GWLP_WNDPROC, following) != 0;
}

}  // namespace WindowScale
