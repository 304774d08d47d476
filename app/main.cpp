#include <windows.h>

#include "app/log.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
  LOG_INFO("brindlex starting");
  return 0;
}
