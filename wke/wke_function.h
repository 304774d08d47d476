// The bridge between the page's script and the native side: the 25 global functions
// bound into the engine, and the object every handler receives as its param.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "wke/wke_api.h"

class CacheConfigData;

class WkeFunction {
 public:
  WkeFunction();
  ~WkeFunction();
  WkeFunction(const WkeFunction&) = delete;
  WkeFunction& operator=(const WkeFunction&) = delete;

  // Stores the view and its host window, creates the persistent store and binds
  // every native function, in the registry's order.
  void Bind(wkeWebView view);

  wkeWebView webView = nullptr;
  HWND hwnd = nullptr;
  std::map<std::string, std::string> dataMap;
  std::shared_ptr<CacheConfigData> cacheData;

  // Window commands.
  static jsValue __cdecl OnMin(jsExecState es, void* param);
  static jsValue __cdecl OnMax(jsExecState es, void* param);
  static jsValue __cdecl OnClose(jsExecState es, void* param);
  static jsValue __cdecl OnRestore(jsExecState es, void* param);
  static jsValue __cdecl OnMoveWindow(jsExecState es, void* param);
  static jsValue __cdecl OnExec(jsExecState es, void* param);
  // Stores.
  static jsValue __cdecl OnSetData(jsExecState es, void* param);
  static jsValue __cdecl OnGetData(jsExecState es, void* param);
  static jsValue __cdecl OnSetCacheData(jsExecState es, void* param);
  static jsValue __cdecl OnGetCacheData(jsExecState es, void* param);
  // Registry probes.
  static jsValue __cdecl OnHasRegisterPath(jsExecState es, void* param);
  static jsValue __cdecl OnHasRegisterKey(jsExecState es, void* param);
  // Downloads.
  static jsValue __cdecl OnDownload(jsExecState es, void* param);
  // File commands.
  static jsValue __cdecl OnFileExists(jsExecState es, void* param);
  static jsValue __cdecl OnReplaceFile(jsExecState es, void* param);
  static jsValue __cdecl OnMoveFile(jsExecState es, void* param);
  static jsValue __cdecl onRemoveFile(jsExecState es, void* param);
  static jsValue __cdecl OnGetFullPath(jsExecState es, void* param);
  static jsValue __cdecl OnGetFileMd5(jsExecState es, void* param);
  // System queries.
  static jsValue __cdecl OnGetSystemBit(jsExecState es, void* param);
  static jsValue __cdecl OnGetDeviceNumber(jsExecState es, void* param);
  static jsValue __cdecl OnGetSysVersion(jsExecState es, void* param);
  static jsValue __cdecl OnGetModuleFilePath(jsExecState es, void* param);
  static jsValue __cdecl OnGetModuleFileVersion(jsExecState es, void* param);
  static jsValue __cdecl OnGetCid(jsExecState es, void* param);
};

// One row of the registry of bound functions.
struct NativeFunction {
  const char* scriptName;
  wkeJsNativeFunction handler;
  unsigned int declaredArgCount;
};
// The registry, in the order of binding.
const NativeFunction* NativeFunctions(size_t* count);
// What is bound for a row: its handler behind the check of the calling page's origin.
wkeJsNativeFunction GuardedNativeFunction(size_t row);
