// Starts store_test_child.exe (built beside the test program) in one of its modes,
// waits until it signals that it holds what it was asked to hold, and kills it when
// the object goes away.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline std::wstring TestProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

class ChildProcess {
 public:
  // Waits up to timeoutMs for the child's signal; ready() tells whether it came.
  ChildProcess(const std::wstring& mode, const std::wstring& path, DWORD timeoutMs = 10000) {
    static unsigned counter = 0;
    wchar_t eventName[96];
    swprintf(eventName, 96, L"brindlex-test-child-%lu-%u", GetCurrentProcessId(), ++counter);
    event_ = CreateEventW(nullptr, TRUE, FALSE, eventName);
    std::wstring commandLine = L"\"" + TestProgramFolder() + L"\\store_test_child.exe\" " + mode +
                               L" \"" + path + L"\" " + eventName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
      why_ = "not started, error " + std::to_string(GetLastError());
      return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    const HANDLE waitOn[2] = {event_, process_};
    const DWORD waited = WaitForMultipleObjects(2, waitOn, FALSE, timeoutMs);
    ready_ = waited == WAIT_OBJECT_0;
    if (waited == WAIT_OBJECT_0 + 1) {
      DWORD code = 0;
      GetExitCodeProcess(process_, &code);
      char text[64];
      snprintf(text, sizeof text, "ended before it was ready, exit code 0x%08lX", code);
      why_ = text;
    } else if (!ready_) {
      why_ = "not ready within " + std::to_string(timeoutMs) + " ms";
    }
  }
  ~ChildProcess() {
    Kill();
    if (event_) CloseHandle(event_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool ready() const { return ready_; }
  // Why the child is not ready: not started, ended first (with its exit code), or late.
  const std::string& why() const { return why_; }
  void Kill() {
    if (!process_) return;
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, 10000);
    CloseHandle(process_);
    process_ = nullptr;
  }

 private:
  HANDLE event_ = nullptr;
  HANDLE process_ = nullptr;
  bool ready_ = false;
  std::string why_;
};
