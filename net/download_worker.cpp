#include "net/download_worker.h"

#include <cstring>

#include "app/log.h"
#include "app/ui_messages.h"
#include "net/curl_request.h"
#include "net/running_downloads.h"

namespace {

// Runs last on the download thread that used libcurl, whichever way its task ends.
struct ThreadStateRelease {
  ~ThreadStateRelease() { CurlRequest::ReleaseThreadState(); }
};

}  // namespace

void RunDownloadTask(std::unique_ptr<MSG> message) {
  const RunningDownloads::Registration running;
  if (!message) return;
  std::unique_ptr<DownloadTask> task(reinterpret_cast<DownloadTask*>(message->wParam));
  // The program is ending: neither libcurl nor the TLS library may be entered now.
  if (!task || running.stopping()) return;
  const ThreadStateRelease releaseOnExit;
  // A progress name whose call string cannot carry "(100)" gets no progress calls at
  // all, rather than the short percentages only.
  CurlProgressFunction progress = ReportDownloadProgress;
  if (task->progressCallbackName.size() + strlen("(100)") >= kProgressCallBufferSize) {
    LOG_ERROR("progress callback name too long for its call string (%u bytes, limit %u), "
              "no progress posted",
              static_cast<unsigned>(task->progressCallbackName.size()),
              static_cast<unsigned>(kProgressCallBufferSize - 1 - strlen("(100)")));
    progress = nullptr;
  }
  CurlRequest::Instance().DownloadFile(task->url.c_str(), task->filePath.c_str(), progress,
                                       task.get());
}

int ReportDownloadProgress(void* clientp, double dltotal, double dlnow, double, double) {
  auto* task = static_cast<DownloadTask*>(clientp);
  const long percent =
      (dlnow > 0 && dltotal > 0) ? static_cast<long>(dlnow / dltotal * 100) : 0;
  if (percent == task->lastPercent) return 0;
  // Stored even when the post fails, so a gone window costs one attempt per change.
  task->lastPercent = percent;
  PostScriptCall(task->hwnd, kProgressCallBufferSize, task->progressCallbackName.c_str(),
                 percent);
  return 0;
}
