#include "wke/display_dpi.h"

#include "app/helper.h"

namespace DisplayDpi {
namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI: the one the user chose
// Beyond what any Windows offers (500 %): an answer outside is not believed.
constexpr UINT kLargestDpi = 480;

GetDpiForMonitorFunction MonitorDpiFunction() {
  static const GetDpiForMonitorFunction function = [] {
    HMODULE shcore = Helper::LoadSystemLibrary(L"shcore.dll");
    return shcore ? reinterpret_cast<GetDpiForMonitorFunction>(
                        GetProcAddress(shcore, "GetDpiForMonitor"))
                  : nullptr;
  }();
  return function;
}

GetDpiForWindowFunction WindowDpiFunction() {
  static const GetDpiForWindowFunction function = reinterpret_cast<GetDpiForWindowFunction>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"));
  return function;
}

UINT Believable(UINT dpi) { return dpi >= kBaseDpi / 2 && dpi <= kLargestDpi ? dpi : 0; }

// The screen's logical pixels, the one setting of Windows XP to 8.
UINT ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? Believable(static_cast<UINT>(dpi)) : 0;
}

UINT OfMonitor(HMONITOR monitor) {
  UINT x = 0, y = 0;
  GetDpiForMonitorFunction monitorDpi = MonitorDpiFunction();
  if (monitor && monitorDpi && monitorDpi(monitor, kEffectiveDpi, &x, &y) == S_OK &&
      Believable(y)) {
    return y;
  }
  const UINT screen = ScreenDpi();
  return screen ? screen : kBaseDpi;
}

}  // namespace

UINT OfPoint(POINT point) { return OfMonitor(MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY)); }

UINT OfWindow(HWND hwnd) {
  GetDpiForWindowFunction windowDpi = WindowDpiFunction();
  const UINT dpi = windowDpi && hwnd ? Believable(windowDpi(hwnd)) : 0;
  return dpi ? dpi : OfMonitor(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST));
}

int Scale(int length, UINT dpi) { return MulDiv(length, static_cast<int>(dpi), kBaseDpi); }

}  // namespace DisplayDpi
