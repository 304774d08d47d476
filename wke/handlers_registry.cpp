#include "wke/bridge.h"

// PLACEHOLDER: replaced by the real handlers.
jsValue WkeFunction::OnHasRegisterPath(jsExecState, void*) { return jsUndefined(); }
jsValue WkeFunction::OnHasRegisterKey(jsExecState, void*) { return jsUndefined(); }
