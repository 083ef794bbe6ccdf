// Console prompts of the diagnostic menus.
#include "diag/console.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

extern "C" BOOL DiagConsole_ReadDec(int32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  int v = *value;
  sscanf(P9050_LineBuf, "%d", &v);
  *value = static_cast<int32_t>(v);
  return TRUE;
}

extern "C" BOOL DiagConsole_ReadDecLong(int32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  // Read as "%ld" reads, but through strtoll: scanf's result for a number beyond its type is
  // undefined, and C runtimes differ (msvcrt wraps "4294967297" to 1, glibc and MinGW saturate).
  // A number beyond 32 bits is pinned to the nearest 32-bit value, so it stays out of range on
  // every target; a line without a number leaves the preset.
  char* end = nullptr;
  const long long v = strtoll(P9050_LineBuf, &end, 10);
  if (end == P9050_LineBuf) return TRUE;
  *value = static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
  return TRUE;
}

extern "C" BOOL DiagConsole_ReadUnsigned(uint32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  unsigned v = *value;
  sscanf(P9050_LineBuf, "%u", &v);
  *value = static_cast<uint32_t>(v);
  return TRUE;
}

extern "C" void DiagConsole_ParseHex(uint32_t* value) {
  unsigned v = *value;
  sscanf(P9050_LineBuf, "%x", &v);
  *value = static_cast<uint32_t>(v);
}

extern "C" BOOL DiagConsole_ReadHex(uint32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  DiagConsole_ParseHex(value);
  return TRUE;
}

extern "C" BOOL DiagConsole_ParseHex32(const char* line, uint32_t* value, BOOL* fits) {
  const char* sign = line;
  while (isspace(static_cast<unsigned char>(*sign))) ++sign;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(line, &end, 16);
  if (end == line) return FALSE;
  const unsigned long long magnitude = *sign == '-' ? 0 - v : v;
  *fits = errno != ERANGE && magnitude <= UINT32_MAX ? TRUE : FALSE;
  *value = static_cast<uint32_t>(v);
  return TRUE;
}

extern "C" BOOL DiagConsole_ReadHexLong(uint32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  // Read as "%lx" reads with a 32-bit long, but without scanf's undefined result for a number
  // beyond its type (C runtimes differ): such a number is pinned to 0xffffffff on every target; a
  // line without a number leaves the preset.
  uint32_t parsed = 0;
  BOOL fits = TRUE;
  if (DiagConsole_ParseHex32(P9050_LineBuf, &parsed, &fits)) *value = fits ? parsed : UINT32_MAX;
  return TRUE;
}

extern "C" void DiagConsole_Flush(void) {
  fflush(P9050_ConsoleOut());
}
