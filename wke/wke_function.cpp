#include "wke/wke_function.h"

#include <array>
#include <iterator>
#include <utility>

#include "store/cache_config_data.h"
#include "wke/bridge.h"
#include "wke/caller_check.h"

namespace {

// The bound functions, in the order of binding. The declared counts are what the
// engine is told; handlers read their arguments by index regardless ("download"
// reads 4, "getFileMd5" reads 1).
const NativeFunction kNativeFunctions[] = {
    {"minimize", &WkeFunction::OnMin, 0},
    {"maximize", &WkeFunction::OnMax, 0},
    {"close", &WkeFunction::OnClose, 0},
    {"restore", &WkeFunction::OnRestore, 0},
    {"moveWindow", &WkeFunction::OnMoveWindow, 2},
    {"setData", &WkeFunction::OnSetData, 2},
    {"getData", &WkeFunction::OnGetData, 1},
    {"setCacheData", &WkeFunction::OnSetCacheData, 2},
    {"getCacheData", &WkeFunction::OnGetCacheData, 1},
    {"exec", &WkeFunction::OnExec, 5},
    {"hasRegisterPath", &WkeFunction::OnHasRegisterPath, 2},
    {"hasRegisterKey", &WkeFunction::OnHasRegisterKey, 3},
    {"download", &WkeFunction::OnDownload, 3},
    {"fileExists", &WkeFunction::OnFileExists, 1},
    {"replaceFile", &WkeFunction::OnReplaceFile, 2},
    {"moveFile", &WkeFunction::OnMoveFile, 2},
    {"removeFile", &WkeFunction::onRemoveFile, 1},
    {"getFullPath", &WkeFunction::OnGetFullPath, 1},
    {"getSysBit", &WkeFunction::OnGetSystemBit, 0},
    {"getDeviceNumber", &WkeFunction::OnGetDeviceNumber, 0},
    {"getSysVersion", &WkeFunction::OnGetSysVersion, 0},
    {"getModuleFilePath", &WkeFunction::OnGetModuleFilePath, 0},
    {"getModuleFileVersion", &WkeFunction::OnGetModuleFileVersion, 0},
    {"getCid", &WkeFunction::OnGetCid, 0},
    {"getFileMd5", &WkeFunction::OnGetFileMd5, 0},
};

constexpr size_t kNativeFunctionCount = std::size(kNativeFunctions);

template <size_t Row>
jsValue __cdecl GuardedCall(jsExecState es, void* param) {
  const NativeFunction& function = kNativeFunctions[Row];
  // Any page the view comes to show (a link followed, a redirect), any frame inside it
  // and any window it opens can call the bound functions, which act with the
  // program's rights: each call first checks who is calling.
  if (!CallerAllowed(es, function.scriptName, Bridge(param))) return jsUndefined();
  return function.handler(es, param);
}

template <size_t... Rows>
constexpr std::array<wkeJsNativeFunction, sizeof...(Rows)> GuardedCalls(
    std::index_sequence<Rows...>) {
  return {&GuardedCall<Rows>...};
}

const std::array<wkeJsNativeFunction, kNativeFunctionCount> kGuardedCalls =
    GuardedCalls(std::make_index_sequence<kNativeFunctionCount>());

}  // namespace

wkeJsNativeFunction GuardedNativeFunction(size_t row) {
  return row < kNativeFunctionCount ? kGuardedCalls[row] : nullptr;
}

const NativeFunction* NativeFunctions(size_t* count) {
  *count = std::size(kNativeFunctions);
  return kNativeFunctions;
}

WkeFunction::WkeFunction() = default;
WkeFunction::~WkeFunction() = default;

void WkeFunction::Bind(wkeWebView view) {
  webView = view;
  hwnd = wkeGetHostHWND(view);
  cacheData = std::make_shared<CacheConfigData>();
  for (size_t row = 0; row < kNativeFunctionCount; ++row) {
    wkeJsBindFunction(kNativeFunctions[row].scriptName, kGuardedCalls[row], this,
                      kNativeFunctions[row].declaredArgCount);
  }
}

std::string ArgUtf8(jsExecState es, int index) {
  const utf8* text = jsToString(es, jsArg(es, index));
  return text ? std::string(text) : std::string();
}

std::wstring ArgWide(jsExecState es, int index) {
  const wchar_t* text = jsToStringW(es, jsArg(es, index));
  return text ? std::wstring(text) : std::wstring();
}

int ArgInt(jsExecState es, int index) { return jsToInt(es, jsArg(es, index)); }
