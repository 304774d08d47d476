// The three messages that carry work to the UI thread (a script call string, a program
// start, a download), carried out exactly once wherever they are taken from the queue:
// by the program's own loop, or by any other loop on the UI thread (a message box's,
// the engine's alert or file dialog), which dispatches them to the host window.
#pragma once

#include <windows.h>

#include "wke/exec_worker.h"
#include "wke/wke_api.h"

// The view script call strings run in; null once its window is gone, after which
// they are dropped (and freed) instead.
void SetScriptCallView(wkeWebView view);

// Carries out msg when it is one of the three messages and frees or hands on its
// payload; false for any other message.
bool CarryOutCustomMessage(const MSG& msg);

// Hands a download message's task to a worker started with start. When none can be
// started the page hears "<finished>(0)" at once and the task is freed here.
void StartDownloadWorker(const MSG& msg, const DetachedThreadStarter& start = StartDetachedThread);

// Puts a procedure in front of hwnd's own that carries out the three messages when
// another loop dispatches them there. It takes itself out when the window is
// destroyed. False when the window cannot be subclassed.
bool HandleCustomMessagesIn(HWND hwnd);
