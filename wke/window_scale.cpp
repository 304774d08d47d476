#include "wke/window_scale.h"

#include "app/log.h"
#include "wke/display_dpi.h"

namespace WindowScale {
namespace {

constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED (Windows 8.1), beyond XP's headers

wkeWebView g_followed = nullptr;
WNDPROC g_engineProcedure = nullptr;

// Sits in front of the engine's own window procedure.
LRESULT CALLBACK FollowingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallWindowProcW(g_engineProcedure, hwnd, message, wParam, lParam);
  if (message == kDpiChanged && lParam) {
    const RECT suggested = *reinterpret_cast<const RECT*>(lParam);
    const UINT dpi = LOWORD(wParam);
    SetLastError(0);
    LOG_INFO("window moved to a monitor of %u dpi", dpi);
    SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyZoom(g_followed, dpi);
    return 0;
  }
  return result;
}

}  // namespace

void ApplyZoom(wkeWebView webView, UINT dpi) {
  if (!webView || dpi == 0) return;
  const float zoom = static_cast<float>(dpi) / DisplayDpi::kBaseDpi;
  SetLastError(0);  // no system call failed; keep a stale code out of the line
  LOG_INFO("page zoom %.2f for %u dpi", zoom, dpi);
  wkeSetZoomFactor(webView, zoom);
}

bool FollowDpiChanges(wkeWebView webView, HWND hwnd) {
  if (!IsWindow(hwnd)) return false;
  g_followed = webView;
  const LONG_PTR previous = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  if (!previous) return false;
  // Already in front (the window was followed before): only the view changes.
  if (previous == reinterpret_cast<LONG_PTR>(&FollowingProcedure)) return true;
  g_engineProcedure = reinterpret_cast<WNDPROC>(previous);
  const LONG_PTR following = reinterpret_cast<LONG_PTR>(&FollowingProcedure);
  return SetWindowLongPtrW(hwnd, GWLP_WNDPROC, following) != 0;
}

}  // namespace WindowScale
