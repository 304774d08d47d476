// A program that crashes on purpose, for the crash report tests. It sets up the log
// file in <folder>\logs and the crash reporter in <folder>\crashes as the program
// does, logs one line, writes the id of the thread about to fail to
// <folder>\thread.txt, and then fails in the way asked:
//
//   crash_test_child access-violation <folder>   a worker thread writes to address 16
//   crash_test_child stack-overflow <folder>     unbounded recursion
//   crash_test_child terminate <folder>          an exception leaves a noexcept function
//   crash_test_child pure-virtual <folder>       a pure virtual call during construction
//
// Without a crash report it would end with exit code 2.
#include <windows.h>
#include <process.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/crash_report.h"
#include "app/log.h"

namespace {

std::wstring g_folder;

void NoteFaultingThread() {
  const std::string id = std::to_string(GetCurrentThreadId());
  HANDLE file = CreateFileW((g_folder + L"\\thread.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
  CloseHandle(file);
}

// Read at run time, so the compiler can see neither the bad address nor the endless
// recursion coming.
volatile uintptr_t g_badAddress = 16;
volatile int g_neverReached = -1;

unsigned __stdcall WriteToBadAddress(void*) {
  NoteFaultingThread();
  *reinterpret_cast<volatile int*>(g_badAddress) = 1;
  return 0;
}

// Each frame holds a buffer the compiler cannot drop, so the stack runs out quickly.
int Recurse(int depth) {
  if (depth == g_neverReached) return 0;
  volatile char frame[4096];
  frame[depth % sizeof(frame)] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}

[[noreturn]] __attribute__((noinline)) void Throw() { throw std::runtime_error("uncaught"); }
void ThrowOutOfNoexcept() noexcept { Throw(); }

}  // namespace

// During construction the object's table is Shape's own, whose slot for Area is the
// runtime's pure-call handler. The classes are visible outside this file and the
// pointer takes a trip through the system: otherwise the compiler resolves the call to
// the one override it can see and drops it.
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
  if (argc != 3) {
    fprintf(stderr, "usage: crash_test_child <mode> <folder>\n");
    return 64;
  }
  const std::wstring mode = argv[1];
  g_folder = argv[2];
  OpenLogFile(g_folder + L"\\logs", "==== crash_test_child " + std::string(mode.begin(), mode.end()));
  InstallCrashReporter(g_folder + L"\\crashes");
  LOG_INFO("about to fail: %ls", mode.c_str());

  if (mode == L"access-violation") {
    HANDLE thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, WriteToBadAddress, nullptr, 0, nullptr));
    WaitForSingleObject(thread, INFINITE);
  } else if (mode == L"stack-overflow") {
    NoteFaultingThread();
    return Recurse(0);
  } else if (mode == L"terminate") {
    NoteFaultingThread();
    ThrowOutOfNoexcept();
  } else if (mode == L"pure-virtual") {
    NoteFaultingThread();
    Square square;
    return static_cast<int>(square.Area());
  }
  return 2;
}
