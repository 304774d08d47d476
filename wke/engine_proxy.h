// The web engine's own loads take the proxy the downloads take.
#pragma once

#include "wke/wke_api.h"

// Gives the view the proxy Windows' settings choose for `startUrl` (nothing when they
// choose a direct connection or name no proxy).
void ApplySystemProxyToView(wkeWebView webView, const char* startUrl);
