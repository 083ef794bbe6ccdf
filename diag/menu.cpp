// The frame of the console menus, and the check of every answer that is written.
#include "diag/menu.h"

#include <cstdarg>
#include <cstdio>

#include "console/console.h"

void DiagMenu_Head(const char* title, const char* rule) {
  DiagConsole_Printf("%s\n", title);
  DiagConsole_Printf("%s\n", rule);
}

void DiagMenu_Option(int32_t number, const char* format, ...) {
  DiagConsole_Printf("%d. ", static_cast<int>(number));
  va_list args;
  va_start(args, format);
  vfprintf(DiagConsole_Out(), format, args);
  va_end(args);
  DiagConsole_Printf("\n");
}

void DiagMenu_Foot(const char* exitText) {
  DiagMenu_Option(kDiagMenuExit, "%s", exitText);
  DiagConsole_Printf("\n");
  DiagConsole_Printf("Enter option: ");
}

DiagAnswer DiagMenu_ParseWritten(const char* line, const char* what, uint32_t max,
                                 const char* limit, uint32_t* value) {
  uint32_t parsed = 0;
  switch (DiagConsole_ParseNumber(line, DIAGCONSOLE_HEX, &parsed)) {
    case DIAGCONSOLE_PARSED_NONE:
      DiagConsole_Printf("Error: no hexadecimal %s given; nothing written\n", what);
      return DiagAnswer::kRefused;
    case DIAGCONSOLE_PARSED_TOO_BIG:
      break;
    case DIAGCONSOLE_PARSED_NUMBER:
      if (parsed > max) break;
      *value = parsed;
      return DiagAnswer::kTaken;
  }
  DiagConsole_Printf("Error: %s too big for %s\n", what, limit);
  return DiagAnswer::kRefused;
}

DiagAnswer DiagMenu_ReadWritten(const char* what, uint32_t max, const char* limit,
                                uint32_t* value) {
  if (!DiagConsole_ReadLine()) return DiagAnswer::kEnd;
  return DiagMenu_ParseWritten(P9050_LineBuf, what, max, limit, value);
}
