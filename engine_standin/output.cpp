#include <cstdarg>
#include <cstdio>

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
  fprintf(stdout, "[console] %s\n", utf8Text);
  fflush(stdout);
}

}  // namespace standin
