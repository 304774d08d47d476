#include "wke/wke_api.h"

#include "app/helper.h"
#include "app/log.h"
#include "wke/modal_box.h"

WkeApiTable WkeApi;
const wchar_t* g_wkeEnginePath = nullptr;

namespace {

bool g_loaded = false;

// Looks up a slot of the table as the function type of its name. A missing entry
// point gives null and one error line, so no caller ever jumps to address 0.
template <class Fn>
Fn Entry(FARPROC slot, const char* name) {
  if (!slot) {
    LOG_ERROR("wke api not available: %s", name);
    return nullptr;
  }
  return reinterpret_cast<Fn>(slot);
}

template <class T>
T ZeroOf() {
  return T{};
}

}  // namespace

#define WKE_CALL(name, Ret, Params, ...)                                       \
  using name##_fn = Ret(__cdecl*) Params;                                      \
  if (auto fn = Entry<name##_fn>(WkeApi.name, #name)) return fn(__VA_ARGS__); \
  return ZeroOf<Ret>()

#define WKE_CALL_VOID(name, Params, ...)                                \
  using name##_fn = void(__cdecl*) Params;                              \
  if (auto fn = Entry<name##_fn>(WkeApi.name, #name)) fn(__VA_ARGS__)

int LoadWkeApi(const wkeSettings* settings) {
  // What the engine imports is looked for beside it (a folder only administrators may
  // change) and in the system folder, never elsewhere.
  HMODULE library = Helper::LoadLibraryFromFolder(g_wkeEnginePath ? g_wkeEnginePath : L"");
  if (!library) return 0;
  // The engine stays loaded for the life of the process; its handle is never freed.
  using InitializeFn = void(__cdecl*)(const wkeSettings*);
  if (auto initialize = reinterpret_cast<InitializeFn>(GetProcAddress(library, "wkeInitializeEx"))) {
    initialize(settings);
  }
#define WKE_API_RESOLVE(name)                                          \
  WkeApi.name = GetProcAddress(library, #name);                        \
  if (!WkeApi.name) ShowModalBoxA("wke api not found", #name, MB_OK);
  WKE_API_NAMES(WKE_API_RESOLVE)
#undef WKE_API_RESOLVE
  g_loaded = true;
  return 1;
}

bool IsWkeLoaded() { return g_loaded; }

void wkeFinalize() { WKE_CALL_VOID(wkeFinalize, ()); }

wkeWebView wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width,
                              int height) {
  WKE_CALL(wkeCreateWebWindow, wkeWebView, (wkeWindowType, HWND, int, int, int, int), type,
           parent, x, y, width, height);
}

void wkeSetWindowTitleW(wkeWebView webView, const wchar_t* title) {
  WKE_CALL_VOID(wkeSetWindowTitleW, (wkeWebView, const wchar_t*), webView, title);
}

void wkeSetContextMenuEnabled(wkeWebView webView, bool enabled) {
  WKE_CALL_VOID(wkeSetContextMenuEnabled, (wkeWebView, bool), webView, enabled);
}

void wkeMoveToCenter(wkeWebView webView) {
  WKE_CALL_VOID(wkeMoveToCenter, (wkeWebView), webView);
}

void wkeSetZoomFactor(wkeWebView webView, float factor) {
  WKE_CALL_VOID(wkeSetZoomFactor, (wkeWebView, float), webView, factor);
}

void wkeShowWindow(wkeWebView webView, bool show) {
  WKE_CALL_VOID(wkeShowWindow, (wkeWebView, bool), webView, show);
}

void wkeDestroyWebWindow(wkeWebView webView) {
  WKE_CALL_VOID(wkeDestroyWebWindow, (wkeWebView), webView);
}

HWND wkeGetHostHWND(wkeWebView webView) {
  WKE_CALL(wkeGetHostHWND, HWND, (wkeWebView), webView);
}

void wkeSetCookieJarFullPath(wkeWebView webView, const wchar_t* path) {
  WKE_CALL_VOID(wkeSetCookieJarFullPath, (wkeWebView, const wchar_t*), webView, path);
}

void wkeSetViewProxyOrGlobal(wkeWebView webView, const wkeProxy* proxy) {
  if (WkeApi.wkeSetViewProxy) {
    WKE_CALL_VOID(wkeSetViewProxy, (wkeWebView, const wkeProxy*), webView, proxy);
  } else {
    WKE_CALL_VOID(wkeSetProxy, (const wkeProxy*), proxy);
  }
}

void wkeSetLocalStorageFullPath(wkeWebView webView, const wchar_t* path) {
  WKE_CALL_VOID(wkeSetLocalStorageFullPath, (wkeWebView, const wchar_t*), webView, path);
}

void wkeSetDebugConfig(wkeWebView webView, const char* name, const char* value) {
  WKE_CALL_VOID(wkeSetDebugConfig, (wkeWebView, const char*, const char*), webView, name,
                value);
}

void wkeLoadURL(wkeWebView webView, const utf8* url) {
  WKE_CALL_VOID(wkeLoadURL, (wkeWebView, const utf8*), webView, url);
}

const utf8* wkeGetURL(wkeWebView webView) {
  WKE_CALL(wkeGetURL, const utf8*, (wkeWebView), webView);
}

void wkeOnDocumentReady(wkeWebView webView, wkeDocumentReadyCallback callback, void* param) {
  WKE_CALL_VOID(wkeOnDocumentReady, (wkeWebView, wkeDocumentReadyCallback, void*), webView,
                callback, param);
}

void wkeOnWindowClosing(wkeWebView webView, wkeWindowClosingCallback callback, void* param) {
  WKE_CALL_VOID(wkeOnWindowClosing, (wkeWebView, wkeWindowClosingCallback, void*), webView,
                callback, param);
}

void wkeOnLoadUrlFail(wkeWebView webView, wkeLoadUrlFailCallback callback, void* param) {
  WKE_CALL_VOID(wkeOnLoadUrlFail, (wkeWebView, wkeLoadUrlFailCallback, void*), webView,
                callback, param);
}

jsValue wkeRunJS(wkeWebView webView, const utf8* script) {
  WKE_CALL(wkeRunJS, jsValue, (wkeWebView, const utf8*), webView, script);
}

jsValue wkeRunJSW(wkeWebView webView, const wchar_t* script) {
  WKE_CALL(wkeRunJSW, jsValue, (wkeWebView, const wchar_t*), webView, script);
}

void wkeJsBindFunction(const char* name, wkeJsNativeFunction function, void* param,
                       unsigned int argCount) {
  WKE_CALL_VOID(wkeJsBindFunction, (const char*, wkeJsNativeFunction, void*, unsigned int),
                name, function, param, argCount);
}

int jsArgCount(jsExecState es) { WKE_CALL(jsArgCount, int, (jsExecState), es); }

jsValue jsArg(jsExecState es, int index) {
  WKE_CALL(jsArg, jsValue, (jsExecState, int), es, index);
}

const utf8* jsToString(jsExecState es, jsValue value) {
  WKE_CALL(jsToString, const utf8*, (jsExecState, jsValue), es, value);
}

const wchar_t* jsToStringW(jsExecState es, jsValue value) {
  WKE_CALL(jsToStringW, const wchar_t*, (jsExecState, jsValue), es, value);
}

int jsToInt(jsExecState es, jsValue value) {
  WKE_CALL(jsToInt, int, (jsExecState, jsValue), es, value);
}

jsValue jsString(jsExecState es, const utf8* text) {
  WKE_CALL(jsString, jsValue, (jsExecState, const utf8*), es, text);
}

jsValue jsStringW(jsExecState es, const wchar_t* text) {
  WKE_CALL(jsStringW, jsValue, (jsExecState, const wchar_t*), es, text);
}

jsValue jsInt(int number) { WKE_CALL(jsInt, jsValue, (int), number); }

jsValue jsBoolean(bool value) { WKE_CALL(jsBoolean, jsValue, (bool), value); }

jsValue jsUndefined() { WKE_CALL(jsUndefined, jsValue, ()); }

wkeWebView jsGetWebView(jsExecState es) { WKE_CALL(jsGetWebView, wkeWebView, (jsExecState), es); }

jsExecState wkeGlobalExec(wkeWebView view) {
  WKE_CALL(wkeGlobalExec, jsExecState, (wkeWebView), view);
}

jsValue jsEvalExW(jsExecState es, const wchar_t* script, bool inClosure) {
  WKE_CALL(jsEvalExW, jsValue, (jsExecState, const wchar_t*, bool), es, script, inClosure);
}

jsType jsTypeOf(jsValue value) { WKE_CALL(jsTypeOf, jsType, (jsValue), value); }
