// The web engine's flat C API as the program uses it. Every call goes through the
// table WkeApi that LoadWkeApi fills; the engine is never linked directly.
// ABI: cdecl, undecorated names, script values are 64-bit handles returned in
// EDX:EAX, bool results are one byte.
#pragma once

#include <windows.h>

#include <cstdint>

#include "wke/wke_names.h"

namespace wke {
class CWebView;  // opaque: never dereferenced by the program
}
struct JsExecStateInfo;  // opaque

using wkeWebView = wke::CWebView*;
using jsExecState = JsExecStateInfo*;
using jsValue = int64_t;
using utf8 = char;
using wkeNetJob = void*;

// The kind of a script value, as jsTypeOf names it.
enum jsType : int {
  JSTYPE_NUMBER = 0,
  JSTYPE_STRING = 1,
  JSTYPE_BOOLEAN = 2,
  JSTYPE_OBJECT = 3,
  JSTYPE_FUNCTION = 4,
  JSTYPE_UNDEFINED = 5,
  JSTYPE_ARRAY = 6,
  JSTYPE_NULL = 7,
};

enum wkeWindowType : int {
  WKE_WINDOW_TYPE_POPUP = 0,
  WKE_WINDOW_TYPE_TRANSPARENT = 1,
  WKE_WINDOW_TYPE_CONTROL = 2,
};

struct wkeSettings;  // the program always passes null

enum wkeProxyType : int {
  WKE_PROXY_NONE = 0,
  WKE_PROXY_HTTP = 1,
  WKE_PROXY_SOCKS4 = 2,
  WKE_PROXY_SOCKS4A = 3,
  WKE_PROXY_SOCKS5 = 4,
  WKE_PROXY_SOCKS5HOSTNAME = 5,
};

// The engine's proxy setting (208 bytes with the i686 toolchain).
struct wkeProxy {
  wkeProxyType type;
  char hostname[100];
  unsigned short port;
  char username[50];
  char password[50];
};
static_assert(sizeof(wkeProxy) == 208, "wkeProxy must keep the engine's layout");

// Callback forms (all cdecl).
using wkeDocumentReadyCallback = void(__cdecl*)(wkeWebView webView, void* param);
using wkeWindowClosingCallback = bool(__cdecl*)(wkeWebView webView, void* param);
using wkeLoadUrlFailCallback = void(__cdecl*)(wkeWebView webView, void* param,
                                              const utf8* url, wkeNetJob job);
using wkeJsNativeFunction = jsValue(__cdecl*)(jsExecState es, void* param);

// One slot per export name; each is set once by the loader (found or null).
struct WkeApiTable {
#define WKE_API_SLOT(name) FARPROC name = nullptr;
  WKE_API_NAMES(WKE_API_SLOT)
#undef WKE_API_SLOT
};
extern WkeApiTable WkeApi;

// Loads the library named by the engine path, initialises it and resolves every
// name. 1 when the library was loaded (whatever names were missing), 0 otherwise.
int LoadWkeApi(const wkeSettings* settings);
// The engine path the loader uses; points at text owned by the main window.
extern const wchar_t* g_wkeEnginePath;
// True once LoadWkeApi has loaded the library.
bool IsWkeLoaded();

// Typed calls into the table. A missing entry point is never called: the call
// logs an error and yields the type's zero value.
void wkeFinalize();
wkeWebView wkeCreateWebWindow(wkeWindowType type, HWND parent, int x, int y, int width,
                              int height);
void wkeSetWindowTitleW(wkeWebView webView, const wchar_t* title);
void wkeSetContextMenuEnabled(wkeWebView webView, bool enabled);
void wkeMoveToCenter(wkeWebView webView);
// Page zoom: CSS pixels are drawn this many device pixels wide (1 = 100 %).
void wkeSetZoomFactor(wkeWebView webView, float factor);
void wkeShowWindow(wkeWebView webView, bool show);
void wkeDestroyWebWindow(wkeWebView webView);
HWND wkeGetHostHWND(wkeWebView webView);
void wkeSetCookieJarFullPath(wkeWebView webView, const wchar_t* path);
// The proxy for the view's own loads; the process-wide setting where the engine lacks
// the per-view call.
void wkeSetViewProxyOrGlobal(wkeWebView webView, const wkeProxy* proxy);
void wkeSetLocalStorageFullPath(wkeWebView webView, const wchar_t* path);
void wkeSetDebugConfig(wkeWebView webView, const char* name, const char* value);
void wkeLoadURL(wkeWebView webView, const utf8* url);
const utf8* wkeGetURL(wkeWebView webView);
void wkeOnDocumentReady(wkeWebView webView, wkeDocumentReadyCallback callback, void* param);
void wkeOnWindowClosing(wkeWebView webView, wkeWindowClosingCallback callback, void* param);
void wkeOnLoadUrlFail(wkeWebView webView, wkeLoadUrlFailCallback callback, void* param);
jsValue wkeRunJS(wkeWebView webView, const utf8* script);
jsValue wkeRunJSW(wkeWebView webView, const wchar_t* script);
void wkeJsBindFunction(const char* name, wkeJsNativeFunction function, void* param,
                       unsigned int argCount);
int jsArgCount(jsExecState es);
jsValue jsArg(jsExecState es, int index);
const utf8* jsToString(jsExecState es, jsValue value);
const wchar_t* jsToStringW(jsExecState es, jsValue value);
int jsToInt(jsExecState es, jsValue value);
jsValue jsString(jsExecState es, const utf8* text);
jsValue jsStringW(jsExecState es, const wchar_t* text);
jsValue jsInt(int number);
jsValue jsBoolean(bool value);
jsValue jsUndefined();
// The view whose page made the call that es belongs to.
wkeWebView jsGetWebView(jsExecState es);
// The exec state of view's main frame, for script run outside a native call.
jsExecState wkeGlobalExec(wkeWebView view);
// Runs script in the calling frame's own context; inClosure wraps it in a function,
// so a value comes back only through "return". Errors give undefined.
jsValue jsEvalExW(jsExecState es, const wchar_t* script, bool inClosure);
jsType jsTypeOf(jsValue value);
