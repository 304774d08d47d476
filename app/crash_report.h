// Crash reports: an unhandled exception on any thread writes a minidump
// "brindlex-<yyyymmdd-hhmmss>-<pid>.dmp" into the crash folder, keeps the newest
// kCrashReportsKept of them, logs one error line naming the dump followed by the
// faulting thread's stack (see stack_walk.h), and ends the process with the exception
// code as its exit code, without any box.
//
// The dump is written by a reporting thread that waits from installation on: the
// faulting thread may have no stack left (a stack overflow) and only wakes it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Codes raised for the failures the C and C++ runtimes report without an exception.
constexpr DWORD kTerminateExceptionCode = 0xE0425801;    // std::terminate
constexpr DWORD kPureVirtualCallExceptionCode = 0xE0425802;
constexpr DWORD kAbortExceptionCode = 0xE0425803;  // abort() in any module of the process
constexpr DWORD kInvalidParameterExceptionCode = 0xC0000417;  // STATUS_INVALID_CRUNTIME_PARAMETER

constexpr int kCrashReportsKept = 5;
// How long the faulting thread waits for its report before it ends the process anyway.
constexpr DWORD kCrashReportTimeoutMs = 30000;

// Installs the handlers for the whole process. folder is where dumps go (created with
// the first); empty means no dumps, only the log line. False when the reporting
// thread could not be started: the faulting thread then reports itself.
bool InstallCrashReporter(const std::wstring& folder);

// Deletes the oldest "brindlex-*.dmp" in folder (by name, which starts with the time)
// until keep are left; never the file named spare.
void PruneCrashReports(const std::wstring& folder, int keep, const wchar_t* spare);

// Where code is: "module.dll+0x1A2B" inside a loaded module, else "0x0000001A".
void DescribeCodeAddress(const void* address, char* text, size_t size);
