// The frame of the console menus.
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
