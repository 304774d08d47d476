#include "wke/bridge.h"

// PLACEHOLDER: replaced by the real handlers.
jsValue WkeFunction::OnFileExists(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnReplaceFile(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnMoveFile(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::onRemoveFile(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetFullPath(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetFileMd5(jsExecState, void*) { return jsUndefined(); }
