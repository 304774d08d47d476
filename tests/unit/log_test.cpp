#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/log.h"
#include "test_support.h"

namespace {

using test_support::StdoutCapture;

// "缓存目录获取失败" and "目录创建失败, 名称: " as code page 936 bytes.
constexpr char kCacheLookupFailed936[] =
    "\xBB\xBA\xB4\xE6\xC4\xBF\xC2\xBC\xBB\xF1\xC8\xA1\xCA\xA7\xB0\xDC";

size_t CountLines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST(LogLine, HeadWithoutLastError) {
  StdoutCapture out;
  SetLastError(0);
  LogHeader("info", "01:02:03", "C:\\src\\app\\helper.cpp", "void Helper::Run(int)", 42);
  LogMessage("done %d", 7);
  EXPECT_EQ(out.Text(), "[info 01:02:03]helper.cpp:42 void Helper::Run(int) done 7\n");
}

TEST(LogLine, HeadTakesTheLastComponentOfAnyPath) {
  StdoutCapture out;
  SetLastError(0);
  LogHeader("warning", "23:59:59", "/work/src/wke/wke_window.cpp", "int f()", 1);
  LogMessage("x");
  SetLastError(0);
  LogHeader("error", "00:00:00", "plain.cpp", "int g()", 2);
  LogMessage("y");
  EXPECT_EQ(out.Text(),
            "[warning 23:59:59]wke_window.cpp:1 int f() x\n"
            "[error 00:00:00]plain.cpp:2 int g() y\n");
}

TEST(LogLine, HeadWithLastErrorShowsTheSystemTextWithoutLineBreaks) {
  StdoutCapture out;
  SetLastError(ERROR_FILE_NOT_FOUND);
  LogHeader("error", "01:02:03", "C:\\src\\a.cpp", "void f()", 7);
  LogMessage("message");
  const std::string line = out.Text();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      line, match,
      std::regex(R"(\[error 01:02:03\]a\.cpp:7 void f\(\) last err: ([^\r\n]*)\(2\)message\n)")))
      << line;
  EXPECT_FALSE(match[1].str().empty()) << line;
}

TEST(LogLine, LastErrorIsReadBeforeAnythingElseAndKept) {
  StdoutCapture out;
  SetLastError(ERROR_ACCESS_DENIED);
  LogHeader("info", "01:02:03", "a.cpp", "void f()", 1);
  // The message's arguments are evaluated after the head and may read the code too.
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  LogMessage("m");
  EXPECT_NE(out.Text().find("(5)m\n"), std::string::npos);
}

// Through the macros, with standard output leading to a file (no console to colour):
// the head reports the error the caller left, never the colour call's own failure.
TEST(LogLine, MacrosReportTheCallersErrorWhenOutputIsNoConsole) {
  StdoutCapture out;
  SetLastError(ERROR_DISK_FULL);
  LOG_WARNING("disk");
  SetLastError(0);
  LOG_ERROR("clean");
  const std::string text = out.Text();
  EXPECT_NE(text.find("(112)disk\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("last err", text.find("disk\n")), std::string::npos) << text;
}

TEST(LogLine, UnknownCodeGivesAnEmptyTextAndASignedCode) {
  StdoutCapture out;
  SetLastError(0xE0001234u);
  LogHeader("error", "01:02:03", "a.cpp", "void f()", 3);
  LogMessage("m");
  EXPECT_EQ(out.Text(), "[error 01:02:03]a.cpp:3 void f() last err: (-536866252)m\n");
}

TEST(LogLine, LongSignaturesAreKeptWhole) {
  StdoutCapture out;
  const std::string signature = "void f(" + std::string(3000, 'T') + ")";
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", signature.c_str(), 1);
  LogMessage("m");
  EXPECT_EQ(out.Text(), "[info 01:02:03]a.cpp:1 " + signature + " m\n");
}

TEST(LogLine, MessageIsCutAt255Characters) {
  StdoutCapture out;
  const std::string longText(300, 'x');
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 1);
  LogMessage("%s", longText.c_str());
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 2);
  LogMessage("%s", std::string(255, 'y').c_str());
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 3);
  LogMessage("%s!", std::string(255, 'z').c_str());
  EXPECT_EQ(out.Text(), "[info 01:02:03]a.cpp:1 f " + std::string(255, 'x') + "\n" +
                            "[info 01:02:03]a.cpp:2 f " + std::string(255, 'y') + "\n" +
                            "[info 01:02:03]a.cpp:3 f " + std::string(255, 'z') + "\n");
}

TEST(LogLine, WideMessageIsCutAt255Characters) {
  StdoutCapture out;
  const std::wstring longText(300, L'w');
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 1);
  LogMessageW(L"%s", longText.c_str());
  EXPECT_EQ(out.Text(), "[info 01:02:03]a.cpp:1 f " + std::string(255, 'w') + "\n");
}

TEST(LogLine, WideFormatTakesWideText) {
  StdoutCapture out;
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 1);
  LogMessageW(L"path:%s, version:%s, n=%d", L"C:\\x\\app.exe", L"1.0.0.64", -5);
  EXPECT_EQ(out.Text(), "[info 01:02:03]a.cpp:1 f path:C:\\x\\app.exe, version:1.0.0.64, n=-5\n");
}

TEST(LogLine, WideChineseFollowsTheAnsiCodePage) {
  StdoutCapture out;
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 1);
  LogMessageW(L"%s", L"\x4E2D\x6587");
  const std::string expected =
      test_support::ExpectedCodePage() == 936 ? "\xD6\xD0\xCE\xC4" : "??";
  EXPECT_EQ(out.Text(), "[info 01:02:03]a.cpp:1 f " + expected + "\n");
}

TEST(LogLine, FormatWithoutPlaceholdersIsWrittenLiterally) {
  StdoutCapture out;
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 1);
  LogMessage("execute c++ function");
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "f", 2);
  LogMessage("{\r\n    return true;\r\n}");
  EXPECT_EQ(out.Text(),
            "[info 01:02:03]a.cpp:1 f execute c++ function\n"
            "[info 01:02:03]a.cpp:2 f {\r\n    return true;\r\n}\n");
}

TEST(LogLine, ChineseLiteralsAreCodePage936Bytes) {
  StdoutCapture out;
  SetLastError(0);
  LogHeader("error", "01:02:03", "a.cpp", "f", 1);
  LogMessage("缓存目录获取失败");
  EXPECT_EQ(out.Text(), std::string("[error 01:02:03]a.cpp:1 f ") + kCacheLookupFailed936 + "\n");
}

// The macros fill in the caller's file, line, signature and the file's build time.
void LogFromHere(int* line) {
  *line = __LINE__ + 1;
  LOG_WARNING("value %s", "v");
}

TEST(LogMacros, CaptureTheCallersPlace) {
  StdoutCapture out;
  int line = 0;
  LogFromHere(&line);
  const std::string text = out.Text();
  const std::string head = std::string("[warning ") + __TIME__ + "]log_test.cpp:" +
                           std::to_string(line) + " void {anonymous}::LogFromHere(int*) ";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  // Written to a file, the colour call fails and its error shows in the head.
  const std::string tail = text.substr(head.size());
  EXPECT_TRUE(std::regex_match(tail, std::regex(R"((last err: [^\r\n]*\(-?\d+\))?value v\n)")))
      << text;
}

TEST(LogMacros, LevelWords) {
  StdoutCapture out;
  LOG_INFO("a");
  LOG_WARNING("b");
  LOG_ERROR("c%d", 1);
  LOG_INFO_W(L"d%s", L"w");
  const std::string text = out.Text();
  EXPECT_TRUE(std::regex_match(text, std::regex("\\[info [0-9:]{8}\\][^\\n]*a\\n"
                                                 "\\[warning [0-9:]{8}\\][^\\n]*b\\n"
                                                 "\\[error [0-9:]{8}\\][^\\n]*c1\\n"
                                                 "\\[info [0-9:]{8}\\][^\\n]*dw\\n")))
      << text;
}

TEST(LogMacros, LinesOfManyThreadsStayWhole) {
  StdoutCapture out;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) LOG_INFO("thread %d line %d end", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string text = out.Text();
  EXPECT_EQ(CountLines(text), 400u);
  const std::regex whole(R"(\[info [0-9:]{8}\]log_test\.cpp:\d+ [^\n]*thread \d line \d+ end)");
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    ASSERT_TRUE(std::regex_match(line, whole)) << line;
    start = end + 1;
  }
}

}  // namespace
