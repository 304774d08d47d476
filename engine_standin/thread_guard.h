// The engine belongs to the thread that called wkeInitializeEx. Calls from any other
// thread are refused with a line on standard output, so that a host that crosses
// threads shows it in its tests.
#pragma once

namespace standin {

// Makes the calling thread the engine's thread. False (with a line) when another
// thread already owns the engine.
bool AdoptUiThread();
void ReleaseUiThread();
// True on the engine's thread; otherwise writes the refusal line naming `function`.
bool OnUiThread(const char* function);

}  // namespace standin

// Refuses the call (returning the given value) unless on the engine's thread.
#define STANDIN_UI_ONLY(function, ...) \
  if (!::standin::OnUiThread(function)) return __VA_ARGS__
