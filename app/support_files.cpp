#include "app/support_files.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/ansi_text.h"
#include "app/crash_report.h"
#include "app/helper.h"
#include "app/last_error.h"
#include "app/link_guard.h"
#include "app/log.h"
#include "app/log_file.h"
#include "sys/file_helper.h"

namespace {

// A command line can run to 32767 characters; the start line keeps the beginning.
constexpr size_t kCommandLineShown = 1024;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The log file's first line for a start, on one line of bounded length.
std::string DescribeStart(const std::wstring& version, const SYSTEMTIME& time,
                          DWORD processId, const std::string& osName, int systemBits,
                          unsigned codePage, const std::wstring& commandLine) {
  std::wstring shown = commandLine.substr(0, kCommandLineShown);
  // A line break inside would split the line in two.
  for (wchar_t& c : shown) {
    if (c < L' ') c = L' ';
  }
  char facts[256] = {};
  snprintf(facts, sizeof(facts),
           "==== Brindlex %s started %04u-%02u-%02u %02u:%02u:%02u, process %lu, %s %d-bit, "
           "code page %u, command line: ",
           version.empty() ? "(no version)" : WideToAnsi(version).c_str(), time.wYear,
           time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, processId,
           osName.empty() ? "(unknown OS)" : osName.c_str(), systemBits, codePage);
  return facts + WideToAnsi(shown);
}

}  // namespace

void StartLogFile() {
  LastErrorKept lastError;
  const std::wstring folder = Helper::GetCachePath(std::wstring(L"logs"));
  if (folder.empty()) return;
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  const std::wstring version =
      FileHelper::ReadVersion(Helper::GetModuleFilePath(nullptr).c_str());
  if (!OpenLogFile(folder, DescribeStart(version, now, GetCurrentProcessId(),
                                         Helper::GetOsName(), Helper::GetSystemBits(),
                                         GetACP(), GetCommandLineW()))) {
    // Standard output stays as it is; only a debugger hears of it, unless something
    // has been put in the way.
    OutputDebugStringA("brindlex: log file not written\n");
    LinkGuard::HeldFile file;
    if (!LinkGuard::IsPlainFolder(folder, false) ||
        file.Open(LogFile::PathOf(folder, 0), FILE_READ_ATTRIBUTES, kShareAll, false) ==
            LinkGuard::Held::kLeadsElsewhere) {
      SetLastError(0);
      LOG_ERROR("%s or its log file leads elsewhere; no log file is written through it",
                WideToAnsi(folder).c_str());
    }
  }
}

void StartCrashReports() {
  LastErrorKept lastError;
  std::wstring folder = Helper::GetCachePath(std::wstring(L"crashes"));
  // Made at the first crash; whatever is in its place already must be a folder.
  if (!folder.empty() && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES &&
      !LinkGuard::IsPlainFolder(folder, false)) {
    SetLastError(0);
    LOG_ERROR("%s leads elsewhere; no crash report is written through it",
              WideToAnsi(folder).c_str());
    folder.clear();  // the crash line is still written
  }
  InstallCrashReporter(folder);
}
