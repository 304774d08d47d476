#include "app/link_guard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "unit/test_support.h"

namespace {

using test_support::CountLines;
using test_support::PathExists;
using test_support::ReadBytes;
using test_support::TempDir;
using test_support::WriteBytes;

DWORD LinkCount(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info = {};
  GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  return info.nNumberOfLinks;
}

TEST(LinkGuard, PlainEntriesAndMissingPathsAreLeftAsTheyAre) {
  TempDir dir;
  const std::wstring file = dir.File(L"node.dll");
  const std::wstring folder = dir.File(L"folder");
  ASSERT_TRUE(WriteBytes(file, "engine"));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  test_support::StdoutCapture out;
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(dir.File(L"missing")));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(dir.File(L"no-folder\\missing")));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(file));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(dir.FileA("node.dll")));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(folder));
  EXPECT_TRUE(LinkGuard::RemoveLinkAt(std::wstring()));
  {
    // A plain file held by a reader that shares no deletion is still plain.
    test_support::LockedFile held(file);
    ASSERT_TRUE(held.locked());
    EXPECT_TRUE(LinkGuard::RemoveLinkAt(file));
  }
  EXPECT_EQ(out.Text(), "");
  EXPECT_EQ(ReadBytes(file), "engine");
  EXPECT_TRUE(PathExists(folder));
  EXPECT_FALSE(PathExists(dir.File(L"missing")));
}

TEST(LinkGuard, HardLinkIsRemovedAndItsOtherNameKeepsItsBytes) {
  TempDir dir;
  const std::wstring victim = dir.File(L"system.dll");
  ASSERT_TRUE(WriteBytes(victim, "someone else's file"));
  for (int narrow = 0; narrow < 2; ++narrow) {
    const std::wstring link = dir.File(L"node.dll");
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), victim.c_str(), nullptr));
    ASSERT_EQ(LinkCount(victim), 2u);
    test_support::StdoutCapture out;
    EXPECT_TRUE(narrow ? LinkGuard::RemoveLinkAt(dir.FileA("node.dll"))
                       : LinkGuard::RemoveLinkAt(link));
    const std::string log = out.Text();
    EXPECT_FALSE(PathExists(link));
    EXPECT_EQ(ReadBytes(victim), "someone else's file");
    EXPECT_EQ(LinkCount(victim), 1u);
    EXPECT_EQ(CountLines(log), 2u) << log;
    EXPECT_EQ(log.rfind("[error ", 0), 0u) << log;
    EXPECT_NE(log.find("node.dll has other names"), std::string::npos) << log;
    EXPECT_NE(log.find("node.dll removed"), std::string::npos) << log;
  }
}

TEST(LinkGuard, LinkThatCannotBeRemovedIsRefused) {
  TempDir dir;
  const std::wstring victim = dir.File(L"system.dll");
  const std::wstring link = dir.File(L"config.data.tmp");
  ASSERT_TRUE(WriteBytes(victim, "someone else's file"));
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), victim.c_str(), nullptr));
  // Its other name is held open by someone who shares reading and writing, not
  // deletion.
  HANDLE holder = CreateFileW(victim.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  test_support::StdoutCapture out;
  EXPECT_FALSE(LinkGuard::RemoveLinkAt(link));
  const std::string log = out.Text();
  CloseHandle(holder);
  EXPECT_TRUE(PathExists(link));
  EXPECT_EQ(ReadBytes(victim), "someone else's file");
  EXPECT_EQ(CountLines(log), 2u) << log;
  EXPECT_NE(log.find("config.data.tmp could not be removed (held by another process)"),
            std::string::npos)
      << log;
}

// Wine shows a Unix link to a folder as a reparse point, but opens what it points to
// even when asked for the link itself: deleting through that handle, or removing the
// folder by name, would remove an empty target. Only the link itself may go.
TEST(LinkGuard, FolderLinkNeverCostsItsTarget) {
  TempDir dir;
  const std::wstring target = dir.File(L"target");
  const std::wstring link = dir.File(L"Brindlex");
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));  // empty: the easiest to lose
  ASSERT_TRUE(test_support::MakeUnixLink(link, target));
  ASSERT_NE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

  test_support::StdoutCapture out;
  const bool removed = LinkGuard::RemoveLinkAt(link);
  const std::string log = out.Text();
  EXPECT_TRUE(PathExists(target)) << log;
  EXPECT_NE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(log.find("Brindlex is a link to elsewhere"), std::string::npos) << log;
  // Where the link itself can be opened it is removed; Wine cannot, so it stays and
  // nothing is written through it.
  EXPECT_EQ(removed, !PathExists(link)) << log;
  EXPECT_NE(log.find(removed ? "Brindlex removed" : "Brindlex could not be removed"),
            std::string::npos)
      << log;
  EXPECT_TRUE(test_support::RemoveUnixLink(link));
  EXPECT_TRUE(PathExists(target));
}

}  // namespace
