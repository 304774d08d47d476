#include "wke/bridge.h"

// PLACEHOLDER: replaced by the real handlers.
jsValue WkeFunction::OnGetSystemBit(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetDeviceNumber(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetSysVersion(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetModuleFilePath(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetModuleFileVersion(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetCid(jsExecState, void*) { return jsUndefined(); }
