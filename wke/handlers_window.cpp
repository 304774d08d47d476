// Window commands: the page controls its borderless window and starts programs.
// None of them echoes a result; "exec" logs only when the UI thread takes it.
#include "app/ui_messages.h"
#include "wke/bridge.h"
#include "wke/exec_worker.h"

namespace {

jsValue PostSystemCommand(void* param, WPARAM command) {
  LOG_INFO("execute c++ function");
  PostMessageW(Bridge(param)->hwnd, WM_SYSCOMMAND, command, 0);
  return jsUndefined();
}

}  // namespace

jsValue WkeFunction::OnMin(jsExecState, void* param) {
  return PostSystemCommand(param, SC_MINIMIZE);
}

jsValue WkeFunction::OnMax(jsExecState, void* param) {
  return PostSystemCommand(param, SC_MAXIMIZE);
}

jsValue WkeFunction::OnRestore(jsExecState, void* param) {
  return PostSystemCommand(param, SC_RESTORE);
}

jsValue WkeFunction::OnClose(jsExecState, void* param) {
  LOG_INFO("execute c++ function");
  // The message loop takes this from the queue and ends; it is never dispatched.
  PostMessageW(Bridge(param)->hwnd, WM_CLOSE, 0, 0);
  return jsUndefined();
}

jsValue WkeFunction::OnMoveWindow(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const int dx = ArgInt(es, 0);
  const int dy = ArgInt(es, 1);
  HWND hwnd = Bridge(param)->hwnd;
  RECT window = {};
  GetWindowRect(hwnd, &window);
  SetWindowPos(hwnd, nullptr, window.left + dx, window.top + dy, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  return jsUndefined();
}

jsValue WkeFunction::OnExec(jsExecState es, void* param) {
  auto task = std::make_unique<ExecTask>();
  task->hwnd = Bridge(param)->hwnd;
  task->path = ArgWide(es, 0);
  task->parameters = ArgWide(es, 1);
  task->showCommand = ArgInt(es, 2);
  task->wait = ArgInt(es, 3);
  task->callbackName = ArgUtf8(es, 4);
  // A failed post keeps the task here, where it is freed.
  PostOwned(task->hwnd, WM_WKE_EXEC, task);
  return jsUndefined();
}
