#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "app/helper.h"
#include "app/service_url.h"
#include "app/support_files.h"
#include "net/running_downloads.h"
#include "wke/modal_box.h"
#include "wke/origin_guard.h"
#include "wke/wke_window.h"

namespace {

constexpr wchar_t kSingleInstanceMutexName[] = L"{C3A45363-5733-4DA3-B97E-674189E1FA82}";
constexpr unsigned short kWindowWidth = 900;
constexpr unsigned short kWindowHeight = 600;

// Without its engine the program has nothing to show: say so once and leave.
int EngineMissing() {
  ShowModalBox(L"网页组件加载失败，请重新安装Brindlex", L"Brindlex", MB_ICONERROR);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
  // Before anything loads a DLL by name: the current folder (a download folder, say)
  // and PATH may hold files other accounts put there.
  Helper::RestrictDllSearch();
  // Held for the whole life of the process; its exit releases it.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName);
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    ReleaseMutex(mutex);
    return 0;
  }
  StartLogFile();
  StartCrashReports();

  WkeWindow window;
  window.Init(RechargeRequested(GetCommandLineW()));
  if (!IsWkeLoaded()) return EngineMissing();

  SetAllowedOrigins(kServiceBaseUrl, kExtraAllowedOrigins);
  const std::string url = std::string(kServiceBaseUrl) + "toolv2/brindlex";
  window.Create(hInstance, kWindowWidth, kWindowHeight, url.c_str());
  if (!window.webView) return EngineMissing();
  window.RunMessageLoop();
  // Downloads still inside libcurl must not meet the runtime's exit handlers.
  RunningDownloads::Stop();
  return 0;
}
