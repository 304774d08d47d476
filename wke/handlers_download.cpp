#include <memory>

#include "app/ansi_text.h"
#include "app/ui_messages.h"
#include "net/curl_request.h"
#include "wke/bridge.h"

jsValue WkeFunction::OnDownload(jsExecState es, void* param) {
  const std::string url = ArgUtf8(es, 0);
  const AnsiText path(ArgUtf8(es, 1));
  const std::string progressName = ArgUtf8(es, 2);
  const std::string finishedName = ArgUtf8(es, 3);
  LOG_INFO("execute c++ function url: %s, callback name: %s, finished callbak name: %s",
           url.c_str(), progressName.c_str(), finishedName.c_str());

  // libcurl's global set-up is not safe to race: done here, on the UI thread, before
  // the worker of this download starts.
  CurlRequest::GlobalInit();
  auto task = std::make_unique<DownloadTask>();
  task->hwnd = Bridge(param)->hwnd;
  task->url = url;
  task->filePath = path.c_str();
  task->progressCallbackName = progressName;
  task->finishedCallbackName = finishedName;
  if (!PostOwned(task->hwnd, WM_WKE_DOWNLOAD, task)) {
    LOG_WARNING("download not queued, the window is gone: %s", url.c_str());
  }
  ECHO_UNDEFINED(LOG_INFO);
  return jsUndefined();
}
