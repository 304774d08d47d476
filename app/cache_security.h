// Who may change the cache folder. The program runs with administrator rights and
// loads node.dll from there, so a folder that other users can write would let them
// run code as the administrator, read the service's login in the cookie jar and
// plant stored values. The folder belongs to SYSTEM, the Administrators and the
// user whose folder it is, and to nobody else.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace CacheSecurity {

// The user a token belongs to; the process's own user for a null token.
class TokenUser {
 public:
  explicit TokenUser(HANDLE token);
  // Null when the token could not be read.
  PSID sid() const;

 private:
  std::vector<BYTE> buffer_;
};

// A descriptor granting full control to SYSTEM, the Administrators and one user,
// passed on to every file and folder below and shielded from what the parent grants.
class FolderDescriptor {
 public:
  explicit FolderDescriptor(PSID user);
  ~FolderDescriptor();
  FolderDescriptor(const FolderDescriptor&) = delete;
  FolderDescriptor& operator=(const FolderDescriptor&) = delete;

  // For creating the folder; null (the parent's security) when it could not be built.
  SECURITY_ATTRIBUTES* attributes();
  // Its access list; null when it could not be built.
  PACL dacl() const;

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

// True when the access list lets anyone but SYSTEM, the Administrators and user
// (may be null: no user) add, write or delete anything, or change security, in the
// folder or in what is created in it. No access list at all (hasDacl false, or a
// null list) lets everyone do everything.
bool LetsOthersWrite(bool hasDacl, const ACL* dacl, PSID user);

// Reading and replacing a folder's access list. The system's calls by default; tests
// stand in where the file system does not keep access lists.
class FolderAccess {
 public:
  virtual ~FolderAccess() = default;
  // The folder's security descriptor with its access list, for the caller to free
  // with LocalFree. A Windows error code.
  virtual DWORD Read(const std::wstring& folder, PSECURITY_DESCRIPTOR* descriptor) = 0;
  // The descriptor may carry the owner too; one that belongs to anyone but SYSTEM,
  // the Administrators and the folder's user is repaired as well.
  // Gives the folder exactly this access list, no longer added to by the parent's,
  // and the Administrators for owner; what the folder holds gets the same list and
  // owner in place of whatever it had. A Windows error code.
  virtual DWORD Replace(const std::wstring& folder, PACL dacl) = 0;
};

FolderAccess& SystemFolderAccess();

// When an existing folder lets others write or belongs to someone else, limits it
// and what it holds to SYSTEM, the Administrators and the user of userToken (null:
// the process's user), with one log line. A process repairs each folder at most once: a repair that did not take is
// not tried, and logged, again.
void ProtectExistingFolder(const std::wstring& folder, HANDLE userToken);
void ProtectExistingFolder(const std::wstring& folder, HANDLE userToken, FolderAccess& access);

// True when only SYSTEM, the Administrators and the account this program runs as
// may change folder: it is a folder of its own (no link in its place or on the way),
// one of them owns it and its list lets nobody else write.
bool OnlyAdministratorsMayChange(const std::wstring& folder);
bool OnlyAdministratorsMayChange(const std::wstring& folder, FolderAccess& access);

// Makes folder one that only SYSTEM and the Administrators may change, owned by the
// Administrators. Whatever is in its place (a file, a link, a folder of someone
// else's) is first moved aside as it is, the entry itself and never what a link
// points to; *movedTo then names where it went (empty when nothing was there). False
// when the entry could not be moved safely or the folder not made.
bool ClaimAdministratorsFolder(const std::wstring& folder, std::wstring* movedTo);

// A descriptor for a new folder that only SYSTEM and the Administrators may change,
// owned by the Administrators. Free it with LocalFree.
PSECURITY_DESCRIPTOR NewAdministratorsFolderDescriptor();

}  // namespace CacheSecurity
