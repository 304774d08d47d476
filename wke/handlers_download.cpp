#include "wke/bridge.h"

// PLACEHOLDER: replaced by the real handlers.
jsValue WkeFunction::OnDownload(jsExecState, void*) { return jsUndefined(); }
