// Internal declarations shared by the stand-in engine's files. The stand-in is a test
// and demo engine with the real engine's exports; nothing here is part of the program.
#pragma once

#include <windows.h>

#include <cstdint>

// Exported engine function: C linkage, cdecl, undecorated. The export list itself is
// the generated .def file, which also points every name not defined this way at a
// zero-returning stub.
#define STANDIN_EXPORT(ret) extern "C" ret __cdecl

namespace standin {

using jsValue = int64_t;

struct WebView;
class Page;

// Private messages of the engine's message-only window. Kept well above the
// host's own message numbers.
constexpr UINT kMsgFetched = WM_APP + 0x5A1;   // lParam: FetchResult*

// This DLL's own module: window classes are registered under it, so that two engine
// copies in one process never share a class (and its window procedure).
HINSTANCE EngineModule();

// Writes one "[standin] ..." line to standard output and flushes it.
void Say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// Writes one "[console] text" line to standard output and flushes it; line breaks
// inside the text are escaped as \n and \r.
void WriteConsoleLine(const char* utf8Text);

}  // namespace standin
