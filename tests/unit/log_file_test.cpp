#include <gtest/gtest.h>

#include <string>

#include "app/log_file.h"
#include "test_support.h"

namespace {

using test_support::PathExists;
using test_support::ReadBytes;
using test_support::TempDir;
using test_support::WriteBytes;

// What standard output in the C runtime's text mode makes of text: "\n" as "\r\n".
std::string TextMode(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

TEST(LogFile, RotatesBetweenLinesPastTheLimitKeepingThreeOldFilesAndStaysShared) {
  TempDir dir;
  const auto path = [&](int generation) { return LogFile::PathOf(dir.path(), generation); };
  ASSERT_TRUE(WriteBytes(path(1), "one"));
  ASSERT_TRUE(WriteBytes(path(2), "two"));
  ASSERT_TRUE(WriteBytes(path(3), "three"));
  // A start line that would pass the limit begins a new file itself.
  ASSERT_TRUE(WriteBytes(path(0), std::string(kLogFileLimit - 4, 'a')));
  LogFile file;
  ASSERT_TRUE(file.Open(dir.path(), "==== start"));
  EXPECT_EQ(ReadBytes(path(0)), "==== start\r\n");
  EXPECT_EQ(ReadBytes(path(3)), "two");

  // Others may read and delete the file meanwhile, but not write to it.
  HANDLE reader = CreateFileW(path(0).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_EQ(CreateFileW(path(0).c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);

  // Lines of 100 bytes, an echo's "\r\n" among them, until one passes the limit.
  std::string written = "==== start\r\n";
  std::string line = "[info 01:02:03]a.cpp:2 f {\r\n    return true;\r\n}\n";
  while (written.size() <= kLogFileLimit) {
    file.Append(line.data(), line.size());
    written += TextMode(line);
    line = "[info 01:02:03]a.cpp:1 f " + std::to_string(written.size());
    line.resize(99, 'x');
    line += "\n";
  }
  file.Append(line.data(), line.size());
  EXPECT_EQ(ReadBytes(path(1)), written);
  EXPECT_EQ(ReadBytes(path(0)), TextMode(line));
  EXPECT_EQ(ReadBytes(path(2)), std::string(kLogFileLimit - 4, 'a'));
  EXPECT_EQ(ReadBytes(path(3)), "one");
  EXPECT_FALSE(PathExists(path(4)));
  EXPECT_TRUE(DeleteFileW(path(0).c_str())) << GetLastError();
}

// An old log someone holds open without letting it be moved (a viewer) cannot rotate:
// the log goes on in the same file and rotates on a later line once it is let go.
TEST(LogFile, LogHeldOpenGrowsPastTheLimitAndRotatesOnceLetGo) {
  TempDir dir;
  const auto path = [&](int generation) { return LogFile::PathOf(dir.path(), generation); };
  LogFile file;
  ASSERT_TRUE(file.Open(dir.path(), "==== start"));
  HANDLE viewer = CreateFileW(path(0).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  std::string written = "==== start\r\n";
  const std::string line = std::string(99, 'x') + "\n";
  while (written.size() < kLogFileLimit + kLogFileLimit / 32) {
    file.Append(line.data(), line.size());
    written += TextMode(line);
  }
  CloseHandle(viewer);
  EXPECT_FALSE(PathExists(path(1)));
  EXPECT_EQ(ReadBytes(path(0)), written) << "a line went missing while the log was held";

  while (!PathExists(path(1)) && written.size() < 2 * kLogFileLimit) {
    file.Append(line.data(), line.size());
    written += TextMode(line);
  }
  EXPECT_EQ(ReadBytes(path(1)), written);
  EXPECT_LE(written.size(), kLogFileLimit + kLogFileLimit / 8) << "rotated late";
  file.Append(line.data(), line.size());
  EXPECT_EQ(ReadBytes(path(0)), TextMode(line));
}

// The folder is held while the log is open: nobody can rename it or put a link in its
// place, so rotations and new files stay inside it. Once closed it is free again.
TEST(LogFile, FolderCannotBeSwappedWhileTheLogIsOpen) {
  TempDir dir;
  const std::wstring folder = dir.File(L"logs");
  const std::wstring moved = dir.File(L"logs-moved");
  {
    LogFile file;
    ASSERT_TRUE(file.Open(folder, "==== start"));
    EXPECT_FALSE(MoveFileW(folder.c_str(), moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::string line = std::string(99, 'y') + "\n";
    for (unsigned long long size = 0; size <= kLogFileLimit + kLogFileLimit / 8; size += 101) {
      file.Append(line.data(), line.size());
    }
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadBytes(LogFile::PathOf(folder, 1)).compare(0, 12, "==== start\r\n"), 0);
  }
  EXPECT_TRUE(MoveFileW(folder.c_str(), moved.c_str())) << GetLastError();
}

}  // namespace
