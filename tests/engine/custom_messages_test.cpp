// Work posted to the host window while a modal message box holds the UI thread: the
// box's own loop dispatches it, and each call string, program start and download is
// still carried out exactly once, its callback run in the page, its payload freed.
#include <gtest/gtest.h>

#include <windows.h>

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/ui_messages.h"
#include "net/curl_request.h"
#include "tests/engine/engine_test_support.h"
#include "wke/custom_messages.h"
#include "wke/exec_worker.h"
#include "wke/wke_api.h"

// Live allocations of this program, so that a payload nobody freed shows. (The engine
// library allocates from its own runtime and is not counted.)
namespace {
volatile LONG g_liveAllocations = 0;
void* Allocate(size_t size) {
  void* block = malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  InterlockedIncrement(&g_liveAllocations);
  return block;
}
void Release(void* block) {
  if (!block) return;
  InterlockedDecrement(&g_liveAllocations);
  free(block);
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }

namespace {

constexpr int kScriptCalls = 200;
constexpr int kPrograms = 3;
constexpr int kDownloads = 2;
constexpr wchar_t kBoxCaption[] = L"held by a test";

std::vector<std::string> g_calls;  // what the page's callbacks reported, in order
std::vector<bool> g_callsInBox;    // whether each came while the box was up
bool g_boxUp = false;
volatile LONG g_finished = 0;      // call strings, program and download ends seen

jsValue __cdecl RecordCall(jsExecState es, void*) {
  const std::string call = jsToString(es, jsArg(es, 0));
  g_calls.push_back(call);
  g_callsInBox.push_back(g_boxUp);
  if (call[0] != 'p') InterlockedIncrement(&g_finished);
  return jsUndefined();
}

struct BoxDismissal {
  DWORD uiThread;
  LONG expected;
};

BOOL CALLBACK PressOk(HWND hwnd, LPARAM found) {
  // Only a dialog's text is read: reading another window's would send it a message,
  // and the test's thread may not be taking any.
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (wcscmp(name, L"#32770") != 0) return TRUE;
  wchar_t caption[64] = {};
  GetWindowTextW(hwnd, caption, 64);
  if (wcscmp(caption, kBoxCaption) != 0) return TRUE;
  PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

// Presses the box's OK once every callback has come, or after 20 s.
unsigned __stdcall DismissWhenDone(void* parameter) {
  const BoxDismissal* dismissal = static_cast<const BoxDismissal*>(parameter);
  const DWORD start = GetTickCount();
  while (InterlockedCompareExchange(&g_finished, 0, 0) < dismissal->expected &&
         GetTickCount() - start < 20000) {
    Sleep(20);
  }
  // Until the box is gone (it may not be up yet, or miss the first press).
  bool pressed = false;
  for (int tries = 0; tries < 200; ++tries) {
    bool found = false;
    EnumThreadWindows(dismissal->uiThread, PressOk, reinterpret_cast<LPARAM>(&found));
    if (pressed && !found) break;
    pressed = pressed || found;
    Sleep(50);
  }
  return 0;
}

class NestedLoop : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enginetest::EnsureStandInLoaded());
    ASSERT_TRUE(CurlRequest::GlobalInit());
    wkeJsBindFunction("recordCall", RecordCall, nullptr, 1);
    view_ = wkeCreateWebWindow(WKE_WINDOW_TYPE_TRANSPARENT, nullptr, 0, 0, 320, 240);
    ASSERT_NE(view_, nullptr);
    hwnd_ = wkeGetHostHWND(view_);
    wkeRunJS(view_, "['c', 'e', 'p', 'f'].forEach(function (name) {"
                    "  window[name] = function (v) { recordCall(name + ':' + v); }; });");
    SetScriptCallView(view_);
    ASSERT_TRUE(HandleCustomMessagesIn(hwnd_));
    server_.Set("/file", 200, std::string(300000, 'd'));
    g_calls.reserve(kScriptCalls * 4);
    g_callsInBox.reserve(kScriptCalls * 4);
  }
  void TearDown() override {
    SetScriptCallView(nullptr);
    wkeDestroyWebWindow(view_);
    enginetest::PumpFor(20);
  }

  // Posts every kind of work, then holds the UI thread in a message box until all of
  // it has called back.
  void PostAllUnderABox(const std::wstring& folder) {
    g_calls.clear();
    g_callsInBox.clear();
    g_finished = 0;
    for (int i = 0; i < kScriptCalls; ++i) {
      ASSERT_TRUE(PostScriptCall(hwnd_, kFinishedCallBufferSize, "c", i));
    }
    for (int i = 0; i < kPrograms; ++i) {
      auto task = std::make_unique<ExecTask>();
      task->hwnd = hwnd_;
      task->path = L"cmd.exe";
      task->parameters = L"/c exit 0";
      task->showCommand = SW_HIDE;
      task->wait = 1;
      task->callbackName = "e";
      ASSERT_TRUE(PostOwned(hwnd_, WM_WKE_EXEC, task));
    }
    for (int i = 0; i < kDownloads; ++i) {
      auto task = std::make_unique<DownloadTask>();
      task->hwnd = hwnd_;
      task->url = server_.Url("/file");
      char path[MAX_PATH];
      snprintf(path, sizeof(path), "%ls\\d%d.bin", folder.c_str(), i);
      task->filePath = path;
      task->progressCallbackName = "p";
      task->finishedCallbackName = "f";
      ASSERT_TRUE(PostOwned(hwnd_, WM_WKE_DOWNLOAD, task));
    }
    BoxDismissal dismissal{GetCurrentThreadId(), kScriptCalls + kPrograms + kDownloads};
    const uintptr_t dismisser = _beginthreadex(nullptr, 0, DismissWhenDone, &dismissal, 0, nullptr);
    ASSERT_NE(dismisser, 0u);
    g_boxUp = true;
    MessageBoxW(hwnd_, L"work is on its way", kBoxCaption, MB_OK);
    g_boxUp = false;
    const HANDLE thread = reinterpret_cast<HANDLE>(dismisser);
    EXPECT_TRUE(enginetest::PumpUntil([&] { return WaitForSingleObject(thread, 0) == 0; }, 30000));
    CloseHandle(thread);
  }

  enginetest::HttpServer server_;
  wkeWebView view_ = nullptr;
  HWND hwnd_ = nullptr;
};

// Each call string once and in order, each program and download ended once, every
// callback while the box was up, the downloaded files whole.
void CheckRound(const std::wstring& folder) {
  std::vector<std::string> scriptCalls;
  int programs = 0;
  int downloads = 0;
  int fullProgress = 0;
  for (const std::string& call : g_calls) {
    switch (call[0]) {
      case 'c': scriptCalls.push_back(call); break;
      case 'e': programs += call == "e:1"; break;
      case 'f': downloads += call == "f:1"; break;
      default: fullProgress += call == "p:100"; break;
    }
  }
  ASSERT_EQ(static_cast<int>(scriptCalls.size()), kScriptCalls);
  for (int i = 0; i < kScriptCalls; ++i) EXPECT_EQ(scriptCalls[i], "c:" + std::to_string(i));
  EXPECT_EQ(programs, kPrograms);
  EXPECT_EQ(downloads, kDownloads);
  EXPECT_EQ(fullProgress, kDownloads);
  EXPECT_EQ(std::count(g_callsInBox.begin(), g_callsInBox.end(), false), 0)
      << "callbacks that came after the box";
  for (int i = 0; i < kDownloads; ++i) {
    EXPECT_EQ(test_support::ReadBytes(folder + L"\\d" + std::to_wstring(i) + L".bin"),
              std::string(300000, 'd'));
  }
}

}  // namespace

TEST_F(NestedLoop, EveryPostedCallbackComesOnceInsideAMessageBoxAndNothingLeaks) {
  test_support::TempDir folder;
  PostAllUnderABox(folder.path());  // warms up the log, libcurl and the threads
  CheckRound(folder.path());
  const LONG before = g_liveAllocations;
  PostAllUnderABox(folder.path());
  CheckRound(folder.path());
  // The workers free their tasks after their last post; give them the time to end.
  g_calls.clear();
  EXPECT_TRUE(enginetest::PumpUntil([&] { return g_liveAllocations <= before; }, 5000))
      << "allocations still live: " << g_liveAllocations - before;
}
