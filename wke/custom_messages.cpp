#include "wke/custom_messages.h"

#include <memory>
#include <utility>

#include "app/ansi_text.h"
#include "app/log.h"
#include "app/ui_messages.h"
#include "net/curl_request.h"
#include "net/download_worker.h"
#include "wke/exec_worker.h"

namespace {

wkeWebView g_scriptCallView = nullptr;
HWND g_window = nullptr;          // the window whose procedure is ours
WNDPROC g_windowProc = nullptr;   // its own procedure, which we call on

void RunScriptCall(std::unique_ptr<char[]> call) {
  if (!call) return;
  if (!g_scriptCallView) {
    LOG_WARNING("web window is gone, call dropped: %s", AnsiText(call.get()).c_str());
    return;
  }
  LOG_INFO("wke run js function: %s", AnsiText(call.get()).c_str());
  wkeRunJS(g_scriptCallView, call.get());
}

void StartExec(std::unique_ptr<ExecTask> task) {
  if (!task) return;
  LOG_INFO_W(L"execute c++ function path: %ls, arg: %ls", task->path.c_str(),
             task->parameters.c_str());
  StartExecWorker(std::move(task));
}

}  // namespace

void StartDownloadWorker(const MSG& msg, const DetachedThreadStarter& start) {
  auto copy = std::make_unique<MSG>(msg);
  MSG* raw = copy.get();
  if (start([raw] { RunDownloadTask(std::unique_ptr<MSG>(raw)); })) {
    copy.release();
    return;
  }
  // No worker: the page still hears that the download did not happen.
  std::unique_ptr<DownloadTask> task(reinterpret_cast<DownloadTask*>(msg.wParam));
  if (task) {
    LOG_ERROR("download worker not started for %s", AnsiText(task->url).c_str());
    PostScriptCall(task->hwnd, kFinishedCallBufferSize, task->finishedCallbackName.c_str(), 0);
  }
}

namespace {

LRESULT CALLBACK CustomMessageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC own = g_windowProc;
  // Payloads are pointers into this process: only messages taken from this thread's
  // queue carry them, never one sent in from another thread or process.
  if (!InSendMessage()) {
    MSG msg = {hwnd, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
    const DWORD position = GetMessagePos();
    msg.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (CarryOutCustomMessage(msg)) return 0;
  }
  if (message == WM_NCDESTROY) {
    if (GetWindowLongPtrW(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CustomMessageProc)) {
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
    }
    g_window = nullptr;
    g_windowProc = nullptr;
  }
  if (!own) return DefWindowProcW(hwnd, message, wParam, lParam);
  return CallWindowProcW(own, hwnd, message, wParam, lParam);
}

}  // namespace

void SetScriptCallView(wkeWebView view) { g_scriptCallView = view; }

bool CarryOutCustomMessage(const MSG& msg) {
  if (msg.message < WM_WKE_RUN_JS || msg.message > WM_WKE_DOWNLOAD) return false;
  // Another process may post these numbers too; its wParam is no pointer of ours.
  if (!TakePosted(msg.message, reinterpret_cast<const void*>(msg.wParam))) {
    SetLastError(0);
    LOG_WARNING("message %u with a payload this program did not post (0x%08lX) dropped",
                msg.message, static_cast<unsigned long>(msg.wParam));
    return true;
  }
  switch (msg.message) {
    case WM_WKE_RUN_JS:
      RunScriptCall(std::unique_ptr<char[]>(reinterpret_cast<char*>(msg.wParam)));
      return true;
    case WM_WKE_EXEC:
      StartExec(std::unique_ptr<ExecTask>(reinterpret_cast<ExecTask*>(msg.wParam)));
      return true;
    case WM_WKE_DOWNLOAD:
      StartDownloadWorker(msg);
      return true;
    default:
      return false;
  }
}

bool HandleCustomMessagesIn(HWND hwnd) {
  if (!hwnd) return false;
  if (g_window == hwnd) return true;
  if (g_window) {
    LOG_ERROR("custom messages are already handled in another window");
    return false;
  }
  const LONG_PTR own = SetWindowLongPtrW(hwnd, GWLP_WNDPROC,
                                         reinterpret_cast<LONG_PTR>(&CustomMessageProc));
  if (!own) {
    LOG_ERROR("the host window cannot be subclassed: work posted to it is lost in other "
              "message loops");
    return false;
  }
  g_window = hwnd;
  g_windowProc = reinterpret_cast<WNDPROC>(own);
  return true;
}
