// The console's shared line buffer and its two ways of reading a line.
#include "p9050/console_io.h"

#include <cstring>

extern "C" {
char P9050_LineBuf[P9050_LINE_BUF_SIZE];
}

namespace {
FILE* g_in = nullptr;
FILE* g_out = nullptr;
}  // namespace

extern "C" void P9050_ConsoleSetStreams(FILE* in, FILE* out) {
  g_in = in;
  g_out = out;
}

extern "C" FILE* P9050_ConsoleIn(void) {
  return g_in != nullptr ? g_in : stdin;
}
extern "C" FILE* P9050_ConsoleOut(void) {
  return g_out != nullptr ? g_out : stdout;
}

extern "C" int P9050_ConsoleReadLine(void) {
  fflush(P9050_ConsoleOut());
  char line[P9050_LINE_BUF_SIZE];
  if (fgets(line, sizeof line, P9050_ConsoleIn()) == nullptr) return 0;
  memcpy(P9050_LineBuf, line, strlen(line) + 1);
  return 1;
}

extern "C" int P9050_ConsoleReadWholeLine(void) {
  fflush(P9050_ConsoleOut());
  FILE* in = P9050_ConsoleIn();
  int c = getc(in);
  if (c == EOF) return 0;
  size_t n = 0;
  while (c != EOF && c != '\n') {
    if (n < P9050_LINE_BUF_SIZE - 1) P9050_LineBuf[n++] = static_cast<char>(c);
    c = getc(in);
  }
  P9050_LineBuf[n] = '\0';
  return 1;
}
