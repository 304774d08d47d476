// Fails on purpose for the crash report cases: sets up the log file in <folder>\logs
// and the crash reporter in <folder>\crashes as the program does, logs a line, prints
// "thread <id>" for the thread about to fail and then fails:
//   crash_test_child access-violation|stack-overflow|terminate|pure-virtual|abort <folder>
// The access violation happens on a second thread. Exit code 2: nothing failed.
#include <windows.h>
#include <process.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/crash_report.h"
#include "app/log.h"

namespace {

// Read at run time, so that the compiler sees neither the bad address nor the endless
// recursion coming.
volatile uintptr_t g_badAddress = 16;
volatile int g_neverReached = -1;

void SayFailingThread() {
  printf("thread %lu\n", GetCurrentThreadId());
  fflush(stdout);
}

// The fault happens inside a frame of its own (a call follows it), with its caller's
// frame beneath: the stack the report shows is known.
__attribute__((noinline)) void WriteToBadAddress() {
  *reinterpret_cast<volatile int*>(g_badAddress) = 1;
  SayFailingThread();
}

__attribute__((noinline)) unsigned __stdcall FailOnSecondThread(void*) {
  SayFailingThread();
  WriteToBadAddress();
  return 0;
}

int Recurse(int depth) {
  if (depth == g_neverReached) return 0;
  volatile char frame[4096];  // each frame takes a page
  frame[depth % sizeof(frame)] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}

[[noreturn]] __attribute__((noinline)) void Throw() { throw std::runtime_error("uncaught"); }
__attribute__((noinline)) void ThrowOutOfNoexcept() noexcept { Throw(); }

}  // namespace

// While Shape is being built its table is Shape's own, whose slot for Area is the
// pure-call handler. Visible outside this file, and with the pointer passed through
// the system, so that the compiler cannot resolve the call to the one override it sees.
struct Shape {
  Shape() {
    const DWORD slot = TlsAlloc();
    TlsSetValue(slot, this);
    static_cast<Shape*>(TlsGetValue(slot))->Area();
  }
  virtual ~Shape() = default;
  virtual double Area() = 0;
};

struct Square : Shape {
  double Area() override { return 1.0; }
};

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 64;
  const std::wstring mode = argv[1];
  const std::wstring folder = argv[2];
  OpenLogFile(folder + L"\\logs", "==== crash_test_child " + std::string(mode.begin(), mode.end()));
  InstallCrashReporter(folder + L"\\crashes");
  LOG_INFO("about to fail: %ls", mode.c_str());
  if (mode == L"access-violation") {
    HANDLE thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, FailOnSecondThread, nullptr, 0, nullptr));
    WaitForSingleObject(thread, INFINITE);
    return 2;
  }
  SayFailingThread();
  if (mode == L"stack-overflow") return Recurse(0);
  if (mode == L"terminate") ThrowOutOfNoexcept();
  if (mode == L"pure-virtual") return static_cast<int>(Square().Area());
  if (mode == L"abort") abort();
  return 2;
}
