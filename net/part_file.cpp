#include "net/part_file.h"

#include <cstdio>
#include <cstring>

#include "app/ansi_text.h"
#include "app/cache_security.h"
#include "app/disk_write.h"
#include "app/file_replace.h"
#include "app/link_guard.h"

namespace {

// Small blocks are gathered into few large writes; blocks this large go straight out.
constexpr size_t kBufferBytes = 1024 * 1024;
constexpr int kMoveAttempts = 40;
constexpr DWORD kMoveRetryMilliseconds = 50;
constexpr int kNameAttempts = 8;

// The text of path up to and including its last folder separator (or drive colon):
// what a file name is appended to for a file in the same folder.
std::wstring FolderPrefix(const std::wstring& path) {
  const size_t end = path.find_last_of(L"\\/:");
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

// The whole path, or "" when the system cannot make it.
std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return std::wstring();
  full.resize(length);
  return full;
}

// A path that still works when it is MAX_PATH characters or longer: the full path in
// the form that turns the length limit off.
std::wstring WithoutLengthLimit(const std::wstring& path) {
  if (path.size() < MAX_PATH) return path;
  const std::wstring full = FullPath(path);
  if (full.empty()) return path;
  if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

PartFile::PartFile(const std::string& target) : target_(AnsiToWide(target)) {
  // A target the system cannot name as it is cannot be replaced either.
  if (target_.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return;
  }
  // A file anyone may open is no part file of the program's: without its own access
  // list (SYSTEM, the Administrators and this process's user, nothing inherited from a
  // folder others may read or write) there is none.
  const CacheSecurity::TokenUser user(nullptr);
  CacheSecurity::FolderDescriptor security(user.sid());
  if (!security.attributes()) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return;
  }
  // A short name in the target's folder: the target's own name with a suffix would
  // not fit beside a name that is near the length limit.
  static volatile LONG sequence = 0;
  const std::wstring folder = FolderPrefix(target_);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    wchar_t name[64];
    swprintf(name, 64, L"brindlex-%lu-%ld.part", GetCurrentProcessId(),
             InterlockedIncrement(&sequence));
    const std::wstring path = WithoutLengthLimit(folder + name);
    // DELETE: it is renamed over the target, or removed, through this very handle.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    security.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      file_.reset(file);
      path_ = path;
      return;
    }
    // Missing folder, no permission, bad name: no other name will do better.
    if (GetLastError() != ERROR_FILE_EXISTS) return;
  }
}

PartFile::~PartFile() { Discard(); }

void PartFile::Discard() {
  if (!valid()) return;
  const bool marked = LinkGuard::DeleteAtClose(file_.get());
  file_.reset();
  if (!marked) DeleteFileW(path_.c_str());
  path_.clear();
}

size_t PartFile::Write(const char* data, size_t size) {
  if (error_ || !valid()) return 0;
  if (buffered_ + size <= kBufferBytes) {
    if (!buffer_) buffer_.reset(new char[kBufferBytes]);
    memcpy(buffer_.get() + buffered_, data, size);
    buffered_ += size;
    return size;
  }
  // What the buffer holds was taken earlier; if the disk refuses it now, this block is
  // the first the caller can be told about.
  if (!Flush()) return 0;
  if (size < kBufferBytes) return Write(data, size);
  size_t taken = 0;
  if (!DiskWrite::WriteAll(file_.get(), data, size, &taken)) Fail();
  stored_ += static_cast<long long>(taken);
  return taken;
}

bool PartFile::Flush() {
  if (buffered_ == 0) return true;
  size_t taken = 0;
  const bool flushed = DiskWrite::WriteAll(file_.get(), buffer_.get(), buffered_, &taken);
  stored_ += static_cast<long long>(taken);
  buffered_ = 0;
  if (!flushed) Fail();
  return flushed;
}

void PartFile::Fail() {
  error_ = GetLastError();
  if (error_ == 0) error_ = ERROR_WRITE_FAULT;
}

bool PartFile::Restart() {
  if (error_ || !valid()) return false;
  buffered_ = 0;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) {
    Fail();
    return false;
  }
  stored_ = 0;
  return true;
}

bool PartFile::Finish() {
  if (!valid()) return false;
  if (!error_) Flush();
  buffer_.reset();
  return error_ == 0;
}

bool PartFile::MoveToTarget(DWORD* error) {
  *error = ERROR_FILE_NOT_FOUND;
  if (!valid() || path_.empty()) return false;
  if (error_ || !Flush()) {
    *error = error_;
    Discard();
    return false;
  }
  // A name given through the handle knows no current folder: the whole path. Another
  // download finishing into the same path, or a reader of the old file, holds the
  // target for a moment: wait briefly rather than fail the download.
  const std::wstring target = FullPath(target_);
  if (target.empty() ||
      !FileReplace::RenameOver(file_.get(), target, kMoveAttempts, kMoveRetryMilliseconds)) {
    *error = GetLastError();
    Discard();
    return false;
  }
  path_.clear();
  // A write the file system reports only at the close fails the download, though
  // the file already has the target's name.
  if (!CloseHandle(file_.release())) {
    *error = GetLastError();
    return false;
  }
  return true;
}
