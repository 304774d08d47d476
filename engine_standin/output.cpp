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
  fprintf(stdout, "[standin] %s\n", text);
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
