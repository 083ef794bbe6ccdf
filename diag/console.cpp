// Console prompts of the diagnostic menus.
#include "diag/console.h"

#include <climits>
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

extern "C" BOOL DiagConsole_ReadDec(int32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  int v = *value;
  sscanf(P9050_LineBuf, "%d", &v);
  *value = static_cast<int32_t>(v);
  return TRUE;
}

extern "C" BOOL DiagConsole_ReadDecLong(int32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  long v = *value;
  sscanf(P9050_LineBuf, "%ld", &v);
  // Where long is 64 bits, a number beyond 32 bits would wrap into range ("4294967297" -> 1);
  // pinned to the nearest 32-bit value it stays out of range, as it is where long is 32 bits.
#if LONG_MAX > INT32_MAX
  if (v > static_cast<long>(INT32_MAX)) v = INT32_MAX;
  if (v < static_cast<long>(INT32_MIN)) v = INT32_MIN;
#endif
  *value = static_cast<int32_t>(v);
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

extern "C" BOOL DiagConsole_ReadHexLong(uint32_t* value) {
  if (!P9050_ConsoleReadLine()) return FALSE;
  unsigned long v = *value;
  sscanf(P9050_LineBuf, "%lx", &v);
#if ULONG_MAX > UINT32_MAX
  if (v > static_cast<unsigned long>(UINT32_MAX)) v = UINT32_MAX;  // as where long is 32 bits
#endif
  *value = static_cast<uint32_t>(v);
  return TRUE;
}

extern "C" void DiagConsole_Flush(void) {
  fflush(P9050_ConsoleOut());
}
