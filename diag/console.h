/* The console prompts of the diagnostic menus: print, read one line into P9050_LineBuf, parse one
 * value. Every menu reads through here so that end of input is handled in one place: each read
 * returns FALSE at end of input and leaves the value untouched, and the caller returns as for 99.
 * A line without a value of the conversion's form leaves the value as it was (the caller's
 * preset). */
#ifndef ZARERERA_DIAG_CONSOLE_H
#define ZARERERA_DIAG_CONSOLE_H

#include <stdint.h>

#include "p9050/console_io.h"
#include "p9050_lib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* printf to the console's output stream. */
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
int DiagConsole_Printf(const char* format, ...);

/* Flushes the output and reads one line (menu rules: 255 characters, newline kept when it fits,
 * the rest left for the next read). FALSE at end of input. */
BOOL DiagConsole_ReadLine(void);

/* Read a line and parse it with one conversion through P9050_ParseNumber, every conversion
 * pinned to 32 bits: a line without a number, or with one outside the conversion's range, leaves
 * *value as it was (the prompt's preset). FALSE at end of input (value untouched). */
BOOL DiagConsole_ReadDec(int32_t* value);       /* "%d" */
BOOL DiagConsole_ReadDecLong(int32_t* value);   /* "%ld" */
BOOL DiagConsole_ReadUnsigned(uint32_t* value); /* "%u" */
BOOL DiagConsole_ReadHex(uint32_t* value);      /* "%x" */
BOOL DiagConsole_ReadHexLong(uint32_t* value);  /* "%lx" */

/* Parses the line already in P9050_LineBuf with "%x" into *value, which keeps its value when the
 * line holds no hexadecimal number in range (for prompts that look at the line before parsing). */
void DiagConsole_ParseHex(uint32_t* value);

/* Flushes the output stream (menus do before returning to their host). */
void DiagConsole_Flush(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_DIAG_CONSOLE_H */
