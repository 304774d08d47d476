#include "app/link_guard.h"

#include <windows.h>

#include "app/ansi_text.h"
#include "app/log.h"
#include "app/unique_handle.h"

namespace {

// The few native file calls the guard needs. ntdll has them on every Windows version;
// the program imports nothing from ntdll itself, so they are looked up.
constexpr int kFileBasicInformation = 4;
constexpr int kFileStandardInformation = 5;
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

FileInformationCall NativeCall(const char* name) {
  return reinterpret_cast<FileInformationCall>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name));
}

bool Query(HANDLE handle, void* information, ULONG length, int informationClass) {
  static const FileInformationCall query = NativeCall("NtQueryInformationFile");
  IoStatusBlock status = {};
  return query && query(handle, &status, information, length, informationClass) >= 0;
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

}  // namespace

namespace LinkGuard {

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

}  // namespace LinkGuard
