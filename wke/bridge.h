// What every handler shares: argument readers that copy the engine's text at once,
// and the result echo, the log line that shows the value about to be returned.
#pragma once

#include <string>

#include "app/log.h"
#include "wke/wke_api.h"
#include "wke/wke_function.h"

// Arguments, read by 0-based index and copied out of the engine at once. A null
// text from the engine reads as empty.
std::string ArgUtf8(jsExecState es, int index);
std::wstring ArgWide(jsExecState es, int index);
int ArgInt(jsExecState es, int index);

inline WkeFunction* Bridge(void* param) { return static_cast<WkeFunction*>(param); }

// Result echoes. LEVEL is LOG_INFO, LOG_WARNING or LOG_ERROR; these are macros so
// the log line names the handler that returns.
#define ECHO_TRUE(LEVEL) LEVEL("{\r\n    return true;\r\n}")
#define ECHO_FALSE(LEVEL) LEVEL("{\r\n    return false;\r\n}")
#define ECHO_UNDEFINED(LEVEL) LEVEL("{\r\n    return undefined;\r\n}")
#define ECHO_STRING(LEVEL, text) LEVEL("{\r\n    return %s;\r\n}", text)
#define ECHO_WIDE_STRING(text) LOG_INFO_W(L"{\r\n    return %s;\r\n}", text)
#define ECHO_INT(LEVEL, number) LEVEL("{\r\n    return %d;\r\n}", number)
// A boolean result: true at level info, false at FAIL_LEVEL.
#define ECHO_BOOL(value, FAIL_LEVEL) \
  do {                               \
    if (value) {                     \
      ECHO_TRUE(LOG_INFO);           \
    } else {                         \
      ECHO_FALSE(FAIL_LEVEL);        \
    }                                \
  } while (0)
