/* The console's line buffer and streams, shared by every prompt of the process: the board's card
 * prompt and the diagnostic menus. Prompts print to the output stream and read from the input
 * stream; both are standard output and standard input unless a host or a test points them
 * elsewhere. */
#ifndef ZARERERA_P9050_CONSOLE_IO_H
#define ZARERERA_P9050_CONSOLE_IO_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define P9050_LINE_BUF_SIZE 256

/* The console's input line. */
extern char P9050_LineBuf[P9050_LINE_BUF_SIZE];

/* Points the console at other streams; NULL restores standard input or output. */
void P9050_ConsoleSetStreams(FILE* in, FILE* out);
FILE* P9050_ConsoleIn(void);
FILE* P9050_ConsoleOut(void);

/* Reads one line as the menus do: at most 255 characters, the newline kept when it fits, the rest
 * of a longer line left for the next read. Returns 0 at end of input with nothing read, leaving
 * the buffer as it was. */
int P9050_ConsoleReadLine(void);

/* Reads one whole line as the card prompt does: the newline consumed and not stored, the line
 * consumed whatever its length, the first 255 characters kept. Returns 0 at end of input with
 * nothing read, leaving the buffer as it was. */
int P9050_ConsoleReadWholeLine(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_P9050_CONSOLE_IO_H */
