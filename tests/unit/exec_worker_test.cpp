#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/ui_messages.h"
#include "tests/unit/test_support.h"
#include "wke/exec_worker.h"

namespace {

// A message-only window that receives the posted call strings.
class CallReceiver {
 public:
  CallReceiver() {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  }
  ~CallReceiver() {
    MSG msg;
    while (PeekMessageW(&msg, hwnd_, WM_WKE_RUN_JS, WM_WKE_RUN_JS, PM_REMOVE)) {
      delete[] reinterpret_cast<char*>(msg.wParam);
    }
    DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }

  // The next call string posted to the window, or "<none>" after timeoutMs.
  std::string NextCall(DWORD timeoutMs = 15000) {
    const DWORD start = GetTickCount();
    for (;;) {
      MSG msg;
      if (PeekMessageW(&msg, hwnd_, WM_WKE_RUN_JS, WM_WKE_RUN_JS, PM_REMOVE)) {
        std::unique_ptr<char[]> call(reinterpret_cast<char*>(msg.wParam));
        return call ? std::string(call.get()) : std::string("<null>");
      }
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) return "<none>";
      MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_POSTMESSAGE);
    }
  }

 private:
  HWND hwnd_ = nullptr;
};

std::unique_ptr<ExecTask> Task(HWND hwnd, const std::wstring& path,
                               const std::wstring& parameters, int wait,
                               const std::string& callback) {
  auto task = std::make_unique<ExecTask>();
  task->hwnd = hwnd;
  task->path = path;
  task->parameters = parameters;
  task->showCommand = SW_HIDE;
  task->wait = wait;
  task->callbackName = callback;
  return task;
}

}  // namespace

TEST(RunProgram, WaitReturnsOnlyAfterTheProcessEnded) {
  test_support::TempDir folder;
  const std::wstring marker = folder.File(L"marker.txt");
  // The program's last act is to write the marker, and it exits with a nonzero code,
  // which is not looked at.
  const std::wstring parameters = L"/c echo done> \"" + marker + L"\" & exit 3";
  ASSERT_TRUE(RunProgram(L"cmd.exe", parameters, SW_HIDE, true));
  EXPECT_TRUE(test_support::PathExists(marker));
}

TEST(RunProgram, NoWaitStartsTheProgram) {
  test_support::TempDir folder;
  const std::wstring marker = folder.File(L"marker.txt");
  const std::wstring parameters = L"/c echo done> \"" + marker + L"\"";
  ASSERT_TRUE(RunProgram(L"cmd.exe", parameters, SW_HIDE, false));
  const DWORD start = GetTickCount();
  while (!test_support::PathExists(marker) && GetTickCount() - start < 15000) Sleep(50);
  EXPECT_TRUE(test_support::PathExists(marker));
  Sleep(100);  // let cmd close the file before the folder goes
}

TEST(RunProgram, PathThatCannotBeOpenedFails) {
  EXPECT_FALSE(RunProgram(L"C:\\brindlex-no-such-folder\\missing.exe", L"", SW_HIDE, true));
  EXPECT_FALSE(RunProgram(L"", L"", SW_HIDE, false));
}

TEST(RunProgram, OverlongPathFailsWithoutReachingTheShell) {
  // The shell crashes the process on a path this long; the call must fail instead.
  const std::wstring longPath = L"C:\\brindlex-nope" + std::wstring(1100, L'n') + L".exe";
  EXPECT_FALSE(RunProgram(longPath, L"", SW_HIDE, false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(RunProgram(std::wstring(1024 * 1024, L'n'), L"", SW_HIDE, true));
}

TEST(ExecWorker, ReportsOneWhenTheProgramRanWithWait) {
  CallReceiver receiver;
  ASSERT_NE(receiver.hwnd(), nullptr);
  StartExecWorker(Task(receiver.hwnd(), L"cmd.exe", L"/c exit 3", 1, "execDone"));
  EXPECT_EQ(receiver.NextCall(), "execDone(1)");
}

TEST(ExecWorker, ReportsOneWithoutWait) {
  CallReceiver receiver;
  RunExecTask(Task(receiver.hwnd(), L"cmd.exe", L"/c exit 0", 0, "started"));
  EXPECT_EQ(receiver.NextCall(1000), "started(1)");
}

TEST(ExecWorker, ReportsZeroForAPathThatCannotBeOpened) {
  CallReceiver receiver;
  StartExecWorker(
      Task(receiver.hwnd(), L"C:\\brindlex-no-such-folder\\missing.exe", L"", 1, "cb"));
  EXPECT_EQ(receiver.NextCall(), "cb(0)");
}

TEST(ExecWorker, ThreadThatCannotStartReportsZeroWithoutRunning) {
  CallReceiver receiver;
  int starts = 0;
  auto failingStart = [&starts](std::function<void()>) {
    ++starts;
    return false;
  };
  testing::internal::CaptureStdout();
  StartExecWorker(Task(receiver.hwnd(), L"cmd.exe", L"/c exit 0", 0, "onExec"), failingStart);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(starts, 1);
  EXPECT_NE(log.find("[error"), std::string::npos) << log;
  // Posted before StartExecWorker returned: no thread is involved.
  EXPECT_EQ(receiver.NextCall(0), "onExec(0)");
  EXPECT_EQ(receiver.NextCall(0), "<none>");
}

TEST(ExecWorker, CallbackNameTooLongForItsBufferIsNotPosted) {
  CallReceiver receiver;
  // "name(1)" plus its terminator must fit 256 bytes: 252 characters fit, 253 do not.
  RunExecTask(Task(receiver.hwnd(), L"cmd.exe", L"/c exit 0", 0, std::string(252, 'f')));
  EXPECT_EQ(receiver.NextCall(1000), std::string(252, 'f') + "(1)");
  testing::internal::CaptureStdout();
  RunExecTask(Task(receiver.hwnd(), L"cmd.exe", L"/c exit 0", 0, std::string(253, 'g')));
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(receiver.NextCall(300), "<none>");
  EXPECT_NE(log.find("[error"), std::string::npos) << log;
}

TEST(DetachedThread, EveryBodyRunsExactlyOnceWithItsOwnData) {
  // Workers that end at once, started back to back: the moment a thread ends while
  // it is still being let go is where a start record can go to the wrong thread.
  constexpr int kThreads = 1000;
  // Shared with the threads, so a slow one never outlives what it counts into, even
  // when the test gives up waiting.
  struct Counts {
    std::vector<std::atomic<int>> runs = std::vector<std::atomic<int>>(kThreads);
    std::atomic<int> finished{0};
  };
  auto counts = std::make_shared<Counts>();
  const DWORD start = GetTickCount();
  for (int i = 0; i < kThreads; ++i) {
    // A bounded number alive at once: each reserves its stack in a 2 GB address space.
    while (i - counts->finished.load() >= 64 && GetTickCount() - start < 120000) Sleep(0);
    auto payload = std::make_unique<int>(i);
    int* raw = payload.get();
    ASSERT_TRUE(StartDetachedThread([raw, counts] {
      std::unique_ptr<int> index(raw);
      ++counts->runs[*index];
      ++counts->finished;
    }));
    payload.release();
  }
  while (counts->finished.load() < kThreads && GetTickCount() - start < 120000) Sleep(10);
  ASSERT_EQ(counts->finished.load(), kThreads);
  for (int i = 0; i < kThreads; ++i) ASSERT_EQ(counts->runs[i].load(), 1) << "body " << i;
}
