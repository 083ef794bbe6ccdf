// The bridge's console menus. Each menu is a loop of passes (draw, preset the choice, read, act)
// that ends after a pass whose choice was 99; every read goes through console/console.h, and when
// the input has ended the menu leaves as it would for 99. A value to be written is written only
// when the line holds a number that fits (DiagMenu_ReadWritten); beyond that it goes to the bridge
// library unchecked: the menus are for someone who knows the card.
#include "diag/p9050_diag.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "diag/menu.h"

extern "C" const P9050Diag_RegEntry P9050Diag_Registers[P9050DIAG_REGISTERS] = {
    {"LAS0RR", P9050_LAS0RR, 0},   {"LAS1RR", P9050_LAS1RR, 0},   {"LAS2RR", P9050_LAS2RR, 0},
    {"LAS3RR", P9050_LAS3RR, 0},   {"EROMRR", P9050_EROMRR, 0},   {"LAS0BA", P9050_LAS0BA, 0},
    {"LAS1BA", P9050_LAS1BA, 0},   {"LAS2BA", P9050_LAS2BA, 0},   {"LAS3BA", P9050_LAS3BA, 0},
    {"EROMBA", P9050_EROMBA, 0},   {"LAS0BRD", P9050_LAS0BRD, 0}, {"LAS1BRD", P9050_LAS1BRD, 0},
    {"LAS2BRD", P9050_LAS2BRD, 0}, {"LAS3BRD", P9050_LAS3BRD, 0}, {"EROMBRD", P9050_EROMBRD, 0},
    {"CS0BASE", P9050_CS0BASE, 0}, {"CS1BASE", P9050_CS1BASE, 0}, {"CS2BASE", P9050_CS2BASE, 0},
    {"CS3BASE", P9050_CS3BASE, 0}, {"INTCSR", P9050_INTCSR, 0},   {"CNTRL", P9050_CNTRL, 0},
};

namespace {

const char kBack[] = "Back to main menu";  // every menu's option 99

// Register editor. Two columns: the left one is one longer when the count is odd.
const int kRegisterRows = P9050DIAG_REGISTERS / 2 + P9050DIAG_REGISTERS % 2;

// Address-space menu.
enum { kWidthByte = 0, kWidthWord = 1, kWidthDword = 2, kWidthCount = 3 };
const char* const kWidthText[kWidthCount] = {"BYTE (8 bit)", "WORD (16 bit)", "DWORD (32 bit)"};
const uint32_t kWidthMax[kWidthCount] = {0xFFu, 0xFFFFu, 0xFFFFFFFFu};
const uint32_t kAnyDword = 0xFFFFFFFFu;
const char kDwordLimit[] = "32 bits";
const int32_t kSpaceChooserPreset = 99;  // an empty line changes nothing

enum { kSpacesOption = 1, kWidthOption = 2, kReadOption = 3, kWriteOption = 4 };

// EEPROM menu.
enum { kDisplayOption = 1, kReadDwordOption = 2, kWriteDwordOption = 3 };
const uint32_t kDisplayEnd = 0xFF;  // the display runs while the address is below this
const uint32_t kDisplayLine = 16;   // bytes shown on one line
const uint32_t kDisplayStep = 4;    // bytes in one dword read

// Interrupt menu.
const int32_t kToggleOption = 1;

void PrintRegisterCell(P9050_Handle* handle, P9050Diag_RegEntry* table, int index) {
  P9050Diag_RegEntry* entry = &table[index];
  entry->value = P9050_ReadReg(handle, entry->offset);
  char text[16];
  snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(entry->value));
  DiagConsole_Printf("%2d. %7s : %s     ", index + 1, entry->name, text);
}

uint32_t ReadSpace(P9050_Handle* handle, BOOL localMode, uint32_t space, int width,
                   uint32_t address) {
  switch (width) {
    case kWidthByte:
      return localMode ? P9050_ReadSpaceByte(handle, space, address)
                       : P9050_ReadByte(handle, space, address);
    case kWidthWord:
      return localMode ? P9050_ReadSpaceWord(handle, space, address)
                       : P9050_ReadWord(handle, space, address);
    default:
      return localMode ? P9050_ReadSpaceDword(handle, space, address)
                       : P9050_ReadDword(handle, space, address);
  }
}

void WriteSpace(P9050_Handle* handle, BOOL localMode, uint32_t space, int width, uint32_t address,
                uint32_t data) {
  switch (width) {
    case kWidthByte:
      if (localMode) {
        P9050_WriteSpaceByte(handle, space, address, static_cast<uint8_t>(data));
      } else {
        P9050_WriteByte(handle, space, address, static_cast<uint8_t>(data));
      }
      break;
    case kWidthWord:
      if (localMode) {
        P9050_WriteSpaceWord(handle, space, address, static_cast<uint16_t>(data));
      } else {
        P9050_WriteWord(handle, space, address, static_cast<uint16_t>(data));
      }
      break;
    default:
      if (localMode) {
        P9050_WriteSpaceDword(handle, space, address, data);
      } else {
        P9050_WriteDword(handle, space, address, data);
      }
      break;
  }
}

// The address-space menu's write: the address, then the data, each written only when it fits.
// The address and data taken stay the presets of the next read. FALSE when the input has ended.
BOOL WriteToSpace(P9050_Handle* handle, BOOL localMode, uint32_t space, int width,
                  uint32_t* address, uint32_t* data) {
  const char* mode = localMode ? "local address" : "offset";
  DiagConsole_Printf("Enter %s to write to: ", mode);
  DiagAnswer answer = DiagMenu_ReadWritten(mode, kAnyDword, kDwordLimit, address);
  if (answer != DiagAnswer::kTaken) return answer == DiagAnswer::kRefused;
  DiagConsole_Printf("Enter data to write %s: ", kWidthText[width]);
  answer = DiagMenu_ReadWritten("data", kWidthMax[width], kWidthText[width], data);
  if (answer != DiagAnswer::kTaken) return answer == DiagAnswer::kRefused;
  WriteSpace(handle, localMode, space, width, *address, *data);
  return TRUE;
}

// The EEPROM menu's dword write; FALSE when the input has ended.
BOOL WriteEepromDword(P9050_Handle* handle, uint32_t* address, uint32_t* data) {
  DiagConsole_Printf("Enter address to write to (0-7f): ");
  DiagAnswer answer = DiagMenu_ReadWritten("address", kAnyDword, kDwordLimit, address);
  if (answer != DiagAnswer::kTaken) return answer == DiagAnswer::kRefused;
  DiagConsole_Printf("Enter data to write: ");
  answer = DiagMenu_ReadWritten("data", kAnyDword, kDwordLimit, data);
  if (answer != DiagAnswer::kTaken) return answer == DiagAnswer::kRefused;
  // A failed write is reported in the same words as a failed read.
  if (!P9050_EEPROMWriteDword(handle, *address, *data)) {
    DiagConsole_Printf("Error occurred reading serial EEPROM - %s\n", P9050_ErrorText);
  }
  return TRUE;
}

// The space chooser of the address-space menu. Returns FALSE when the input has ended.
BOOL ChooseSpace(P9050_Handle* handle, uint32_t* current) {
  DiagMenu_Head("Choose memory space:", "--------------------");
  for (uint32_t space = P9050_SPACE_LOCAL0; space <= P9050_SPACE_LOCAL3; ++space) {
    DiagMenu_Option(static_cast<int32_t>(space), "%s%s",
                    P9050Diag_SpaceName(static_cast<int32_t>(space)),
                    P9050_IsAddrSpaceActive(handle, space) ? "" : " - space not active");
  }
  DiagConsole_Printf("Enter option: ");
  int32_t choice = kSpaceChooserPreset;
  if (!DiagConsole_ReadDec(&choice)) return FALSE;
  if (choice < P9050_SPACE_LOCAL0 || choice > P9050_SPACE_LOCAL3) return TRUE;
  if (P9050_IsAddrSpaceActive(handle, static_cast<uint32_t>(choice))) {
    *current = static_cast<uint32_t>(choice);
  } else {
    DiagConsole_Printf("Chosen space not active!\n");
  }
  return TRUE;
}

// One display of the EEPROM: 64 dwords, four a line. Leaves *address where it stopped.
void DisplayEeprom(P9050_Handle* handle, uint32_t* address, uint32_t* data) {
  for (*address = 0; *address < kDisplayEnd; *address += kDisplayStep) {
    if (*address % kDisplayLine == 0)
      DiagConsole_Printf("\n %02x: ", static_cast<unsigned>(*address));
    if (!P9050_EEPROMReadDword(handle, *address, data)) {
      DiagConsole_Printf("\nError occurred reading serial EEPROM - %s\n", P9050_ErrorText);
      break;
    }
    DiagConsole_Printf("%08x  ", static_cast<unsigned>(*data));
  }
  DiagConsole_Printf("\n");
}

}  // namespace

extern "C" void P9050Diag_EditRegisters(P9050_Handle* handle) {
  P9050Diag_RegEntry table[P9050DIAG_REGISTERS];
  memcpy(table, P9050Diag_Registers, sizeof table);

  for (;;) {
    DiagConsole_Printf("\n");
    DiagMenu_Head("Edit PLX 9050 registers", "--------------------------------");
    for (int row = 0; row < kRegisterRows; ++row) {
      PrintRegisterCell(handle, table, row);
      if (row + kRegisterRows < P9050DIAG_REGISTERS) {
        PrintRegisterCell(handle, table, row + kRegisterRows);
      }
      DiagConsole_Printf("\n");
    }
    DiagMenu_Option(kDiagMenuExit, "%s", kBack);
    DiagConsole_Printf("Choose register to write to, or 99 to exit: ");
    int32_t choice = 0;
    if (!DiagConsole_ReadDec(&choice) || choice == kDiagMenuExit) break;
    if (choice < 1 || choice > P9050DIAG_REGISTERS) continue;

    P9050Diag_RegEntry* entry = &table[choice - 1];
    DiagConsole_Printf("Enter value to write to %s register (or 'X' to cancel): ", entry->name);
    if (!DiagConsole_ReadLine()) break;
    if (toupper(static_cast<unsigned char>(P9050_LineBuf[0])) == 'X') continue;
    uint32_t value = 0;
    if (DiagMenu_ParseWritten(P9050_LineBuf, "value", kAnyDword, "register", &value) ==
        DiagAnswer::kTaken) {
      P9050_WriteReg(handle, entry->offset, value);
    }
  }
  DiagConsole_Flush();
}

extern "C" const char* P9050Diag_SpaceName(int32_t space) {
  switch (space) {
    case 2:
      return "Addr Space 0 - (BAR2)";
    case 3:
      return "Addr Space 1 - (BAR3)";
    case 4:
      return "Addr Space 2 - (BAR4)";
    case 5:
      return "Addr Space 3 - (BAR5)";
    default:
      return "Invalid";
  }
}

extern "C" void P9050Diag_AccessSpaces(P9050_Handle* handle, BOOL localMode) {
  const char* mode = localMode ? "local address" : "offset";
  char title[64];
  snprintf(title, sizeof title, "Access the board's %s ranges", mode);

  uint32_t space = P9050_SPACE_LOCAL0;
  while (space <= P9050_SPACE_LOCAL3 && !P9050_IsAddrSpaceActive(handle, space)) ++space;
  if (space > P9050_SPACE_LOCAL3) {
    DiagConsole_Printf("No active memory spaces on board!\n");
    DiagConsole_Flush();
    return;
  }

  int width = kWidthDword;
  // Kept between passes: an empty line at the read's address prompt reuses the last address.
  uint32_t address = 0;
  uint32_t data = 0;
  for (;;) {
    DiagMenu_Head(title, "-------------------------------------------");
    DiagConsole_Printf("(Access to invalid %s may hang the computer!)\n", mode);
    DiagMenu_Option(kSpacesOption, "Change active memory space: %s",
                    P9050Diag_SpaceName(static_cast<int32_t>(space)));
    DiagMenu_Option(kWidthOption, "Toggle active mode: %s", kWidthText[width]);
    DiagMenu_Option(kReadOption, "Read from board");
    DiagMenu_Option(kWriteOption, "Write to board");
    DiagMenu_Foot(kBack);
    int32_t choice = 0;
    if (!DiagConsole_ReadDec(&choice) || choice == kDiagMenuExit) break;

    if (choice == kSpacesOption) {
      if (!ChooseSpace(handle, &space)) break;
    } else if (choice == kWidthOption) {
      width = (width + 1) % kWidthCount;
    } else if (choice == kReadOption) {
      DiagConsole_Printf("Enter %s to read from: ", mode);
      if (!DiagConsole_ReadHex(&address)) break;
      data = ReadSpace(handle, localMode, space, width, address);
      DiagConsole_Printf("Value read: %x\n", static_cast<unsigned>(data));
    } else if (choice == kWriteOption) {
      if (!WriteToSpace(handle, localMode, space, width, &address, &data)) break;
    }
  }
  DiagConsole_Flush();
}

extern "C" void P9050Diag_IntHandler(P9050_Handle* handle, P9050_IntResult* result) {
  (void)handle;
  DiagConsole_Printf("Got interrupt number %ld\n", static_cast<long>(result->counter));
  DiagConsole_Flush();
}

extern "C" void P9050Diag_Interrupts(P9050_Handle* handle) {
  DiagMenu_Head("WARNING!!!", "----------");
  DiagConsole_Printf("Your hardware has level sensitive interrupts.\n");
  DiagConsole_Printf(
      "You must modify the source code of P9050_IntEnable(), in the file p9050_lib,\n");
  DiagConsole_Printf("to acknowledge the interrupt before enabling interrupts.\n");
  DiagConsole_Printf("Without this modification, your PC will HANG upon interrupt!\n");

  for (;;) {
    DiagMenu_Head("Enable / Disable interrupts", "---------------------------");
    DiagMenu_Option(kToggleOption, "%s interrupts",
                    P9050_IntIsEnabled(handle) ? "Disable" : "Enable");
    DiagMenu_Foot(kBack);
    int32_t choice = 0;
    if (!DiagConsole_ReadDec(&choice) || choice == kDiagMenuExit) break;
    if (choice != kToggleOption) continue;

    if (P9050_IntIsEnabled(handle)) {
      DiagConsole_Printf("Disabling interrupt Int\n");
      P9050_IntDisable(handle);
    } else {
      DiagConsole_Printf("Enabling interrupts\n");
      if (!P9050_IntEnable(handle, P9050Diag_IntHandler)) {
        DiagConsole_Printf("%s", P9050_ErrorText);
      }
    }
  }
  DiagConsole_Flush();
}

extern "C" void P9050Diag_EEPROM(P9050_Handle* handle) {
  // Kept between passes: an empty line at the read's address prompt reuses the last address.
  uint32_t address = 0;
  uint32_t data = 0;
  for (;;) {
    DiagMenu_Head("Access the board's serial EEPROM", "--------------------------------");
    if (!P9050_EEPROMValid(handle)) DiagConsole_Printf("Note: PLX EEPROM valid BIT is 0\n");
    DiagMenu_Option(kDisplayOption, "Display EEPROM content");
    DiagMenu_Option(kReadDwordOption, "Read dword from serial EEPROM on the board");
    DiagMenu_Option(kWriteDwordOption, "Write dword to the serial EEPROM on the board");
    DiagMenu_Foot(kBack);
    int32_t choice = 0;
    if (!DiagConsole_ReadDec(&choice) || choice == kDiagMenuExit) break;

    if (choice == kDisplayOption) {
      DisplayEeprom(handle, &address, &data);
    } else if (choice == kReadDwordOption) {
      DiagConsole_Printf("Enter address to read from (0-7f): ");
      if (!DiagConsole_ReadHex(&address)) break;
      if (P9050_EEPROMReadDword(handle, address, &data)) {
        DiagConsole_Printf("Value read: %08x\n", static_cast<unsigned>(data));
      } else {
        DiagConsole_Printf("Error occurred reading serial EEPROM - %s\n", P9050_ErrorText);
      }
    } else if (choice == kWriteDwordOption) {
      if (!WriteEepromDword(handle, &address, &data)) break;
    }
  }
  DiagConsole_Flush();
}

extern "C" P9050_Handle* P9050Diag_OpenBoard(uint32_t vendorId, uint32_t deviceId) {
  P9050_Handle* handle = nullptr;
  if (vendorId == 0) {
    DiagConsole_Printf("Enter VendorID: ");
    if (!DiagConsole_ReadHexLong(&vendorId)) return nullptr;
    DiagConsole_Printf("Enter DeviceID: ");
    if (!DiagConsole_ReadHexLong(&deviceId)) return nullptr;
  }

  uint32_t count = P9050_CountCards(vendorId, deviceId);
  if (count == 0) {
    DiagConsole_Printf("%s", P9050_ErrorText);
    DiagConsole_Flush();
    return nullptr;
  }

  uint32_t card = 1;
  if (count > 1) {
    DiagConsole_Printf("Found %ld matching PCI cards\n", static_cast<long>(count));
    DiagConsole_Printf("Select card (1-%ld): ", static_cast<long>(count));
    int32_t choice = 0;
    if (!DiagConsole_ReadDecLong(&choice)) return nullptr;
    card =
        static_cast<uint32_t>(choice);  // compared unsigned: negative answers are out of range too
    if (card < 1 || card > count) {
      DiagConsole_Printf("Choice out of range\n");
      DiagConsole_Flush();
      return nullptr;
    }
  }

  if (P9050_Open(&handle, vendorId, deviceId, card - 1, 0)) {
    DiagConsole_Printf("PLX 9050 PCI card found!\n");
  } else {
    DiagConsole_Printf("%s", P9050_ErrorText);
    handle = nullptr;
  }
  DiagConsole_Flush();
  return handle;
}
