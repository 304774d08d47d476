#include "wke/mouse_hook.h"

#include "app/log.h"
#include "wke/display_dpi.h"

HHOOK MouseHook::hook_ = nullptr;
HWND MouseHook::target_ = nullptr;
int MouseHook::lastX_ = -1;
int MouseHook::lastY_ = -1;

MouseHook::MouseHook(HINSTANCE hInstance, HWND hwnd) {
  target_ = hwnd;
  // A low-level hook stalls every mouse event while a debugger holds the process.
  if (!IsDebuggerPresent()) hook_ = SetWindowsHookExW(WH_MOUSE_LL, &HookProc, hInstance, 0);
}

MouseHook::~MouseHook() {
  if (hook_) {
    const bool removed = UnhookWindowsHookEx(hook_) != FALSE;
    hook_ = nullptr;
    // Shows in the log that tear-down removed the hook after the engine was finalised.
    // A removal that worked leaves no error of its own: what tear-down left before
    // would only make the line differ from one run to the next.
    if (removed) SetLastError(0);
    LOG_INFO("mouse hook removed");
  }
}

LRESULT CALLBACK MouseHook::HookProc(int nCode, WPARAM wParam, LPARAM lParam) {
  if (nCode != HC_ACTION) return CallNextHookEx(hook_, nCode, wParam, lParam);
  // Positions come from the cursor, not from the event record.
  switch (wParam) {
    case WM_LBUTTONUP:
      lastX_ = -1;
      lastY_ = -1;
      return 0;
    case WM_LBUTTONDOWN: {
      POINT cursor = {};
      RECT window = {};
      GetCursorPos(&cursor);
      GetWindowRect(target_, &window);
      const int bandHeight = DisplayDpi::Scale(kDragBandHeight, DisplayDpi::OfWindow(target_));
      const RECT band = {window.left, window.top, window.right, window.top + bandHeight};
      if (!PtInRect(&band, cursor)) return 0;
      if (GetForegroundWindow() != target_) return 0;
      lastX_ = cursor.x;
      lastY_ = cursor.y;
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (lastX_ == -1 || lastY_ == -1) return 0;
      POINT cursor = {};
      GetCursorPos(&cursor);
      const int dx = cursor.x - lastX_;
      const int dy = cursor.y - lastY_;
      if (dx == 0 && dy == 0) return 0;
      RECT window = {};
      GetWindowRect(target_, &window);
      SetWindowPos(target_, nullptr, window.left + dx, window.top + dy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
      lastX_ = cursor.x;
      lastY_ = cursor.y;
      return 0;
    }
    default:
      return 0;
  }
}
