#include "engine_standin/page.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine_standin/bindings.h"
#include "engine_standin/document_loader.h"
#include "engine_standin/text.h"
#include "engine_standin/url.h"
#include "engine_standin/values.h"
#include "engine_standin/web_view.h"

namespace standin {

namespace {

// Script-side page globals, run once per page with (global, host).
const char kPrelude[] = R"JS(
(function (g, host) {
  var listeners = {};
  function on(type, fn) {
    if (typeof fn !== 'function') return;
    (listeners[type] = listeners[type] || []).push(fn);
  }
  function off(type, fn) {
    var list = listeners[type] || [];
    for (var i = 0; i < list.length; i++) if (list[i] === fn) { list.splice(i, 1); return; }
  }
  var doc = {
    readyState: 'loading',
    addEventListener: on,
    removeEventListener: off,
    getElementById: function () { return null; },
    querySelector: function () { return null; }
  };
  host.fire = function (type) {
    if (type === 'DOMContentLoaded') doc.readyState = 'interactive';
    if (type === 'load') doc.readyState = 'complete';
    var list = (listeners[type] || []).slice();
    if (type === 'load' && typeof g.onload === 'function') list.push(g.onload);
    for (var i = 0; i < list.length; i++) {
      try { list[i].call(g, { type: type }); } catch (e) { host.reportError(e); }
    }
  };
  Object.defineProperty(doc, 'title', { get: host.getTitle, set: host.setTitle, enumerable: true });
  Object.defineProperty(doc, 'URL', { get: host.getUrl, enumerable: true });
  var parts = /^([A-Za-z][A-Za-z0-9+.-]*:)(?:\/\/([^\/?#]*))?([^?#]*)(\?[^#]*)?(#.*)?$/;
  function part(i) { var m = parts.exec(host.getUrl()); return (m && m[i]) || ''; }
  var loc = {
    assign: function (u) { host.navigate(String(u)); },
    replace: function (u) { host.navigate(String(u)); },
    reload: function () { host.navigate(host.getUrl()); },
    toString: function () { return host.getUrl(); }
  };
  Object.defineProperty(loc, 'href', { get: host.getUrl, set: function (u) { host.navigate(String(u)); }, enumerable: true });
  Object.defineProperty(loc, 'protocol', { get: function () { return part(1); }, enumerable: true });
  Object.defineProperty(loc, 'host', { get: function () { return part(2); }, enumerable: true });
  Object.defineProperty(loc, 'hostname', { get: function () { return part(2).replace(/:\d*$/, ''); }, enumerable: true });
  Object.defineProperty(loc, 'port', { get: function () { var m = /:(\d*)$/.exec(part(2)); return m ? m[1] : ''; }, enumerable: true });
  Object.defineProperty(loc, 'pathname', { get: function () { return part(3) || '/'; }, enumerable: true });
  Object.defineProperty(loc, 'search', { get: function () { return part(4); }, enumerable: true });
  Object.defineProperty(loc, 'hash', { get: function () { return part(5); }, enumerable: true });
  Object.defineProperty(loc, 'origin', { get: function () { return part(2) ? part(1) + '//' + part(2) : 'null'; }, enumerable: true });
  function viewport(name) { return function () { return host.getViewport()[name]; }; }
  Object.defineProperty(g, 'innerWidth', { get: viewport('width'), enumerable: true });
  Object.defineProperty(g, 'innerHeight', { get: viewport('height'), enumerable: true });
  Object.defineProperty(g, 'devicePixelRatio', { get: viewport('ratio'), enumerable: true });
  g.window = g;
  g.self = g;
  g.globalThis = g;
  g.document = doc;
  g.addEventListener = on;
  g.removeEventListener = off;
  g.navigator = { userAgent: 'BrindlexStandin/1.0' };
  Object.defineProperty(g, 'location', { get: function () { return loc; }, set: function (u) { host.navigate(String(u)); } });
})
)JS";

int g_scriptDepth = 0;
std::vector<std::unique_ptr<Page>> g_retired;
std::vector<ExecState*> g_execStates;
std::vector<ExecState*> g_globalStates;  // one per living page
std::map<UINT_PTR, Page*> g_timerOwners;
UINT_PTR g_nextTimerId = 1;

void Fatal(void*, const char* message) {
  Say("fatal script engine error: %s", message ? message : "(none)");
  abort();
}

std::string ArgText(duk_context* ctx, duk_idx_t index) {
  return WideToUtf8(ScriptText(ctx, index));
}

void PushUtf8(duk_context* ctx, const std::string& utf8) {
  const std::string cesu = Utf8ToCesu(utf8);
  duk_push_lstring(ctx, cesu.data(), cesu.size());
}

// Pushes stash.timers (creating it on first use).
void PushTimerTable(duk_context* ctx) {
  duk_push_global_stash(ctx);
  if (!duk_get_prop_string(ctx, -1, "timers")) {
    duk_pop(ctx);
    duk_push_object(ctx);
    duk_dup(ctx, -1);
    duk_put_prop_string(ctx, -3, "timers");
  }
  duk_remove(ctx, -2);
}

}  // namespace

bool IsActiveExecState(const void* es) {
  for (ExecState* state : g_execStates) {
    if (state == es) return true;
  }
  for (ExecState* state : g_globalStates) {
    if (state == es) return true;
  }
  return false;
}

ScriptRun::ScriptRun() {
  if (g_scriptDepth++ == 0) ResetSlots();
}

ScriptRun::~ScriptRun() {
  if (--g_scriptDepth == 0) {
    std::vector<std::unique_ptr<Page>> dead;
    dead.swap(g_retired);
  }
}

bool ScriptRun::Active() { return g_scriptDepth > 0; }

void RetirePage(std::unique_ptr<Page> page) {
  if (!page) return;
  page->Retire();
  if (ScriptRun::Active()) {
    g_retired.push_back(std::move(page));
  }
}

Page::Page(WebView* view, std::string url, std::string title, HWND timerWindow, bool child)
    : view_(view),
      url_(std::move(url)),
      title_(std::move(title)),
      timerWindow_(timerWindow),
      child_(child),
      globalState_{view, this, {}} {
  g_globalStates.push_back(&globalState_);
  ctx_ = duk_create_heap(nullptr, nullptr, nullptr, this, Fatal);
  if (!ctx_) {
    Say("could not create a script heap");
    abort();
  }
  duk_context* ctx = ctx_;
  // The host object the prelude talks to, kept out of the page's reach in the stash.
  duk_push_global_stash(ctx);
  duk_push_object(ctx);
  const duk_function_list_entry host[] = {
      {"getTitle", HostGetTitle, 0},     {"setTitle", HostSetTitle, 1},
      {"getUrl", HostGetUrl, 0},         {"navigate", HostNavigate, 1},
      {"getViewport", HostGetViewport, 0},
      {"reportError", HostReportError, 1}, {nullptr, nullptr, 0}};
  duk_put_function_list(ctx, -1, host);
  duk_put_prop_string(ctx, -2, "host");
  duk_pop(ctx);

  duk_push_global_object(ctx);
  duk_push_object(ctx);
  const char* levels[] = {"log", "info", "warn", "error", "debug"};
  for (int i = 0; i < 5; ++i) {
    duk_push_c_function(ctx, Console, DUK_VARARGS);
    duk_set_magic(ctx, -1, i);
    duk_put_prop_string(ctx, -2, levels[i]);
  }
  duk_put_prop_string(ctx, -2, "console");
  const struct {
    const char* name;
    duk_c_function function;
    int magic;
  } timers[] = {{"setTimeout", SetTimerFunction, 0},
                {"setInterval", SetTimerFunction, 1},
                {"clearTimeout", ClearTimerFunction, 0},
                {"clearInterval", ClearTimerFunction, 0},
                {"alert", Alert, 0},
                {"open", Open, 0},
                {"__standinChildFrame", ChildFrame, 0},
                {"__standinDetachFrame", DetachFrame, 0}};
  for (const auto& timer : timers) {
    duk_push_c_function(ctx, timer.function, DUK_VARARGS);
    duk_set_magic(ctx, -1, timer.magic);
    duk_put_prop_string(ctx, -2, timer.name);
  }
  duk_pop(ctx);

  duk_push_string(ctx, "prelude");
  if (duk_pcompile_string_filename(ctx, DUK_COMPILE_EVAL, kPrelude) == 0 &&
      duk_pcall(ctx, 0) == 0) {
    duk_push_global_object(ctx);
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, "host");
    duk_remove(ctx, -2);
    if (duk_pcall(ctx, 2) != 0) ReportError(-1);
  } else {
    ReportError(-1);
  }
  duk_pop(ctx);

  for (int i = 0; i < BindingCount(); ++i) InstallBinding(i);
}

Page::~Page() {
  g_globalStates.erase(std::find(g_globalStates.begin(), g_globalStates.end(), &globalState_));
  Retire();
  duk_destroy_heap(ctx_);
}

void Page::Retire() {
  for (const auto& child : children_) child->Retire();
  for (const auto& timer : timers_) {
    KillTimer(timerWindow_, timer.first);
    g_timerOwners.erase(timer.first);
  }
  timers_.clear();
  retired_ = true;
}

Page* Page::FromContext(duk_context* ctx) {
  duk_memory_functions functions;
  duk_get_memory_functions(ctx, &functions);
  return static_cast<Page*>(functions.udata);
}

jsValue Page::Run(const std::string& source, const std::string& origin, bool reportErrors) {
  ScriptRun run;
  const std::string cesu = Utf8ToCesu(source);
  PushUtf8(ctx_, origin);
  if (duk_pcompile_lstring_filename(ctx_, 0, cesu.data(), cesu.size()) != 0 ||
      duk_pcall(ctx_, 0) != 0) {
    if (reportErrors) ReportError(-1);
    duk_pop(ctx_);
    return MakeUndefined();
  }
  const jsValue result = Capture(ctx_, -1);
  duk_pop(ctx_);
  return result;
}

void Page::InstallBinding(int index) {
  const Binding* binding = BindingAt(index);
  if (!binding) return;
  duk_push_global_object(ctx_);
  duk_push_c_function(ctx_, CallBinding, DUK_VARARGS);
  duk_set_magic(ctx_, -1, index);
  duk_put_prop_string(ctx_, -2, binding->name.c_str());
  duk_pop(ctx_);
}

void Page::FireEvent(const char* type) {
  ScriptRun run;
  duk_push_global_stash(ctx_);
  duk_get_prop_string(ctx_, -1, "host");
  duk_get_prop_string(ctx_, -1, "fire");
  duk_push_string(ctx_, type);
  if (duk_pcall(ctx_, 1) != 0) ReportError(-1);
  duk_pop_3(ctx_);
}

namespace {

// Reads where the error on the stack top was thrown. Run as a safe call: a thrown
// object may have getters that throw in turn.
duk_ret_t ErrorPlace(duk_context* ctx, void* out) {
  if (!duk_is_object(ctx, -1)) return 0;
  duk_get_prop_string(ctx, -1, "fileName");
  duk_get_prop_string(ctx, -2, "lineNumber");
  if (duk_is_string(ctx, -2) && duk_is_number(ctx, -1)) {
    *static_cast<std::string*>(out) =
        " (" + ArgText(ctx, -2) + ":" + std::to_string(duk_get_int(ctx, -1)) + ")";
  }
  return 0;
}

}  // namespace

void Page::ReportError(duk_idx_t index) {
  index = duk_normalize_index(ctx_, index);
  std::string where;
  duk_dup(ctx_, index);
  duk_safe_call(ctx_, ErrorPlace, &where, 1, 1);
  duk_pop(ctx_);
  const std::string line = "uncaught " + ArgText(ctx_, index) + where;
  Say("%s", line.c_str());
  AddConsoleLine(view_, line);
}

duk_ret_t Page::HostGetTitle(duk_context* ctx) {
  PushUtf8(ctx, FromContext(ctx)->title_);
  return 1;
}

duk_ret_t Page::HostSetTitle(duk_context* ctx) {
  Page* page = FromContext(ctx);
  page->title_ = ArgText(ctx, 0);
  RepaintView(page->view_);
  return 0;
}

duk_ret_t Page::HostGetUrl(duk_context* ctx) {
  PushUtf8(ctx, FromContext(ctx)->url_);
  return 1;
}

// The viewport in CSS pixels (the window's client area at the view's zoom) and the
// device pixels per CSS pixel.
duk_ret_t Page::HostGetViewport(duk_context* ctx) {
  const WebView* view = FromContext(ctx)->view_;
  RECT client = {};
  if (view->hwnd) GetClientRect(view->hwnd, &client);
  duk_push_object(ctx);
  duk_push_int(ctx, static_cast<duk_int_t>(lroundf(client.right / view->zoomFactor)));
  duk_put_prop_string(ctx, -2, "width");
  duk_push_int(ctx, static_cast<duk_int_t>(lroundf(client.bottom / view->zoomFactor)));
  duk_put_prop_string(ctx, -2, "height");
  duk_push_number(ctx, view->zoomFactor);
  duk_put_prop_string(ctx, -2, "ratio");
  return 1;
}

duk_ret_t Page::HostNavigate(duk_context* ctx) {
  Page* page = FromContext(ctx);
  if (page->retired_) return 0;
  if (page->child_) {
    Say("navigation of a child frame ignored: %s", ArgText(ctx, 0).c_str());
    return 0;
  }
  LoadUrl(page->view_, ResolveUrl(page->url_, ArgText(ctx, 0)));
  return 0;
}

duk_ret_t Page::HostReportError(duk_context* ctx) {
  FromContext(ctx)->ReportError(0);
  return 0;
}

duk_ret_t Page::Console(duk_context* ctx) {
  std::string text;
  const duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) {
    if (i) text += ' ';
    text += ArgText(ctx, i);
  }
  WriteConsoleLine(text.c_str());
  AddConsoleLine(FromContext(ctx)->view_, text);
  return 0;
}

duk_ret_t Page::Alert(duk_context* ctx) {
  Page* page = FromContext(ctx);
  const std::string text = duk_get_top(ctx) ? ArgText(ctx, 0) : std::string();
  Say("alert: %s", text.c_str());
  AddConsoleLine(page->view_, "alert: " + text);
  // As the engine does: a modal box owned by the page's window, whose own message
  // loop runs until it is dismissed. Unattended runs ask for no boxes.
  wchar_t noBoxes[8] = {};
  if (GetEnvironmentVariableW(L"BRINDLEX_NO_MODAL_BOXES", noBoxes, 8) > 0) return 0;
  MessageBoxW(page->view_->hwnd, Utf8ToWide(text).c_str(), L"alert", MB_OK);
  Say("alert closed: %s", text.c_str());
  return 0;
}

duk_ret_t Page::Open(duk_context* ctx) {
  // As the engine does by default: a web window of its own, here never shown, which
  // loads the URL with every bound function in its pages.
  Page* page = FromContext(ctx);
  const std::string url = ResolveUrl(page->url_, duk_get_top(ctx) ? ArgText(ctx, 0) : "");
  WebView* opened = page->retired_ ? nullptr : CreateWebView(0, nullptr, 0, 0, 640, 480);
  if (opened) {
    Say("window.open: %s in view %u", url.c_str(), static_cast<unsigned>(opened->id));
    LoadUrl(opened, url);
  }
  duk_push_null(ctx);
  return 1;
}

duk_ret_t Page::ChildFrame(duk_context* ctx) {
  // Test hook: a frame inside this page, with its own location, that runs `source`
  // at once. It lives as long as this page.
  Page* page = FromContext(ctx);
  if (page->retired_ || duk_get_top(ctx) < 2) return 0;
  const std::string url = ResolveUrl(page->url_, ArgText(ctx, 0));
  const std::string source = ArgText(ctx, 1);
  page->children_.push_back(
      std::make_unique<Page>(page->view_, url, std::string(), page->timerWindow_, true));
  page->children_.back()->Run(source, url);
  return 0;
}

duk_ret_t Page::DetachFrame(duk_context* ctx) {
  // Test hook: a frame takes itself out of its page and runs `source` at once, as
  // script that kept a function of the frame would call it afterwards.
  Page* page = FromContext(ctx);
  if (!page->child_ || duk_get_top(ctx) < 1) return 0;
  const std::string source = ArgText(ctx, 0);
  page->detached_ = true;
  Say("frame at %s detached from its page", page->url_.c_str());
  page->Run(source, page->url_);
  return 0;
}

duk_ret_t Page::SetTimerFunction(duk_context* ctx) {
  Page* page = FromContext(ctx);
  const bool repeat = duk_get_current_magic(ctx) == 1;
  const duk_idx_t count = duk_get_top(ctx);
  if (page->retired_ || count == 0) {
    duk_push_int(ctx, 0);
    return 1;
  }
  double delay = count > 1 ? duk_to_number(ctx, 1) : 0;
  if (!(delay >= 0)) delay = 0;
  if (delay > 0x7FFFFFFF) delay = 0x7FFFFFFF;
  const UINT_PTR id = g_nextTimerId++;
  if (!::SetTimer(page->timerWindow_, id, static_cast<UINT>(delay), nullptr)) {
    Say("SetTimer failed (error %lu)", static_cast<unsigned long>(GetLastError()));
    duk_push_int(ctx, 0);
    return 1;
  }
  // stash.timers[id] = [callback, extra arguments...]
  PushTimerTable(ctx);
  duk_push_array(ctx);
  duk_dup(ctx, 0);
  duk_put_prop_index(ctx, -2, 0);
  for (duk_idx_t i = 2; i < count; ++i) {
    duk_dup(ctx, i);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i - 1));
  }
  duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(id));
  duk_pop(ctx);
  page->timers_[id] = repeat;
  g_timerOwners[id] = page;
  duk_push_number(ctx, static_cast<double>(id));
  return 1;
}

duk_ret_t Page::ClearTimerFunction(duk_context* ctx) {
  const double id = duk_to_number(ctx, 0);
  if (id >= 1 && id < 4294967296.0) FromContext(ctx)->ClearTimer(static_cast<UINT_PTR>(id));
  return 0;
}

void Page::ClearTimer(UINT_PTR id) {
  if (!timers_.erase(id)) return;
  KillTimer(timerWindow_, id);
  g_timerOwners.erase(id);
  PushTimerTable(ctx_);
  duk_del_prop_index(ctx_, -1, static_cast<duk_uarridx_t>(id));
  duk_pop(ctx_);
}

bool Page::DispatchTimer(UINT_PTR id) {
  const auto owner = g_timerOwners.find(id);
  if (owner == g_timerOwners.end()) return false;
  owner->second->RunTimer(id);
  return true;
}

void Page::RunTimer(UINT_PTR id) {
  ScriptRun run;
  const auto timer = timers_.find(id);
  if (timer == timers_.end()) return;
  const bool repeat = timer->second;
  PushTimerTable(ctx_);
  duk_get_prop_index(ctx_, -1, static_cast<duk_uarridx_t>(id));
  duk_remove(ctx_, -2);
  if (!repeat) ClearTimer(id);
  const duk_idx_t entry = duk_get_top_index(ctx_);
  duk_get_prop_index(ctx_, entry, 0);
  if (duk_is_function(ctx_, -1)) {
    const duk_size_t length = duk_get_length(ctx_, entry);
    for (duk_size_t i = 1; i < length; ++i) {
      duk_get_prop_index(ctx_, entry, static_cast<duk_uarridx_t>(i));
    }
    if (duk_pcall(ctx_, static_cast<duk_idx_t>(length > 0 ? length - 1 : 0)) != 0) {
      ReportError(-1);
    }
    duk_pop(ctx_);
  } else if (duk_is_string(ctx_, -1)) {
    const std::string source = ArgText(ctx_, -1);
    duk_pop(ctx_);
    Run(source, url_);
  } else {
    duk_pop(ctx_);
  }
  duk_pop(ctx_);
}

duk_ret_t Page::CallBinding(duk_context* ctx) {
  const Binding* found = BindingAt(duk_get_current_magic(ctx));
  if (!found) return 0;
  const Binding binding = *found;  // the host may rebind while it runs
  Page* page = FromContext(ctx);
  SlotMark mark;
  ExecState state{page->view_, page, {}};
  const duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) state.args.push_back(Capture(ctx, i));
  g_execStates.push_back(&state);
  const jsValue result = binding.function(&state, binding.param);
  g_execStates.pop_back();
  Push(ctx, result);
  return 1;
}

}  // namespace standin
