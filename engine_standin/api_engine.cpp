// Engine life cycle exports, and the zero stubs behind every name the stand-in does
// not implement (the generated .def file points those names here).
#include "engine_standin/bindings.h"
#include "engine_standin/engine_window.h"
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

// Zero results for the names the program never calls: integers, pointers and script
// values in EDX:EAX, floating-point results on the x87 stack, and rectangles through
// the caller's return buffer.
struct StandinRect {
  int x, y, w, h;
};
extern "C" int64_t __cdecl StandinZero() { return 0; }
extern "C" double __cdecl StandinZeroReal() { return 0.0; }
extern "C" StandinRect __cdecl StandinZeroRect() { return StandinRect{0, 0, 0, 0}; }
