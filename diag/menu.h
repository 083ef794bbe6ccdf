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

#endif  // ZARERERA_DIAG_MENU_H
