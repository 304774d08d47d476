// The log's copy on disk, for the machines where standard output leads nowhere:
// <folder>\brindlex.log, appended line by line with the bytes standard output receives
// when it is sent to a file (the C runtime's text mode writes each "\n" as "\r\n").
// Past kLogFileLimit bytes it is rotated: brindlex.log becomes brindlex.1.log, .1
// becomes .2 and so on, and the oldest beyond kLogFileGenerations goes.
#pragma once

#include <windows.h>

#include <string>

#include "app/link_guard.h"

constexpr unsigned long long kLogFileLimit = 1024 * 1024;
constexpr int kLogFileGenerations = 3;

// Not thread-safe: the log calls it under its own output lock.
class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Creates folder if needed and holds it for as long as the log is open, rotates a
  // file that firstLine would take past the limit, opens brindlex.log for appending
  // (others may read and delete it meanwhile) and writes firstLine plus a line end.
  // False when the file cannot be had.
  bool Open(const std::wstring& folder, const std::string& firstLine);
  void Close();
  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }

  // One finished line ("\n"-terminated), in one write; rotates once the file has
  // passed the limit. Failures (a full disk) are ignored: the log goes on without.
  void Append(const char* text, size_t size);

  // <folder>\brindlex.log, or <folder>\brindlex.<generation>.log.
  static std::wstring PathOf(const std::wstring& folder, int generation);
  // The file name alone.
  static std::wstring NameOf(int generation);

 private:
  bool OpenCurrent();
  bool Rotate();

  HANDLE file_ = INVALID_HANDLE_VALUE;
  // Every file is opened and renamed by its name inside this folder, so a folder
  // swapped for a link after the check is never written through.
  LinkGuard::HeldFolder folder_;
  unsigned long long size_ = 0;
  // After a failed rotation (an old file held open by someone), the next attempt
  // waits until this size.
  unsigned long long nextRotation_ = kLogFileLimit;
  std::string translated_;
};
