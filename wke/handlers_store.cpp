#include "wke/bridge.h"

// PLACEHOLDER: replaced by the real handlers.
jsValue WkeFunction::OnSetData(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetData(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnSetCacheData(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnGetCacheData(jsExecState, void*) { return jsUndefined(); }
