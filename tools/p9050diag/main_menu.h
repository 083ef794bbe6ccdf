// The console host's main menu: the board it has open and the entries that lead to each
// diagnostic. Output and input go through the console module (console/console.h), like the menus.
#ifndef ZARERERA_TOOLS_P9050DIAG_MAIN_MENU_H
#define ZARERERA_TOOLS_P9050DIAG_MAIN_MENU_H

#include <functional>

#include "driver/wd_records.h"
#include "p9050_lib.h"

namespace p9050diag {

// What the host keeps between menu choices.
struct HostState {
  P9050_Handle* board = nullptr;  // the board the bridge diagnostics work on; the host closes it
  bool havePciSlot = false;       // a card chosen by IDs for the PCI bus tools
  WdPciSlot pciSlot{};
  // Pulses the open board's LINTi1 and returns once any interrupt it caused has been handled;
  // false when the board cannot be made to interrupt (not a simulated one).
  std::function<bool(P9050_Handle* board)> pulseInterrupt;
};

// Opens the default board when it is the only one on the bus; prints what the chooser prints.
void OpenDefaultBoard(HostState* state);

// Runs the main menu until 99 or the end of input. Leaves any open board open.
void RunMainMenu(HostState* state);

// Closes the open board, if any.
void CloseBoard(HostState* state);

}  // namespace p9050diag

#endif  // ZARERERA_TOOLS_P9050DIAG_MAIN_MENU_H
