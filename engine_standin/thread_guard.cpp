#include "engine_standin/thread_guard.h"

#include <windows.h>

#include <atomic>

#include "engine_standin/standin.h"

namespace standin {

namespace {
std::atomic<DWORD> g_uiThread{0};
}

bool AdoptUiThread() {
  const DWORD self = GetCurrentThreadId();
  DWORD expected = 0;
  if (g_uiThread.compare_exchange_strong(expected, self) || expected == self) return true;
  Say("refused wkeInitializeEx on thread %lu: the engine belongs to thread %lu",
      static_cast<unsigned long>(self), static_cast<unsigned long>(expected));
  return false;
}

void ReleaseUiThread() { g_uiThread = 0; }

bool OnUiThread(const char* function) {
  const DWORD owner = g_uiThread;
  const DWORD self = GetCurrentThreadId();
  if (owner == self) return true;
  if (owner == 0) {
    Say("refused %s: wkeInitializeEx has not been called", function);
  } else {
    Say("refused %s on thread %lu: engine calls belong to the UI thread %lu", function,
        static_cast<unsigned long>(self), static_cast<unsigned long>(owner));
  }
  return false;
}

}  // namespace standin
