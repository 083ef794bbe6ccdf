// The main menu: a table of entries, each a number, a text and what it runs. Entries that work on
// a card say so when none is open instead of calling the diagnostic with a NULL handle.
#include "main_menu.h"

#include <cstdint>

#include "console/console.h"
#include "diag/menu.h"
#include "diag/p9050_diag.h"
#include "diag/pci_diag.h"
#include "options.h"

namespace p9050diag {

namespace {

struct Entry {
  int32_t number;
  const char* text;
  bool needsBoard;
  void (*run)(HostState* state);
  bool needsPciSlot = false;
};

void OpenBoard(HostState* state) {
  // One board at a time: the chooser may pick the same card again.
  CloseBoard(state);
  state->board = P9050Diag_OpenBoard(0, 0);
}

void EditRegisters(HostState* state) {
  P9050Diag_EditRegisters(state->board);
}
void SpacesByOffset(HostState* state) {
  P9050Diag_AccessSpaces(state->board, FALSE);
}
void SpacesByLocalAddress(HostState* state) {
  P9050Diag_AccessSpaces(state->board, TRUE);
}
void Interrupts(HostState* state) {
  P9050Diag_Interrupts(state->board);
}
void Eeprom(HostState* state) {
  P9050Diag_EEPROM(state->board);
}
void PulseInterrupt(HostState* state) {
  if (!state->pulseInterrupt || !state->pulseInterrupt(state->board)) {
    DiagConsole_Printf("Only a simulated board can be made to interrupt.\n");
    return;
  }
  // The bridge passes the input on only when INTCSR enables it (bit 0).
  if ((P9050_ReadReg(state->board, P9050_INTCSR) & 0x1u) == 0) {
    DiagConsole_Printf("LINTi1 pulsed; INTCSR bit 0 is clear, so the bridge ignored it.\n");
  } else {
    DiagConsole_Printf("LINTi1 pulsed.\n");
  }
}

void ScanBus(HostState*) {
  PciBus_ListCards();
}
void ChoosePciCard(HostState* state) {
  // A chooser that gives up leaves the slot chosen before.
  if (PciBus_SelectCard(&state->pciSlot)) state->havePciSlot = true;
}
void PrintPciResources(HostState* state) {
  PciBus_PrintSlotResources(state->pciSlot);
}
void EditPciConfig(HostState* state) {
  PciBus_EditConfig(state->pciSlot);
}

const Entry kEntries[] = {
    {1, "Open a board", false, OpenBoard},
    {2, "Edit the bridge registers", true, EditRegisters},
    {3, "Access the address spaces by offset", true, SpacesByOffset},
    {4, "Access the address spaces by local address", true, SpacesByLocalAddress},
    {5, "Enable / disable interrupts", true, Interrupts},
    {6, "Access the serial EEPROM", true, Eeprom},
    {7, "Make the board interrupt (pulse LINTi1)", true, PulseInterrupt},
    {11, "Scan the PCI bus", false, ScanBus},
    {12, "Choose a PCI card by vendor and device ID", false, ChoosePciCard},
    {13, "Print the chosen PCI card's resources", false, PrintPciResources, true},
    {14, "Edit the chosen PCI card's configuration registers", false, EditPciConfig, true},
};

void DrawMenu(const HostState& state) {
  DiagConsole_Printf("\n");
  DiagMenu_Head("PLX 9050 diagnostics", "--------------------");
  if (state.board != nullptr) {
    WdPciSlot slot{};
    P9050_GetPciSlot(state.board, &slot);
    DiagConsole_Printf("Open board: bus %lu, slot %lu, function %lu\n",
                       static_cast<unsigned long>(slot.bus), static_cast<unsigned long>(slot.slot),
                       static_cast<unsigned long>(slot.function));
  } else {
    DiagConsole_Printf("No board open\n");
  }
  if (state.havePciSlot) {
    DiagConsole_Printf("Chosen PCI card: Bus %lx Slot %lx Function %lx\n",
                       static_cast<unsigned long>(state.pciSlot.bus),
                       static_cast<unsigned long>(state.pciSlot.slot),
                       static_cast<unsigned long>(state.pciSlot.function));
  }
  for (const Entry& entry : kEntries) DiagMenu_Option(entry.number, "%s", entry.text);
  DiagMenu_Foot("Exit");
}

}  // namespace

void OpenDefaultBoard(HostState* state) {
  if (P9050_CountCards(kDefaultIds.vendorId, kDefaultIds.deviceId) != 1) return;
  state->board = P9050Diag_OpenBoard(kDefaultIds.vendorId, kDefaultIds.deviceId);
}

void RunMainMenu(HostState* state) {
  for (;;) {
    DrawMenu(*state);
    int32_t choice = 0;
    if (!DiagConsole_ReadDec(&choice) || choice == kDiagMenuExit) break;
    for (const Entry& entry : kEntries) {
      if (entry.number != choice) continue;
      if (entry.needsBoard && state->board == nullptr) {
        DiagConsole_Printf("No board is open: choose 1 to open one.\n");
      } else if (entry.needsPciSlot && !state->havePciSlot) {
        DiagConsole_Printf("No PCI card is chosen: choose 12 to choose one.\n");
      } else {
        entry.run(state);
      }
      break;
    }
  }
  DiagConsole_Flush();
}

void CloseBoard(HostState* state) {
  if (state->board == nullptr) return;
  P9050_Close(state->board);
  state->board = nullptr;
}

}  // namespace p9050diag
