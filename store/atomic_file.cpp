#include "store/atomic_file.h"

#include <windows.h>

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

bool WriteAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t rest = bytes.size() - done;
    const DWORD chunk = rest > (1u << 30) ? (1u << 30) : static_cast<DWORD>(rest);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

bool IsTransient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

}  // namespace

namespace AtomicFile {

std::string TempPath(const std::string& path) { return path + ".tmp"; }

bool Write(const std::string& ansiPath, const std::string& bytes) {
  const std::string temp = TempPath(ansiPath);
  {
    FileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    const bool written = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    if (!file.Close() || !written) {
      DeleteFileA(temp.c_str());
      return false;
    }
  }
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExA(temp.c_str(), ansiPath.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (attempt >= kReplaceAttempts || !IsTransient(error)) break;
    Sleep(kReplacePauseMs);
  }
  const DWORD error = GetLastError();
  DeleteFileA(temp.c_str());
  SetLastError(error);
  return false;
}

}  // namespace AtomicFile
