#include "net/running_downloads.h"

#include "app/log.h"

namespace {

constexpr DWORD kPollMilliseconds = 10;

volatile LONG g_running = 0;
volatile LONG g_stopping = 0;

LONG Read(volatile LONG* value) { return InterlockedCompareExchange(value, 0, 0); }

}  // namespace

namespace RunningDownloads {

// The count goes up before the flag is read, and Stop sets the flag before it reads
// the count (both through interlocked operations): a worker either is waited for or
// sees the flag and stays out.
Registration::Registration() {
  InterlockedIncrement(&g_running);
  stopping_ = Read(&g_stopping) != 0;
}

Registration::~Registration() { InterlockedDecrement(&g_running); }

bool StopRequested() { return Read(&g_stopping) != 0; }

bool Stop(DWORD waitMilliseconds) {
  InterlockedExchange(&g_stopping, 1);
  const LONG running = Read(&g_running);
  if (running == 0) return true;
  SetLastError(0);  // no system call failed; keep a stale code out of the lines
  LOG_INFO("stopping %ld running downloads", running);
  const DWORD start = GetTickCount();
  while (Read(&g_running) > 0) {
    if (GetTickCount() - start >= waitMilliseconds) {
      LOG_WARNING("%ld downloads still running after %lu ms, not waited for",
                  Read(&g_running), waitMilliseconds);
      return false;
    }
    Sleep(kPollMilliseconds);
  }
  return true;
}

void Resume() { InterlockedExchange(&g_stopping, 0); }

}  // namespace RunningDownloads
