#include "sys/file_commands.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "app/helper.h"

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

}  // namespace

namespace FileCommands {

std::wstring BackupPath(const std::wstring& path) { return path + L".bak"; }

bool Exists(const std::string& ansiPath) {
  RedirectionOff redirectionOff;
  return PathFileExistsA(ansiPath.c_str()) != FALSE;
}

bool Replace(const std::wstring& oldPath, const std::wstring& newPath) {
  if (DeleteFileW(newPath.c_str())) {
    MoveFileW(oldPath.c_str(), newPath.c_str());
    return true;
  }
  if (!MoveAside(newPath)) return false;
  MoveFileW(oldPath.c_str(), newPath.c_str());
  return true;
}

bool Move(const std::wstring& oldPath, const std::wstring& newPath) {
  RedirectionOff redirectionOff;
  return MoveFileW(oldPath.c_str(), newPath.c_str()) != FALSE;
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
