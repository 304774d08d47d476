#include <windows.h>
#include <dbghelp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "app/ansi_text.h"
#include "app/crash_report.h"
#include "child_process.h"
#include "test_support.h"

namespace {

using test_support::PathExists;
using test_support::ReadBytes;
using test_support::TempDir;
using test_support::WriteBytes;

std::vector<std::wstring> DumpsIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry = {};
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Narrow(const std::wstring& text) { return WideToAnsi(text); }

TEST(CrashReport, DescribesAnAddressByModuleAndOffset) {
  char text[96] = {};
  HMODULE self = GetModuleHandleW(nullptr);
  const char* inside = reinterpret_cast<const char*>(self) + 0x1234;
  DescribeCodeAddress(inside, text, sizeof(text));
  EXPECT_STREQ(text, "unit_tests.exe+0x1234");

  // A system library's code: named after the module the loader says holds it.
  const void* sleep =
      reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Sleep"));
  HMODULE holder = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                     GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 static_cast<LPCWSTR>(sleep), &holder));
  wchar_t holderPath[MAX_PATH] = {};
  GetModuleFileNameW(holder, holderPath, MAX_PATH);
  char expected[96] = {};
  snprintf(expected, sizeof(expected), "%s+0x%lX",
           Narrow(wcsrchr(holderPath, L'\\') + 1).c_str(),
           static_cast<unsigned long>(static_cast<const char*>(sleep) -
                                      reinterpret_cast<const char*>(holder)));
  DescribeCodeAddress(sleep, text, sizeof(text));
  EXPECT_STREQ(text, expected);

  DescribeCodeAddress(reinterpret_cast<const void*>(16), text, sizeof(text));
  EXPECT_STREQ(text, "0x00000010");
  // A short buffer is cut, never overrun.
  char little[8];
  memset(little, 'z', sizeof(little));
  DescribeCodeAddress(inside, little, 6);
  EXPECT_STREQ(little, "unit_");
  EXPECT_EQ(little[7], 'z');
}

TEST(CrashReport, PruningKeepsTheNewestDumpsTheSpareAndEverythingElse) {
  TempDir dir;
  const wchar_t* dumps[] = {
      L"brindlex-20240101-000000-1.dmp", L"brindlex-20240102-000000-2.dmp",
      L"brindlex-20240103-000000-3.dmp", L"brindlex-20240104-000000-4.dmp",
      L"brindlex-20240105-000000-5.dmp", L"brindlex-20240106-000000-6.dmp",
      L"brindlex-20240107-000000-7.dmp", L"brindlex-20240108-000000-8.dmp"};
  for (const wchar_t* name : dumps) ASSERT_TRUE(WriteBytes(dir.File(name), "MDMP"));
  ASSERT_TRUE(WriteBytes(dir.File(L"other.dmp"), "x"));
  ASSERT_TRUE(WriteBytes(dir.File(L"brindlex-notes.txt"), "x"));
  // The spare is the oldest by name, as when the clock was set back.
  PruneCrashReports(dir.path(), kCrashReportsKept, dir.File(dumps[0]).c_str());
  EXPECT_EQ(DumpsIn(dir.path()),
            (std::vector<std::wstring>{
                L"brindlex-20240101-000000-1.dmp", L"brindlex-20240105-000000-5.dmp",
                L"brindlex-20240106-000000-6.dmp", L"brindlex-20240107-000000-7.dmp",
                L"brindlex-20240108-000000-8.dmp", L"brindlex-notes.txt", L"other.dmp"}));
  // Fewer than the number kept: nothing goes.
  PruneCrashReports(dir.path(), 6, nullptr);
  EXPECT_EQ(DumpsIn(dir.path()).size(), 7u);
}

// What a test reads back from a minidump file.
struct Minidump {
  bool valid = false;
  DWORD exceptionCode = 0;
  DWORD exceptionThread = 0;
  std::vector<DWORD> threads;
  size_t modules = 0;
};

template <typename T>
const T* At(const std::string& bytes, RVA rva, size_t count = 1) {
  if (rva > bytes.size() || (bytes.size() - rva) / sizeof(T) < count) return nullptr;
  return reinterpret_cast<const T*>(bytes.data() + rva);
}

Minidump ReadMinidump(const std::string& bytes) {
  Minidump dump;
  const MINIDUMP_HEADER* header = At<MINIDUMP_HEADER>(bytes, 0);
  if (!header || bytes.compare(0, 4, "MDMP") != 0) return dump;
  const MINIDUMP_DIRECTORY* directory =
      At<MINIDUMP_DIRECTORY>(bytes, header->StreamDirectoryRva, header->NumberOfStreams);
  if (!directory) return dump;
  bool exception = false;
  for (ULONG32 i = 0; i < header->NumberOfStreams; ++i) {
    const RVA rva = directory[i].Location.Rva;
    switch (directory[i].StreamType) {
      case ExceptionStream:
        if (const auto* stream = At<MINIDUMP_EXCEPTION_STREAM>(bytes, rva)) {
          dump.exceptionCode = stream->ExceptionRecord.ExceptionCode;
          dump.exceptionThread = stream->ThreadId;
          exception = true;
        }
        break;
      case ThreadListStream:
        if (const auto* list = At<ULONG32>(bytes, rva)) {
          const auto* threads = At<MINIDUMP_THREAD>(bytes, rva + sizeof(ULONG32), *list);
          for (ULONG32 t = 0; threads && t < *list; ++t) dump.threads.push_back(threads[t].ThreadId);
        }
        break;
      case ModuleListStream:
        if (const auto* list = At<ULONG32>(bytes, rva)) dump.modules = *list;
        break;
      default:
        break;
    }
  }
  dump.valid = exception;
  return dump;
}

// Runs crash_test_child in mode with folder, its standard output sent to
// folder\stdout.txt; its exit code, or 0 when it did not end.
DWORD RunCrashingChild(const std::wstring& mode, const std::wstring& folder) {
  std::wstring commandLine = L"\"" + TestProgramFolder() + L"\\crash_test_child.exe\" " + mode +
                             L" \"" + folder + L"\"";
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
  HANDLE output = CreateFileW((folder + L"\\stdout.txt").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ, &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
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
  if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(info.hProcess, &code);
  } else {
    TerminateProcess(info.hProcess, 9);
  }
  CloseHandle(info.hProcess);
  return code;
}

std::string LastLine(const std::string& text) {
  std::string body = text;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  return body.substr(body.rfind('\n') == std::string::npos ? 0 : body.rfind('\n') + 1);
}

struct CrashCase {
  const wchar_t* mode;
  DWORD code;
};

class CrashingChild : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashingChild, WritesADumpLogsItKeepsFiveAndEndsWithTheCode) {
  // Writing a dump takes Wine seconds, and the code page plays no part in it.
  if (test_support::ExpectedCodePage() != 936) GTEST_SKIP() << "run under code page 936";
  const CrashCase crash = GetParam();
  TempDir dir;
  const std::wstring crashes = dir.File(L"crashes");
  ASSERT_TRUE(CreateDirectoryW(crashes.c_str(), nullptr));
  // Six reports from earlier crashes: with the new one, the two oldest must go.
  for (int day = 1; day <= 6; ++day) {
    const std::wstring name = L"brindlex-2024010" + std::to_wstring(day) + L"-120000-1.dmp";
    ASSERT_TRUE(WriteBytes(crashes + L"\\" + name, "MDMP old"));
  }

  const DWORD started = GetTickCount();
  const DWORD code = RunCrashingChild(crash.mode, dir.path());
  EXPECT_EQ(code, crash.code) << std::hex << code;
  // Well inside the time the faulting thread would wait for a report that hangs.
  EXPECT_LT(GetTickCount() - started, kCrashReportTimeoutMs);

  std::vector<std::wstring> dumps = DumpsIn(crashes);
  ASSERT_EQ(dumps.size(), static_cast<size_t>(kCrashReportsKept));
  EXPECT_EQ(dumps[0], L"brindlex-20240103-120000-1.dmp");
  const std::wstring newest = dumps.back();
  ASSERT_TRUE(std::regex_match(Narrow(newest), std::regex(R"(brindlex-20\d{6}-\d{6}-\d+\.dmp)")))
      << Narrow(newest);

  const std::string bytes = ReadBytes(crashes + L"\\" + newest);
  printf("  %s: exit code 0x%08lX, %s of %u bytes\n", Narrow(crash.mode).c_str(), code,
         Narrow(newest).c_str(), static_cast<unsigned>(bytes.size()));
  ASSERT_EQ(bytes.compare(0, 4, "MDMP"), 0);
  EXPECT_LT(bytes.size(), 8u * 1024 * 1024);  // a few MiB
  const Minidump dump = ReadMinidump(bytes);
  ASSERT_TRUE(dump.valid);
  const DWORD faultingThread =
      static_cast<DWORD>(std::stoul("0" + ReadBytes(dir.File(L"thread.txt"))));
  EXPECT_NE(faultingThread, 0u);
  EXPECT_EQ(dump.exceptionCode, crash.code) << std::hex << dump.exceptionCode;
  EXPECT_EQ(dump.exceptionThread, faultingThread);
  EXPECT_NE(std::find(dump.threads.begin(), dump.threads.end(), faultingThread),
            dump.threads.end());
  EXPECT_GE(dump.threads.size(), 2u);  // the reporting thread too
  EXPECT_GE(dump.modules, 3u);         // the program, ntdll, kernel32 at least

  // The log's last line names the code, the place, the thread and the dump.
  const std::string log = ReadBytes(dir.File(L"logs\\brindlex.log"));
  char code8[16];
  snprintf(code8, sizeof(code8), "0x%08lX", crash.code);
  const std::string expectedTail = std::string(code8) + " at [^ ]+\\+0x[0-9A-F]+ on thread " +
                                   std::to_string(faultingThread) + ", crash report: ";
  const std::string last = LastLine(log);
  EXPECT_TRUE(std::regex_search(last, std::regex("^\\[error \\d\\d:\\d\\d:\\d\\d\\]crash_report\\.cpp:\\d+ .*unhandled exception " + expectedTail)))
      << last;
  const std::string dumpPath = ": " + Narrow(crashes + L"\\" + newest);
  ASSERT_GT(last.size(), dumpPath.size());
  EXPECT_EQ(last.substr(last.size() - dumpPath.size()), dumpPath);
  // Standard output, a file in the C runtime's text mode, got the same bytes.
  const std::string firstLine = "==== crash_test_child " + Narrow(crash.mode) + "\r\n";
  ASSERT_EQ(log.compare(0, firstLine.size(), firstLine), 0) << log.substr(0, 80);
  EXPECT_EQ(log.substr(firstLine.size()), ReadBytes(dir.File(L"stdout.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CrashingChild,
    ::testing::Values(CrashCase{L"access-violation", EXCEPTION_ACCESS_VIOLATION},
                      CrashCase{L"stack-overflow", EXCEPTION_STACK_OVERFLOW},
                      CrashCase{L"terminate", kTerminateExceptionCode},
                      CrashCase{L"pure-virtual", kPureVirtualCallExceptionCode}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
      std::string name = Narrow(info.param.mode);
      name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
      return name;
    });

TEST(CrashReport, WithoutAFolderTheLineSaysNoReportWasWritten) {
  TempDir dir;
  // A file where the crash folder should be: the dump cannot be created.
  ASSERT_TRUE(WriteBytes(dir.File(L"crashes"), "not a folder"));
  const DWORD code = RunCrashingChild(L"access-violation", dir.path());
  EXPECT_EQ(code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << std::hex << code;
  const std::string last = LastLine(ReadBytes(dir.File(L"logs\\brindlex.log")));
  EXPECT_TRUE(std::regex_search(
      last, std::regex(R"(unhandled exception 0xC0000005 at crash_test_child\.exe\+0x[0-9A-F]+ on thread \d+, no crash report \(error \d+\): .*\\crashes\\brindlex-\d{8}-\d{6}-\d+\.dmp$)")))
      << last;
  EXPECT_EQ(ReadBytes(dir.File(L"crashes")), "not a folder");
}

}  // namespace
