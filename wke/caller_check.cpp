#include "wke/caller_check.h"

#include <string>

#include "app/ansi_text.h"
#include "app/log.h"
#include "wke/origin_guard.h"
#include "wke/wke_function.h"

namespace {

// Read in the caller's own context, so a frame answers with its own location. The
// engine wraps the script in a function, hence the "return".
constexpr wchar_t kCallerLocationScript[] = L"return location.href;";

// The origin of url as the log shows it; the start of the text when it has none.
std::string Shown(const std::string& origin, const char* url) {
  if (!origin.empty()) return origin;
  return AnsiText(std::string(url ? url : "").substr(0, 80)).c_str();
}

// The calling frame's URL. False when the engine gives no usable answer: no value,
// a value that is not a string, or an empty string.
bool CallerFrameUrl(jsExecState es, std::string* url) {
  const jsValue value = jsEvalExW(es, kCallerLocationScript, true);
  if (jsTypeOf(value) != JSTYPE_STRING) return false;
  const utf8* text = jsToString(es, value);
  *url = text ? text : "";
  return !url->empty();
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
  const wkeWebView callerView = jsGetWebView(es);
  if (callerView && !IsOwnView(callerView, ownView)) {
    const utf8* url = wkeGetURL(callerView);
    IsOriginAllowed(url, &origin);
    LOG_ERROR("native function %s refused for a page in another view, at %s", scriptName,
              Shown(origin, url).c_str());
    return false;
  }

  std::string frameUrl;
  if (CallerFrameUrl(es, &frameUrl) && !IsOriginAllowed(frameUrl.c_str(), &origin)) {
    LOG_ERROR("native function %s refused for a frame at %s", scriptName,
              Shown(origin, frameUrl.c_str()).c_str());
    return false;
  }

  const utf8* url = ownView ? wkeGetURL(ownView) : nullptr;
  if (IsOriginAllowed(url, &origin)) return true;
  LOG_ERROR("native function %s refused for the page at %s", scriptName,
            Shown(origin, url).c_str());
  return false;
}
