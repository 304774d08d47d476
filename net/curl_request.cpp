// The progress option keeps the double-based form the page's percentages are made from.
#define CURL_DISABLE_DEPRECATION
#include "net/curl_request.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <memory>

#include "app/log.h"
#include "app/ui_messages.h"
#include "net/part_file.h"
#include "net/running_downloads.h"

namespace {

// How much libcurl reads from the socket at once (its default is 16 KiB). Under Wine
// every read costs wineserver requests whatever it brings, so a fast transfer wants
// few, large reads: on loopback 64 KiB gives a third of the speed of 4 MiB, and
// libcurl's largest (10 MiB) measured no faster than 4 MiB. The body still reaches
// the write callback in pieces of at most 16 KiB, which the part file gathers into
// large writes.
constexpr long kReceiveBufferBytes = 4 * 1024 * 1024;

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

// Stands between libcurl and the caller's progress function. It stops the transfer
// when the program is ending, whether or not the caller reports progress, and it
// holds back the report of a complete body until the body is in place, so that no
// 100 % is reported for a download that then fails (a full disk, an error status).
struct ProgressRelay {
  CurlProgressFunction forward = nullptr;
  void* user = nullptr;
  bool completeHeld = false;
  double heldTotal = 0;
  double heldNow = 0;

  void ReportHeldCompletion() const {
    if (forward && completeHeld) forward(user, heldTotal, heldNow, 0, 0);
  }
};

int RelayProgress(void* clientp, double dltotal, double dlnow, double ultotal, double ulnow) {
  auto* relay = static_cast<ProgressRelay*>(clientp);
  if (RunningDownloads::StopRequested()) return 1;  // libcurl ends with "aborted by callback"
  if (!relay->forward) return 0;
  if (dltotal > 0 && dlnow >= dltotal) {
    relay->completeHeld = true;
    relay->heldTotal = dltotal;
    relay->heldNow = dlnow;
    return 0;
  }
  return relay->forward(relay->user, dltotal, dlnow, ultotal, ulnow);
}

void SetTransferOptions(CURL* handle, const char* url, PartFile* file, ProgressRelay* relay,
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
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_PROGRESSDATA, relay);
  curl_easy_setopt(handle, CURLOPT_PROGRESSFUNCTION, RelayProgress);
  // A stalled server must not hold the worker and its task forever.
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
}

// Closes the body's file; false, with a warning naming the target and the system's
// reason, when the disk did not take all of it.
bool SavedWhole(PartFile& part, const char* target) {
  if (part.Finish()) return true;
  SetLastError(part.error());
  LOG_WARNING("download not saved, the disk took only %lld bytes for %s", part.size(), target);
  return false;
}

// Only a 2xx reply carries the file: the body of an error or a redirect must never
// take the target's place.
bool AnsweredSuccess(long status, const char* url) {
  if (status >= 200 && status <= 299) return true;
  SetLastError(0);
  LOG_WARNING("download not saved, the server answered status %ld: %s", status, url);
  return false;
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
  if (!part.valid()) {
    LOG_WARNING("cannot create the download file beside %s", path);
    return false;
  }
  ProgressRelay relay;
  relay.forward = progress;
  relay.user = user;
  SetTransferOptions(handle.get(), url, &part, &relay, limits);

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
  long status = 0;
  curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
  handle.reset();

  // The page may open, hash or run the file as soon as it hears of it: the file is
  // closed and in place before the finished call is posted.
  bool finished = SavedWhole(part, path) && res == CURLE_OK && AnsweredSuccess(status, url);
  bool placed = false;
  if (finished && part.size() > 0) {
    DWORD error = 0;
    placed = part.MoveToTarget(&error);
    if (!placed) {
      LOG_ERROR("cannot put the downloaded file in place (error %lu): %s", error, path);
      finished = false;
    }
  } else if (finished && !DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    LOG_WARNING("cannot remove %s after an empty reply", path);
  }
  if (finished) relay.ReportHeldCompletion();
  if (task) PostScriptCall(task->hwnd, kFinishedCallBufferSize, finishedName, finished ? 1 : 0);
  return placed;
}

size_t WriteToFileCallback(char* data, size_t size, size_t count, void* file) {
  // A count short of the block (the disk took less) makes libcurl end the transfer
  // with a write error.
  return static_cast<PartFile*>(file)->Write(data, size * count);
}
