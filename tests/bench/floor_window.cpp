// The floor of the start-up benchmark: a Win32 program that only registers a class,
// creates a 900x600 window and shows it, then says so on its output and ends.
#include <windows.h>

#include <cstdio>

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"BrindlexFloor";
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  if (!RegisterClassW(&windowClass)) return 1;
  HWND hwnd = CreateWindowExW(0, windowClass.lpszClassName, L"Floor", WS_POPUP, 100, 100, 900,
                              600, nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  printf("shown\n");
  fflush(stdout);
  DestroyWindow(hwnd);
  return 0;
}
