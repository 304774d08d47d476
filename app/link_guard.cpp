#include "app/link_guard.h"

#include <windows.h>

#include "app/ansi_text.h"
#include "app/log.h"
#include "app/unique_handle.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// The few native file calls the guard needs. ntdll has them on every Windows version;
// the program imports nothing from ntdll itself, so they are looked up.
constexpr int kFileNameInformation = 9;
constexpr int kFileBasicInformation = 4;
constexpr int kFileStandardInformation = 5;
constexpr int kFileRenameInformation = 10;
constexpr int kFileDispositionInformation = 13;

struct IoStatusBlock {
  void* status;
  ULONG_PTR information;
};

struct FileBasicInformation {
  LARGE_INTEGER times[4];
  ULONG attributes;
};

struct FileStandardInformation {
  LARGE_INTEGER allocationSize;
  LARGE_INTEGER endOfFile;
  ULONG links;
  BOOLEAN deletePending;
  BOOLEAN directory;
};

using FileInformationCall = LONG(NTAPI*)(HANDLE file, IoStatusBlock* status, void* information,
                                         ULONG length, int informationClass);

template <class Call = FileInformationCall>
Call NativeCall(const char* name) {
  return reinterpret_cast<Call>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name));
}

bool Query(HANDLE handle, void* information, ULONG length, int informationClass) {
  static const FileInformationCall query = NativeCall("NtQueryInformationFile");
  IoStatusBlock status = {};
  return query && query(handle, &status, information, length, informationClass) >= 0;
}

// Whether handle was opened on the entry path names, reached through no link on the
// way: the name the file system gives the opened file (after every link it went
// through, without the drive) is the asked path's.
bool HandleIsAt(HANDLE handle, const std::wstring& path) {
  // The name as the file system keeps it: whole, with long names (an ANSI path may
  // carry short ones).
  std::wstring expected = path;
  std::vector<wchar_t> buffer(32768, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                                  buffer.data(), nullptr);
  if (length > 0 && length < buffer.size()) expected.assign(buffer.data(), length);
  length = GetLongPathNameW(expected.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length > 0 && length < buffer.size()) expected.assign(buffer.data(), length);
  if (expected.compare(0, 4, L"\\\\?\\") == 0) expected.erase(0, 4);
  if (expected.size() >= 2 && expected[1] == L':') {
    expected.erase(0, 2);
  } else if (expected.compare(0, 2, L"\\\\") == 0) {
    expected.erase(0, 1);  // "\\server\\share\\..." is named "\\server\\share\\..."
  }
  while (expected.size() > 1 && expected.back() == L'\\') expected.pop_back();
  std::vector<ULONG> information(1 + (expected.size() + 64) / 2 + 1);
  const ULONG size = static_cast<ULONG>(information.size() * sizeof(ULONG));
  if (!Query(handle, information.data(), size, kFileNameInformation)) return false;
  const ULONG bytes = information[0];
  if (bytes != expected.size() * sizeof(wchar_t)) return false;
  std::wstring name(reinterpret_cast<const wchar_t*>(&information[1]), bytes / sizeof(wchar_t));
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(),
                        static_cast<int>(name.size()), expected.c_str(),
                        static_cast<int>(expected.size())) == CSTR_EQUAL;
}

// The native form of a Win32 path: "\\??\\C:\\x" or "\\??\\UNC\\server\\share\\x".
std::wstring NativePath(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + path.substr(4);
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + path.substr(2);
  return L"\\??\\" + path;
}

// Hands a native call's status on as the thread's last error.
void SetErrorFromStatus(LONG status) {
  using StatusToError = ULONG(NTAPI*)(LONG status);
  static const auto toError = NativeCall<StatusToError>("RtlNtStatusToDosError");
  SetLastError(toError ? toError(status) : ERROR_ACCESS_DENIED);
}

// The last part of a path: what a file is called inside its folder.
std::wstring LeafName(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

struct CountedText {
  USHORT length;
  USHORT maximumLength;
  const wchar_t* buffer;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  CountedText* objectName;
  ULONG attributes;
  void* securityDescriptor;
  void* securityQualityOfService;
};

constexpr ULONG kCaseInsensitive = 0x40;
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kSynchronousIo = 0x20;
constexpr ULONG kNonDirectoryFile = 0x40;
constexpr ULONG kOpenReparsePoint = 0x00200000;

// Opens (or, with createNew, creates) the file called name inside the folder a handle
// is held on: the folder is not looked up by its name again. Null, with the system's
// reason as the last error, when that fails.
HANDLE OpenInFolder(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                    bool createNew) {
  using CreateFileCall = LONG(NTAPI*)(HANDLE* file, ACCESS_MASK access,
                                      ObjectAttributes* attributes, IoStatusBlock* status,
                                      LARGE_INTEGER* allocationSize, ULONG fileAttributes,
                                      ULONG share, ULONG disposition, ULONG options, void* ea,
                                      ULONG eaLength);
  static const auto create = NativeCall<CreateFileCall>("NtCreateFile");
  const size_t bytes = name.size() * sizeof(wchar_t);
  if (!create || name.empty() || bytes > 0xFFFE) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  CountedText text = {static_cast<USHORT>(bytes), static_cast<USHORT>(bytes), name.c_str()};
  ObjectAttributes attributes = {sizeof(attributes), folder, &text, kCaseInsensitive, nullptr,
                                 nullptr};
  IoStatusBlock status = {};
  HANDLE file = nullptr;
  const LONG result =
      create(&file, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
             share, createNew ? kFileCreate : kFileOpen,
             kSynchronousIo | kNonDirectoryFile | kOpenReparsePoint, nullptr, 0);
  if (result >= 0) return file;
  SetErrorFromStatus(result);
  return nullptr;
}

// Opens path as the entry itself, by its name inside folder when one is held.
// INVALID_HANDLE_VALUE, with the reason as the last error, when that fails.
HANDLE OpenFileEntry(const std::wstring& path, HANDLE folder, DWORD access, DWORD share,
                     bool createNew) {
  if (folder) {
    const HANDLE file = OpenInFolder(folder, LeafName(path), access, share, createNew);
    return file ? file : INVALID_HANDLE_VALUE;
  }
  return CreateFileW(path.c_str(), access, share, nullptr, createNew ? CREATE_NEW : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Marks the entry a handle was opened on for deletion at its close. Unlike opening it
// for deletion at once, this lets the caller look at what it opened first.
bool DeleteOnClose(HANDLE handle) {
  static const FileInformationCall set = NativeCall("NtSetInformationFile");
  IoStatusBlock status = {};
  BOOLEAN deleteFile = TRUE;
  return set && set(handle, &status, &deleteFile, sizeof(deleteFile),
                    kFileDispositionInformation) >= 0;
}

// The entry at path itself, a link not followed (folders open too).
HANDLE OpenEntry(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Whether the name path shows a folder, and no link (made first when create is set).
bool FolderByName(const std::wstring& path, bool create) {
  if (create) CreateDirectoryW(path.c_str(), nullptr);  // takes the cache folder's security
  const DWORD byName = GetFileAttributesW(path.c_str());
  return byName != INVALID_FILE_ATTRIBUTES && (byName & FILE_ATTRIBUTE_DIRECTORY) &&
         !(byName & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether folder (a handle opened on path itself) is a folder reached through no link.
bool IsFolderAt(HANDLE folder, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  return folder && folder != INVALID_HANDLE_VALUE &&
         GetFileInformationByHandle(folder, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !LinkGuard::LeadsElsewhere(folder, path);
}

}  // namespace

namespace LinkGuard {

bool RenameEntry(HANDLE handle, const std::wstring& target, bool replace, HANDLE folder) {
  static const FileInformationCall set = NativeCall("NtSetInformationFile");
  if (!set) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  // The same call as the newer SetFileInformationByHandle, and it is there on XP too.
  const std::wstring name = folder ? target : NativePath(target);
  const size_t bytes = name.size() * sizeof(wchar_t);
  struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    wchar_t fileName[1];
  };
  // The name starts right after the length, not at the padded size of the head.
  const size_t nameAt = offsetof(RenameInformation, fileName);
  std::string buffer(std::max(sizeof(RenameInformation), nameAt + bytes + sizeof(wchar_t)), '\0');
  RenameInformation* head = reinterpret_cast<RenameInformation*>(&buffer[0]);
  head->replaceIfExists = replace ? TRUE : FALSE;
  head->rootDirectory = folder;
  head->fileNameLength = static_cast<ULONG>(bytes);
  memcpy(&buffer[nameAt], name.data(), bytes);
  IoStatusBlock status = {};
  const LONG result = set(handle, &status, &buffer[0], static_cast<ULONG>(buffer.size()),
                          kFileRenameInformation);
  if (result >= 0) return true;
  SetErrorFromStatus(result);
  return false;
}

bool RemoveLinkAt(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  // A folder has no other names; the attributes alone tell whether it is a link.
  const bool reparseByName = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !reparseByName) return true;

  bool mayDelete = true;
  UniqueHandle entry(OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES));
  if (entry.get() == INVALID_HANDLE_VALUE) {
    mayDelete = false;  // held by someone who shares no deletion: look only
    entry.reset(OpenEntry(path, FILE_READ_ATTRIBUTES));
  }
  FileBasicInformation basic = {};
  FileStandardInformation standard = {};
  const bool opened = entry.get() != INVALID_HANDLE_VALUE &&
                      Query(entry.get(), &basic, sizeof(basic), kFileBasicInformation) &&
                      Query(entry.get(), &standard, sizeof(standard), kFileStandardInformation);
  const bool reparse = reparseByName || (opened && (basic.attributes & FILE_ATTRIBUTE_REPARSE_POINT));
  const bool otherNames = opened && !standard.directory && standard.links > 1;
  if (!reparse && !otherNames) return true;

  const std::string name = WideToAnsi(path);
  SetLastError(0);
  if (reparse) {
    LOG_ERROR("%s is a link to elsewhere; nothing is written through it", name.c_str());
  } else {
    LOG_ERROR("%s has other names (a hard link); nothing is written through it", name.c_str());
  }
  // Only a handle on the link itself may be deleted: a file system that opened what
  // the link points to instead would delete that.
  const bool onLinkItself =
      reparse ? opened && (basic.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 : opened;
  if (mayDelete && onLinkItself && DeleteOnClose(entry.get())) {
    entry.reset();
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      SetLastError(0);
      LOG_INFO("%s removed; a plain one takes its place", name.c_str());
      return true;
    }
  }
  SetLastError(0);
  LOG_ERROR("%s could not be removed (%s); nothing is written there", name.c_str(),
            !mayDelete      ? "held by another process"
            : !onLinkItself ? "only what it points to opens"
                            : "removal refused");
  return false;
}

bool RemoveLinkAt(const std::string& ansiPath) { return RemoveLinkAt(AnsiToWide(ansiPath)); }

Held HeldFile::Open(const std::wstring& path, DWORD access, DWORD share, bool create,
                    HANDLE folder) {
  Close();
  // Where a file system follows a link whatever it is asked (as Wine does), its name
  // still says what it is.
  const DWORD byName = GetFileAttributesW(path.c_str());
  if (byName != INVALID_FILE_ATTRIBUTES &&
      (byName & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    return Held::kLeadsElsewhere;
  }
  for (int attempt = 0; attempt < 3 && handle_ == INVALID_HANDLE_VALUE; ++attempt) {
    handle_ = OpenFileEntry(path, folder, access, share, false);
    if (handle_ != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Held::kFailed;
    if (!create) return Held::kMissing;
    // A new file only: an entry that appeared meanwhile (a dangling link) is not
    // created through.
    handle_ = OpenFileEntry(path, folder, access, share, true);
    if (handle_ == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return Held::kFailed;
    }
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  if (handle_ == INVALID_HANDLE_VALUE) return Held::kFailed;
  if (!GetFileInformationByHandle(handle_, &information)) {
    Close();
    return Held::kFailed;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      LeadsElsewhere(handle_, path)) {
    Close();
    return Held::kLeadsElsewhere;
  }
  return Held::kOpened;
}

bool HeldFile::RenameTo(const std::wstring& target, bool replace, HANDLE folder) {
  return handle_ != INVALID_HANDLE_VALUE && RenameEntry(handle_, target, replace, folder);
}

bool HeldFile::Delete() { return handle_ != INVALID_HANDLE_VALUE && DeleteOnClose(handle_); }

HANDLE HeldFile::Release() {
  const HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  return handle;
}

void HeldFile::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool HeldFolder::Open(const std::wstring& path, bool create) {
  Close();
  if (!FolderByName(path, create)) return false;
  // No delete sharing: from here on the folder cannot be renamed, removed or swapped.
  // What was checked by name may have been swapped before the handle was taken, so
  // the handle is checked too.
  UniqueHandle folder(CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!IsFolderAt(folder.get(), path)) return false;
  handle_ = folder.release();
  path_ = path;
  return true;
}

void HeldFolder::Close() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
  path_.clear();
}

bool IsPlainFolder(const std::wstring& path, bool create) {
  if (!FolderByName(path, create)) return false;
  UniqueHandle folder(OpenEntry(path, FILE_READ_ATTRIBUTES));
  return IsFolderAt(folder.get(), path);
}

bool IsEntryAt(HANDLE handle, const std::wstring& path) { return HandleIsAt(handle, path); }

bool DeleteAtClose(HANDLE handle) { return DeleteOnClose(handle); }

bool LeadsElsewhere(HANDLE handle, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return true;
  const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A folder's link count counts its subfolders on some file systems: only a file's
  // second name is a hard link.
  return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
         (!folder && information.nNumberOfLinks > 1) || !HandleIsAt(handle, path);
}

}  // namespace LinkGuard
