#include <cstdarg>
#include <cstdio>
#include <string>

#include "engine_standin/standin.h"

namespace standin {

void Say(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  // Formatted first and written in one call: the formatted-print family writes a
  // character at a time under a lock the host's log writer does not share, so its
  // lines could be cut by the host's.
  const std::string line = std::string("[standin] ") + text + "\n";
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
}

void WriteConsoleLine(const char* utf8Text) {
  // One call is one line: line breaks in the text are written as \n and \r.
  std::string line = "[console] ";
  for (const char* p = utf8Text; *p; ++p) {
    if (*p == '\n') {
      line += "\\n";
    } else if (*p == '\r') {
      line += "\\r";
    } else {
      line += *p;
    }
  }
  line += '\n';
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
}

}  // namespace standin
