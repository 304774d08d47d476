#include "wke/exec_worker.h"

#include <process.h>
#include <shellapi.h>

#include "app/ansi_text.h"
#include "app/log.h"
#include "app/ui_messages.h"
#include "app/unique_handle.h"
#include "wke/modal_box.h"

bool RunProgram(const std::wstring& path, const std::wstring& parameters, int showCommand,
                bool wait) {
  // No program path reaches this length on disk, and the shell does not survive being
  // handed one: it overruns its own buffers and takes the process down.
  if (path.size() >= MAX_PATH) {
    LOG_ERROR("program path too long (%u characters), not started",
              static_cast<unsigned>(path.size()));
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  // The shell's own "cannot open" box would hold the worker until someone clicks.
  if (ModalBoxesSuppressed()) info.fMask |= SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = showCommand;
  const bool ok = ShellExecuteExW(&info) != FALSE;
  // The shell may open the item in a process it does not hand over: no handle, no wait.
  UniqueHandle process(ok ? info.hProcess : nullptr);
  if (wait && process) WaitForSingleObject(process.get(), INFINITE);
  return ok;
}

void RunExecTask(std::unique_ptr<ExecTask> task) {
  const bool ok = RunProgram(task->path, task->parameters, task->showCommand, task->wait != 0);
  PostScriptCall(task->hwnd, kExecCallBufferSize, task->callbackName.c_str(), ok ? 1 : 0);
}

namespace {

unsigned __stdcall RunDetachedBody(void* parameter) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  // A plain Windows thread rather than a detached std::thread: the toolchain's thread
  // library races when a detached thread ends while it is being detached, and then
  // hands one thread's start record to another (a worker that never runs, or runs
  // with a null argument).
  std::unique_ptr<std::function<void()>> payload(new (std::nothrow)
                                                     std::function<void()>(std::move(body)));
  if (!payload) {
    LOG_ERROR("worker thread not started: out of memory");
    return false;
  }
  const uintptr_t thread =
      _beginthreadex(nullptr, 0, RunDetachedBody, payload.get(), 0, nullptr);
  if (thread == 0) {
    LOG_ERROR("worker thread not started: errno %d", errno);
    return false;
  }
  payload.release();
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

void StartExecWorker(std::unique_ptr<ExecTask> task, const DetachedThreadStarter& start) {
  ExecTask* raw = task.get();
  // The worker takes ownership only once it runs; until the start succeeded the task
  // stays here, so a failed start can still answer the page and free it.
  if (start([raw] { RunExecTask(std::unique_ptr<ExecTask>(raw)); })) {
    task.release();
    return;
  }
  LOG_ERROR("exec worker not started, reporting failure to %s",
            AnsiText(task->callbackName).c_str());
  PostScriptCall(task->hwnd, kExecCallBufferSize, task->callbackName.c_str(), 0);
}
