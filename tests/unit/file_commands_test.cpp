#include "sys/file_commands.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/ansi_text.h"
#include "sys/file_helper.h"
#include "sys/md5.h"
#include "unit/child_process.h"
#include "unit/registry_fixture.h"
#include "unit/test_support.h"

namespace {

using test_support::PathExists;
using test_support::ReadBytes;
using test_support::WriteBytes;

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The entries of PendingFileRenameOperations, as Windows records them.
std::vector<std::wstring> PendingRenames() {
  std::vector<std::wstring> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return entries;
  }
  DWORD size = 0;
  DWORD type = 0;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      size) {
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
      const size_t count = size / sizeof(wchar_t);
      for (size_t i = 0; i < count;) {
        std::wstring entry(data.data() + i);
        i += entry.size() + 1;
        entries.push_back(entry);
      }
    }
  }
  RegCloseKey(key);
  return entries;
}

// Whether the pending operations delete path at the next restart (a source entry
// followed by an empty target).
bool DeletionRegistered(const std::wstring& path) {
  const std::vector<std::wstring> entries = PendingRenames();
  const std::wstring source = L"\\??\\" + path;
  for (size_t i = 0; i + 1 < entries.size(); ++i) {
    if (_wcsicmp(entries[i].c_str(), source.c_str()) == 0 && entries[i + 1].empty()) return true;
  }
  return false;
}

// Puts back the pending operations as they were, so the prefix's next restart does
// not act on the test's files.
class PendingRenamesRestorer {
 public:
  PendingRenamesRestorer() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
        ERROR_SUCCESS) {
      saved_.resize(size);
      existed_ = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                  saved_.data(), &size) == ERROR_SUCCESS;
      saved_.resize(size);
    }
    RegCloseKey(key);
  }
  ~PendingRenamesRestorer() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
      return;
    }
    if (existed_) {
      RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, saved_.data(),
                     static_cast<DWORD>(saved_.size()));
    } else {
      RegDeleteValueW(key, L"PendingFileRenameOperations");
    }
    RegCloseKey(key);
  }
  PendingRenamesRestorer(const PendingRenamesRestorer&) = delete;
  PendingRenamesRestorer& operator=(const PendingRenamesRestorer&) = delete;

 private:
  std::vector<BYTE> saved_;
  bool existed_ = false;
};

class FileCommandsTest : public ::testing::Test {
 protected:
  // A file named name in the test folder holding its own name.
  std::wstring MakeFile(const std::wstring& name) {
    const std::wstring path = folder.File(name);
    EXPECT_TRUE(WriteBytes(path, std::string(name.begin(), name.end())));
    return path;
  }
  // A copy of the probe library in the test folder, loaded by another process.
  std::wstring LibraryInUse(const std::wstring& name) {
    const std::wstring path = folder.File(name);
    EXPECT_TRUE(CopyFileW((TestProgramFolder() + L"\\probe_library.dll").c_str(), path.c_str(),
                          FALSE));
    return path;
  }

  test_support::TempDir folder;
  PendingRenamesRestorer restorer;
};

// ---- fileExists ----------------------------------------------------------------

TEST_F(FileCommandsTest, ExistsForFilesAndDirectories) {
  EXPECT_TRUE(FileCommands::Exists(folder.FileA("")));
  EXPECT_TRUE(FileCommands::Exists(AnsiText(folder.path()).c_str()));
  EXPECT_TRUE(FileCommands::Exists(AnsiText(MakeFile(L"a.txt")).c_str()));
  EXPECT_FALSE(FileCommands::Exists(folder.FileA("missing.txt")));
}

TEST_F(FileCommandsTest, ExistsTakesTheAnsiFormOfUtf8Paths) {
  // A name in the code page of this run, given as UTF-8 the way the page sends it.
  const bool chinese = GetACP() == 936;
  const std::wstring name = chinese ? L"\x4E2D\x6587.txt" : L"caf\xE9.txt";
  const std::string utf8 = chinese ? "\xE4\xB8\xAD\xE6\x96\x87.txt" : "caf\xC3\xA9.txt";
  MakeFile(name);
  EXPECT_TRUE(FileCommands::Exists(AnsiText(folder.FileA("") + utf8).c_str()));
  // Hangul is outside both code pages: the narrow path cannot name it.
  MakeFile(L"\xD55C.txt");
  EXPECT_FALSE(FileCommands::Exists(AnsiText(folder.FileA("") + "\xED\x95\x9C.txt").c_str()));
}

TEST_F(FileCommandsTest, BadPathsDoNotExist) {
  EXPECT_FALSE(FileCommands::Exists(""));
  EXPECT_FALSE(FileCommands::Exists(std::string(32000, 'a')));
  EXPECT_FALSE(FileCommands::Exists(AnsiText("\xFF\xFE\xC3").c_str()));
  EXPECT_FALSE(FileCommands::Exists("C:\\no\\such\\<|>*?\\path"));
  EXPECT_FALSE(FileCommands::Exists("\\\\?\\"));
}

// ---- removeFile ----------------------------------------------------------------

TEST_F(FileCommandsTest, RemoveDeletesAFileNotInUse) {
  const std::wstring path = MakeFile(L"plain.txt");
  EXPECT_TRUE(FileCommands::Remove(path));
  EXPECT_FALSE(PathExists(path));
  EXPECT_FALSE(PathExists(FileCommands::BackupPath(path)));
  EXPECT_FALSE(DeletionRegistered(FileCommands::BackupPath(path)));
}

TEST_F(FileCommandsTest, RemoveMovesALoadedLibraryAsideForDeletionAtRestart) {
  const std::wstring path = LibraryInUse(L"inuse.dll");
  ChildProcess holder(L"load-dll", path);
  ASSERT_TRUE(holder.ready()) << holder.why();
  ASSERT_FALSE(DeleteFileW(path.c_str())) << "the library must be undeletable while loaded";
  EXPECT_TRUE(FileCommands::Remove(path));
  EXPECT_FALSE(PathExists(path));
  EXPECT_TRUE(PathExists(path + L".bak"));
  EXPECT_TRUE(DeletionRegistered(path + L".bak"));

  // While the backup path is taken, the next file there cannot be moved aside.
  LibraryInUse(L"inuse.dll");
  ChildProcess second(L"load-dll", path);
  ASSERT_TRUE(second.ready()) << second.why();
  EXPECT_FALSE(FileCommands::Remove(path));
  EXPECT_TRUE(PathExists(path));
}

TEST_F(FileCommandsTest, RemoveMovesADirectoryAside) {
  const std::wstring dir = folder.File(L"dir");
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  EXPECT_TRUE(FileCommands::Remove(dir));
  EXPECT_FALSE(PathExists(dir));
  EXPECT_TRUE(PathExists(dir + L".bak"));
  EXPECT_TRUE(DeletionRegistered(dir + L".bak"));
}

TEST_F(FileCommandsTest, RemoveFailsOnAMissingOrExclusivelyOpenFile) {
  EXPECT_FALSE(FileCommands::Remove(folder.File(L"missing.txt")));
  EXPECT_FALSE(PathExists(folder.File(L"missing.txt.bak")));

  // Open without delete sharing: neither deleting nor renaming is allowed.
  const std::wstring path = MakeFile(L"open.txt");
  ChildProcess holder(L"open", path);
  ASSERT_TRUE(holder.ready()) << holder.why();
  EXPECT_FALSE(FileCommands::Remove(path));
  EXPECT_EQ(ReadBytes(path), "open.txt");
  EXPECT_FALSE(PathExists(path + L".bak"));
}

TEST_F(FileCommandsTest, RemoveRejectsBadPaths) {
  // Device names and bad paths are resolved against the test folder.
  SetCurrentDirectoryW(folder.path().c_str());
  for (const std::wstring& path :
       {std::wstring(), std::wstring(32000, L'a'), std::wstring(L"CON"), std::wstring(L"NUL"),
        std::wstring(L"\\\\?\\"), std::wstring(L"\\\\?\\C:\\no\\such"), std::wstring(L"a<>|*?")}) {
    EXPECT_FALSE(FileCommands::Remove(path)) << path.substr(0, 20).c_str();
  }
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  SetCurrentDirectoryW(temp);
  // "CON.bak" names the console device too, so look for real entries instead.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder.path() + L"\\*.bak").c_str(), &data);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "nothing was moved aside";
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// ---- replaceFile ---------------------------------------------------------------

TEST_F(FileCommandsTest, ReplaceMovesTheNewFileOverTheTarget) {
  const std::wstring source = MakeFile(L"source.txt");
  const std::wstring target = MakeFile(L"target.txt");
  EXPECT_TRUE(FileCommands::Replace(source, target));
  EXPECT_EQ(ReadBytes(target), "source.txt");
  EXPECT_FALSE(PathExists(source));
  EXPECT_FALSE(PathExists(target + L".bak"));
  // A file put in its own place stays as it is.
  EXPECT_TRUE(FileCommands::Replace(target, target));
  EXPECT_EQ(ReadBytes(target), "source.txt");
}

// The target is never touched before its replacement is known to be there, and the
// command replaces, it does not create.
TEST_F(FileCommandsTest, ReplaceWithoutAUsableNewFileOrTargetChangesNothing) {
  const std::wstring target = MakeFile(L"app.exe");
  EXPECT_FALSE(FileCommands::Replace(folder.File(L"missing.exe"), target));
  EXPECT_EQ(ReadBytes(target), "app.exe");

  const std::wstring dir = folder.File(L"dir");
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  EXPECT_FALSE(FileCommands::Replace(dir, target));
  EXPECT_EQ(ReadBytes(target), "app.exe");
  // Nor is a folder a target: it stays where it is, with what it holds.
  const std::wstring held = MakeFile(L"dir\\held.txt");
  EXPECT_FALSE(FileCommands::Replace(target, dir));
  EXPECT_EQ(ReadBytes(held), "dir\\held.txt");
  EXPECT_EQ(ReadBytes(target), "app.exe");
  EXPECT_FALSE(PathExists(dir + L".bak"));

  const std::wstring locked = MakeFile(L"locked.exe");
  {
    test_support::LockedFile held(locked);
    ASSERT_TRUE(held.locked());
    EXPECT_FALSE(FileCommands::Replace(locked, target));
  }
  EXPECT_EQ(ReadBytes(target), "app.exe");
  EXPECT_EQ(ReadBytes(locked), "locked.exe");

  const std::wstring source = MakeFile(L"source.txt");
  EXPECT_FALSE(FileCommands::Replace(source, folder.File(L"missing.txt")));
  EXPECT_EQ(ReadBytes(source), "source.txt");
  EXPECT_FALSE(PathExists(folder.File(L"missing.txt")));
  EXPECT_FALSE(PathExists(target + L".bak"));
  EXPECT_FALSE(DeletionRegistered(target + L".bak"));
}

TEST_F(FileCommandsTest, ReplaceMovesATargetInUseAside) {
  const std::wstring target = LibraryInUse(L"engine.dll");
  ChildProcess holder(L"load-dll", target);
  ASSERT_TRUE(holder.ready()) << holder.why();
  const std::wstring source = MakeFile(L"engine.new");
  EXPECT_TRUE(FileCommands::Replace(source, target));
  EXPECT_EQ(ReadBytes(target), "engine.new");
  EXPECT_FALSE(PathExists(source));
  EXPECT_TRUE(PathExists(target + L".bak"));
  EXPECT_TRUE(DeletionRegistered(target + L".bak"));

  // Again before a restart, with the file at the target in use again: the earlier
  // backup is never overwritten, so nothing moves.
  holder.Kill();
  const std::string earlierBackup = ReadBytes(target + L".bak");
  ASSERT_TRUE(DeleteFileW(target.c_str()));
  LibraryInUse(L"engine.dll");
  const std::string inUse = ReadBytes(target);
  ChildProcess again(L"load-dll", target);
  ASSERT_TRUE(again.ready()) << again.why();
  const std::wstring newer = MakeFile(L"engine.newer");
  EXPECT_FALSE(FileCommands::Replace(newer, target));
  EXPECT_EQ(ReadBytes(newer), "engine.newer");
  EXPECT_EQ(ReadBytes(target), inUse);
  EXPECT_EQ(ReadBytes(target + L".bak"), earlierBackup);
  EXPECT_TRUE(DeletionRegistered(target + L".bak"));
}

// A target in use goes aside; when the new file then cannot take its place, the
// target comes back, and its deletion at restart is recorded only after a replacement
// that succeeded.
TEST_F(FileCommandsTest, ReplaceBringsTheTargetBackWhenTheNewFileCannotFollow) {
  const std::wstring target = LibraryInUse(L"app.dll");
  const std::string original = ReadBytes(target);
  ChildProcess running(L"load-dll", target);
  ASSERT_TRUE(running.ready()) << running.why();
  const std::wstring source = MakeFile(L"app.new");
  {
    // Readable, but held open without delete sharing: it cannot be moved.
    ChildProcess scanner(L"open", source);
    ASSERT_TRUE(scanner.ready()) << scanner.why();
    EXPECT_FALSE(FileCommands::Replace(source, target));
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(ReadBytes(source), "app.new");
    EXPECT_FALSE(PathExists(target + L".bak"));
    EXPECT_FALSE(DeletionRegistered(target + L".bak"));
  }
  EXPECT_TRUE(FileCommands::Replace(source, target));
  EXPECT_EQ(ReadBytes(target), "app.new");
  EXPECT_EQ(ReadBytes(target + L".bak"), original);
  EXPECT_TRUE(DeletionRegistered(target + L".bak"));
}

// ---- moveFile ------------------------------------------------------------------

TEST_F(FileCommandsTest, MoveRenamesButNeverOverwrites) {
  const std::wstring from = MakeFile(L"from.txt");
  const std::wstring to = folder.File(L"to.txt");
  EXPECT_TRUE(FileCommands::Move(from, to));
  EXPECT_EQ(ReadBytes(to), "from.txt");
  EXPECT_FALSE(PathExists(from));

  const std::wstring other = MakeFile(L"other.txt");
  EXPECT_FALSE(FileCommands::Move(other, to));
  EXPECT_EQ(ReadBytes(to), "from.txt");
  EXPECT_TRUE(PathExists(other));
  EXPECT_FALSE(FileCommands::Move(folder.File(L"missing.txt"), folder.File(L"x.txt")));
  EXPECT_FALSE(FileCommands::Move(L"", L""));
  EXPECT_FALSE(FileCommands::Move(std::wstring(32000, L'a'), to));
}

// A folder on another file system than the temporary folder that any user can write
// (under Wine drive Z: is the machine's root, and /dev/shm a memory file system):
// moves there are copies. Empty when there is none.
class OtherVolume {
 public:
  OtherVolume() {
    const std::wstring candidate =
        L"Z:\\dev\\shm\\brindlex-unit-" + std::to_wstring(GetCurrentProcessId());
    if (!CreateDirectoryW(candidate.c_str(), nullptr)) return;
    path_ = candidate;
  }
  ~OtherVolume() {
    if (!path_.empty()) test_support::RemoveTree(path_);
  }
  OtherVolume(const OtherVolume&) = delete;
  OtherVolume& operator=(const OtherVolume&) = delete;

  // Whether a plain rename from folder into this one fails for being a copy.
  bool IsOtherThan(const std::wstring& folder) const {
    if (path_.empty()) return false;
    const std::wstring probe = folder + L"\\volume-probe";
    if (!WriteBytes(probe, "x")) return false;
    const bool renamed = MoveFileExW(probe.c_str(), File(L"volume-probe").c_str(), 0) != FALSE;
    const DWORD error = GetLastError();
    DeleteFileW(probe.c_str());
    DeleteFileW(File(L"volume-probe").c_str());
    return !renamed && error == ERROR_NOT_SAME_DEVICE;
  }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Replacing and moving onto another volume copy the file: the copy is whole, the
// source goes, nothing is left beside the target, and a move never overwrites.
TEST_F(FileCommandsTest, ReplaceAndMoveOntoAnotherVolume) {
  OtherVolume volume;
  if (!volume.IsOtherThan(folder.path())) GTEST_SKIP() << "no second file system to write";
  const std::string big(3 << 20, 'b');
  ASSERT_TRUE(WriteBytes(folder.File(L"new.exe"), big));
  ASSERT_TRUE(WriteBytes(volume.File(L"app.exe"), "old program"));
  EXPECT_TRUE(FileCommands::Replace(folder.File(L"new.exe"), volume.File(L"app.exe")));
  EXPECT_TRUE(ReadBytes(volume.File(L"app.exe")) == big);
  EXPECT_FALSE(PathExists(folder.File(L"new.exe")));

  // Held open by a running program: moved aside, as on one volume.
  ASSERT_TRUE(WriteBytes(folder.File(L"newer.exe"), "newer program"));
  {
    HANDLE running = CreateFileW(volume.File(L"app.exe").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FileCommands::Replace(folder.File(L"newer.exe"), volume.File(L"app.exe")));
    CloseHandle(running);
  }
  EXPECT_EQ(ReadBytes(volume.File(L"app.exe")), "newer program");

  ASSERT_TRUE(WriteBytes(folder.File(L"moved.bin"), big));
  EXPECT_TRUE(FileCommands::Move(folder.File(L"moved.bin"), volume.File(L"moved.bin")));
  EXPECT_TRUE(ReadBytes(volume.File(L"moved.bin")) == big);
  EXPECT_FALSE(PathExists(folder.File(L"moved.bin")));
  ASSERT_TRUE(WriteBytes(folder.File(L"other.bin"), "other"));
  EXPECT_FALSE(FileCommands::Move(folder.File(L"other.bin"), volume.File(L"moved.bin")));
  EXPECT_TRUE(ReadBytes(volume.File(L"moved.bin")) == big);
  EXPECT_EQ(ReadBytes(folder.File(L"other.bin")), "other");

  // Nothing but the targets (and a replaced program moved aside) on the other volume.
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(volume.File(L"*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  EXPECT_TRUE(names == std::vector<std::wstring>({L"app.exe", L"moved.bin"}) ||
              names == std::vector<std::wstring>({L"app.exe", L"app.exe.bak", L"moved.bin"}))
      << names.size() << " files";
}

TEST_F(FileCommandsTest, MoveTakesALoadedLibraryOutOfTheWay) {
  const std::wstring path = LibraryInUse(L"loaded.dll");
  ChildProcess holder(L"load-dll", path);
  ASSERT_TRUE(holder.ready()) << holder.why();
  EXPECT_TRUE(FileCommands::Move(path, folder.File(L"loaded.old")));
  EXPECT_FALSE(PathExists(path));
}

// ---- getFullPath ---------------------------------------------------------------

TEST_F(FileCommandsTest, ExpandPathReplacesVariableReferences) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(FileCommands::ExpandPath(L"%windir%\\system32"), std::wstring(windows) + L"\\system32");
  EXPECT_EQ(FileCommands::ExpandPath(L"%BRINDLEX_NOT_DEFINED%\\x"), L"%BRINDLEX_NOT_DEFINED%\\x");
  EXPECT_EQ(FileCommands::ExpandPath(L"relative\\path.txt"), L"relative\\path.txt");
  EXPECT_EQ(FileCommands::ExpandPath(L""), L"");
}

TEST_F(FileCommandsTest, ExpandPathReturnsExpansionsLongerThanAPath) {
  const std::wstring value(300, L'v');
  ASSERT_TRUE(SetEnvironmentVariableW(L"BRINDLEX_LONG", value.c_str()));
  EXPECT_EQ(FileCommands::ExpandPath(L"%BRINDLEX_LONG%\\tail"), value + L"\\tail");
  const std::wstring input(32000, L'p');
  EXPECT_EQ(FileCommands::ExpandPath(input), input);
  // Beyond the platform's limit the whole expansion cannot be had: nothing, never a cut path.
  EXPECT_EQ(FileCommands::ExpandPath(std::wstring(32768, L'p')), L"");
  EXPECT_EQ(FileCommands::ExpandPath(L"%BRINDLEX_LONG%" + std::wstring(32600, L'p')), L"");
  SetEnvironmentVariableW(L"BRINDLEX_LONG", nullptr);
}

// ---- the real system folder on 64-bit Windows --------------------------------------

// <Windows folder>\system32\<name><process id>.txt
std::wstring SystemFolderFile(const std::wstring& name) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\system32\\" + name + std::to_wstring(GetCurrentProcessId()) +
         L".txt";
}

// A file that exists only in the real system folder (not in the folder of 32-bit
// system files that a 32-bit process sees under the same name).
class RealSystemFolderFile {
 public:
  explicit RealSystemFolderFile(const std::wstring& name) : path_(SystemFolderFile(name)) {
    PVOID state = nullptr;
    Wow64DisableWow64FsRedirection(&state);
    created_ = WriteBytes(path_, "real");
    Wow64RevertWow64FsRedirection(state);
  }
  ~RealSystemFolderFile() {
    PVOID state = nullptr;
    Wow64DisableWow64FsRedirection(&state);
    DeleteFileW(path_.c_str());
    DeleteFileW((path_ + L".moved").c_str());
    Wow64RevertWow64FsRedirection(state);
  }
  RealSystemFolderFile(const RealSystemFolderFile&) = delete;
  RealSystemFolderFile& operator=(const RealSystemFolderFile&) = delete;

  bool created() const { return created_; }
  const std::wstring& path() const { return path_; }
  bool ExistsInRealFolder(const std::wstring& path) const {
    PVOID state = nullptr;
    Wow64DisableWow64FsRedirection(&state);
    const bool exists = PathExists(path);
    Wow64RevertWow64FsRedirection(state);
    return exists;
  }

 private:
  std::wstring path_;
  bool created_ = false;
};

TEST(FileCommandsSystemFolder, ExistsMoveAndRemoveReachTheRealSystemFolder) {
  if (!test_registry::HasTwoViews()) GTEST_SKIP() << "32-bit Windows has one system folder";
  if (!test_registry::RunsUnderWow64()) GTEST_SKIP() << "a 64-bit process sees no redirection";
  RealSystemFolderFile file(L"brindlex-test-");
  ASSERT_TRUE(file.created());
  ASSERT_FALSE(PathExists(file.path())) << "the 32-bit view must not see the file";

  EXPECT_TRUE(FileCommands::Exists(AnsiText(file.path()).c_str()));
  EXPECT_FALSE(PathExists(file.path())) << "redirection is back on afterwards";

  // replaceFile leaves the redirection on, so it does not find the target.
  test_support::TempDir folder;
  const std::wstring source = folder.File(L"source.txt");
  ASSERT_TRUE(WriteBytes(source, "new"));
  EXPECT_FALSE(FileCommands::Replace(source, file.path()));
  EXPECT_TRUE(PathExists(source));
  // Nor does the digest: it is taken of no bytes.
  EXPECT_EQ(FileHelper::GetFileMd5(AnsiText(file.path()).c_str()), GetStringMd5(""));

  const std::wstring moved = file.path() + L".moved";
  EXPECT_TRUE(FileCommands::Move(file.path(), moved));
  EXPECT_TRUE(file.ExistsInRealFolder(moved));
  EXPECT_FALSE(file.ExistsInRealFolder(file.path()));
  EXPECT_TRUE(FileCommands::Remove(moved));
  EXPECT_FALSE(file.ExistsInRealFolder(moved));
}

TEST(FileCommandsSystemFolder, FileOnlyInTheFolderOf32BitFilesIsNotSeen) {
  if (!test_registry::HasTwoViews()) GTEST_SKIP() << "32-bit Windows has one system folder";
  if (!test_registry::RunsUnderWow64()) GTEST_SKIP() << "a 64-bit process sees no redirection";
  const std::wstring path = SystemFolderFile(L"brindlex-test32-");
  // Written with redirection on: it lands in the folder of 32-bit system files.
  ASSERT_TRUE(WriteBytes(path, "wow"));
  EXPECT_FALSE(FileCommands::Exists(AnsiText(path).c_str()));
  EXPECT_FALSE(FileCommands::Remove(path));
  EXPECT_TRUE(PathExists(path));
  DeleteFileW(path.c_str());
}

TEST(FileCommandsSystemFolder, OneSystemFolderOn32BitWindows) {
  if (test_registry::HasTwoViews()) GTEST_SKIP() << "64-bit Windows has two system folders";
  const std::wstring path = SystemFolderFile(L"brindlex-test-");
  ASSERT_TRUE(WriteBytes(path, "one"));
  EXPECT_TRUE(FileCommands::Exists(AnsiText(path).c_str()));
  EXPECT_TRUE(FileCommands::Move(path, path + L".moved"));
  EXPECT_TRUE(FileCommands::Remove(path + L".moved"));
  EXPECT_FALSE(PathExists(path + L".moved"));
}

}  // namespace
