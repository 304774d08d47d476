// Writes into the cache folder must land in the folder's own files. Before the folder
// was kept to its user, other users could put a link there in place of the folder,
// node.dll or config.data's files; a write through it would truncate and rewrite,
// with administrator rights, whatever the link points to.
#pragma once

#include <windows.h>

#include <string>

namespace LinkGuard {

// How opening a held file went.
enum class Held { kOpened, kMissing, kLeadsElsewhere, kFailed };

// A file under the cache folder, held by one handle from the check on: it is opened
// as the entry itself (a link is never followed), refused when it is a link or has
// other names, and then written, renamed and deleted through that same handle, so
// nothing swapped in after the check is acted on. Silent: callers say what failed.
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile() { Close(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens path with access and share. With create, a missing file is made new (never
  // through something already there, a dangling link included). Renaming and
  // deleting need DELETE among access. With folder (a HeldFolder's handle on the
  // folder path lies in), the file is opened by its name relative to that folder, so
  // it is the held folder's own whatever happens to the names above it.
  Held Open(const std::wstring& path, DWORD access, DWORD share, bool create,
            HANDLE folder = nullptr);
  HANDLE get() const { return handle_; }
  // Hands the handle to the caller, who closes it.
  HANDLE Release();
  // Gives the held file the name target, over a file there when replace is set. With
  // folder (a HeldFolder's handle), target is a bare name inside that folder.
  bool RenameTo(const std::wstring& target, bool replace, HANDLE folder = nullptr);
  // Removes the held file; it is gone once the handle is closed.
  bool Delete();
  void Close();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A folder held open from its check on. As the handle shares no deletion, nobody can
// rename, remove or replace the folder (a junction swapped in, say) while it is held:
// files opened, created and renamed relative to it land in this very folder.
class HeldFolder {
 public:
  HeldFolder() = default;
  ~HeldFolder() { Close(); }
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  // Holds path when it is a folder of its own (see IsPlainFolder), created first when
  // missing and create is set. False when it is not, or cannot be held.
  bool Open(const std::wstring& path, bool create);
  HANDLE get() const { return handle_; }
  const std::wstring& path() const { return path_; }
  // <folder>\name.
  std::wstring PathOf(const std::wstring& name) const { return path_ + L"\\" + name; }
  void Close();

 private:
  HANDLE handle_ = nullptr;
  std::wstring path_;
};

// Renames the entry handle was opened on. With folder (a held folder's handle) target
// is a bare name inside it; otherwise a full path. False with the system's reason as
// the thread's last error.
bool RenameEntry(HANDLE handle, const std::wstring& target, bool replace, HANDLE folder = nullptr);

// True when handle was opened on the entry path names itself (a link included, when it
// was opened as the link), not on something reached through a link on the way or in
// its place. A file system that follows links whatever it is asked (as Wine does)
// opens what they point to: then false.
bool IsEntryAt(HANDLE handle, const std::wstring& path);

// Marks the entry handle was opened on (with DELETE access) for removal at its last
// close, without looking its name up again.
bool DeleteAtClose(HANDLE handle);

// True when the entry handle was opened as leads elsewhere than the entry at path
// itself: a reparse point, a file with other names too (a hard link), or a handle the
// file system opened under another name (a link followed on the way).
bool LeadsElsewhere(HANDLE handle, const std::wstring& path);

// True when path is a folder of its own: created when missing and create is set,
// never a link (a junction, a mount point) nor a file.
bool IsPlainFolder(const std::wstring& path, bool create);

// Makes sure nothing at path leads elsewhere. A reparse point (a symbolic link, a
// junction, a mount point) or a file that has other names too (a hard link) is
// removed after an error line: the entry itself, never what it points to. True when
// path is now missing or plain; false (logged) when such an entry is still there,
// and then nothing may be written at path.
bool RemoveLinkAt(const std::wstring& path);
bool RemoveLinkAt(const std::string& ansiPath);

}  // namespace LinkGuard
