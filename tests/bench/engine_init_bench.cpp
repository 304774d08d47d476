// Time WkeWindow::Init spends writing out, checking and loading the engine that this
// program embeds (the stand-in padded to the real engine's size class). One start
// measures one Init, as the program does once per start; scripts/bench-startup.sh runs
// it repeatedly. "fresh" removes node.dll first (the first start after an install or
// an update), "steady" leaves the previous start's file in place (every other start).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "bench_clock.h"
#include "app/helper.h"
#include "wke/wke_api.h"
#include "wke/wke_window.h"

int wmain(int argc, wchar_t** argv) {
  const bool fresh = argc >= 2 && wcscmp(argv[1], L"fresh") == 0;
  const std::wstring path = Helper::GetEngineFolder() + L"\\node.dll";
  if (fresh) DeleteFileW(path.c_str());
  WkeWindow window;
  const double started = 1000.0 * SecondsNow();
  window.Init(false);
  const double took = 1000.0 * SecondsNow() - started;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  printf("init %s %.1f ms, file %lu bytes, loaded %d\n", fresh ? "fresh" : "steady", took,
         static_cast<unsigned long>(data.nFileSizeLow), IsWkeLoaded() ? 1 : 0);
  return IsWkeLoaded() ? 0 : 1;
}
