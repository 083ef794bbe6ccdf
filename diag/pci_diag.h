/* Console tools for any PCI card, addressed by its bus, slot and function: a scan of the whole bus
 * with every card's resources, a chooser that finds a card by vendor and device ID, the resource
 * list of one slot, and an editor for the registers of a slot's configuration header.
 *
 * They talk to the kernel driver directly through DriverRequest and do not use a bridge-library
 * card handle. Each interactive operation opens its own device handle when it starts and closes it
 * before it returns; PciBus_ReadConfig and PciBus_WriteConfig use a handle their caller opened.
 * Prompts and results go through the console module (console/console.h). At end of input the editor
 * and the chooser return as for 99 (the chooser with FALSE); the bus scan's pauses go on without
 * waiting. */
#ifndef ZARERERA_DIAG_PCI_DIAG_H
#define ZARERERA_DIAG_PCI_DIAG_H

#include <stdint.h>

#include "driver/device_channel.h"
#include "driver/wd_records.h"
#include "p9050_lib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One register of the configuration editor. */
typedef struct PciBus_RegDesc {
  const char* name; /* at most 7 characters */
  uint32_t offset;  /* in configuration space */
  uint32_t bytes;   /* 1, 2, 3 or 4 */
  uint32_t value;   /* as read at the editor's last redraw; 0 when the table is built */
} PciBus_RegDesc;

/* The editor's table: the standard type-0 header registers in the order the editor numbers them
 * (entry i is choice i + 1). The last entry, MAXLAT, is kept in the table but neither shown nor
 * selectable. */
#define PCIBUS_CONFIG_REGS 22
#define PCIBUS_CONFIG_REGS_SHOWN 21
extern const PciBus_RegDesc PciBus_ConfigRegs[PCIBUS_CONFIG_REGS];

/* Opens the driver device and checks its version (6.22 or later). TRUE: *handleOut is open and
 * the caller closes it with WdChannel_Close. FALSE: *handleOut is WD_INVALID_HANDLE, the reason
 * has been printed (unless the version query itself was refused) and nothing is left open. */
BOOL PciBus_OpenDriver(WdDeviceHandle* handleOut);

/* A BAR the driver's items cannot carry: one not wholly below 4 GiB. */
typedef struct PciBus_HighRegion {
  uint32_t bar;
  uint32_t memory; /* non-zero: a memory range; zero: I/O */
  uint64_t start;
  uint64_t bytes;
} PciBus_HighRegion;

/* Fills up to `max` high regions of the slot and returns how many it has. */
typedef uint32_t (*PciBus_HighRegionSource)(WdPciSlot pciSlot, PciBus_HighRegion* regions,
                                            uint32_t max);

/* The host that knows such regions (the real bus, from its sysfs tree) sets a source; the
 * resource lists then show them after the items, marked as not reachable. Null (the default):
 * none. */
void PciBus_SetHighRegionSource(PciBus_HighRegionSource source);

/* Prints the resource items of one slot, one line each, behind three spaces, then its high
 * regions. */
void PciBus_PrintSlotResources(WdPciSlot pciSlot);

/* Scans the whole bus and lists every card with its resources, pausing after each card. */
void PciBus_ListCards(void);

/* Reads `bytes` (1-4) bytes at `offset` of the slot's configuration space into the low-order
 * bytes of the result; the other bytes are 0, and a refused read yields 0. */
uint32_t PciBus_ReadConfig(WdDeviceHandle device, WdPciSlot pciSlot, uint32_t offset,
                           uint32_t bytes);

/* Writes the `bytes` low-order bytes of `value` at `offset`; returns the driver's status. */
uint32_t PciBus_WriteConfig(WdDeviceHandle device, WdPciSlot pciSlot, uint32_t offset,
                            uint32_t bytes, uint32_t value);

/* The interactive configuration-register editor; returns at 99 or end of input. */
void PciBus_EditConfig(WdPciSlot pciSlot);

/* Asks for vendor and device IDs until one card is chosen. TRUE: *slotOut holds its slot. FALSE:
 * the user gave up, input ended or the driver could not be opened; *slotOut is untouched. */
BOOL PciBus_SelectCard(WdPciSlot* slotOut);

/* Prints each item of `card` on a line of its own, each line starting with `prefix`. */
void PciBus_PrintCardItems(const WdCard* card, const char* prefix);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_DIAG_PCI_DIAG_H */
