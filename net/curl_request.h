// One URL fetched into one file with libcurl, on the calling (worker) thread.
#pragma once

#include <windows.h>

#include <string>

// One download, from the handler through the UI thread's queue to its worker.
struct DownloadTask {
  HWND hwnd = nullptr;
  std::string url;                   // UTF-8, as the page passed it
  std::string filePath;              // ANSI code page
  std::string progressCallbackName;  // UTF-8
  std::string finishedCallbackName;  // UTF-8
  long lastPercent = 0;              // written only by the progress callback
};

using CurlProgressFunction = int (*)(void* clientp, double dltotal, double dlnow,
                                     double ultotal, double ulnow);

// When a transfer that cannot finish is given up, so its worker and task end and the
// page hears finished 0.
struct TransferLimits {
  long connectTimeoutSeconds = 30;
  long lowSpeedBytesPerSecond = 1;  // slower than this ...
  long lowSpeedSeconds = 60;        // ... for this long aborts
  // A transfer cut short is resumed this many times, the pauses doubling from the
  // first one (1, 2, 4, 8, 16 s).
  int resumeAttempts = 5;
  DWORD firstResumePauseMilliseconds = 1000;
  int maxRedirects = 10;
};

class CurlRequest {
 public:
  static CurlRequest& Instance();

  // libcurl's process-wide set-up, done once; call it before the first worker starts
  // (later calls are cheap and return the first call's outcome).
  static bool GlobalInit();

  // Frees what the TLS library keeps for the calling thread (error queue, random
  // generators). Linked statically it never hears of threads ending, so each download
  // thread calls this last.
  static void ReleaseThreadState();

  // Blocking. Follows redirects (never from https to http) and resumes a transfer
  // that the network cut short, asking for the rest of the same entity.
  // The body goes to a private file beside `path`, which replaces `path`
  // only when the transfer completed with a 2xx status and the disk took every byte;
  // an empty 2xx body removes `path`. Anything else leaves `path` as it was. Then
  // posts the finished call "<name>(1|0)" to the task's window. `progress` (may be
  // null) hears of the complete body only once it is in place, just before the
  // finished call. Returns true when `path` holds the new body (at least one byte).
  // Nothing is posted when no transfer could start (no handle, or the file cannot be
  // created there). The transfer aborts when the program stops its downloads.
  bool DownloadFile(const char* url, const char* path, CurlProgressFunction progress,
                    void* user);
  bool DownloadFile(const char* url, const char* path, CurlProgressFunction progress,
                    void* user, const TransferLimits& limits);
};

// libcurl's write function: `transfer` is the download's state. A body that is the
// file's goes to its part file; returns the bytes the file took, fewer than
// size * count when the disk took less, which ends the transfer.
size_t WriteToFileCallback(char* data, size_t size, size_t count, void* transfer);
