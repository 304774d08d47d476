#include "store/atomic_file.h"

#include <windows.h>

#include "app/ansi_text.h"
#include "app/disk_write.h"
#include "app/file_replace.h"

namespace {

// Retries of the final replace while the target is held by someone else.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplacePauseMs = 20;

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!valid()) return true;
    const bool closed = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

}  // namespace

namespace AtomicFile {

std::string TempPath(const std::string& path) { return path + ".tmp"; }

bool Write(const std::string& ansiPath, const std::string& bytes) {
  const std::string temp = TempPath(ansiPath);
  {
    FileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    bool written = DiskWrite::WriteAll(file.get(), bytes.data(), bytes.size()) &&
                   FlushFileBuffers(file.get());
    DWORD error = written ? 0 : GetLastError();
    if (!file.Close() && written) {
      written = false;
      error = GetLastError();
    }
    if (!written) {
      // A full disk leaves the old file as it was and no temporary file behind; the
      // caller reports the write's own reason.
      DeleteFileA(temp.c_str());
      SetLastError(error);
      return false;
    }
  }
  if (FileReplace::MoveOver(AnsiToWide(temp), AnsiToWide(ansiPath), MOVEFILE_WRITE_THROUGH,
                            kReplaceAttempts, kReplacePauseMs)) {
    return true;
  }
  const DWORD error = GetLastError();
  DeleteFileA(temp.c_str());
  SetLastError(error);
  return false;
}

}  // namespace AtomicFile
