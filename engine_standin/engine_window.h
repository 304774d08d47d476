// The engine's hidden message-only window. Fetch results and script timers arrive
// here, so they are handled on the UI thread while the host dispatches messages.
#pragma once

#include <windows.h>

namespace standin {

bool CreateEngineWindow();
void DestroyEngineWindow();
HWND EngineWindow();

}  // namespace standin
