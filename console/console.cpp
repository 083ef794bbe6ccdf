// The console: line buffer, streams, line reads and the number parser of every prompt.
#include "console/console.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" {
char P9050_LineBuf[P9050_LINE_BUF_SIZE];
}

namespace {

constexpr size_t kPauseBufSize = 100;

FILE* g_in = nullptr;
FILE* g_out = nullptr;

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

// Reads a line and parses it with `conversion`; a line without a number in the conversion's range
// leaves *value, the prompt's preset. 0 at end of input.
int ReadNumber(DiagConsole_Conversion conversion, uint32_t* value) {
  if (!DiagConsole_ReadLine()) return 0;
  (void)DiagConsole_ParseNumber(P9050_LineBuf, conversion, value);
  return 1;
}

int ReadSigned(int32_t* value) {
  uint32_t bits = static_cast<uint32_t>(*value);
  const int read = ReadNumber(DIAGCONSOLE_DEC, &bits);
  *value = static_cast<int32_t>(bits);
  return read;
}

}  // namespace

extern "C" void DiagConsole_SetStreams(FILE* in, FILE* out) {
  g_in = in;
  g_out = out;
}

extern "C" FILE* DiagConsole_In(void) {
  return g_in != nullptr ? g_in : stdin;
}

extern "C" FILE* DiagConsole_Out(void) {
  return g_out != nullptr ? g_out : stdout;
}

extern "C" int DiagConsole_Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vfprintf(DiagConsole_Out(), format, args);
  va_end(args);
  return n;
}

extern "C" void DiagConsole_Flush(void) {
  fflush(DiagConsole_Out());
}

extern "C" int DiagConsole_ReadLine(void) {
  DiagConsole_Flush();
  char line[P9050_LINE_BUF_SIZE];
  if (fgets(line, sizeof line, DiagConsole_In()) == nullptr) return 0;
  memcpy(P9050_LineBuf, line, strlen(line) + 1);
  return 1;
}

extern "C" int DiagConsole_ReadWholeLine(void) {
  DiagConsole_Flush();
  FILE* in = DiagConsole_In();
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

extern "C" void DiagConsole_Pause(void) {
  DiagConsole_Flush();
  char pause[kPauseBufSize];
  (void)fgets(pause, sizeof pause, DiagConsole_In());
}

// Digits are read here rather than by strtol and its kin: their overflow results and "0x"
// handling are not the same in every C runtime, and the answer must not depend on the target.
extern "C" DiagConsole_Parsed DiagConsole_ParseNumber(const char* text,
                                                      DiagConsole_Conversion conversion,
                                                      uint32_t* value) {
  const unsigned base = conversion == DIAGCONSOLE_HEX ? 16 : 10;
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
  if (DigitValue(*p, base) < 0) return DIAGCONSOLE_PARSED_NONE;

  // Any magnitude above 2^32 is as good as another: stop counting there.
  constexpr uint64_t kBeyond = uint64_t{1} << 33;
  uint64_t magnitude = 0;
  for (int digit = DigitValue(*p, base); digit >= 0; digit = DigitValue(*++p, base)) {
    magnitude = magnitude * base + static_cast<unsigned>(digit);
    if (magnitude > kBeyond) magnitude = kBeyond;
  }

  if (conversion == DIAGCONSOLE_DEC) {
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit) return DIAGCONSOLE_PARSED_TOO_BIG;
  } else if (magnitude > UINT32_MAX) {
    return DIAGCONSOLE_PARSED_TOO_BIG;
  }
  const uint32_t bits = static_cast<uint32_t>(magnitude);
  *value = negative ? 0u - bits : bits;
  return DIAGCONSOLE_PARSED_NUMBER;
}

extern "C" int DiagConsole_ReadDec(int32_t* value) {
  return ReadSigned(value);
}

extern "C" int DiagConsole_ReadDecLong(int32_t* value) {
  return ReadSigned(value);
}

extern "C" int DiagConsole_ReadUnsigned(uint32_t* value) {
  return ReadNumber(DIAGCONSOLE_UNSIGNED, value);
}

extern "C" int DiagConsole_ReadHex(uint32_t* value) {
  return ReadNumber(DIAGCONSOLE_HEX, value);
}

extern "C" int DiagConsole_ReadHexLong(uint32_t* value) {
  return ReadNumber(DIAGCONSOLE_HEX, value);
}
