#include "sys/file_commands.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "app/ansi_text.h"
#include "app/helper.h"
#include "app/log.h"
#include "app/unique_handle.h"

namespace {

// Characters, terminator included, that environment expansion can produce.
constexpr DWORD kExpandLimit = 32767;

// Switches the calling thread's WOW64 file-system redirection off for the life of the
// object, on 64-bit Windows only. The entry points are looked up at run time because
// 32-bit Windows XP's kernel32 lacks them.
class RedirectionOff {
 public:
  RedirectionOff() {
    if (Helper::GetSystemBits() != 64) return;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    auto disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(
        GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
    revert_ = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(
        GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
    if (!disable || !revert_) {
      revert_ = nullptr;
      return;
    }
    disable(&state_);
  }
  ~RedirectionOff() {
    if (!revert_) return;
    // The caller's log line reports the last error of the file call, not of this one.
    const DWORD error = GetLastError();
    revert_(state_);
    SetLastError(error);
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  BOOL(WINAPI* revert_)(PVOID) = nullptr;
  PVOID state_ = nullptr;
};

// Moves path to its backup path and registers the backup for deletion at restart.
bool MoveAside(const std::wstring& path) {
  const std::wstring backup = FileCommands::BackupPath(path);
  if (!MoveFileW(path.c_str(), backup.c_str())) return false;
  const DWORD error = GetLastError();
  MoveFileExW(backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  SetLastError(error);
  return true;
}

// Whether path names a file (not a folder) this process can open for reading.
bool IsReadableFile(const std::wstring& path) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.get() != INVALID_HANDLE_VALUE;
}

// Puts target aside to its backup path, source in its place, and only then registers
// the backup for deletion at restart. When source cannot follow, the target comes
// back. A backup path that is taken (an earlier replacement's file, waiting for the
// restart) is never overwritten: nothing moves then.
bool ReplaceThroughBackup(const std::wstring& source, const std::wstring& target) {
  const std::wstring backup = FileCommands::BackupPath(target);
  if (!MoveFileExW(target.c_str(), backup.c_str(), 0)) return false;
  if (MoveFileExW(source.c_str(), target.c_str(), 0)) {
    MoveFileExW(backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    SetLastError(0);
    return true;
  }
  const DWORD error = GetLastError();
  if (!MoveFileExW(backup.c_str(), target.c_str(), 0)) {
    LOG_ERROR("%s could not be moved back from %s", AnsiText(target).c_str(),
              AnsiText(backup).c_str());
  }
  SetLastError(error);
  return false;
}

// Moves source over an existing target on the same volume: in one step when the
// target is free, through its backup path when it is in use (a running program).
bool PutInPlace(const std::wstring& source, const std::wstring& target) {
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  if (GetLastError() == ERROR_NOT_SAME_DEVICE) return false;
  return ReplaceThroughBackup(source, target);
}

// A replacement on another volume is copied into the target's folder first: copying
// straight over the target would leave it cut short when the copy fails (a full disk).
bool ReplaceFromOtherVolume(const std::wstring& source, const std::wstring& target) {
  const std::wstring folder = target.substr(0, target.find_last_of(L"\\/") + 1);
  wchar_t copy[MAX_PATH] = {};
  if (!GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"brx", 0, copy)) return false;
  if (!CopyFileW(source.c_str(), copy, FALSE) || !PutInPlace(copy, target)) {
    const DWORD error = GetLastError();
    DeleteFileW(copy);
    SetLastError(error);
    return false;
  }
  if (!DeleteFileW(source.c_str())) {
    LOG_WARNING("%s replaced, but its replacement %s could not be removed",
                AnsiText(target).c_str(), AnsiText(source).c_str());
  }
  return true;
}

}  // namespace

namespace FileCommands {

std::wstring BackupPath(const std::wstring& path) { return path + L".bak"; }

bool Exists(const std::string& ansiPath) {
  RedirectionOff redirectionOff;
  return PathFileExistsA(ansiPath.c_str()) != FALSE;
}

bool Replace(const std::wstring& oldPath, const std::wstring& newPath) {
  // Nothing at the target is touched before the replacement is known to exist, and
  // the target is replaced, never created.
  if (!IsReadableFile(oldPath)) return false;
  const DWORD target = GetFileAttributesW(newPath.c_str());
  if (target == INVALID_FILE_ATTRIBUTES) return false;
  // A folder is no file to replace: it would go aside to ".bak" with all it holds.
  if (target & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  if (PutInPlace(oldPath, newPath)) return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
  return ReplaceFromOtherVolume(oldPath, newPath);
}

bool Move(const std::wstring& oldPath, const std::wstring& newPath) {
  RedirectionOff redirectionOff;
  const bool newExisted = GetFileAttributesW(newPath.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (MoveFileW(oldPath.c_str(), newPath.c_str())) return true;
  // A move to another volume is a copy; one that failed half way (a full disk) must
  // not leave a cut copy under the new name while the file itself is still here.
  const DWORD error = GetLastError();
  if (!newExisted && GetFileAttributesW(newPath.c_str()) != INVALID_FILE_ATTRIBUTES &&
      GetFileAttributesW(oldPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    DeleteFileW(newPath.c_str());
  }
  SetLastError(error);
  return false;
}

bool Remove(const std::wstring& path) {
  RedirectionOff redirectionOff;
  if (DeleteFileW(path.c_str())) return true;
  return MoveAside(path);
}

std::wstring ExpandPath(const std::wstring& text) {
  // The call tells the size it needs when the buffer is too small; the environment
  // may change between two calls, so ask a few times.
  std::vector<wchar_t> buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(),
                                                   static_cast<DWORD>(buffer.size()));
    // The platform cannot expand to more than its limit; a result that reaches it
    // may be cut, and a cut path names the wrong file.
    if (needed == 0 || needed >= kExpandLimit) return {};
    if (needed <= buffer.size()) return std::wstring(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
    buffer.assign(needed, L'\0');
  }
  return {};
}

}  // namespace FileCommands
