#include "wke/bridge.h"

// PLACEHOLDER: replaced by the real handlers.
jsValue WkeFunction::OnMin(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnMax(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnClose(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnRestore(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnMoveWindow(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnExec(jsExecState, void*) { return jsUndefined(); }
