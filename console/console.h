/* The console: the process's one line buffer, the streams every prompt prints to and reads from,
 * the line reads and the one number parser. Every prompt of the process goes through here: the
 * board's card prompt (tamrelcheck), the diagnostic menus, the PCI bus tools and the console
 * host. Both streams are standard output and standard input unless a host or a test points them
 * elsewhere.
 *
 * The menus' reads return 0 at end of input and leave the value untouched, and the caller returns
 * as for 99: end of input is handled in one place. A line without a value of the conversion's form
 * leaves the value as it was (the caller's preset).
 *
 * It uses nothing but the C runtime, so that both the board API and the diagnostics sit on it.
 *
 * The line buffer is P9050_LineBuf, named like the bridge library's other process-wide state
 * (P9050_ErrorText) because it is one of the three pieces of state the whole library shares: one
 * buffer for the process, whichever layer prompts. The calls keep the DiagConsole_ prefix of the
 * diagnostics they were first written for. */
#ifndef ZARERERA_CONSOLE_CONSOLE_H
#define ZARERERA_CONSOLE_CONSOLE_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define P9050_LINE_BUF_SIZE 256

/* The console's input line, shared by every prompt. */
extern char P9050_LineBuf[P9050_LINE_BUF_SIZE];

/* Points the console at other streams; NULL restores standard input or output. */
void DiagConsole_SetStreams(FILE* in, FILE* out);
FILE* DiagConsole_In(void);
FILE* DiagConsole_Out(void);

/* printf to the console's output stream. */
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
int DiagConsole_Printf(const char* format, ...);

/* Flushes the output stream (menus do before returning to their host). */
void DiagConsole_Flush(void);

/* Flushes the output and reads one line as the menus do: at most 255 characters, the newline kept
 * when it fits, the rest of a longer line left for the next read. Returns 0 at end of input with
 * nothing read, leaving the buffer as it was. */
int DiagConsole_ReadLine(void);

/* Flushes the output and reads one whole line as the card prompt does: the newline consumed and
 * not stored, the line consumed whatever its length, the first 255 characters kept. Returns 0 at
 * end of input with nothing read, leaving the buffer as it was. */
int DiagConsole_ReadWholeLine(void);

/* The bus scan's pause: flushes the output and reads a line into a private buffer of 100
 * characters (99 and the NUL), discarding it. A longer line is left for the next pause, and at end
 * of input it does not wait. */
void DiagConsole_Pause(void);

/* The conversions a prompt parses its number with, each pinned to 32 bits on every target ("%ld"
 * and "%lx" read as "%d" and "%x" do, whatever the width of long). */
typedef enum DiagConsole_Conversion {
  DIAGCONSOLE_DEC,      /* "%d", "%ld": -2147483648 to 2147483647 */
  DIAGCONSOLE_UNSIGNED, /* "%u": decimal, a magnitude up to 4294967295 */
  DIAGCONSOLE_HEX       /* "%x", "%lx": hexadecimal, "0x" allowed, a magnitude up to 0xffffffff */
} DiagConsole_Conversion;

/* What DiagConsole_ParseNumber found. */
typedef enum DiagConsole_Parsed {
  DIAGCONSOLE_PARSED_NONE,   /* the text does not begin with a number of the conversion's form */
  DIAGCONSOLE_PARSED_NUMBER, /* a number in the conversion's range, stored */
  DIAGCONSOLE_PARSED_TOO_BIG /* a number outside the conversion's range, not stored */
} DiagConsole_Parsed;

/* The one number parser of every prompt. Reads as the scanf conversion reads: blanks, an optional
 * sign, for "%x" an optional "0x", then digits up to the first that does not belong. A '-' before
 * an unsigned or hexadecimal number negates it modulo 2^32, as scanf does ("-1" is 0xffffffff).
 * Unlike scanf, whose result for a number beyond its type is undefined (C runtimes wrap or
 * saturate), a number outside the conversion's range is reported and not stored, the same on every
 * target; prompts treat it as no number, so their preset stays. A "%d" number is stored as the
 * two's-complement bits of its 32-bit value. *value is written only for DIAGCONSOLE_PARSED_NUMBER.
 */
DiagConsole_Parsed DiagConsole_ParseNumber(const char* text, DiagConsole_Conversion conversion,
                                           uint32_t* value);

/* Reads a line and parses it with one conversion: a line without a number, or with one outside
 * the conversion's range, leaves *value as it was (the prompt's preset). 0 at end of input (value
 * untouched). */
int DiagConsole_ReadDec(int32_t* value);       /* "%d" */
int DiagConsole_ReadDecLong(int32_t* value);   /* "%ld" */
int DiagConsole_ReadUnsigned(uint32_t* value); /* "%u" */
int DiagConsole_ReadHex(uint32_t* value);      /* "%x" */
int DiagConsole_ReadHexLong(uint32_t* value);  /* "%lx" */

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_CONSOLE_CONSOLE_H */
