// Console prompts of the diagnostic menus.
#include "diag/console.h"

#include <cstdarg>
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
  *value = static_cast<uint32_t>(v);
  return TRUE;
}

extern "C" void DiagConsole_Flush(void) {
  fflush(P9050_ConsoleOut());
}
