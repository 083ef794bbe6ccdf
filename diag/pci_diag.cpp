// The PCI bus console tools: bus scan, slot resources, configuration editor, card chooser.
//
// Every printf argument has exactly its conversion's type on 32- and 64-bit targets (driver words
// are cast to unsigned long for "%lu"/"%lx", to long for "%ld"). Counts the driver reports are
// clamped to the records' capacity (100 cards, 20 items) before anything walks them.
#include "diag/pci_diag.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "diag/menu.h"
#include "driver/driver_calls.h"
#include "driver/pci_config.h"

extern "C" const PciBus_RegDesc PciBus_ConfigRegs[PCIBUS_CONFIG_REGS] = {
    {"VID", pci::kVendorId, 2, 0},        {"DID", pci::kDeviceId, 2, 0},
    {"CMD", pci::kCommand, 2, 0},         {"STS", pci::kStatus, 2, 0},
    {"RID", pci::kRevision, 1, 0},        {"CLCD", pci::kClassCode, pci::kClassCodeBytes, 0},
    {"CALN", pci::kCacheLineSize, 1, 0},  {"LAT", pci::kLatencyTimer, 1, 0},
    {"HDR", pci::kHeaderType, 1, 0},      {"BIST", pci::kBist, 1, 0},
    {"BADDR0", pci::BarOffset(0), 4, 0},  {"BADDR1", pci::BarOffset(1), 4, 0},
    {"BADDR2", pci::BarOffset(2), 4, 0},  {"BADDR3", pci::BarOffset(3), 4, 0},
    {"BADDR4", pci::BarOffset(4), 4, 0},  {"BADDR5", pci::BarOffset(5), 4, 0},
    {"EXROM", pci::kExpansionRom, 4, 0},  {"NEW_CAP", pci::kCapabilities, 1, 0},
    {"INTLN", pci::kInterruptLine, 1, 0}, {"INTPIN", pci::kInterruptPin, 1, 0},
    {"MINGNT", pci::kMinGnt, 1, 0},       {"MAXLAT", pci::kMaxLat, 1, 0},
};

namespace {

const char kIndent[] = "   ";
// The editor's grid: entries 1-10 on the left, 11-21 on the right, a blank cell left of entry 21.
const int kGridLines = 11;
const int kGridLeft = 10;
const int kCellWidth = 26;
const int kValueDigits = 8;  // a 4-byte value; narrower values pad up to this width

BOOL StartsWith(char upper) {
  return toupper(static_cast<unsigned char>(P9050_LineBuf[0])) == upper ? TRUE : FALSE;
}

// A memory or I/O item's range: start and last byte, computed in 32 bits (a length of 0 shows
// an end one below the start).
void PrintRange(const char* kind, uint32_t start, uint32_t bytes) {
  DiagConsole_Printf("%s: range 0x%lx-0x%lx", kind, static_cast<unsigned long>(start),
                     static_cast<unsigned long>(start + bytes - 1u));
}

void PrintCell(WdDeviceHandle device, WdPciSlot pciSlot, PciBus_RegDesc* regs, int index) {
  PciBus_RegDesc* r = &regs[index];
  r->value = PciBus_ReadConfig(device, pciSlot, r->offset, r->bytes);
  const int digits = static_cast<int>(2 * r->bytes);
  DiagConsole_Printf("%2d. %6s : %0*x %*s    ", index + 1, r->name, digits,
                     static_cast<unsigned>(r->value), kValueDigits - digits, "");
}

}  // namespace

extern "C" BOOL PciBus_OpenDriver(WdDeviceHandle* handleOut) {
  *handleOut = WD_INVALID_HANDLE;
  WdVersion version;
  uint32_t status = 0;
  WdDeviceHandle device = WdDriver_OpenWithVersion(&version, &status);
  *handleOut = device;
  if (device == WD_INVALID_HANDLE) {
    DiagConsole_Printf("Failed opening WinDriver device\n");
    return FALSE;
  }
  if (status != 0) {
    WdChannel_Close(device);
    *handleOut = WD_INVALID_HANDLE;
    return FALSE;
  }
  if (!WdDriver_VersionAccepted(&version)) {
    DiagConsole_Printf(
        "Incorrect WinDriver version. Expected %d.%02d, got %ld.%02ld\n",
        static_cast<int>(WD_MIN_VERSION / 100), static_cast<int>(WD_MIN_VERSION % 100),
        static_cast<long>(version.version / 100), static_cast<long>(version.version % 100));
    WdChannel_Close(device);
    *handleOut = WD_INVALID_HANDLE;
    return FALSE;
  }
  return TRUE;
}

extern "C" uint32_t PciBus_ReadConfig(WdDeviceHandle device, WdPciSlot pciSlot, uint32_t offset,
                                      uint32_t bytes) {
  uint32_t result = 0;
  (void)WdDriver_Config(device, pciSlot, offset, &result, bytes, 1);
  return result;
}

extern "C" uint32_t PciBus_WriteConfig(WdDeviceHandle device, WdPciSlot pciSlot, uint32_t offset,
                                       uint32_t bytes, uint32_t value) {
  // Little-endian: the first `bytes` bytes of the value are its low ones.
  return WdDriver_Config(device, pciSlot, offset, &value, bytes, 0);
}

extern "C" void PciBus_PrintCardItems(const WdCard* card, const char* prefix) {
  const uint32_t count = WdDriver_ItemCount(card);
  for (uint32_t i = 0; i < count; i++) {
    const WdItem* item = &card->items[i];
    DiagConsole_Printf("%sItem ", prefix);
    switch (item->kind) {
      case WD_ITEM_INTERRUPT:
        DiagConsole_Printf("Interrupt: irq %lu", static_cast<unsigned long>(item->u.interrupt.irq));
        break;
      case WD_ITEM_MEMORY:
        PrintRange("Memory", item->u.mem.physAddress, item->u.mem.bytes);
        break;
      case WD_ITEM_IO:
        PrintRange("IO", item->u.io.port, item->u.io.bytes);
        break;
      case WD_ITEM_BUS:
        DiagConsole_Printf("Bus: type %lu, bus number %lu, slot/func 0x%lx",
                           static_cast<unsigned long>(item->u.bus.busType),
                           static_cast<unsigned long>(item->u.bus.busNumber),
                           static_cast<unsigned long>(item->u.bus.slotFunction));
        break;
      default:
        DiagConsole_Printf("Invalid item type");
        break;
    }
    DiagConsole_Printf("\n");
  }
}

namespace {
PciBus_HighRegionSource g_highRegions = nullptr;
constexpr uint32_t kMaxHighRegions = 6;  // one per BAR
}  // namespace

extern "C" void PciBus_SetHighRegionSource(PciBus_HighRegionSource source) {
  g_highRegions = source;
}

extern "C" void PciBus_PrintSlotResources(WdPciSlot pciSlot) {
  WdDeviceHandle device;
  if (!PciBus_OpenDriver(&device)) return;
  WdPciCardInfo info;
  if (WdDriver_CardInfo(device, pciSlot, &info) == 0) {
    PciBus_PrintCardItems(&info.card, kIndent);
  }
  WdChannel_Close(device);
  if (g_highRegions == nullptr) return;
  PciBus_HighRegion regions[kMaxHighRegions];
  const uint32_t count = g_highRegions(pciSlot, regions, kMaxHighRegions);
  for (uint32_t i = 0; i < count && i < kMaxHighRegions; ++i) {
    const PciBus_HighRegion& r = regions[i];
    DiagConsole_Printf(
        "%sItem %s: range 0x%llx-0x%llx (BAR %lu above 4 GiB: not reachable)\n", kIndent,
        r.memory ? "Memory" : "IO", static_cast<unsigned long long>(r.start),
        static_cast<unsigned long long>(r.start + r.bytes - 1), static_cast<unsigned long>(r.bar));
  }
}

extern "C" void PciBus_ListCards(void) {
  WdDeviceHandle device;
  if (!PciBus_OpenDriver(&device)) return;
  WdPciScan scanRecord;
  WdPciScan* scan = &scanRecord;
  DiagConsole_Printf("Pci bus scan:\n\n");
  if (WdDriver_Scan(device, 0, 0, scan) == 0) {  // IDs 0 and 0: every card on the bus
    const uint32_t count = WdDriver_ScanCount(scan);
    for (uint32_t i = 0; i < count; i++) {
      const WdPciSlot* slot = &scan->slots[i];
      DiagConsole_Printf("Bus %lx Slot %lx Function %lx, VendorID %04lx DeviceID %04lx\n",
                         static_cast<unsigned long>(slot->bus),
                         static_cast<unsigned long>(slot->slot),
                         static_cast<unsigned long>(slot->function),
                         static_cast<unsigned long>(scan->ids[i].vendorId),
                         static_cast<unsigned long>(scan->ids[i].deviceId));
      PciBus_PrintSlotResources(*slot);
      DiagConsole_Printf("Press Enter to continue to next slot\n");
      DiagConsole_Pause();
    }
  }
  WdChannel_Close(device);
}

extern "C" void PciBus_EditConfig(WdPciSlot pciSlot) {
  PciBus_RegDesc regs[PCIBUS_CONFIG_REGS];
  memcpy(regs, PciBus_ConfigRegs, sizeof regs);
  WdDeviceHandle device;
  if (!PciBus_OpenDriver(&device)) return;
  for (;;) {
    DiagConsole_Printf("\n");
    DiagMenu_Head("Edit PCI configuration registers", "--------------------------------");
    for (int line = 0; line < kGridLines; line++) {
      if (line < kGridLeft) {
        PrintCell(device, pciSlot, regs, line);
      } else {
        DiagConsole_Printf("%*s", kCellWidth, "");
      }
      PrintCell(device, pciSlot, regs, kGridLeft + line);
      DiagConsole_Printf("\n");
    }
    DiagMenu_Option(kDiagMenuExit, "Back to main menu");
    DiagConsole_Printf("Choose register to write to, or 99 to exit: ");
    int32_t choice = 0;
    if (!DiagConsole_ReadDec(&choice) || choice == kDiagMenuExit) break;
    if (choice < 1 || choice > PCIBUS_CONFIG_REGS_SHOWN) continue;
    const PciBus_RegDesc* r = &regs[choice - 1];
    DiagConsole_Printf("Enter value (hex format) to write to %s register (or 'X' to cancel): ",
                       r->name);
    if (!DiagConsole_ReadLine()) break;
    if (StartsWith('X')) continue;
    uint32_t value = 0;
    if (DiagMenu_ParseWritten(P9050_LineBuf, "value", pci::AllOnes(r->bytes), "register", &value) ==
        DiagAnswer::kTaken) {
      (void)PciBus_WriteConfig(device, pciSlot, r->offset, r->bytes, value);
    }
  }
  WdChannel_Close(device);
}

extern "C" BOOL PciBus_SelectCard(WdPciSlot* slotOut) {
  WdDeviceHandle device;
  if (!PciBus_OpenDriver(&device)) return FALSE;
  WdPciScan scanRecord;
  WdPciScan* scan = &scanRecord;
  BOOL found = FALSE;
  while (!found) {
    uint32_t vendorId = 0;
    DiagConsole_Printf("Enter VendorID: ");
    if (!DiagConsole_ReadHex(&vendorId) || vendorId == 0) break;
    uint32_t deviceId = 0;
    DiagConsole_Printf("Enter DeviceID: ");
    if (!DiagConsole_ReadHex(&deviceId)) break;
    if (WdDriver_Scan(device, vendorId, deviceId, scan) == 0) {
      const uint32_t count = WdDriver_ScanCount(scan);
      if (count == 0) {
        DiagConsole_Printf("Could not find PCI card\n");
      } else if (count == 1) {
        *slotOut = scan->slots[0];
        found = TRUE;
      } else {
        DiagConsole_Printf("Found %lu matching PCI cards\n", static_cast<unsigned long>(count));
        DiagConsole_Printf("Select card (1-%lu): ", static_cast<unsigned long>(count));
        uint32_t choice = 0;
        if (!DiagConsole_ReadUnsigned(&choice)) break;
        if (choice >= 1 && choice <= count) {
          *slotOut = scan->slots[choice - 1];
          found = TRUE;
        } else {
          DiagConsole_Printf("Choice out of range\n");
        }
      }
    }
    if (!found) {
      DiagConsole_Printf("Do you want to try a different VendorID/DeviceID? ");
      if (!DiagConsole_ReadLine() || !StartsWith('Y')) break;
    }
  }
  WdChannel_Close(device);
  return found;
}
