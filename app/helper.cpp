#include "app/helper.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <wtsapi32.h>

#include <string>

#include "app/ansi_text.h"
#include "app/cache_security.h"
#include "app/link_guard.h"
#include "app/log.h"

namespace {

constexpr int kPathBufferChars = 1024;

class TokenHandle {
 public:
  TokenHandle() = default;
  ~TokenHandle() {
    if (handle_) CloseHandle(handle_);
  }
  TokenHandle(const TokenHandle&) = delete;
  TokenHandle& operator=(const TokenHandle&) = delete;
  HANDLE* out() { return &handle_; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// The narrow (ANSI) and wide flavours of the calls the cache path needs.
struct NarrowCalls {
  using Char = char;
  static HRESULT GetFolder(HANDLE token, char* buffer) {
    return SHGetFolderPathA(nullptr, CSIDL_APPDATA, token, 0, buffer);
  }
  static BOOL Append(char* buffer) { return PathAppendA(buffer, "Brindlex"); }
  static std::wstring Wide(const char* path) { return AnsiToWide(path); }
};

struct WideCalls {
  using Char = wchar_t;
  static HRESULT GetFolder(HANDLE token, wchar_t* buffer) {
    return SHGetFolderPathW(nullptr, CSIDL_APPDATA, token, 0, buffer);
  }
  static BOOL Append(wchar_t* buffer) { return PathAppendW(buffer, L"Brindlex"); }
  static std::wstring Wide(const wchar_t* path) { return path; }
};

// The cache folder as it must be before anything is written there: a folder of its
// own rather than a link to somewhere else, created when missing with access for
// SYSTEM, the Administrators and its user only, and limited to them when it lets
// other users write. userToken is the token the folder was looked up with (null:
// the process's own user).
bool PrepareFolder(const std::wstring& folder, HANDLE userToken) {
  if (!LinkGuard::RemoveLinkAt(folder)) return false;
  if (!PathIsDirectoryW(folder.c_str())) {
    const CacheSecurity::TokenUser user(userToken);
    CacheSecurity::FolderDescriptor security(user.sid());
    if (!security.attributes()) {
      LOG_WARNING("access list for the new cache folder not built; it takes its parent's");
    }
    const int created = SHCreateDirectoryExW(nullptr, folder.c_str(), security.attributes());
    if (created == ERROR_SUCCESS) return true;
    // Another process creating it at the same moment is fine.
    if (created != ERROR_ALREADY_EXISTS) return false;
  }
  CacheSecurity::ProtectExistingFolder(folder, userToken);
  return true;
}

enum class CacheStatus { kOk, kLookupFailed, kCreationFailed };

// The cache directory, created when missing, with name appended when not empty.
template <typename Calls>
CacheStatus CachePath(const std::basic_string<typename Calls::Char>& name,
                      std::basic_string<typename Calls::Char>* path) {
  typename Calls::Char buffer[kPathBufferChars] = {};

  // As the local system account, the folder of the user at the console; otherwise
  // (the token is granted to nobody else) the folder of the user we run as.
  TokenHandle token;
  const bool consoleUser = WTSQueryUserToken(WTSGetActiveConsoleSessionId(), token.out());
  const HANDLE userToken = consoleUser ? token.get() : nullptr;
  const HRESULT result = Calls::GetFolder(userToken, buffer);
  if (FAILED(result) || !Calls::Append(buffer) || buffer[0] == 0) {
    return CacheStatus::kLookupFailed;
  }
  if (!PrepareFolder(Calls::Wide(buffer), userToken)) return CacheStatus::kCreationFailed;

  *path = buffer;
  if (!name.empty()) {
    *path += static_cast<typename Calls::Char>('\\');
    *path += name;
  }
  return CacheStatus::kOk;
}

}  // namespace

namespace Helper {

std::string GetCachePath(const std::string& name) {
  std::string path;
  switch (CachePath<NarrowCalls>(name, &path)) {
    case CacheStatus::kLookupFailed:
      LOG_ERROR("缓存目录获取失败");
      return {};
    case CacheStatus::kCreationFailed:
      LOG_ERROR("目录创建失败, 名称: %s", name.c_str());
      return {};
    case CacheStatus::kOk:
      break;
  }
  return path;
}

std::wstring GetCachePath(const std::wstring& name) {
  std::wstring path;
  switch (CachePath<WideCalls>(name, &path)) {
    case CacheStatus::kLookupFailed:
      LOG_ERROR("缓存目录获取失败");
      return {};
    case CacheStatus::kCreationFailed:
      LOG_ERROR("目录创建失败, 名称: %s", WideToAnsi(name).c_str());
      return {};
    case CacheStatus::kOk:
      break;
  }
  return path;
}

std::wstring GetEngineFolder() {
  wchar_t buffer[kPathBufferChars] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buffer)) ||
      !PathAppendW(buffer, L"Brindlex")) {
    LOG_ERROR("common application data folder not found; no place for the engine");
    return {};
  }
  const std::wstring folder = buffer;
  if (CacheSecurity::OnlyAdministratorsMayChange(folder)) return folder;
  // Any account may create entries in the common application data folder: whatever
  // stands at this name (a file, a link, a folder of someone else's) is not the
  // engine's place, and is moved aside for one made here.
  std::wstring movedTo;
  const std::string name = WideToAnsi(folder);
  if (CacheSecurity::ClaimAdministratorsFolder(folder, &movedTo)) {
    // A missing folder is only made: the first start where no setup made it is no news.
    if (!movedTo.empty()) {
      SetLastError(0);
      LOG_WARNING("%s was not a folder only administrators may change; moved to %s and made "
                  "anew",
                  name.c_str(), WideToAnsi(movedTo).c_str());
    }
    return folder;
  }
  LOG_ERROR("%s is not a folder only administrators may change; the engine is not put there",
            name.c_str());
  return {};
}

bool ResourceBytes(HMODULE module, unsigned short id, const wchar_t* type,
                   const void** data, DWORD* size) {
  if (!module) module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return false;
  *data = bytes;
  *size = SizeofResource(module, info);
  return true;
}

int ExtractResourceToFile(HMODULE module, unsigned short id, const wchar_t* type,
                          const wchar_t* path) {
  const void* bytes = nullptr;
  DWORD size = 0;
  if (!ResourceBytes(module, id, type, &bytes, &size)) return 0;

  // Truncates and rewrites an existing file, through the handle that was checked to
  // be the file itself. A file that cannot be opened (locked by a process that has
  // it loaded) keeps its old content; that is not a failure here.
  LinkGuard::HeldFile file;
  if (file.Open(path, GENERIC_WRITE, 0, true) == LinkGuard::Held::kOpened &&
      SetEndOfFile(file.get())) {
    DWORD written = 0;
    ::WriteFile(file.get(), bytes, size, &written, nullptr);
  }
  return 1;
}

}  // namespace Helper
