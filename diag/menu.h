// The frame every console menu prints: a head (the title and the rule under it), numbered option
// lines, and a foot (the way out as option 99, a blank line and the "Enter option: " prompt).
// What a menu shows between them (notes, a register grid) it prints itself. Output goes to the
// console (console/console.h).
#ifndef ZARERERA_DIAG_MENU_H
#define ZARERERA_DIAG_MENU_H

#include <cstdint>

// Every menu's way out.
constexpr int32_t kDiagMenuExit = 99;

// "title\n" and "rule\n".
void DiagMenu_Head(const char* title, const char* rule);

// "N. " and the formatted text, then a newline.
__attribute__((format(printf, 2, 3))) void DiagMenu_Option(int32_t number, const char* format, ...);

// "99. exitText\n", "\n" and "Enter option: ".
void DiagMenu_Foot(const char* exitText);

// The answer of a prompt whose value is written (an editor's value, the address or data of a
// write). Only a number that fits is written: a line without a hexadecimal number, or with one
// beyond `max`, prints one line saying why ("Error: no hexadecimal data given; nothing written",
// "Error: data too big for BYTE (8 bit)") and writes nothing.
enum class DiagAnswer { kEnd, kRefused, kTaken };

// Parses `line` as "%x" does into *value (untouched unless kTaken): `what` names the value in the
// refusal, `limit` what it did not fit.
DiagAnswer DiagMenu_ParseWritten(const char* line, const char* what, uint32_t max,
                                 const char* limit, uint32_t* value);

// Reads a line and parses it so; kEnd at the end of input.
DiagAnswer DiagMenu_ReadWritten(const char* what, uint32_t max, const char* limit, uint32_t* value);

#endif  // ZARERERA_DIAG_MENU_H
