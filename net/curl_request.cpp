// The progress option keeps the double-based form the page's percentages are made from.
#define CURL_DISABLE_DEPRECATION
#include "net/curl_request.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "app/log.h"
#include "app/ui_messages.h"

namespace {

// libcurl's own receive buffer is 16 KiB; larger blocks mean fewer calls through the
// write callback and fewer, larger writes.
constexpr long kReceiveBufferBytes = 4 * 1024 * 1024;
constexpr size_t kFileBufferBytes = 1024 * 1024;
constexpr int kMoveAttempts = 40;
constexpr DWORD kMoveRetryMilliseconds = 50;

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

// The body is written to a file of its own beside the target, so two downloads into
// one path never share a file, and a transfer that fails never leaves a partial body
// under the target's name. The file is removed unless it was moved into place.
class PartFile {
 public:
  explicit PartFile(const std::string& target) {
    static std::atomic<unsigned long> sequence{0};
    for (int attempt = 0; attempt < 8 && !file_; ++attempt) {
      std::string name = target + "." + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetCurrentThreadId()) + "-" +
                         std::to_string(++sequence) + ".part";
      HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS) continue;
        return;  // missing folder, no permission, bad name: no attempt will do better
      }
      const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
      if (fd == -1) {
        CloseHandle(handle);
        DeleteFileA(name.c_str());
        return;
      }
      file_ = _fdopen(fd, "wb");
      if (!file_) {
        _close(fd);
        DeleteFileA(name.c_str());
        return;
      }
      path_ = std::move(name);
      setvbuf(file_, nullptr, _IOFBF, kFileBufferBytes);
    }
  }
  ~PartFile() {
    Close();
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  FILE* file() const { return file_; }

  // Size of what was written; the file is closed afterwards.
  long long CloseAndTakeSize() {
    long long size = 0;
    if (file_ && _fseeki64(file_, 0, SEEK_END) == 0) size = _ftelli64(file_);
    Close();
    return size < 0 ? 0 : size;
  }

  // Replaces the target with the closed file; on failure the file is still removed
  // and *error holds the system's reason.
  bool MoveTo(const char* target, DWORD* error) {
    *error = ERROR_FILE_NOT_FOUND;
    if (path_.empty()) return false;
    // Another download finishing into the same path, or a reader of the old file,
    // holds the target for a moment: wait briefly rather than fail the download.
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
      if (MoveFileExA(path_.c_str(), target, MOVEFILE_REPLACE_EXISTING)) {
        path_.clear();
        return true;
      }
      *error = GetLastError();
      if (*error != ERROR_ACCESS_DENIED && *error != ERROR_SHARING_VIOLATION &&
          *error != ERROR_LOCK_VIOLATION) {
        break;
      }
      Sleep(kMoveRetryMilliseconds);
    }
    return false;
  }

 private:
  void Close() {
    if (file_) fclose(file_);
    file_ = nullptr;
  }

  FILE* file_ = nullptr;
  std::string path_;
};

void SetTransferOptions(CURL* handle, const char* url, FILE* file,
                        CurlProgressFunction progress, void* user,
                        const TransferLimits& limits) {
  curl_easy_setopt(handle, CURLOPT_URL, url);
  // The page may run what it downloads with administrator rights: the server must
  // prove who it is, against the certificate authorities Windows trusts and nothing
  // else (no bundle path compiled into libcurl, which any user could create on disk).
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
  curl_easy_setopt(handle, CURLOPT_CAINFO, static_cast<char*>(nullptr));
  curl_easy_setopt(handle, CURLOPT_CAPATH, static_cast<char*>(nullptr));
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, file);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToFileCallback);
  if (progress) {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_PROGRESSDATA, user);
    curl_easy_setopt(handle, CURLOPT_PROGRESSFUNCTION, progress);
  } else {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
  }
  // A stalled server must not hold the worker and its task forever.
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
}

}  // namespace

CurlRequest& CurlRequest::Instance() {
  static CurlRequest instance;
  return instance;
}

bool CurlRequest::GlobalInit() {
  // A function-local static rather than std::call_once, which keeps per-thread state
  // in the thread library on every download thread that passes here.
  static const CURLcode result = [] {
    const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (code != CURLE_OK) LOG_ERROR("curl_global_init failed, res: %d", code);
    return code;
  }();
  return result == CURLE_OK;
}

void CurlRequest::ReleaseThreadState() { OPENSSL_thread_stop(); }

bool CurlRequest::DownloadFile(const char* url, const char* path,
                               CurlProgressFunction progress, void* user) {
  return DownloadFile(url, path, progress, user, TransferLimits());
}

bool CurlRequest::DownloadFile(const char* url, const char* path,
                               CurlProgressFunction progress, void* user,
                               const TransferLimits& limits) {
  if (!GlobalInit()) return false;
  EasyHandle handle(curl_easy_init());
  if (!handle) return false;
  PartFile part(path);
  if (!part.file()) {
    LOG_WARNING("cannot create the download file beside %s", path);
    return false;
  }
  SetTransferOptions(handle.get(), url, part.file(), progress, user, limits);

  const CURLcode res = curl_easy_perform(handle.get());
  const auto* task = static_cast<const DownloadTask*>(user);
  const char* finishedName = task ? task->finishedCallbackName.c_str() : "";
  if (res == CURLE_OK) {
    LOG_INFO("curl_easy_perform url: %s, res: %d, finished callback name: %s", url, res,
             finishedName);
  } else {
    LOG_WARNING("curl_easy_perform url: %s, res: %d, finished callback name: %s", url, res,
                finishedName);
  }
  handle.reset();

  // The page may open, hash or run the file as soon as it hears of it: the file is
  // closed and in place before the finished call is posted.
  const long long size = part.CloseAndTakeSize();
  bool finished = res == CURLE_OK;
  bool placed = false;
  if (finished && size > 0) {
    DWORD error = 0;
    placed = part.MoveTo(path, &error);
    if (!placed) {
      LOG_ERROR("cannot put the downloaded file in place (error %lu): %s", error, path);
      finished = false;
    }
  } else if (finished && !DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    LOG_WARNING("cannot remove %s after an empty reply", path);
  }
  if (task) PostScriptCall(task->hwnd, kFinishedCallBufferSize, finishedName, finished ? 1 : 0);
  return placed;
}

size_t WriteToFileCallback(char* data, size_t size, size_t count, void* file) {
  // A short write (disk full) is not reported to libcurl; the transfer runs on.
  fwrite(data, size, count, static_cast<FILE*>(file));
  return size * count;
}
