// Console prompts of the diagnostic menus.
#include "diag/console.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

extern "C" int DiagConsole_Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vfprintf(P9050_ConsoleOut(), format, args);
  va_end(args);
  return n;
}

extern "C" BOOL DiagConsole_ReadLine(void) {
  return P9050_ConsoleReadLine() ? TRUE : FALSE;
}

namespace {

// Reads a line and parses it with `conversion`; a line without a number in the conversion's range
// leaves *value, the prompt's preset. FALSE at end of input.
BOOL ReadNumber(P9050_Conversion conversion, uint32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  (void)P9050_ParseNumber(P9050_LineBuf, conversion, value);
  return TRUE;
}

BOOL ReadSigned(int32_t* value) {
  uint32_t bits = static_cast<uint32_t>(*value);
  const BOOL read = ReadNumber(P9050_CONV_DEC, &bits);
  *value = static_cast<int32_t>(bits);
  return read;
}

}  // namespace

extern "C" BOOL DiagConsole_ReadDec(int32_t* value) {
  return ReadSigned(value);
}

extern "C" BOOL DiagConsole_ReadDecLong(int32_t* value) {
  return ReadSigned(value);
}

extern "C" BOOL DiagConsole_ReadUnsigned(uint32_t* value) {
  return ReadNumber(P9050_CONV_UNSIGNED, value);
}

extern "C" void DiagConsole_ParseHex(uint32_t* value) {
  (void)P9050_ParseNumber(P9050_LineBuf, P9050_CONV_HEX, value);
}

extern "C" BOOL DiagConsole_ReadHex(uint32_t* value) {
  return ReadNumber(P9050_CONV_HEX, value);
}

extern "C" BOOL DiagConsole_ReadHexLong(uint32_t* value) {
  return ReadNumber(P9050_CONV_HEX, value);
}

extern "C" void DiagConsole_Flush(void) {
  fflush(P9050_ConsoleOut());
}
