#include <windows.h>
#include <dbghelp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "app/ansi_text.h"
#include "app/crash_report.h"
#include "child_process.h"
#include "test_support.h"

namespace {

using test_support::ReadBytes;

std::vector<std::wstring> DumpsIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry = {};
  HANDLE find = FindFirstFileW((folder + L"\\*.dmp").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(entry.cFileName);
  while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// The exception stream's code and thread, and every thread in the thread list.
struct Minidump {
  DWORD code = 0;
  DWORD thread = 0;
  std::vector<DWORD> threads;
};

Minidump ReadMinidump(const std::string& bytes) {
  Minidump dump;
  // A pointer to size bytes at rva, or null past the end.
  const auto at = [&](RVA rva, size_t size) {
    return rva <= bytes.size() && bytes.size() - rva >= size ? bytes.data() + rva : nullptr;
  };
  const auto* header = reinterpret_cast<const MINIDUMP_HEADER*>(at(0, sizeof(MINIDUMP_HEADER)));
  if (!header || bytes.compare(0, 4, "MDMP") != 0) return dump;
  for (ULONG32 i = 0; i < header->NumberOfStreams; ++i) {
    const auto* entry = reinterpret_cast<const MINIDUMP_DIRECTORY*>(
        at(header->StreamDirectoryRva + i * sizeof(MINIDUMP_DIRECTORY), sizeof(MINIDUMP_DIRECTORY)));
    if (!entry) break;
    const RVA rva = entry->Location.Rva;
    if (entry->StreamType == ExceptionStream && at(rva, sizeof(MINIDUMP_EXCEPTION_STREAM))) {
      const auto* stream = reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(bytes.data() + rva);
      dump.code = stream->ExceptionRecord.ExceptionCode;
      dump.thread = stream->ThreadId;
    } else if (entry->StreamType == ThreadListStream && at(rva, sizeof(ULONG32))) {
      const ULONG32 count = *reinterpret_cast<const ULONG32*>(bytes.data() + rva);
      const char* list = at(rva + sizeof(ULONG32), size_t{count} * sizeof(MINIDUMP_THREAD));
      for (ULONG32 t = 0; list && t < count; ++t) {
        dump.threads.push_back(reinterpret_cast<const MINIDUMP_THREAD*>(list)[t].ThreadId);
      }
    }
  }
  return dump;
}

// Runs crash_test_child, its standard output sent to <folder>\stdout.txt; its exit
// code, or 0 when it did not end.
DWORD RunCrashingChild(const std::wstring& mode, const std::wstring& folder) {
  std::wstring commandLine = L"\"" + TestProgramFolder() + L"\\crash_test_child.exe\" " + mode +
                             L" \"" + folder + L"\"";
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
  HANDLE output = CreateFileW((folder + L"\\stdout.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &info);
  CloseHandle(output);
  if (!started) return 0;
  CloseHandle(info.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 0);
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  return code;
}

struct CrashCase {
  const wchar_t* mode;
  DWORD code;
};

class CrashingChild : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashingChild, WritesADumpAndALastLineKeepsFiveDumpsAndEndsWithTheCode) {
  // Writing a dump takes Wine seconds, and the code page plays no part in it.
  if (test_support::ExpectedCodePage() != 936) GTEST_SKIP() << "run under code page 936";
  const CrashCase crash = GetParam();
  test_support::TempDir dir;
  const std::wstring crashes = dir.File(L"crashes");
  ASSERT_TRUE(CreateDirectoryW(crashes.c_str(), nullptr));
  // Six from earlier crashes: with the new one, the two oldest must go.
  for (char day = '1'; day <= '6'; ++day) {
    const std::string name = std::string("\\brindlex-2024010") + day + "-120000-1.dmp";
    ASSERT_TRUE(test_support::WriteBytes(crashes + std::wstring(name.begin(), name.end()), "x"));
  }
  const DWORD code = RunCrashingChild(crash.mode, dir.path());
  EXPECT_EQ(code, crash.code) << std::hex << code;

  const std::vector<std::wstring> dumps = DumpsIn(crashes);
  ASSERT_EQ(dumps.size(), static_cast<size_t>(kCrashReportsKept));
  EXPECT_EQ(dumps[0], L"brindlex-20240103-120000-1.dmp");
  const std::string name = WideToAnsi(dumps.back());
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(brindlex-20\d{6}-\d{6}-\d+\.dmp)"))) << name;
  const std::string bytes = ReadBytes(crashes + L"\\" + dumps.back());
  printf("  %ls: exit code 0x%08lX, %s of %u bytes\n", crash.mode, code, name.c_str(),
         static_cast<unsigned>(bytes.size()));
  EXPECT_EQ(bytes.compare(0, 4, "MDMP"), 0);
  EXPECT_LT(bytes.size(), 8u << 20);  // a few MiB
  const Minidump dump = ReadMinidump(bytes);
  const DWORD thread = std::stoul("0" + ReadBytes(dir.File(L"thread.txt")));
  EXPECT_EQ(dump.code, crash.code) << std::hex << dump.code;
  EXPECT_EQ(dump.thread, thread);
  EXPECT_NE(std::find(dump.threads.begin(), dump.threads.end(), thread), dump.threads.end());

  // The log file holds what standard output (a file, in text mode) got, after its first
  // line, and its last line names the failure and the dump.
  const std::string log = ReadBytes(dir.File(L"logs\\brindlex.log"));
  const std::string first = "==== crash_test_child " + WideToAnsi(crash.mode) + "\r\n";
  ASSERT_EQ(log.compare(0, first.size(), first), 0) << log.substr(0, 80);
  EXPECT_EQ(log.substr(first.size()), ReadBytes(dir.File(L"stdout.txt")));
  char pattern[256];
  snprintf(pattern, sizeof(pattern),
           R"(\[error \d\d:\d\d:\d\d\]crash_report\.cpp:\d+ .*unhandled exception 0x%08lX )"
           R"(at \S+\+0x[0-9A-F]+ on thread %lu, crash report: (.*)\r\n)",
           crash.code, thread);
  std::smatch last;
  ASSERT_TRUE(std::regex_search(log, last, std::regex(pattern)) &&
              last.suffix().length() == 0)
      << log.substr(log.size() > 300 ? log.size() - 300 : 0);
  EXPECT_EQ(last[1].str(), WideToAnsi(crashes) + "\\" + name);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CrashingChild,
    ::testing::Values(CrashCase{L"access-violation", EXCEPTION_ACCESS_VIOLATION},
                      CrashCase{L"stack-overflow", EXCEPTION_STACK_OVERFLOW},
                      CrashCase{L"terminate", kTerminateExceptionCode},
                      CrashCase{L"pure-virtual", kPureVirtualCallExceptionCode}));

}  // namespace
