// Download benchmark: one URL through the program's download path (the worker, the
// file transfer and the real progress callback posting to a message window), timed
// from the start of the worker to the arrival of the finished call.
// Usage: download_bench <url> <target file> [first resume pause ms]
// With a pause given, the worker calls the file transfer itself with that first pause
// before a resumed attempt instead of the program's 1 s, so a run with cuts measures
// the cost of resuming rather than the deliberate wait.
// Before the clock starts, the process does what the program does once at its start:
// libcurl's global set-up, and the system's proxy settings read for the start page
// (which loads winhttp.dll, some 15 ms under Wine, never again on a download).
// Prints: bytes, seconds, MB/s, progress calls, finished value, peak memory.
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/ui_messages.h"
#include "net/curl_request.h"
#include "net/download_worker.h"
#include "net/system_proxy.h"

namespace {

struct Counts {
  long progressCalls = 0;
  long lastPercent = 0;
  int finished = -1;
};

LRESULT CALLBACK CountingWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_WKE_RUN_JS) return DefWindowProcW(hwnd, message, wParam, lParam);
  std::unique_ptr<char[]> call(reinterpret_cast<char*>(wParam));
  auto* counts = reinterpret_cast<Counts*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  long number = 0;
  if (sscanf(call.get(), "p(%ld)", &number) == 1) {
    ++counts->progressCalls;
    counts->lastPercent = number;
  } else if (sscanf(call.get(), "d(%ld)", &number) == 1) {
    counts->finished = static_cast<int>(number);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: download_bench <url> <target file> [first resume pause ms]\n");
    return 2;
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"BrindlexDownloadBench";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
  Counts counts;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&counts));
  if (!CurlRequest::GlobalInit()) return 1;
  SystemProxy::ForUrl(argv[1], 1500);

  auto task = std::make_unique<DownloadTask>();
  task->hwnd = hwnd;
  task->url = argv[1];
  task->filePath = argv[2];
  task->progressCallbackName = "p";
  task->finishedCallbackName = "d";
  auto message = std::make_unique<MSG>();
  message->hwnd = hwnd;
  message->message = WM_WKE_DOWNLOAD;
  message->wParam = reinterpret_cast<WPARAM>(task.release());

  const auto start = std::chrono::steady_clock::now();
  std::thread worker;
  if (argc == 4) {
    TransferLimits limits;
    limits.firstResumePauseMilliseconds = static_cast<DWORD>(strtoul(argv[3], nullptr, 10));
    worker = std::thread([limits, &message] {
      std::unique_ptr<DownloadTask> owned(reinterpret_cast<DownloadTask*>(message->wParam));
      CurlRequest::Instance().DownloadFile(owned->url.c_str(), owned->filePath.c_str(),
                                           ReportDownloadProgress, owned.get(), limits);
      CurlRequest::ReleaseThreadState();
    });
  } else {
    worker = std::thread(RunDownloadTask, std::move(message));
  }
  MSG msg;
  while (counts.finished < 0 && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  worker.join();

  WIN32_FILE_ATTRIBUTE_DATA info = {};
  GetFileAttributesExA(argv[2], GetFileExInfoStandard, &info);
  const double bytes = static_cast<double>(info.nFileSizeHigh) * 4294967296.0 + info.nFileSizeLow;
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  printf("bytes %.0f\nseconds %.3f\nMB/s %.1f\nprogress_calls %ld\nlast_percent %ld\n"
         "finished %d\npeak_working_set_MiB %.1f\npeak_private_MiB %.1f\n",
         bytes, seconds, bytes / seconds / 1e6, counts.progressCalls, counts.lastPercent,
         counts.finished, memory.PeakWorkingSetSize / 1048576.0,
         memory.PeakPagefileUsage / 1048576.0);
  DestroyWindow(hwnd);
  return counts.finished == 1 ? 0 : 1;
}
