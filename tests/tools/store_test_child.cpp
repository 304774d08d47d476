// A second process for the store and file-command tests. It holds something until it
// is killed and signals a named event once it does:
//   load-dll <dll path> <event name>    keeps the library loaded (mapped as an image)
//   open <file path> <event name>       keeps the file open without sharing delete
//   save <config path> <event name>     saves the store in a loop
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/ansi_text.h"
#include "store/cache_config_data.h"

namespace {

void Signal(const wchar_t* eventName) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
  if (event) {
    SetEvent(event);
    CloseHandle(event);
  }
}

[[noreturn]] void WaitToBeKilled() {
  for (;;) Sleep(INFINITE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: store_test_child load-dll|open|save <path> <event>\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  const wchar_t* path = argv[2];
  if (mode == L"load-dll") {
    if (!LoadLibraryW(path)) return 3;
    Signal(argv[3]);
    WaitToBeKilled();
  }
  if (mode == L"open") {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    Signal(argv[3]);
    WaitToBeKilled();
  }
  if (mode == L"save") {
    // Each save adds one key, so a parent that kills this process can tell whether a
    // key saved before the kill went missing.
    CacheConfigData store(AnsiText(path).c_str());
    const std::string run = std::to_string(GetCurrentProcessId());
    store.GetData("seed");
    Signal(argv[3]);
    for (unsigned i = 0;; ++i) {
      store.SetData("run" + run + "-" + std::to_string(i), std::string(64, 'v'));
    }
  }
  return 2;
}
