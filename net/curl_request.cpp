// The progress option keeps the double-based form the page's percentages are made from.
#define CURL_DISABLE_DEPRECATION
#include "net/curl_request.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "app/log.h"
#include "app/ui_messages.h"
#include "net/part_file.h"
#include "net/reply_headers.h"
#include "net/root_certificates.h"
#include "net/running_downloads.h"
#include "net/system_proxy.h"

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

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// One download across its attempts and redirects: what the header function decided
// about the reply being received, and what the first reply said about the entity.
struct Transfer {
  PartFile* part = nullptr;
  const char* url = "";
  ReplyHeaders reply;
  long long askedFrom = 0;         // the first byte this attempt asked for (Range)
  std::string validator;           // strong, of the entity being saved; sent as If-Range
  long long entityLength = -1;     // the complete length, once a reply announced it
  long long bodyBase = 0;          // where in the entity this reply's body begins
  bool saving = false;             // this reply's body goes to the part file
  bool started = false;            // a 2xx reply began: a cut is worth resuming
  const char* mismatch = nullptr;  // why a 206 was not the rest of the part file
};

// Decides, once a reply's headers are in, whether its body is the file's and where
// it goes: a 206 that continues the part file is appended, any other 2xx starts the
// part file over, anything else is not the file at all.
size_t TakeHeaderLine(char* line, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t length = size * count;
  if (!transfer->reply.Take(line, length)) return length;
  const ReplyHeaders& reply = transfer->reply;
  transfer->saving = false;
  if (reply.status() < 200 || reply.status() > 299) return length;
  if (reply.status() == 206) {
    // Only the same bytes of the same version may follow the part file: a range that
    // does not repeat its strong validator may be of a file that changed meanwhile.
    if (transfer->askedFrom == 0) {
      transfer->mismatch = "a range that was not asked for";
    } else if (reply.rangeFirst() != transfer->askedFrom) {
      transfer->mismatch = "a range from another byte";
    } else if (reply.validator().empty()) {
      transfer->mismatch = "a range without a strong validator";
    } else if (reply.validator() != transfer->validator) {
      transfer->mismatch = "a range of another version";
    }
    if (transfer->mismatch) return 0;  // ends this attempt; the next one starts over
    if (reply.rangeComplete() >= 0) {
      transfer->entityLength = reply.rangeComplete();
    } else if (reply.contentLength() >= 0) {
      transfer->entityLength = transfer->askedFrom + reply.contentLength();
    }
    transfer->bodyBase = transfer->askedFrom;
  } else {
    if (transfer->askedFrom > 0) {
      SetLastError(0);
      LOG_WARNING("download starts over: asked for the rest from byte %lld, the server sent "
                  "the whole file (status %ld%s): %s",
                  transfer->askedFrom, reply.status(),
                  reply.validator() != transfer->validator ? ", changed" : "", transfer->url);
    }
    if (transfer->part->written() > 0 && !transfer->part->Restart()) return 0;
    transfer->validator = reply.validator();
    transfer->entityLength = reply.contentLength();
    transfer->bodyBase = 0;
  }
  transfer->saving = true;
  transfer->started = true;
  return length;
}

// Stands between libcurl and the caller's progress function. It stops the transfer
// when the program is ending, whether or not the caller reports progress; it reports
// in terms of the whole file across resumed attempts, never going back after a
// start-over; and it holds back the report of a complete body until the body is in
// place, so that no 100 % is reported for a download that then fails.
struct ProgressRelay {
  CurlProgressFunction forward = nullptr;
  void* user = nullptr;
  const Transfer* transfer = nullptr;
  double reachedFraction = 0;
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
  const Transfer& transfer = *relay->transfer;
  if (!relay->forward || !transfer.saving) return 0;
  const double base = static_cast<double>(transfer.bodyBase);
  const double total = transfer.entityLength > 0 ? static_cast<double>(transfer.entityLength)
                                                 : (dltotal > 0 ? base + dltotal : 0);
  const double now = base + dlnow;
  if (total <= 0) return 0;
  if (now >= total) {
    relay->completeHeld = true;
    relay->heldTotal = total;
    relay->heldNow = now;
    return 0;
  }
  if (now / total < relay->reachedFraction) return 0;
  relay->reachedFraction = now / total;
  return relay->forward(relay->user, total, now, ultotal, ulnow);
}

void SetTransferOptions(CURL* handle, Transfer* transfer, ProgressRelay* relay,
                        const TransferLimits& limits) {
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  // The page may run what it downloads with administrator rights: the server must
  // prove who it is, against the certificate authorities Windows trusts and the
  // program's own current set, and nothing else (no bundle path compiled into
  // libcurl, which any user could create on disk).
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
  curl_easy_setopt(handle, CURLOPT_CAINFO, static_cast<char*>(nullptr));
  curl_easy_setopt(handle, CURLOPT_CAPATH, static_cast<char*>(nullptr));
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, RootCertificates::AddToContext);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, TakeHeaderLine);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, transfer);
  curl_easy_setopt(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, transfer);
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

// Sets what differs between attempts: the address, and for a resumed transfer the
// range of the same entity. Returns the header list the request must keep.
// *proxy: the proxy Windows chose for it, as the log may show it.
HeaderList SetAttemptOptions(CURL* handle, const std::string& url, const Transfer& transfer,
                             std::string* proxy) {
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  HeaderList headers;
  // The rest is asked for only of a file with a strong validator, sent as If-Range: a
  // server whose file changed then sends the new one whole. No list, no range.
  if (transfer.askedFrom > 0 && !transfer.validator.empty()) {
    headers.reset(curl_slist_append(nullptr, ("If-Range: " + transfer.validator).c_str()));
  }
  if (headers) {
    char range[32];
    snprintf(range, sizeof(range), "%lld-", transfer.askedFrom);
    curl_easy_setopt(handle, CURLOPT_RANGE, range);  // copied by libcurl
  } else {
    curl_easy_setopt(handle, CURLOPT_RANGE, static_cast<char*>(nullptr));
  }
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  *proxy = SystemProxy::Apply(handle, url);
  return headers;
}

// The network, not the server's answer, ended the transfer early: worth asking for
// the rest.
bool IsTransportFailure(CURLcode res) {
  switch (res) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_SSL_CONNECT_ERROR:
      return true;
    default:
      return false;
  }
}

// The lower-case scheme of an absolute address, or "".
std::string SchemeOf(const std::string& url) {
  const size_t end = url.find("://");
  if (end == std::string::npos) return std::string();
  std::string scheme = url.substr(0, end);
  for (char& c : scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return scheme;
}

// Moves *current on to the redirect's target when it is one a download may follow.
bool FollowRedirect(std::string* current, const char* target, long status, int count,
                    int limit) {
  SetLastError(0);
  const std::string next = target ? target : "";
  const std::string scheme = SchemeOf(next);
  if (next.empty()) {
    LOG_WARNING("download not saved, status %ld without a usable Location: %s", status,
                current->c_str());
  } else if (count > limit) {
    LOG_WARNING("download not saved, more than %d redirects, the last from %s to %s", limit,
                current->c_str(), next.c_str());
  } else if (scheme != "http" && scheme != "https") {
    LOG_WARNING("download refused a redirect to another scheme, from %s to %s",
                current->c_str(), next.c_str());
  } else if (SchemeOf(*current) == "https" && scheme == "http") {
    LOG_WARNING("download refused a redirect from https to http, from %s to %s",
                current->c_str(), next.c_str());
  } else {
    LOG_INFO("download redirected (%ld) from %s to %s", status, current->c_str(), next.c_str());
    *current = next;
    return true;
  }
  return false;
}

// A proxy that asks for credentials or cannot be reached ends the download: the
// warning names the proxy (never a password) so support can see which one.
bool ProxyRefused(CURL* handle, CURLcode res, long status, const std::string& proxy,
                  const std::string& url) {
  long connectStatus = 0;
  curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
  SetLastError(0);
  if (status == 407 || connectStatus == 407) {
    LOG_WARNING("download not saved, the proxy %s asked for credentials (status 407): %s",
                proxy.c_str(), url.c_str());
    return true;
  }
  if (res == CURLE_COULDNT_CONNECT || res == CURLE_COULDNT_RESOLVE_PROXY ||
      (connectStatus != 0 && (connectStatus < 200 || connectStatus > 299))) {
    LOG_WARNING("download not saved, the proxy %s could not be used (res %d, status %ld): %s",
                proxy.c_str(), res, connectStatus, url.c_str());
    return true;
  }
  return false;
}

// Waits before a resumed attempt; false when the program began to end meanwhile.
bool PauseBeforeResume(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    if (RunningDownloads::StopRequested()) return false;
    Sleep(std::min<DWORD>(milliseconds - (GetTickCount() - start), 50));
  }
  return !RunningDownloads::StopRequested();
}

// Writes out the last of the body; false, with a warning naming the target and the
// system's reason, when the disk did not take all of it.
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
  Transfer transfer;
  transfer.part = &part;
  transfer.url = url;
  ProgressRelay relay;
  relay.forward = progress;
  relay.user = user;
  relay.transfer = &transfer;
  SetTransferOptions(handle.get(), &transfer, &relay, limits);
  char detail[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle.get(), CURLOPT_ERRORBUFFER, detail);

  std::string current = url;
  int redirects = 0;
  int resumes = 0;
  bool restartedAfterRangeRefused = false;
  bool refused = false;
  std::string proxy;
  CURLcode res = CURLE_OK;
  long status = 0;
  for (;;) {
    transfer.askedFrom = transfer.validator.empty() ? 0 : part.written();
    transfer.mismatch = nullptr;
    transfer.saving = false;
    detail[0] = '\0';
    const HeaderList headers = SetAttemptOptions(handle.get(), current, transfer, &proxy);
    res = curl_easy_perform(handle.get());
    status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    if (!proxy.empty() && ProxyRefused(handle.get(), res, status, proxy, current)) {
      refused = true;
      break;
    }
    if (res == CURLE_OK && IsFollowedRedirect(status)) {
      char* target = nullptr;
      curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_URL, &target);
      if (FollowRedirect(&current, target, status, ++redirects, limits.maxRedirects)) continue;
      refused = true;
      break;
    }
    // The part file no longer fits the entity: once, start it over.
    if (res == CURLE_OK && status == 416 && transfer.askedFrom > 0 &&
        !restartedAfterRangeRefused) {
      restartedAfterRangeRefused = true;
      SetLastError(0);
      LOG_WARNING("download starts over: the server refused the range from byte %lld: %s",
                  transfer.askedFrom, current.c_str());
      transfer.validator.clear();
      if (part.Restart()) continue;
      break;
    }
    // A body shorter than announced is a cut, however the connection ended.
    if (res == CURLE_OK && transfer.saving && transfer.entityLength >= 0 &&
        part.written() != transfer.entityLength) {
      res = CURLE_PARTIAL_FILE;
      snprintf(detail, sizeof(detail), "%lld of %lld bytes", part.written(),
               transfer.entityLength);
    }
    // A 206 that does not continue the part file is an answer, the first reply too (a
    // range to a request that asked for none): asked again without one, the server may
    // send the whole file.
    const bool cut = !part.error() &&
                     (transfer.mismatch || (transfer.started && IsTransportFailure(res)));
    if (!cut || resumes >= limits.resumeAttempts) break;
    ++resumes;
    // Without a strong validator nothing proves the rest would be of the same file: a
    // server that changed it meanwhile would have two versions saved as one.
    const bool startOver = transfer.mismatch || transfer.validator.empty();
    if (startOver && !part.Restart()) break;
    char next[64] = "starting over from byte 0";
    if (!startOver) snprintf(next, sizeof(next), "resuming at byte %lld", part.written());
    const DWORD pause = limits.firstResumePauseMilliseconds << (resumes - 1);
    const char* why = transfer.mismatch ? transfer.mismatch : detail;
    SetLastError(0);
    LOG_WARNING("download cut short (%s%s%s), %s in %lu ms%s, attempt %d of %d: %s",
                transfer.mismatch ? "the reply did not continue the file"
                                  : curl_easy_strerror(res),
                why[0] ? ": " : "", why, next, pause,
                startOver && !transfer.mismatch
                    ? ", as the reply named no strong validator (ETag or Last-Modified)"
                    : "",
                resumes, limits.resumeAttempts, current.c_str());
    if (!PauseBeforeResume(pause)) {
      res = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
  }
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

  // The page may open, hash or run the file as soon as it hears of it: the file is in
  // place and the part file's handle closed before the finished call is posted.
  bool finished = SavedWhole(part, path) && res == CURLE_OK && !refused &&
                  AnsweredSuccess(status, current.c_str());
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
  part.Discard();
  if (finished) relay.ReportHeldCompletion();
  if (task) PostScriptCall(task->hwnd, kFinishedCallBufferSize, finishedName, finished ? 1 : 0);
  return placed;
}

size_t WriteToFileCallback(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  // The body of a redirect or an error page is not the file's.
  if (!transfer->saving) return size * count;
  // A count short of the block (the disk took less) makes libcurl end the transfer
  // with a write error.
  return transfer->part->Write(data, size * count);
}
