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

namespace {

// The blanks scanf skips, in the C locale every target starts in.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The digit's value in `base` (10 or 16), or -1 when it is none.
int DigitValue(char c, unsigned base) {
  int digit = -1;
  if (c >= '0' && c <= '9') {
    digit = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    digit = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    digit = c - 'A' + 10;
  }
  return digit >= 0 && static_cast<unsigned>(digit) < base ? digit : -1;
}

}  // namespace

// Digits are read here rather than by strtol and its kin: their overflow results and "0x"
// handling are not the same in every C runtime, and the answer must not depend on the target.
extern "C" P9050_Parsed P9050_ParseNumber(const char* text, P9050_Conversion conversion,
                                          uint32_t* value) {
  const unsigned base = conversion == P9050_CONV_HEX ? 16 : 10;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // "0x" belongs to the number only when a hexadecimal digit follows; otherwise the "0" is it.
  if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2], 16) >= 0) {
    p += 2;
  }
  if (DigitValue(*p, base) < 0) return P9050_PARSED_NONE;

  // Any magnitude above 2^32 is as good as another: stop counting there.
  constexpr uint64_t kBeyond = uint64_t{1} << 33;
  uint64_t magnitude = 0;
  for (int digit = DigitValue(*p, base); digit >= 0; digit = DigitValue(*++p, base)) {
    magnitude = magnitude * base + static_cast<unsigned>(digit);
    if (magnitude > kBeyond) magnitude = kBeyond;
  }

  if (conversion == P9050_CONV_DEC) {
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit) return P9050_PARSED_TOO_BIG;
  } else if (magnitude > UINT32_MAX) {
    return P9050_PARSED_TOO_BIG;
  }
  const uint32_t bits = static_cast<uint32_t>(magnitude);
  *value = negative ? 0u - bits : bits;
  return P9050_PARSED_NUMBER;
}
