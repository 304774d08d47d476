// Starting programs for the page's "exec": the task that travels from the handler
// through the UI thread's queue to its own worker thread, and the shell call.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

struct ExecTask {
  HWND hwnd = nullptr;       // where the result call is posted
  std::wstring path;         // program or document to open
  std::wstring parameters;   // its command line
  int showCommand = 0;       // SW_ value for its window
  int wait = 0;              // nonzero: report only after the process has ended
  std::string callbackName;  // page function called with 1 or 0
};

// Opens path through the shell with the verb "open"; with wait, blocks until the
// started process ends. True when the shell started it.
bool RunProgram(const std::wstring& path, const std::wstring& parameters, int showCommand,
                bool wait);

// The worker's body: runs the program, posts "<callback>(1|0)" to the task's window,
// frees the task.
void RunExecTask(std::unique_ptr<ExecTask> task);

// Starts body on a new detached thread; false when no thread could be started, in
// which case body has not run.
using DetachedThreadStarter = std::function<bool(std::function<void()> body)>;
bool StartDetachedThread(std::function<void()> body);

// Hands the task to a detached worker. When no thread can be started the page still
// hears back: "<callback>(0)" is posted and the task is freed here.
void StartExecWorker(std::unique_ptr<ExecTask> task,
                     const DetachedThreadStarter& start = StartDetachedThread);
