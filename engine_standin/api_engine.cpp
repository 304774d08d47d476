// Engine life cycle exports.
#include "engine_standin/bindings.h"
#include "engine_standin/engine_window.h"
#include "engine_standin/fetch.h"
#include "engine_standin/page.h"
#include "engine_standin/standin.h"
#include "engine_standin/thread_guard.h"
#include "engine_standin/values.h"
#include "engine_standin/web_view.h"

STANDIN_EXPORT(void) wkeInitializeEx(const void* settings) {
  if (!standin::AdoptUiThread()) return;
  standin::CreateEngineWindow();
  standin::Say("wkeInitializeEx(settings %s)", settings ? "given" : "null");
}

STANDIN_EXPORT(void) wkeSetProxy(const standin::EngineProxy* proxy) {
  STANDIN_UI_ONLY("wkeSetProxy");
  standin::GlobalProxy() = standin::ProxyText(proxy);
  standin::Say("wkeSetProxy: %s",
               standin::GlobalProxy().empty() ? "none" : standin::GlobalProxy().c_str());
}

STANDIN_EXPORT(void) wkeFinalize() {
  STANDIN_UI_ONLY("wkeFinalize");
  if (standin::ScriptRun::Active()) {
    // Tearing the pages down under a running script would pull its heap away.
    standin::Say("refused wkeFinalize: called while a script runs");
    return;
  }
  standin::DestroyAllViews();
  standin::DestroyEngineWindow();
  standin::ClearBindings();
  standin::ShutdownValues();
  standin::ReleaseUiThread();
  standin::Say("wkeFinalize");
}
