// The downloads running on worker threads, so that the program's exit can stop them
// before the runtime's exit handlers (the TLS library's clean-up among them) run
// under a worker that is still inside libcurl.
#pragma once

#include <windows.h>

namespace RunningDownloads {

// How long the program's exit waits for running downloads to stop.
constexpr DWORD kExitWaitMilliseconds = 2000;

// Held by a download worker for the whole of its work, the release of the TLS
// library's thread state included. A worker whose registration finds the program
// ending (stopping()) must not start its transfer.
class Registration {
 public:
  Registration();
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  bool stopping() const { return stopping_; }

 private:
  bool stopping_;
};

// True once Stop was called: running transfers abort at their next progress report
// (libcurl gives one at least every second).
bool StopRequested();

// Tells every running download to stop and waits until their workers are done, at
// most waitMilliseconds. True when none is left. Downloads that start afterwards
// stop at once.
bool Stop(DWORD waitMilliseconds = kExitWaitMilliseconds);

// Lets downloads run again after Stop, for a process that goes on (tests).
void Resume();

}  // namespace RunningDownloads
