#include <gtest/gtest.h>

#include <string>

#include "sys/file_helper.h"
#include "test_support.h"

namespace {

using test_support::TempDir;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

TEST(FileHelperReadWrite, WriteThenReadBack) {
  TempDir dir;
  const std::string path = dir.FileA("config.data");
  const std::string text = "{\"a\":\"1\",\"b\":null,\"c\":\"\xE4\xB8\xAD\"}";
  ASSERT_TRUE(FileHelper::WriteFile(path, text));
  EXPECT_EQ(test_support::ReadBytes(dir.File(L"config.data")), text);
  EXPECT_EQ(FileHelper::ReadFile(path), text);
}

TEST(FileHelperReadWrite, WriteTruncatesALongerFile) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"f.txt"), std::string(5000, 'x')));
  ASSERT_TRUE(FileHelper::WriteFile(dir.FileA("f.txt"), "short"));
  EXPECT_EQ(test_support::ReadBytes(dir.File(L"f.txt")), "short");
}

TEST(FileHelperReadWrite, WriteEmptyTextLeavesAnEmptyFile) {
  TempDir dir;
  ASSERT_TRUE(FileHelper::WriteFile(dir.FileA("e.txt"), ""));
  EXPECT_EQ(GetFileAttributesW(dir.File(L"e.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(test_support::ReadBytes(dir.File(L"e.txt")), "");
}

TEST(FileHelperReadWrite, WriteFailsWhereNoFileCanBeOpened) {
  TempDir dir;
  EXPECT_FALSE(FileHelper::WriteFile(dir.FileA("no-such-folder\\f.txt"), "x"));
  EXPECT_FALSE(FileHelper::WriteFile(dir.FileA(""), "x"));  // the folder itself
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"locked.txt"), "old"));
  {
    test_support::LockedFile lock(dir.File(L"locked.txt"));
    ASSERT_TRUE(lock.locked());
    EXPECT_FALSE(FileHelper::WriteFile(dir.FileA("locked.txt"), "new"));
  }
  EXPECT_EQ(test_support::ReadBytes(dir.File(L"locked.txt")), "old");
}

// The write opens exclusively: a reader that shares everything still keeps it out, so
// nobody ever reads a half-written store (a plain open would truncate under the reader).
TEST(FileHelperReadWrite, WriteIsRefusedWhileAnotherHandleReads) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"shared.txt"), "old"));
  HANDLE reader = CreateFileW(dir.File(L"shared.txt").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FileHelper::WriteFile(dir.FileA("shared.txt"), "new"));
  CloseHandle(reader);
  EXPECT_EQ(test_support::ReadBytes(dir.File(L"shared.txt")), "old");
  ASSERT_TRUE(FileHelper::WriteFile(dir.FileA("shared.txt"), "new"));
  EXPECT_EQ(test_support::ReadBytes(dir.File(L"shared.txt")), "new");
}

TEST(FileHelperReadWrite, ReadKeepsEveryByte) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7);  // NULs, CR, LF, 0x1A
  bytes += "\r\n\x1A\r";
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"bin"), bytes));
  EXPECT_EQ(FileHelper::ReadFile(dir.FileA("bin")), bytes);
}

TEST(FileHelperReadWrite, ReadOfUnreadableFilesIsEmpty) {
  TempDir dir;
  EXPECT_EQ(FileHelper::ReadFile(dir.FileA("missing")), "");
  EXPECT_EQ(FileHelper::ReadFile(dir.FileA("")), "");
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"empty"), ""));
  EXPECT_EQ(FileHelper::ReadFile(dir.FileA("empty")), "");
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"locked"), "abc"));
  test_support::LockedFile lock(dir.File(L"locked"));
  ASSERT_TRUE(lock.locked());
  EXPECT_EQ(FileHelper::ReadFile(dir.FileA("locked")), "");
}

TEST(FileHelperReadWrite, ReadsAFileAnotherHandleHasOpenForWriting) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"open"), "abc"));
  HANDLE other = CreateFileW(dir.File(L"open").c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileHelper::ReadFile(dir.FileA("open")), "abc");
  CloseHandle(other);
}

TEST(FileHelperVersion, OwnProgramFileGivesItsFourFields) {
  test_support::StdoutCapture out;
  const std::wstring path = OwnPath();
  EXPECT_EQ(FileHelper::GetVersion(path.c_str()), L"2.7.18281.65535");
  const std::string log = out.Text();
  EXPECT_NE(log.find("[info "), std::string::npos) << log;
  EXPECT_NE(log.find("2.7.18281.65535\n"), std::string::npos) << log;
}

TEST(FileHelperVersion, FileWithoutVersionGivesEmptyAndStillLogs) {
  TempDir dir;
  ASSERT_TRUE(test_support::WriteBytes(dir.File(L"plain.txt"), "just text"));
  test_support::StdoutCapture out;
  EXPECT_EQ(FileHelper::GetVersion(dir.File(L"plain.txt").c_str()), L"");
  EXPECT_EQ(FileHelper::GetVersion(dir.File(L"missing.dll").c_str()), L"");
  EXPECT_EQ(FileHelper::GetVersion(nullptr), L"");
  const std::string log = out.Text();
  EXPECT_NE(log.find("plain.txt"), std::string::npos) << log;
  EXPECT_NE(log.find("missing.dll"), std::string::npos) << log;
  // Three events, three lines, each ending in the (empty) version.
  size_t lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 3u) << log;
}

TEST(FileHelperVersion, LogLineNamesPathAndVersion) {
  test_support::StdoutCapture out;
  const std::wstring path = OwnPath();
  FileHelper::GetVersion(path.c_str());
  const std::string log = out.Text();
  // "应用程序名称:<path>, 版本号:<version>" in code page 936 bytes.
  const std::string expected = "\xD3\xA6\xD3\xC3\xB3\xCC\xD0\xF2\xC3\xFB\xB3\xC6:" +
                               std::string(path.begin(), path.end()) +
                               ", \xB0\xE6\xB1\xBE\xBA\xC5:2.7.18281.65535\n";
  if (test_support::ExpectedCodePage() == 936) {
    EXPECT_NE(log.find(expected), std::string::npos) << log;
  } else {
    // Under other code pages the Chinese words become default characters.
    EXPECT_NE(log.find(":" + std::string(path.begin(), path.end()) + ", "), std::string::npos)
        << log;
    EXPECT_NE(log.find(":2.7.18281.65535\n"), std::string::npos) << log;
  }
}

}  // namespace
