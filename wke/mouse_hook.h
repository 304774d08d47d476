// Dragging the borderless main window by its top band with a low-level mouse hook.
// The hook never swallows an event: the page still sees every click and move.
#pragma once

#include <windows.h>

class MouseHook {
 public:
  // Remembers the window to drag and, unless a debugger is attached, installs the
  // hook for all threads of the desktop.
  MouseHook(HINSTANCE hInstance, HWND hwnd);
  ~MouseHook();
  MouseHook(const MouseHook&) = delete;
  MouseHook& operator=(const MouseHook&) = delete;

  // Height of the band below the window's top edge where a press starts a drag, at
  // 96 DPI; it grows with the DPI the window is drawn at, as the page inside does.
  static constexpr int kDragBandHeight = 120;

  static LRESULT CALLBACK HookProc(int nCode, WPARAM wParam, LPARAM lParam);

 private:
  static HHOOK hook_;
  static HWND target_;
  static int lastX_;
  static int lastY_;
};
