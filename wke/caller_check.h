// Who is calling a bound function. The engine binds the native functions into every
// script context it makes: frames inside the service's page and windows the page opens
// get them too, while the functions act with the program's rights.
#pragma once

#include "wke/wke_api.h"

class WkeFunction;

// True only when the call that es belongs to comes from the program's own view and
// from a frame whose location the engine gave and whose origin is allowed. No
// answer, a non-string, an exception or an exhausted stack refuse the call, as does
// everything once the engine was found not to answer at all. A refusal logs one
// error line naming scriptName.
bool CallerAllowed(jsExecState es, const char* scriptName, const WkeFunction* bridge);

// Asks the location question once, of view's main frame when its document is
// ready. An engine that gives no answer there never will: every later call is then
// refused, and one error line says so now rather than at each call.
void CheckEngineAnswersLocation(wkeWebView view);
