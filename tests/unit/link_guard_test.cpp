#include "app/link_guard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "unit/test_support.h"

namespace {

using test_support::CountLines;
using test_support::PathExists;
using test_support::ReadBytes;
using test_support::WriteBytes;

// Plain entries stay as they are, silently; a hard link goes, and the file it shares
// keeps its bytes. (Links to folders are driven through the real program end to end.)
TEST(LinkGuard, PlainEntriesStayAndAHardLinkGoesWithoutCostingItsOtherName) {
  test_support::TempDir dir;
  const std::wstring link = dir.File(L"node.dll");
  const std::wstring victim = dir.File(L"system.dll");
  ASSERT_TRUE(WriteBytes(victim, "someone else's file"));
  test_support::StdoutCapture quiet;
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(dir.File(L"missing")));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(dir.path()));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(victim));
  {
    test_support::LockedFile held(victim);  // shares nothing, deletion included
    EXPECT_TRUE(LinkGuard::RemoveLinkAt(victim));
  }
  EXPECT_EQ(quiet.Text(), "");
  EXPECT_FALSE(PathExists(dir.File(L"missing")));

  for (const bool narrow : {false, true}) {
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), victim.c_str(), nullptr));
    test_support::StdoutCapture out;
    EXPECT_TRUE(narrow ? LinkGuard::RemoveLinkAt(dir.FileA("node.dll"))
                       : LinkGuard::RemoveLinkAt(link));
    const std::string log = out.Text();
    EXPECT_FALSE(PathExists(link));
    EXPECT_EQ(ReadBytes(victim), "someone else's file");
    EXPECT_EQ(CountLines(log), 2u) << log;
    EXPECT_EQ(log.rfind("[error ", 0), 0u) << log;
    EXPECT_NE(log.find("node.dll has other names"), std::string::npos) << log;
    EXPECT_NE(log.find("node.dll removed"), std::string::npos) << log;
  }

  // Held by someone who shares no deletion, the link cannot go: refused, both stay.
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), victim.c_str(), nullptr));
  HANDLE holder = CreateFileW(victim.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  test_support::StdoutCapture out;
  EXPECT_FALSE(LinkGuard::RemoveLinkAt(link));
  const std::string log = out.Text();
  CloseHandle(holder);
  EXPECT_TRUE(PathExists(link));
  EXPECT_EQ(ReadBytes(victim), "someone else's file");
  EXPECT_NE(log.find("node.dll could not be removed (held by another process)"),
            std::string::npos)
      << log;
}

// The held file's name is compared in its full, long form: a short (8.3) or relative
// name of a plain file was once taken for a link to it.
TEST(LinkGuard, AShortOrRelativeNameOfAPlainFileIsTheFileItself) {
  test_support::TempDir dir;
  const std::wstring name = L"a long file name.json";
  ASSERT_TRUE(WriteBytes(dir.File(name), "{}"));
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(dir.File(name).c_str(), shortPath, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  ASSERT_EQ(std::wstring(shortPath).find(name), std::wstring::npos) << "no short name here";
  wchar_t current[MAX_PATH] = {};
  ASSERT_TRUE(GetCurrentDirectoryW(MAX_PATH, current));
  ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
  const std::wstring folderName = dir.path().substr(dir.path().rfind(L'\\') + 1);
  for (const std::wstring& path : {std::wstring(shortPath), name,
                                   L"..\\" + folderName + L"\\.\\" + name}) {
    LinkGuard::HeldFile held;
    EXPECT_TRUE(held.Open(path, GENERIC_READ, FILE_SHARE_READ, false) ==
                LinkGuard::Held::kOpened)
        << std::string(path.begin(), path.end());
  }
  SetCurrentDirectoryW(current);
}

}  // namespace
