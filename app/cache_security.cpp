#include "app/cache_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <set>

#include "app/ansi_text.h"
#include "app/last_error.h"
#include "app/link_guard.h"
#include "app/log.h"
#include "app/unique_handle.h"

namespace {

// Rights that let someone put a file or a link in the folder, change or remove what
// is there, or hand such rights out. Changing attributes or extended attributes only
// is left out: it plants nothing.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                     DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL;

bool IsOthers(PSID sid, PSID user) {
  return !IsWellKnownSid(sid, WinLocalSystemSid) &&
         !IsWellKnownSid(sid, WinBuiltinAdministratorsSid) &&
         !(user && IsValidSid(user) && EqualSid(sid, user));
}

// The entry itself, never what a link in its place leads to.
HANDLE OpenForSecurity(const std::wstring& path) {
  return CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

// Gives the entry at path (not a link) the Administrators for owner and dacl, added
// to by what it inherits; for a folder, everything inside too. Files planted while
// others could write keep nothing of what their planter gave them.
DWORD Reset(const std::wstring& path, PSID administrators, PACL dacl, SECURITY_INFORMATION kind,
            int depth) {
  UniqueHandle entry(OpenForSecurity(path));
  if (entry.get() == INVALID_HANDLE_VALUE) return GetLastError();
  // A link, or a file with other names: its security is that of what it shares,
  // which may lie anywhere. Left alone, and not entered.
  if (LinkGuard::LeadsElsewhere(entry.get(), path)) return ERROR_SUCCESS;
  DWORD result = SetSecurityInfo(entry.get(), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | kind,
                                 administrators, nullptr, dacl, nullptr);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (result != ERROR_SUCCESS || depth > 8 ||
      !GetFileInformationByHandle(entry.get(), &information) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return result;
  }
  WIN32_FIND_DATAW found = {};
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD inside = Reset(path + L"\\" + name, administrators, dacl,
                               UNPROTECTED_DACL_SECURITY_INFORMATION, depth + 1);
    if (result == ERROR_SUCCESS) result = inside;
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return result;
}

// Folders something was done to, or said about, once in this process.
class OncePerFolder {
 public:
  OncePerFolder() { InitializeCriticalSection(&lock_); }
  OncePerFolder(const OncePerFolder&) = delete;
  OncePerFolder& operator=(const OncePerFolder&) = delete;

  // True the first time folder is given.
  bool First(const std::wstring& folder) {
    EnterCriticalSection(&lock_);
    const bool first = folders_.insert(folder).second;
    LeaveCriticalSection(&lock_);
    return first;
  }

 private:
  CRITICAL_SECTION lock_;
  std::set<std::wstring> folders_;
};

// Folders this process has tried to put right.
OncePerFolder& Repaired() {
  static OncePerFolder repaired;
  return repaired;
}

// Folders whose access list could not be read, said so once.
OncePerFolder& Unread() {
  static OncePerFolder unread;
  return unread;
}

class SystemAccess : public CacheSecurity::FolderAccess {
 public:
  DWORD Read(const std::wstring& folder, PSECURITY_DESCRIPTOR* descriptor) override {
    PACL dacl = nullptr;
    PSID owner = nullptr;
    return GetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                 nullptr, &dacl, nullptr, descriptor);
  }
  DWORD Replace(const std::wstring& folder, PACL dacl) override {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
      return GetLastError();
    }
    return Reset(folder, administrators, dacl, PROTECTED_DACL_SECURITY_INFORMATION, 0);
  }
};

struct LocalMemory {
  void operator()(void* memory) const { LocalFree(memory); }
};

}  // namespace

namespace CacheSecurity {

TokenUser::TokenUser(HANDLE token) {
  UniqueHandle own;
  if (!token) {
    HANDLE process = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process)) return;
    own.reset(process);
    token = process;
  }
  DWORD size = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return;
  buffer_.resize(size);
  if (!GetTokenInformation(token, ::TokenUser, buffer_.data(), size, &size)) buffer_.clear();
}

PSID TokenUser::sid() const {
  if (buffer_.empty()) return nullptr;
  return reinterpret_cast<const TOKEN_USER*>(buffer_.data())->User.Sid;
}

FolderDescriptor::FolderDescriptor(PSID user) {
  // Without the user's own entry the user would lose their folder: then nothing.
  if (!user || !IsValidSid(user)) return;
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (!IsWellKnownSid(user, WinLocalSystemSid)) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user, &text)) return;
    sddl += L"(A;OICI;FA;;;";
    sddl += text;
    sddl += L")";
    LocalFree(text);
  }
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

FolderDescriptor::~FolderDescriptor() {
  const LastErrorKept lastError;  // the caller's reason for what it could not create
  if (descriptor_) LocalFree(descriptor_);
}

SECURITY_ATTRIBUTES* FolderDescriptor::attributes() {
  return descriptor_ ? &attributes_ : nullptr;
}

PACL FolderDescriptor::dacl() const {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!descriptor_ || !GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted)) {
    return nullptr;
  }
  return present ? dacl : nullptr;
}

bool LetsOthersWrite(bool hasDacl, const ACL* dacl, PSID user) {
  if (!hasDacl || !dacl) return true;
  ACL_SIZE_INFORMATION size = {};
  if (!GetAclInformation(const_cast<ACL*>(dacl), &size, sizeof(size), AclSizeInformation)) {
    return false;
  }
  for (DWORD i = 0; i < size.AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &entry)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    // A conditional grant has the same layout; it counts as a grant. Entries that
    // only reach what is created inside count too: the program's files are created
    // there.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
        header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      continue;
    }
    ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kWriteRights) && IsOthers(&allowed->SidStart, user)) return true;
  }
  return false;
}

FolderAccess& SystemFolderAccess() {
  static SystemAccess access;
  return access;
}

void ProtectExistingFolder(const std::wstring& folder, HANDLE userToken) {
  ProtectExistingFolder(folder, userToken, SystemFolderAccess());
}

void ProtectExistingFolder(const std::wstring& folder, HANDLE userToken, FolderAccess& access) {
  const std::string name = WideToAnsi(folder);
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD read = access.Read(folder, &raw);
  std::unique_ptr<void, LocalMemory> descriptor(raw);
  BOOL hasDacl = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (read != ERROR_SUCCESS || !descriptor ||
      !GetSecurityDescriptorDacl(descriptor.get(), &hasDacl, &dacl, &defaulted)) {
    if (Unread().First(folder)) {
      SetLastError(0);
      LOG_WARNING("access list of %s not read (error %lu); left as it is", name.c_str(), read);
    }
    return;
  }
  const TokenUser user(userToken);
  PSID owner = nullptr;
  BOOL ownerDefaulted = FALSE;
  const bool foreignOwner =
      GetSecurityDescriptorOwner(descriptor.get(), &owner, &ownerDefaulted) && owner &&
      IsOthers(owner, user.sid());
  if (!foreignOwner && !LetsOthersWrite(hasDacl != FALSE, dacl, user.sid())) return;
  // A repair that did not take (or that this file system does not keep) is not
  // tried, and logged, again and again.
  if (!Repaired().First(folder)) return;

  FolderDescriptor own(user.sid());
  const DWORD replaced = own.dacl() ? access.Replace(folder, own.dacl()) : ERROR_INVALID_SID;
  SetLastError(0);
  if (replaced != ERROR_SUCCESS) {
    LOG_ERROR("%s lets other users write and could not be limited to its user (error %lu)",
              name.c_str(), replaced);
    return;
  }
  LOG_WARNING("%s let other users write; now only SYSTEM, Administrators and its user may",
              name.c_str());
}

}  // namespace CacheSecurity

namespace {

constexpr wchar_t kAdministratorsFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Enables, for as long as it lives, the privileges that let an administrator rename
// and take over entries whose lists would keep them out; puts back what was before.
class ScopedPrivileges {
 public:
  ScopedPrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      return;
    }
    token_.reset(token);
    struct {
      DWORD count;
      LUID_AND_ATTRIBUTES privileges[2];
    } wanted = {2, {}};
    if (!LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &wanted.privileges[0].Luid) ||
        !LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.privileges[1].Luid)) {
      return;
    }
    wanted.privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = sizeof(previous_);
    adjusted_ = AdjustTokenPrivileges(token_.get(), FALSE,
                                      reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), size,
                                      reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), &size) != 0;
  }
  ~ScopedPrivileges() {
    if (adjusted_) {
      AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0,
                            nullptr, nullptr);
    }
  }
  ScopedPrivileges(const ScopedPrivileges&) = delete;
  ScopedPrivileges& operator=(const ScopedPrivileges&) = delete;

 private:
  UniqueHandle token_;
  struct {
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[2];
  } previous_ = {0, {}};
  bool adjusted_ = false;
};

// Renames the entry at path (a file, a folder, or a link itself) to a free name beside
// it. Only a handle on the entry itself is renamed through: a file system that opened
// what a link points to would move that instead.
bool MoveEntryAside(const std::wstring& path, std::wstring* movedTo) {
  UniqueHandle entry(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::string name = WideToAnsi(path);
  if (entry.get() == INVALID_HANDLE_VALUE) {
    LOG_ERROR("%s is in the way and cannot be moved aside", name.c_str());
    return false;
  }
  if (!LinkGuard::IsEntryAt(entry.get(), path)) {
    SetLastError(0);
    LOG_ERROR("%s is a link that cannot be moved aside without moving what it points to; "
              "left as it is",
              name.c_str());
    return false;
  }
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  for (int attempt = 1; attempt <= 20; ++attempt) {
    wchar_t suffix[64];
    swprintf(suffix, 64, L".moved-%04u%02u%02u-%02u%02u%02u-%d", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, attempt);
    if (LinkGuard::RenameEntry(entry.get(), path + suffix, false)) {
      *movedTo = path + suffix;
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
  }
  LOG_ERROR("%s is in the way and could not be renamed", name.c_str());
  return false;
}

// Whether the descriptor's owner and list keep everyone but SYSTEM, the
// Administrators and user out.
bool OnlyThemMayChange(PSECURITY_DESCRIPTOR descriptor, PSID user) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL hasDacl = FALSE;
  PACL dacl = nullptr;
  return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner &&
         !IsOthers(owner, user) &&
         GetSecurityDescriptorDacl(descriptor, &hasDacl, &dacl, &defaulted) &&
         !CacheSecurity::LetsOthersWrite(hasDacl != FALSE, dacl, user);
}

// Read only for a plain folder at its own path, never one a link leads to.
bool FolderOnlyForThem(const std::wstring& folder, PSID user,
                       CacheSecurity::FolderAccess& access) {
  if (!LinkGuard::IsPlainFolder(folder, false)) return false;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (access.Read(folder, &raw) != ERROR_SUCCESS) return false;
  std::unique_ptr<void, LocalMemory> descriptor(raw);
  return descriptor && OnlyThemMayChange(descriptor.get(), user);
}

}  // namespace

namespace CacheSecurity {

PSECURITY_DESCRIPTOR NewAdministratorsFolderDescriptor() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kAdministratorsFolderSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return nullptr;
  }
  return descriptor;
}

bool OnlyAdministratorsMayChange(const std::wstring& folder) {
  return OnlyAdministratorsMayChange(folder, SystemFolderAccess());
}

bool OnlyAdministratorsMayChange(const std::wstring& folder, FolderAccess& access) {
  const TokenUser self(nullptr);
  return FolderOnlyForThem(folder, self.sid(), access);
}

bool ClaimAdministratorsFolder(const std::wstring& folder, std::wstring* movedTo) {
  movedTo->clear();
  // Administrators may rename and take over what other accounts made, even where its
  // own list would keep them out, once these are enabled.
  const ScopedPrivileges privileges;
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES &&
      !MoveEntryAside(folder, movedTo)) {
    return false;
  }
  std::unique_ptr<void, LocalMemory> descriptor(NewAdministratorsFolderDescriptor());
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
  // Fails when something took the name meanwhile: that is not made ours.
  return CreateDirectoryW(folder.c_str(), &attributes) && OnlyAdministratorsMayChange(folder);
}

}  // namespace CacheSecurity
