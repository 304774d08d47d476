// One document's script world: a Duktape heap with the page globals (window,
// document.title, location, console, timers, every bound native function).
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "duktape.h"
#include "engine_standin/standin.h"

namespace standin {

// What a bound function's jsExecState points at while it runs.
struct ExecState {
  WebView* view;
  Page* page;
  std::vector<jsValue> args;
};

// The innermost running bound function's state, or null; `es` is checked against
// the running ones so that a kept pointer is refused.
bool IsActiveExecState(const void* es);

// Counts script runs on the stack. The outermost run starts a fresh value table and,
// when it ends, frees the pages retired meanwhile.
class ScriptRun {
 public:
  ScriptRun();
  ~ScriptRun();
  ScriptRun(const ScriptRun&) = delete;
  ScriptRun& operator=(const ScriptRun&) = delete;
  static bool Active();
};

class Page {
 public:
  // Timers are set on `timerWindow`, which routes WM_TIMER to DispatchTimer. A child
  // page is a frame inside the view's document: its own script world and location,
  // the view's window; it cannot navigate.
  Page(WebView* view, std::string url, std::string title, HWND timerWindow,
       bool child = false);
  ~Page();
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  WebView* view() const { return view_; }
  const std::string& url() const { return url_; }
  const std::string& title() const { return title_; }
  // The state script run outside a native call uses (the engine's global exec).
  ExecState* GlobalState() { return &globalState_; }
  // A frame removed from its page: its script world lives on, but the engine has no
  // frame left to run other script in.
  bool detached() const { return detached_; }

  // Runs UTF-8 source as global code; an uncaught error gives undefined and is
  // reported unless reportErrors is false.
  jsValue Run(const std::string& source, const std::string& origin, bool reportErrors = true);
  void InstallBinding(int index);
  // Calls the page's listeners for `type` ("DOMContentLoaded", "load").
  void FireEvent(const char* type);
  // Stops the page's timers; it is no longer the view's document.
  void Retire();

  // Runs the timer `id` of whichever page owns it; false when none does.
  static bool DispatchTimer(UINT_PTR id);

 private:
  static Page* FromContext(duk_context* ctx);
  static duk_ret_t HostGetTitle(duk_context* ctx);
  static duk_ret_t HostSetTitle(duk_context* ctx);
  static duk_ret_t HostGetUrl(duk_context* ctx);
  static duk_ret_t HostGetViewport(duk_context* ctx);
  static duk_ret_t HostNavigate(duk_context* ctx);
  static duk_ret_t HostReportError(duk_context* ctx);
  static duk_ret_t Console(duk_context* ctx);
  static duk_ret_t Alert(duk_context* ctx);
  static duk_ret_t Open(duk_context* ctx);
  static duk_ret_t ChildFrame(duk_context* ctx);
  static duk_ret_t DetachFrame(duk_context* ctx);
  static duk_ret_t SetTimerFunction(duk_context* ctx);
  static duk_ret_t ClearTimerFunction(duk_context* ctx);
  static duk_ret_t CallBinding(duk_context* ctx);

  void ReportError(duk_idx_t index);
  void RunTimer(UINT_PTR id);
  void ClearTimer(UINT_PTR id);

  WebView* view_;
  std::string url_;
  std::string title_;
  HWND timerWindow_;
  duk_context* ctx_ = nullptr;
  std::map<UINT_PTR, bool> timers_;  // id -> repeats
  bool retired_ = false;
  bool child_ = false;
  bool detached_ = false;
  ExecState globalState_;
  std::vector<std::unique_ptr<Page>> children_;
};

// Frees `page` now, or when the outermost script run ends if one is running.
void RetirePage(std::unique_ptr<Page> page);

}  // namespace standin
