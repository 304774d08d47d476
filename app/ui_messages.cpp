#include "app/ui_messages.h"

#include <cstdio>

#include "app/log.h"

bool PostScriptCall(HWND hwnd, size_t bufferSize, const char* callbackName, long number) {
  std::unique_ptr<char[]> call(new char[bufferSize]());
  const int needed = snprintf(call.get(), bufferSize, "%s(%ld)", callbackName, number);
  if (needed < 0 || static_cast<size_t>(needed) >= bufferSize) {
    LOG_ERROR("callback name too long for its call string (%d bytes, limit %u), not posted",
              needed, static_cast<unsigned>(bufferSize - 1));
    return false;
  }
  return PostOwned(hwnd, WM_WKE_RUN_JS, call);
}
