// The private file a download's body is written to before it replaces the target.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/unique_handle.h"

// The body goes to a file of its own in the target's folder, so two downloads into
// one path never share a file, and a transfer that fails never leaves a partial body
// under the target's name. Only SYSTEM, the Administrators and the program's user may
// open it, and it is held open from its creation until it has the target's name, so
// nobody else reads it half-written or changes it before it becomes the file the
// page may run. The file is removed unless it was moved into place.
class PartFile {
 public:
  // Creates the file beside target (an ANSI path). valid() tells whether that worked;
  // if not, the thread's last error holds the reason.
  explicit PartFile(const std::string& target);
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool valid() const { return file_ != nullptr; }

  // Appends a block through a large buffer. Returns how many bytes were taken: all of
  // them, or fewer once the disk took less than it was given (disk full, quota,
  // device error); after that no further block is taken.
  size_t Write(const char* data, size_t size);
  // Writes out what is buffered; the file stays open for MoveToTarget. False when any
  // write failed; error() then holds the system's reason.
  bool Finish();
  // Bytes the disk has taken so far.
  long long size() const { return stored_; }
  // Bytes taken so far, buffered ones included: where the next block goes.
  long long written() const { return stored_ + static_cast<long long>(buffered_); }
  // Empties the file for a body that starts over. False (error() set) when the disk
  // refused; the file then takes no more blocks.
  bool Restart();
  DWORD error() const { return error_; }

  // Replaces the target with the finished file through its handle, waiting briefly
  // while someone else holds the target, then closes it. On failure the file is still
  // removed and *error holds the system's reason. Either way no handle on it is left.
  bool MoveToTarget(DWORD* error);
  // Removes the file unless it was moved into place, and closes it: after this the
  // caller may tell the page the download ended. The destructor does the same.
  void Discard();

 private:
  bool Flush();
  void Fail();

  std::wstring target_;
  std::wstring path_;  // empty once moved into place
  UniqueHandle file_;
  std::unique_ptr<char[]> buffer_;
  size_t buffered_ = 0;
  long long stored_ = 0;
  DWORD error_ = 0;
};
