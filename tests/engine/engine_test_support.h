// Helpers for the engine tests: paths of the build's files as Wine sees them, a
// message pump with a deadline, a per-test folder, standard output capture, a local
// HTTP server, and a watcher that reads and closes message boxes so none can block.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/test_support.h"

namespace enginetest {

// "/work/build/x.dll" -> "Z:\work\build\x.dll" (Wine maps Z: to the root).
std::wstring HostPath(const char* unixPath);

// Makes the stand-in engine the one the product's calls reach, loading it when it is
// not (or another engine was loaded since). *freshlyLoaded tells whether it was just
// loaded, so callers can redo their global bindings.
bool EnsureStandInLoaded(bool* freshlyLoaded = nullptr);

// Dispatches messages until `done` is true or `timeoutMs` passes; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
// Dispatches messages for `ms` milliseconds.
void PumpFor(DWORD ms);

// The per-test folder, with pages written into it by their file URLs.
class TempFolder {
 public:
  // Writes `relative` (with '/' separators) and returns its file:/// URL.
  std::string Write(const std::string& relative, const std::string& content);
  std::string UrlOf(const std::string& relative) const;

 private:
  test_support::TempDir dir_;
};

// The lines of captured output that start with `prefix`, without line ends.
std::vector<std::string> LinesStartingWith(const std::string& output, const std::string& prefix);

// A loopback HTTP/1.0 server on its own thread, answering from a table of paths.
class HttpServer {
 public:
  struct Response {
    int status;
    std::string body;
    std::string location;
  };
  HttpServer();
  ~HttpServer();
  void Set(const std::string& path, int status, const std::string& body);
  // Answers `path` with 302 and a Location header.
  void Redirect(const std::string& path, const std::string& location);
  std::string Url(const std::string& path) const;
  int port() const { return port_; }

 private:
  void Serve();
  std::mutex lock_;
  std::map<std::string, Response> routes_;
  uintptr_t listener_;
  int port_ = 0;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on.
int UnusedPort();

struct Box {
  std::string caption;
  std::string text;
};

// Watches the windows of one thread from a helper thread, records each message box
// (caption and text) and presses its OK button.
class BoxWatcher {
 public:
  explicit BoxWatcher(DWORD thread = GetCurrentThreadId());
  ~BoxWatcher();
  std::vector<Box> Boxes();

 private:
  void Watch();
  DWORD thread_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<Box> boxes_;
  std::thread watcher_;
};

}  // namespace enginetest
