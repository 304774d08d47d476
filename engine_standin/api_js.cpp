// Script exports: running script in a page, binding native functions, and making
// and reading script values.
#include <string>

#include "engine_standin/bindings.h"
#include "engine_standin/page.h"
#include "engine_standin/standin.h"
#include "engine_standin/text.h"
#include "engine_standin/thread_guard.h"
#include "engine_standin/values.h"
#include "engine_standin/web_view.h"

using standin::jsValue;

namespace {

jsValue RunIn(void* webView, const std::string& script, const char* name) {
  standin::WebView* view = standin::FindView(webView, name);
  if (!view) return standin::MakeUndefined();
  standin::Page* page = standin::CurrentPage(view);
  if (!page) {
    standin::Say("%s: the web window is destroyed; script not run", name);
    return standin::MakeUndefined();
  }
  return page->Run(script, page->url());
}

// Exec states are only valid while their bound function runs.
const standin::ExecState* StateOf(void* es, const char* name) {
  if (standin::IsActiveExecState(es)) return static_cast<const standin::ExecState*>(es);
  standin::Say("%s: exec state %p is not a running native call", name, es);
  return nullptr;
}

}  // namespace

STANDIN_EXPORT(jsValue) wkeRunJS(void* webView, const char* script) {
  STANDIN_UI_ONLY("wkeRunJS", standin::MakeUndefined());
  return RunIn(webView, script ? script : "", "wkeRunJS");
}

STANDIN_EXPORT(jsValue) wkeRunJSW(void* webView, const wchar_t* script) {
  STANDIN_UI_ONLY("wkeRunJSW", standin::MakeUndefined());
  return RunIn(webView, standin::WideToUtf8(script ? script : L""), "wkeRunJSW");
}

STANDIN_EXPORT(void) wkeJsBindFunction(const char* name, standin::NativeFunction function,
                                       void* param, unsigned int argCount) {
  STANDIN_UI_ONLY("wkeJsBindFunction");
  const int index = standin::AddBinding(name, function, param, argCount);
  if (index < 0) return;
  for (standin::WebView* view : standin::AllViews()) {
    if (view->page) view->page->InstallBinding(index);
  }
}

STANDIN_EXPORT(int) jsArgCount(void* es) {
  STANDIN_UI_ONLY("jsArgCount", 0);
  const standin::ExecState* state = StateOf(es, "jsArgCount");
  return state ? static_cast<int>(state->args.size()) : 0;
}

STANDIN_EXPORT(jsValue) jsArg(void* es, int index) {
  STANDIN_UI_ONLY("jsArg", standin::MakeUndefined());
  const standin::ExecState* state = StateOf(es, "jsArg");
  if (!state || index < 0 || static_cast<size_t>(index) >= state->args.size()) {
    return standin::MakeUndefined();
  }
  return state->args[static_cast<size_t>(index)];
}

// The main frame's state, valid while the view shows its current page.
STANDIN_EXPORT(void*) wkeGlobalExec(void* webView) {
  STANDIN_UI_ONLY("wkeGlobalExec", nullptr);
  standin::WebView* view = standin::FindView(webView, "wkeGlobalExec");
  standin::Page* page = view ? standin::CurrentPage(view) : nullptr;
  return page ? page->GlobalState() : nullptr;
}

STANDIN_EXPORT(void*) jsGetWebView(void* es) {
  STANDIN_UI_ONLY("jsGetWebView", nullptr);
  const standin::ExecState* state = StateOf(es, "jsGetWebView");
  return state ? state->view : nullptr;
}

// Runs script in the context of the page that made the call, which for a child
// frame is the frame's own. With inClosure the script is wrapped in a function, so
// only "return" gives a value. Errors are not reported and give undefined. With
// BRINDLEX_STANDIN_WRAP_EVAL set it is wrapped whatever was asked, as an engine may
// do: what a caller does for such an engine then runs in a test too.
STANDIN_EXPORT(jsValue) jsEvalExW(void* es, const wchar_t* script, bool inClosure) {
  STANDIN_UI_ONLY("jsEvalExW", standin::MakeUndefined());
  const standin::ExecState* state = StateOf(es, "jsEvalExW");
  if (!state || !script) return standin::MakeUndefined();
  if (state->page->detached()) {
    standin::Say("jsEvalExW: the frame at %s is detached; script not run",
                 state->page->url().c_str());
    return standin::MakeUndefined();
  }
  std::string source = standin::WideToUtf8(script);
  const DWORD lastError = GetLastError();  // the engine's own calls leave it as it was
  wchar_t wrap[8];
  if (inClosure || GetEnvironmentVariableW(L"BRINDLEX_STANDIN_WRAP_EVAL", wrap, 8) > 0) {
    source = "(function(){" + source + "\n})();";
  }
  SetLastError(lastError);
  return state->page->Run(source, state->page->url(), false);
}

// The engine wraps these in a function as well.
STANDIN_EXPORT(jsValue) jsEvalW(void* es, const wchar_t* script) {
  return jsEvalExW(es, script, true);
}

STANDIN_EXPORT(jsValue) jsEval(void* es, const char* script) {
  return jsEvalExW(es, script ? standin::Utf8ToWide(script).c_str() : nullptr, true);
}

STANDIN_EXPORT(int) jsTypeOf(jsValue value) {
  STANDIN_UI_ONLY("jsTypeOf", standin::kTypeUndefined);
  return standin::TypeOf(value);
}

STANDIN_EXPORT(const char*) jsToString(void* es, jsValue value) {
  STANDIN_UI_ONLY("jsToString", "");
  return standin::ToUtf8(value);
}

STANDIN_EXPORT(const char*) jsToTempString(void* es, jsValue value) {
  STANDIN_UI_ONLY("jsToTempString", "");
  return standin::ToUtf8(value);
}

STANDIN_EXPORT(const wchar_t*) jsToStringW(void* es, jsValue value) {
  STANDIN_UI_ONLY("jsToStringW", L"");
  return standin::ToWide(value);
}

STANDIN_EXPORT(const wchar_t*) jsToTempStringW(void* es, jsValue value) {
  STANDIN_UI_ONLY("jsToTempStringW", L"");
  return standin::ToWide(value);
}

STANDIN_EXPORT(int) jsToInt(void* es, jsValue value) {
  STANDIN_UI_ONLY("jsToInt", 0);
  return standin::ToInt32(value);
}

STANDIN_EXPORT(jsValue) jsString(void* es, const char* text) {
  STANDIN_UI_ONLY("jsString", standin::MakeUndefined());
  return standin::MakeString(standin::Utf8ToWide(text ? text : ""));
}

STANDIN_EXPORT(jsValue) jsStringW(void* es, const wchar_t* text) {
  STANDIN_UI_ONLY("jsStringW", standin::MakeUndefined());
  return standin::MakeString(text ? text : L"");
}

STANDIN_EXPORT(jsValue) jsInt(int number) {
  STANDIN_UI_ONLY("jsInt", standin::MakeUndefined());
  return standin::MakeInt(number);
}

STANDIN_EXPORT(jsValue) jsBoolean(bool value) {
  STANDIN_UI_ONLY("jsBoolean", standin::MakeUndefined());
  return standin::MakeBool(value);
}

STANDIN_EXPORT(jsValue) jsUndefined() {
  STANDIN_UI_ONLY("jsUndefined", standin::MakeUndefined());
  return standin::MakeUndefined();
}

STANDIN_EXPORT(jsValue) jsNull() {
  STANDIN_UI_ONLY("jsNull", standin::MakeUndefined());
  return standin::MakeNull();
}
