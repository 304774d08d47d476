#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "wke/mouse_hook.h"

namespace {

LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeWindow(int x, int y) {
  static const ATOM atom = [] {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"BrindlexHookTestWindow";
    return RegisterClassW(&windowClass);
  }();
  if (!atom) return nullptr;
  return CreateWindowExW(0, L"BrindlexHookTestWindow", L"hook test", WS_POPUP | WS_VISIBLE, x,
                         y, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void Pump() {
  for (int i = 0; i < 3; ++i) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(20);
  }
}

bool BringToFront(HWND hwnd) {
  for (int i = 0; i < 20 && GetForegroundWindow() != hwnd; ++i) {
    SetForegroundWindow(hwnd);
    Pump();
  }
  return GetForegroundWindow() == hwnd;
}

// The hook procedure driven directly, as the system would call it, with the cursor
// placed where the event happens.
// The two windows are made once: creating and destroying a mapped window under Wine's
// X11 driver takes about two seconds.
class MouseHookRules : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char display[256] = {};
    if (!GetEnvironmentVariableA("DISPLAY", display, sizeof(display))) return;
    target_ = MakeWindow(200, 150);
    other_ = MakeWindow(700, 600);
  }
  static void TearDownTestSuite() {
    if (other_) DestroyWindow(other_);
    if (target_) DestroyWindow(target_);
    other_ = target_ = nullptr;
  }

  void SetUp() override {
    char display[256] = {};
    if (!GetEnvironmentVariableA("DISPLAY", display, sizeof(display))) {
      GTEST_SKIP() << "needs a display (Xvfb)";
    }
    ASSERT_NE(target_, nullptr);
    ASSERT_NE(other_, nullptr);
    SetWindowPos(target_, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ASSERT_TRUE(BringToFront(target_));
    // Remembers the target; the installed hook itself is not exercised here.
    hook_ = std::make_unique<MouseHook>(GetModuleHandleW(nullptr), target_);
    Send(WM_LBUTTONUP);  // no drag left over from an earlier case
  }
  void TearDown() override { hook_.reset(); }

  static LRESULT Send(WPARAM message) {
    MSLLHOOKSTRUCT event = {};
    GetCursorPos(&event.pt);
    return MouseHook::HookProc(HC_ACTION, message, reinterpret_cast<LPARAM>(&event));
  }
  static LRESULT At(int x, int y, WPARAM message) {
    SetCursorPos(x, y);
    return Send(message);
  }
  RECT Where() const {
    RECT rect = {};
    GetWindowRect(target_, &rect);
    return rect;
  }

  static HWND target_;
  static HWND other_;
  std::unique_ptr<MouseHook> hook_;
};

HWND MouseHookRules::target_ = nullptr;
HWND MouseHookRules::other_ = nullptr;

}  // namespace

TEST_F(MouseHookRules, PressJustInsideTheBandDragsByTheCursorDisplacement) {
  const RECT start = Where();
  const int x = start.left + 50;
  const int y = start.top + MouseHook::kDragBandHeight - 1;  // 119 px below the top
  EXPECT_EQ(At(x, y, WM_LBUTTONDOWN), 0);
  EXPECT_EQ(At(x + 30, y + 20, WM_MOUSEMOVE), 0);
  RECT now = Where();
  EXPECT_EQ(now.left, start.left + 30);
  EXPECT_EQ(now.top, start.top + 20);
  EXPECT_EQ(now.right - now.left, start.right - start.left);  // never resized
  // Each step moves by the displacement since the last one.
  EXPECT_EQ(At(x + 25, y + 40, WM_MOUSEMOVE), 0);
  now = Where();
  EXPECT_EQ(now.left, start.left + 25);
  EXPECT_EQ(now.top, start.top + 40);
  EXPECT_EQ(At(x + 25, y + 40, WM_LBUTTONUP), 0);
}

TEST_F(MouseHookRules, PressAtTheBandsLowerEdgeDoesNotDrag) {
  const RECT start = Where();
  const int x = start.left + 50;
  At(x, start.top + MouseHook::kDragBandHeight, WM_LBUTTONDOWN);  // 120 px below the top
  At(x + 30, start.top + 150, WM_MOUSEMOVE);
  const RECT now = Where();
  EXPECT_EQ(now.left, start.left);
  EXPECT_EQ(now.top, start.top);
}

TEST_F(MouseHookRules, PressOutsideTheWindowDoesNotDrag) {
  const RECT start = Where();
  At(start.left - 5, start.top + 10, WM_LBUTTONDOWN);
  At(start.left + 20, start.top + 40, WM_MOUSEMOVE);
  EXPECT_EQ(Where().left, start.left);
  EXPECT_EQ(Where().top, start.top);
}

TEST_F(MouseHookRules, PressWhileAnotherWindowIsInFrontDoesNotDrag) {
  ASSERT_TRUE(BringToFront(other_));
  const RECT start = Where();
  At(start.left + 50, start.top + 10, WM_LBUTTONDOWN);
  At(start.left + 90, start.top + 60, WM_MOUSEMOVE);
  EXPECT_EQ(Where().left, start.left);
  EXPECT_EQ(Where().top, start.top);
}

TEST_F(MouseHookRules, ReleaseEndsTheDrag) {
  const RECT start = Where();
  At(start.left + 50, start.top + 10, WM_LBUTTONDOWN);
  At(start.left + 60, start.top + 10, WM_MOUSEMOVE);
  EXPECT_EQ(Where().left, start.left + 10);
  At(start.left + 60, start.top + 10, WM_LBUTTONUP);
  At(start.left + 100, start.top + 50, WM_MOUSEMOVE);
  EXPECT_EQ(Where().left, start.left + 10);
  EXPECT_EQ(Where().top, start.top);
}

TEST_F(MouseHookRules, MovesWithoutAPressNeverMoveTheWindow) {
  const RECT start = Where();
  At(start.left + 50, start.top + 10, WM_MOUSEMOVE);
  At(start.left + 150, start.top + 110, WM_MOUSEMOVE);
  EXPECT_EQ(Where().left, start.left);
  EXPECT_EQ(Where().top, start.top);
  // Other buttons neither start a drag nor are blocked.
  EXPECT_EQ(At(start.left + 50, start.top + 10, WM_RBUTTONDOWN), 0);
  At(start.left + 80, start.top + 30, WM_MOUSEMOVE);
  EXPECT_EQ(Where().left, start.left);
}
