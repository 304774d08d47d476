#include "wke/caller_check.h"

#include <string>

#include "app/ansi_text.h"
#include "app/log.h"
#include "wke/origin_guard.h"
#include "wke/wke_function.h"

namespace {

// Read in the caller's own context, so a frame answers with its own location. An
// engine runs the script either as it is or wrapped in a function, whatever it was
// asked; one of the two forms gives the value either way, and neither can be
// answered by anything but the frame's own location.
constexpr wchar_t kLocationAsExpression[] = L"location.href";
constexpr wchar_t kLocationAsFunctionBody[] = L"return location.href;";

// Set when the main frame did not say where it is: the engine cannot tell callers
// apart, so nobody is let through.
bool g_locationUnanswered = false;

// The origin of url as the log shows it; the start of the text when it has none.
std::string Shown(const std::string& origin, const char* url) {
  if (!origin.empty()) return origin;
  return AnsiText(std::string(url ? url : "").substr(0, 80)).c_str();
}

bool StringAnswer(jsExecState es, jsValue value, std::string* url) {
  if (jsTypeOf(value) != JSTYPE_STRING) return false;
  const utf8* text = jsToString(es, value);
  *url = text ? text : "";
  return !url->empty();
}

// The calling frame's URL. False when the engine gives no usable answer: no value,
// a value that is not a string, an empty string (an exception or an exhausted stack
// give no value).
bool CallerFrameUrl(jsExecState es, std::string* url) {
  if (!es) return false;
  return StringAnswer(es, jsEvalExW(es, kLocationAsExpression, false), url) ||
         StringAnswer(es, jsEvalExW(es, kLocationAsFunctionBody, true), url);
}

// Whether the engine's answer names the program's own view. An engine may hand out
// another pointer for the same view; its host window then still tells them apart
// from a view of their own (a window the page opened, a view without a window).
bool IsOwnView(wkeWebView callerView, wkeWebView ownView) {
  if (callerView == ownView) return true;
  const HWND window = ownView ? wkeGetHostHWND(ownView) : nullptr;
  return window && wkeGetHostHWND(callerView) == window;
}

}  // namespace

bool CallerAllowed(jsExecState es, const char* scriptName, const WkeFunction* bridge) {
  const wkeWebView ownView = bridge ? bridge->webView : nullptr;
  std::string origin;

  // A window the page opened is a view of its own, whatever it shows.
  const wkeWebView callerView = es ? jsGetWebView(es) : nullptr;
  if (!callerView) {
    LOG_ERROR("native function %s refused: the engine names no view for the call", scriptName);
    return false;
  }
  if (!IsOwnView(callerView, ownView)) {
    const utf8* url = wkeGetURL(callerView);
    IsOriginAllowed(url, &origin);
    LOG_ERROR("native function %s refused for a page in another view, at %s", scriptName,
              Shown(origin, url).c_str());
    return false;
  }

  if (g_locationUnanswered) {
    LOG_ERROR("native function %s refused: the engine does not tell where calls come from",
              scriptName);
    return false;
  }
  std::string frameUrl;
  if (!CallerFrameUrl(es, &frameUrl)) {
    LOG_ERROR("native function %s refused for a frame that did not say where it is",
              scriptName);
    return false;
  }
  if (!IsOriginAllowed(frameUrl.c_str(), &origin)) {
    LOG_ERROR("native function %s refused for a frame at %s", scriptName,
              Shown(origin, frameUrl.c_str()).c_str());
    return false;
  }
  // The frame is allowed; so must be the page it lives in.
  const utf8* url = ownView ? wkeGetURL(ownView) : nullptr;
  if (IsOriginAllowed(url, &origin)) return true;
  LOG_ERROR("native function %s refused for the page at %s", scriptName,
            Shown(origin, url).c_str());
  return false;
}

void CheckEngineAnswersLocation(wkeWebView view) {
  // Once per view: the program's one view is checked at its first document ready.
  static wkeWebView checkedView = nullptr;
  if (!view || view == checkedView) return;
  checkedView = view;
  std::string url;
  g_locationUnanswered = !CallerFrameUrl(wkeGlobalExec(view), &url);
  if (g_locationUnanswered) {
    LOG_ERROR("the engine gives no location for the page's main frame: every native function "
              "is refused");
  }
}
