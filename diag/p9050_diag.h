/* The bridge's console diagnostics: a register editor, the local address spaces by offset or by
 * local address, the PCI interrupt switch with a sample handler, the serial EEPROM, and a chooser
 * that finds and opens a card.
 *
 * A console host calls these with a card handle; none of them closes it. Every prompt goes
 * through console/console.h, so output reaches the console's output stream (flushed before each
 * read) and end of input makes each menu return as if 99 had been chosen, and the chooser return
 * NULL. Nothing is validated beyond what the menus show: offsets, local addresses, register
 * values and EEPROM addresses go to the bridge library as entered. */
#ifndef ZARERERA_DIAG_P9050_DIAG_H
#define ZARERERA_DIAG_P9050_DIAG_H

#include <stdint.h>

#include "p9050_lib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One row of the register editor: the name shown, the register's offset in space 0 and the value
 * read at the last redraw. */
typedef struct P9050Diag_RegEntry {
  const char* name;
  uint32_t offset;
  uint32_t value;
} P9050Diag_RegEntry;

/* The bridge registers in the order the register editor numbers them (entry i is choice i + 1),
 * every one a dword in space 0; `value` is 0. The one table of the registers' names. */
#define P9050DIAG_REGISTERS 21
extern const P9050Diag_RegEntry P9050Diag_Registers[P9050DIAG_REGISTERS];

/* Shows every bridge register in two columns and writes the one chosen. */
void P9050Diag_EditRegisters(P9050_Handle* handle);

/* "Addr Space 0 - (BAR2)" ... "Addr Space 3 - (BAR5)" for spaces 2-5, "Invalid" otherwise. A
 * static text. */
const char* P9050Diag_SpaceName(int32_t space);

/* Reads and writes the card's local address spaces 2-5 by offset into the PCI range, or, with
 * localMode non-zero, by address on the card's local bus (each access moves the space's window). */
void P9050Diag_AccessSpaces(P9050_Handle* handle, BOOL localMode);

/* A sample interrupt handler: prints the interrupt count. */
void P9050Diag_IntHandler(P9050_Handle* handle, P9050_IntResult* result);

/* Switches the bridge's PCI interrupt on and off. */
void P9050Diag_Interrupts(P9050_Handle* handle);

/* Shows, reads and writes the serial configuration EEPROM. */
void P9050Diag_EEPROM(P9050_Handle* handle);

/* Finds and opens a card: asks for the IDs when vendorId is 0 and for the card when several
 * match. Returns a handle the caller closes with P9050_Close, or NULL. */
P9050_Handle* P9050Diag_OpenBoard(uint32_t vendorId, uint32_t deviceId);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_DIAG_P9050_DIAG_H */
