#include "wke/wke_function.h"

#include <iterator>

#include "store/cache_config_data.h"
#include "wke/bridge.h"

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

}  // namespace

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
  for (const NativeFunction& function : kNativeFunctions) {
    wkeJsBindFunction(function.scriptName, function.handler, this,
                      function.declaredArgCount);
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
