// Who is calling a bound function. The engine binds the native functions into every
// script context it makes: frames inside the service's page and windows the page opens
// get them too, while the functions act with the program's rights.
#pragma once

#include "wke/wke_api.h"

class WkeFunction;

// True when the call that es belongs to may reach the native side: it comes from the
// program's own view, from a frame whose origin is allowed, while that view shows a
// page of an allowed origin. Where the engine cannot say which view or frame is
// calling, the view's page alone decides. A refusal logs one error line naming
// scriptName.
bool CallerAllowed(jsExecState es, const char* scriptName, const WkeFunction* bridge);
