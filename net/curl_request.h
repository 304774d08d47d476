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

class CurlRequest {
 public:
  static CurlRequest& Instance();
  // Blocking. Posts the finished call "<name>(1|0)" when the transfer ran; true when
  // the file holds at least one byte afterwards.
  bool DownloadFile(const char* url, const char* path, CurlProgressFunction progress,
                    void* user);
};

size_t WriteToFileCallback(char* data, size_t size, size_t count, void* file);
