#include "app/crash_report.h"

#include <dbghelp.h>
#include <process.h>
#include <shlwapi.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <vector>

#include "app/ansi_text.h"
#include "app/helper.h"
#include "app/last_error.h"
#include "app/link_guard.h"
#include "app/log.h"
#include "app/stack_walk.h"
#include "app/unique_handle.h"

namespace {

using WriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                        PMINIDUMP_EXCEPTION_INFORMATION,
                                        PMINIDUMP_USER_STREAM_INFORMATION,
                                        PMINIDUMP_CALLBACK_INFORMATION);
// Runtime entry points that Windows XP's msvcrt.dll lacks; looked up by name.
using InvalidParameterHandler = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*,
                                               unsigned, uintptr_t);
using SetInvalidParameterHandler = InvalidParameterHandler(__cdecl*)(InvalidParameterHandler);
using PurecallHandler = void(__cdecl*)();
using SetPurecallHandler = PurecallHandler(__cdecl*)(PurecallHandler);

// Threads, modules, every thread's stack, the exception, plus the memory the stacks
// point at and the modules already unloaded: a few MiB at most. An older dbghelp that
// refuses the extras gets the plain kind.
constexpr MINIDUMP_TYPE kDumpType = static_cast<MINIDUMP_TYPE>(
    MiniDumpWithIndirectlyReferencedMemory | MiniDumpWithUnloadedModules);

// Everything the handlers share, in fixed storage set up at installation: at the time
// of a crash the heap may be what broke.
struct CrashState {
  wchar_t folder[1024];
  WriteDumpFunction writeDump;
  HANDLE wake;      // the faulting thread wakes the reporter with it
  HANDLE reported;  // the reporter sets it when its line is written
  DWORD reporterThreadId;
  volatile LONG claimed;  // by the first faulting thread; later faults only wait
  EXCEPTION_POINTERS* exception;
  DWORD faultingThreadId;
  StackBounds faultingStack;
  WalkedStack walk;  // too big for a stack that may have overflowed
  DWORD faultLastError;  // the faulting thread's, for the crash line
};
CrashState g_crash;

WriteDumpFunction LoadDumpWriter() {
  HMODULE dbghelp = Helper::LoadSystemLibrary(L"dbghelp.dll");
  if (!dbghelp) return nullptr;
  return reinterpret_cast<WriteDumpFunction>(GetProcAddress(dbghelp, "MiniDumpWriteDump"));
}

// 0 when the dump is written, else the reason. The file is created by its name inside
// the held crash folder, never through a link someone left in its place.
DWORD WriteDump(const LinkGuard::HeldFolder& folder, const wchar_t* path) {
  if (!g_crash.writeDump) return ERROR_PROC_NOT_FOUND;
  LinkGuard::HeldFile file;
  if (file.Open(path, GENERIC_WRITE | DELETE, 0, true, folder.get()) != LinkGuard::Held::kOpened) {
    return GetLastError() ? GetLastError() : ERROR_CANT_ACCESS_FILE;
  }
  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = g_crash.faultingThreadId;
  exception.ExceptionPointers = g_crash.exception;
  exception.ClientPointers = FALSE;
  const HANDLE process = GetCurrentProcess();
  const DWORD processId = GetCurrentProcessId();
  bool written = false;
  for (const MINIDUMP_TYPE type : {kDumpType, MiniDumpNormal}) {
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file.get());
    written = g_crash.writeDump(process, processId, file.get(), type, &exception, nullptr,
                                nullptr) != FALSE;
    if (written) return 0;
  }
  const DWORD error = GetLastError();
  file.Delete();
  return error ? error : ERROR_WRITE_FAULT;
}

// The lines after the crash line: the faulting thread's frames, then where the walk
// stopped. Read by scripts/symbolize.sh.
void LogFaultingStack() {
  WalkStack(*g_crash.exception->ContextRecord, g_crash.faultingStack, &g_crash.walk);
  for (int i = 0; i < g_crash.walk.count; ++i) {
    char frame[96] = {};
    DescribeCodeAddress(reinterpret_cast<const void*>(g_crash.walk.frames[i]), frame,
                        sizeof(frame));
    SetLastError(0);  // the walk's own calls are no part of the report
    LOG_FINAL_ERROR("stack frame %d: %s", i, frame);
  }
  char end[160] = {};
  DescribeStackWalkEnd(g_crash.walk, g_crash.faultingStack, end, sizeof(end));
  SetLastError(0);
  LOG_FINAL_ERROR("stack ends after %d frames: %s", g_crash.walk.count, end);
}

void ReportCrash() {
  const EXCEPTION_RECORD* record = g_crash.exception->ExceptionRecord;
  char where[96] = {};
  DescribeCodeAddress(record->ExceptionAddress, where, sizeof(where));
  wchar_t path[1100] = {};
  DWORD error = ERROR_PATH_NOT_FOUND;
  if (g_crash.folder[0]) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    _snwprintf(path, 1099, L"%s\\brindlex-%04u%02u%02u-%02u%02u%02u-%lu.dmp", g_crash.folder,
               now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
               GetCurrentProcessId());
    // Created with the cache directory's security and held until the dump is written: a
    // link swapped in before the check is refused, and none can be swapped in after it.
    LinkGuard::HeldFolder folder;
    error = folder.Open(g_crash.folder, true) ? WriteDump(folder, path) : ERROR_CANT_ACCESS_FILE;
    if (error == 0) PruneCrashReports(g_crash.folder, kCrashReportsKept, path);
  }
  const std::string pathText = WideToAnsi(path);
  // The line's "last err" is the fault's, not what writing the dump left behind.
  SetLastError(g_crash.faultLastError);
  if (error == 0) {
    LOG_FINAL_ERROR("unhandled exception 0x%08lX at %s on thread %lu, crash report: %s",
                    record->ExceptionCode, where, g_crash.faultingThreadId, pathText.c_str());
  } else {
    LOG_FINAL_ERROR("unhandled exception 0x%08lX at %s on thread %lu, no crash report (error %lu): %s",
                    record->ExceptionCode, where, g_crash.faultingThreadId, error,
                    pathText.c_str());
  }
  LogFaultingStack();
}

unsigned __stdcall ReporterMain(void*) {
  g_crash.writeDump = LoadDumpWriter();
  WaitForSingleObject(g_crash.wake, INFINITE);
  ReportCrash();
  SetEvent(g_crash.reported);
  return 0;
}

// Runs on the faulting thread, which after a stack overflow has barely any stack:
// it keeps to a few calls and leaves the report to the reporting thread.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
  const DWORD lastError = GetLastError();
  const DWORD thread = GetCurrentThreadId();
  if (InterlockedExchange(&g_crash.claimed, 1) != 0) {
    // A fault in the middle of reporting would leave the first waiting in vain.
    if (thread == g_crash.faultingThreadId || thread == g_crash.reporterThreadId) {
      const EXCEPTION_POINTERS* first = g_crash.exception ? g_crash.exception : exception;
      TerminateProcess(GetCurrentProcess(), first->ExceptionRecord->ExceptionCode);
    }
    for (;;) Sleep(INFINITE);  // the first fault ends the process
  }
  g_crash.exception = exception;
  g_crash.faultingThreadId = thread;
  g_crash.faultingStack = CurrentThreadStackBounds();
  g_crash.faultLastError = lastError;
  if (g_crash.reporterThreadId != 0 && thread != g_crash.reporterThreadId) {
    SetEvent(g_crash.wake);
    WaitForSingleObject(g_crash.reported, kCrashReportTimeoutMs);
  } else {
    ReportCrash();
  }
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void RaiseFatal(DWORD code) {
  RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  TerminateProcess(GetCurrentProcess(), code);  // not reached: nothing handles it
  for (;;) Sleep(INFINITE);
}

[[noreturn]] void OnTerminate() { RaiseFatal(kTerminateExceptionCode); }

void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                                uintptr_t) {
  RaiseFatal(kInvalidParameterExceptionCode);
}

void __cdecl OnPureVirtualCall() { RaiseFatal(kPureVirtualCallExceptionCode); }

// abort() would otherwise end the process with exit code 3 and nothing in the log.
// Every module built with this toolchain shares msvcrt.dll's signal table, so this
// also reports an abort inside a library or the engine.
void __cdecl OnAbortSignal(int) { RaiseFatal(kAbortExceptionCode); }

void InstallRuntimeHandlers() {
  std::set_terminate(OnTerminate);
  signal(SIGABRT, OnAbortSignal);
  HMODULE msvcrt = GetModuleHandleW(L"msvcrt.dll");
  if (!msvcrt) return;
  if (auto set = reinterpret_cast<SetInvalidParameterHandler>(
          GetProcAddress(msvcrt, "_set_invalid_parameter_handler"))) {
    set(OnInvalidParameter);
  }
  if (auto set = reinterpret_cast<SetPurecallHandler>(
          GetProcAddress(msvcrt, "_set_purecall_handler"))) {
    set(OnPureVirtualCall);
  }
}

bool EndsWithDumpSuffix(const std::wstring& name) {
  return name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".dmp") == 0;
}

}  // namespace

// Code built by this compiler calls this on a pure virtual call; the runtime's own
// version prints to standard error and terminates, which would hide what happened.
extern "C" [[noreturn]] void __cxa_pure_virtual() { RaiseFatal(kPureVirtualCallExceptionCode); }

bool InstallCrashReporter(const std::wstring& folder) {
  LastErrorKept lastError;
  static bool installed = false;
  if (installed) return g_crash.reporterThreadId != 0;
  installed = true;
  if (folder.size() < ARRAYSIZE(g_crash.folder)) wcscpy(g_crash.folder, folder.c_str());
  g_crash.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_crash.reported = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  unsigned threadId = 0;
  const uintptr_t thread =
      g_crash.wake && g_crash.reported
          ? _beginthreadex(nullptr, 0, ReporterMain, nullptr, 0, &threadId)
          : 0;
  if (thread) {
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    g_crash.reporterThreadId = threadId;
  } else {
    g_crash.writeDump = LoadDumpWriter();
  }
  SetUnhandledExceptionFilter(OnUnhandledException);
  InstallRuntimeHandlers();
  return thread != 0;
}

void PruneCrashReports(const std::wstring& folder, int keep, const wchar_t* spare) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry = {};
  HANDLE find = FindFirstFileW((folder + L"\\brindlex-*.dmp").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    // The pattern also matches through short names; keep to the real suffix.
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        EndsWithDumpSuffix(entry.cFileName)) {
      names.push_back(entry.cFileName);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  // The names start with the time, so they sort oldest first.
  std::sort(names.begin(), names.end());
  const wchar_t* spareName = spare ? PathFindFileNameW(spare) : L"";
  size_t excess = names.size() > static_cast<size_t>(keep) ? names.size() - keep : 0;
  for (const std::wstring& name : names) {
    if (excess == 0) break;
    if (_wcsicmp(name.c_str(), spareName) == 0) continue;
    LinkGuard::HeldFile old;
    if (old.Open(folder + L"\\" + name, DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, false) ==
        LinkGuard::Held::kOpened) {
      old.Delete();
    }
    --excess;
  }
}

void DescribeCodeAddress(const void* address, char* text, size_t size) {
  MEMORY_BASIC_INFORMATION memory = {};
  if (VirtualQuery(address, &memory, sizeof(memory)) && memory.Type == MEM_IMAGE &&
      memory.AllocationBase) {
    const std::wstring path =
        Helper::GetModuleFilePath(static_cast<HMODULE>(memory.AllocationBase));
    if (!path.empty()) {
      const std::string name = WideToAnsi(PathFindFileNameW(path.c_str()));
      const unsigned long offset = static_cast<unsigned long>(
          static_cast<const char*>(address) - static_cast<const char*>(memory.AllocationBase));
      snprintf(text, size, "%.48s+0x%lX", name.c_str(), offset);
      return;
    }
  }
  snprintf(text, size, "0x%08lX",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
}
