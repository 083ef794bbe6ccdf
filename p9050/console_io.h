/* The console's line buffer and streams, shared by every prompt of the process: the board's card
 * prompt and the diagnostic menus. Prompts print to the output stream and read from the input
 * stream; both are standard output and standard input unless a host or a test points them
 * elsewhere. */
#ifndef ZARERERA_P9050_CONSOLE_IO_H
#define ZARERERA_P9050_CONSOLE_IO_H

#include <stdint.h>
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

/* The conversions a prompt parses its number with, each pinned to 32 bits on every target ("%ld"
 * and "%lx" read as "%d" and "%x" do, whatever the width of long). */
typedef enum P9050_Conversion {
  P9050_CONV_DEC,      /* "%d", "%ld": -2147483648 to 2147483647 */
  P9050_CONV_UNSIGNED, /* "%u": decimal, a magnitude up to 4294967295 */
  P9050_CONV_HEX       /* "%x", "%lx": hexadecimal, "0x" allowed, a magnitude up to 0xffffffff */
} P9050_Conversion;

/* What P9050_ParseNumber found. */
typedef enum P9050_Parsed {
  P9050_PARSED_NONE,   /* the text does not begin with a number of the conversion's form */
  P9050_PARSED_NUMBER, /* a number in the conversion's range, stored */
  P9050_PARSED_TOO_BIG /* a number outside the conversion's range, not stored */
} P9050_Parsed;

/* The one number parser of every prompt. Reads as the scanf conversion reads: blanks, an optional
 * sign, for "%x" an optional "0x", then digits up to the first that does not belong. A '-' before
 * an unsigned or hexadecimal number negates it modulo 2^32, as scanf does ("-1" is 0xffffffff).
 * Unlike scanf, whose result for a number beyond its type is undefined (C runtimes wrap or
 * saturate), a number outside the conversion's range is reported and not stored, the same on every
 * target; prompts treat it as no number, so their preset stays. A "%d" number is stored as the
 * two's-complement bits of its 32-bit value. *value is written only for P9050_PARSED_NUMBER. */
P9050_Parsed P9050_ParseNumber(const char* text, P9050_Conversion conversion, uint32_t* value);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_P9050_CONSOLE_IO_H */
