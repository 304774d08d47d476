#include <gtest/gtest.h>

#include <string>

#include "app/log.h"
#include "app/log_file.h"
#include "app/support_files.h"
#include "test_support.h"

namespace {

using test_support::ReadBytes;
using test_support::StdoutCapture;
using test_support::TempDir;
using test_support::WriteBytes;

std::string Current(const TempDir& dir) { return ReadBytes(LogFile::PathOf(dir.path(), 0)); }

// A line of 100 bytes as the log hands it over, "\n" included.
std::string Line(int number) {
  std::string line = "[info 01:02:03]a.cpp:1 f line " + std::to_string(number) + " ";
  line.resize(99, 'x');
  return line + "\n";
}

std::string TextMode(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Appends line number; returns the bytes the file should get for it.
std::string AppendLine(LogFile& file, int number) {
  const std::string line = Line(number);
  file.Append(line.data(), line.size());
  return TextMode(line);
}

TEST(LogFile, AppendsEachStartWithTheBytesOfTextModeOutput) {
  TempDir dir;
  const std::string echo = "[info 01:02:03]a.cpp:2 f {\r\n    return true;\r\n}\n";
  {
    LogFile file;
    ASSERT_TRUE(file.Open(dir.path(), "==== first start"));
    AppendLine(file, 1);
    file.Append(echo.data(), echo.size());
  }
  {
    LogFile file;
    ASSERT_TRUE(file.Open(dir.path(), "==== second start"));
    AppendLine(file, 2);
  }
  // A "\r\n" inside a line becomes "\r\r\n", as the C runtime writes it to a file.
  EXPECT_EQ(Current(dir), "==== first start\r\n" + TextMode(Line(1)) +
                              "[info 01:02:03]a.cpp:2 f {\r\r\n    return true;\r\r\n}\r\n" +
                              "==== second start\r\n" + TextMode(Line(2)));
}

TEST(LogFile, OthersMayReadAndDeleteItButNotWriteWhileItIsOpen) {
  TempDir dir;
  LogFile file;
  ASSERT_TRUE(file.Open(dir.path(), "==== start"));
  const std::wstring path = LogFile::PathOf(dir.path(), 0);
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  AppendLine(file, 1);
  // Each line is on disk at once: nothing waits in a buffer of ours.
  char buffer[512] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(reader, buffer, sizeof(buffer), &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "==== start\r\n" + TextMode(Line(1)));
  CloseHandle(reader);

  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

TEST(LogFile, RotatesBetweenLinesOncePastTheLimitKeepingThreeOldFiles) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(LogFile::PathOf(dir.path(), 1), "one"));
  ASSERT_TRUE(WriteBytes(LogFile::PathOf(dir.path(), 2), "two"));
  ASSERT_TRUE(WriteBytes(LogFile::PathOf(dir.path(), 3), "three"));
  LogFile file;
  ASSERT_TRUE(file.Open(dir.path(), "==== start"));
  std::string written = "==== start\r\n";
  int lines = 0;
  while (written.size() <= kLogFileLimit) written += AppendLine(file, ++lines);
  // The line that passed the limit ends the old file; the next one starts the new.
  const std::string next = AppendLine(file, ++lines);
  file.Close();
  EXPECT_EQ(ReadBytes(LogFile::PathOf(dir.path(), 1)), written);
  EXPECT_EQ(Current(dir), next);
  EXPECT_EQ(ReadBytes(LogFile::PathOf(dir.path(), 2)), "one");
  EXPECT_EQ(ReadBytes(LogFile::PathOf(dir.path(), 3)), "two");
  EXPECT_FALSE(test_support::PathExists(LogFile::PathOf(dir.path(), 4)));
}

TEST(LogFile, AStartLineThatWouldPassTheLimitBeginsANewFile) {
  TempDir dir;
  const std::string kept = "==== kept\r\n";
  const std::string old(kLogFileLimit - kept.size(), 'a');
  ASSERT_TRUE(WriteBytes(LogFile::PathOf(dir.path(), 0), old));
  {
    LogFile file;
    ASSERT_TRUE(file.Open(dir.path(), "==== kept"));  // reaches the limit, no more
  }
  EXPECT_EQ(Current(dir), old + kept);
  EXPECT_FALSE(test_support::PathExists(LogFile::PathOf(dir.path(), 1)));
  {
    LogFile file;
    ASSERT_TRUE(file.Open(dir.path(), "==== rotated"));
  }
  EXPECT_EQ(Current(dir), "==== rotated\r\n");
  EXPECT_EQ(ReadBytes(LogFile::PathOf(dir.path(), 1)), old + kept);
}

TEST(LogFile, AnOldFileHeldOpenDelaysRotationWithoutLosingLines) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(LogFile::PathOf(dir.path(), 1), "held"));
  LogFile file;
  ASSERT_TRUE(file.Open(dir.path(), "==== start"));
  std::string written = "==== start\r\n";
  int lines = 0;
  {
    // Held without sharing deletion: brindlex.log cannot take its name.
    test_support::LockedFile held(LogFile::PathOf(dir.path(), 1));
    ASSERT_TRUE(held.locked());
    while (written.size() <= kLogFileLimit + 4096) written += AppendLine(file, ++lines);
    EXPECT_EQ(Current(dir), written);
  }
  // Tried again once another sixteenth of the limit has been written.
  while (!test_support::PathExists(LogFile::PathOf(dir.path(), 2)) &&
         written.size() < 2 * kLogFileLimit) {
    written += AppendLine(file, ++lines);
  }
  file.Close();
  const std::string rotated = ReadBytes(LogFile::PathOf(dir.path(), 1));
  EXPECT_GT(rotated.size(), kLogFileLimit + kLogFileLimit / 16);
  EXPECT_LT(rotated.size(), kLogFileLimit + kLogFileLimit / 8);
  EXPECT_EQ(rotated + Current(dir), written);
  EXPECT_EQ(ReadBytes(LogFile::PathOf(dir.path(), 2)), "held");
}

TEST(LogFile, AFolderThatCannotBeMadeLeavesTheLogWithoutAFile) {
  TempDir dir;
  // A file where the folder should be.
  ASSERT_TRUE(WriteBytes(dir.File(L"logs"), "not a folder"));
  LogFile file;
  SetLastError(ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file.Open(dir.File(L"logs"), "==== start"));
  AppendLine(file, 1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadBytes(dir.File(L"logs")), "not a folder");
}

// The copy must not change what standard output receives, the last-error text in the
// line heads included.
void LogThreeEvents() {
  SetLastError(0);
  LogHeader("info", "01:02:03", "a.cpp", "void f()", 1);
  LogMessage("first %d", 1);
  LogHeader("warning", "01:02:03", "a.cpp", "void f()", 2);
  LogMessage("{\r\n    return %s;\r\n}", "true");
  SetLastError(ERROR_FILE_NOT_FOUND);
  LogHeader("error", "01:02:03", "a.cpp", "void f()", 3);
  LogMessageW(L"wide %s", L"text");
  LogHeader("info", "01:02:03", "a.cpp", "void f()", 4);
  LogMessage("after");
}

TEST(LogToFile, GetsEveryLineStandardOutputGetsAndChangesNothingThere) {
  TempDir dir;
  std::string alone;
  {
    StdoutCapture out;
    LogThreeEvents();
    alone = out.Text();
  }
  std::string withFile;
  {
    StdoutCapture out;
    ASSERT_TRUE(OpenLogFile(dir.path(), "==== start"));
    LogThreeEvents();
    CloseLogFile();
    withFile = out.Text();
  }
  EXPECT_EQ(withFile, alone);
  EXPECT_NE(alone.find("last err: "), std::string::npos) << alone;
  EXPECT_EQ(Current(dir), "==== start\r\n" + TextMode(alone));
}

TEST(LogToFile, AnUnwritableFolderChangesNothingOnStandardOutput) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.File(L"logs"), "not a folder"));
  std::string alone;
  {
    StdoutCapture out;
    LogThreeEvents();
    alone = out.Text();
  }
  StdoutCapture out;
  EXPECT_FALSE(OpenLogFile(dir.File(L"logs"), "==== start"));
  LogThreeEvents();
  CloseLogFile();
  EXPECT_EQ(out.Text(), alone);
}

TEST(StartLine, NamesTheStartOnOneBoundedLine) {
  SYSTEMTIME time = {};
  time.wYear = 2025;
  time.wMonth = 3;
  time.wDay = 1;
  time.wHour = 9;
  time.wMinute = 5;
  time.wSecond = 7;
  EXPECT_EQ(DescribeStart(L"1.0.0.64", time, 4242, "win10", 64, 936,
                          L"\"C:\\Brindlex\\brindlex.exe\" --recharge"),
            "==== Brindlex 1.0.0.64 started 2025-03-01 09:05:07, process 4242, win10 64-bit, "
            "code page 936, command line: \"C:\\Brindlex\\brindlex.exe\" --recharge");
  // Unknown facts are said so; line breaks and other control characters in the command
  // line become spaces; a long command line is cut.
  const std::wstring commandLine = L"a.exe \r\nx\ty" + std::wstring(3000, L'z');
  const std::string line = DescribeStart(L"", time, 1, "", 32, 1252, commandLine);
  const std::string head =
      "==== Brindlex (no version) started 2025-03-01 09:05:07, process 1, (unknown OS) 32-bit, "
      "code page 1252, command line: a.exe   x y";
  ASSERT_EQ(line.compare(0, head.size(), head), 0) << line.substr(0, 200);
  EXPECT_EQ(line.size(), head.size() - 11 + 1024);
  EXPECT_EQ(line.find_first_not_of('z', head.size()), std::string::npos);
}

}  // namespace
