#include "net/download_worker.h"
#include "wke/wke_window.h"

// The window's progress function is the download module's: the worker passes that one
// to libcurl, since the download module does not reach into the window.
int WkeWindow::OnDownloadProgressCallback(void* clientp, double dltotal, double dlnow,
                                          double ultotal, double ulnow) {
  return ReportDownloadProgress(clientp, dltotal, dlnow, ultotal, ulnow);
}
