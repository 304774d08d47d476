#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

bool RechargeRequested(const wchar_t* commandLine) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
  const bool recharge = argv && count == 2 && _wcsicmp(argv[1], L"--recharge") == 0;
  if (argv) LocalFree(argv);
  return recharge;
}
