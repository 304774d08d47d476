// Keeps the thread's last-error code across a scope. The log's line head shows that
// code, so work done beside the log (its file copy, the crash reporter's set-up) must
// leave it as it found it.
#pragma once

#include <windows.h>

class LastErrorKept {
 public:
  LastErrorKept() : saved_(GetLastError()) {}
  ~LastErrorKept() { SetLastError(saved_); }
  LastErrorKept(const LastErrorKept&) = delete;
  LastErrorKept& operator=(const LastErrorKept&) = delete;

 private:
  DWORD saved_;
};
