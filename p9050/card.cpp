// The card handle: counting and opening cards, closing them, the PCI slot and configuration-space
// dwords, the address-space table, and the interrupt-active test and disable that closing needs
// (closing an enabled handle therefore ends its interrupt service before the handle is freed).
// Enabling interrupts lives in interrupt.cpp, address-space access in access.cpp.
//
// Only result fields decide success: a request the driver does not answer leaves its zeroed record
// zeroed, which reads as failure. The open sequence releases whatever it acquired, in reverse
// order, on every failure path.
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "driver/driver_calls.h"
#include "driver/driver_request.h"
#include "driver/pci_config.h"
#include "hooks/test_hooks.h"
#include "p9050/int_service.h"
#include "p9050_lib.h"

extern "C" {
char P9050_ErrorText[P9050_ERROR_TEXT_SIZE];
}

namespace {

// The address bit of BAR0 the 9050 mishandles.
constexpr uint32_t kBar0Bit7 = 0x80;

constexpr uint32_t kConfigDword = 4;

P9050_AllocFn g_alloc = nullptr;
P9050_FreeFn g_free = nullptr;

void* AllocHandle() {
  return g_alloc != nullptr ? g_alloc(1, sizeof(P9050_Handle)) : calloc(1, sizeof(P9050_Handle));
}

void FreeHandle(P9050_Handle* handle) {
  if (g_free != nullptr) {
    g_free(handle);
  } else {
    free(handle);
  }
}

void SetError(const char* text) {
  snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "%s", text);
}

void ClearError() {
  P9050_ErrorText[0] = '\0';
}

// Gives back what the open sequence acquired, newest first.
BOOL OpenCleanUp(P9050_Handle* handle) {
  if (handle->cardRegister.cardHandle != 0) {
    (void)DriverRequest(WD_CODE_CARD_UNREGISTER, handle->device, &handle->cardRegister,
                        sizeof handle->cardRegister, 0);
  }
  if (handle->device != WD_INVALID_HANDLE) WdChannel_Close(handle->device);
  FreeHandle(handle);
  return FALSE;
}

uint32_t ConfigAccess(P9050_Handle* handle, uint32_t offset, uint32_t* value, uint32_t isRead) {
  return WdDriver_Config(handle->device, handle->pciSlot, offset, value, kConfigDword, isRead);
}

void ZeroInterruptArea(P9050_Handle* handle) {
  const size_t start = offsetof(P9050_Handle, intHandle);
  memset(reinterpret_cast<char*>(handle) + start, 0, sizeof *handle - start);
}

// Enters a memory or I/O item into the table. Items naming a BAR the table has no entry for are
// skipped rather than written past its end.
void EnterRange(P9050_Handle* handle, uint32_t bar, uint32_t isMemory, uint32_t bytes,
                uint32_t transferAddress, WdUPtr userAddress) {
  if (bar >= P9050_ADDR_SPACES) return;
  P9050_AddrDesc* desc = &handle->addrDesc[bar];
  desc->isMemory = isMemory;
  desc->bytes = bytes;
  desc->transferAddress = transferAddress;
  desc->userAddress = userAddress;
  desc->mask = bytes - 1;
}

}  // namespace

extern "C" void P9050_SetHandleAllocator(P9050_AllocFn alloc, P9050_FreeFn release) {
  g_alloc = alloc;
  g_free = release;
}

extern "C" uint32_t P9050_CountCards(uint32_t vendorId, uint32_t deviceId) {
  ClearError();
  WdVersion version;
  WdDeviceHandle device = WdDriver_OpenWithVersion(&version, NULL);
  if (device == WD_INVALID_HANDLE) {
    SetError("Failed opening WinDriver device\n");
    return 0;
  }
  if (!WdDriver_VersionAccepted(&version)) {
    SetError("Incorrect WinDriver version\n");
    WdChannel_Close(device);
    return 0;
  }
  WdPciScan scan;
  const uint32_t status = WdDriver_Scan(device, vendorId, deviceId, &scan);
  WdChannel_Close(device);
  if (status == 0 && scan.cardCount == 0) SetError("no cards found\n");
  return scan.cardCount;
}

extern "C" BOOL P9050_Open(P9050_Handle** handleOut, uint32_t vendorId, uint32_t deviceId,
                           uint32_t cardIndex, uint32_t options) {
  P9050_Handle* handle = static_cast<P9050_Handle*>(AllocHandle());
  *handleOut = nullptr;
  ClearError();
  if (handle == nullptr) {
    SetError("Failed allocating memory for the card handle\n");
    return FALSE;
  }

  WdVersion version;
  handle->device = WdDriver_OpenWithVersion(&version, NULL);
  if (handle->device == WD_INVALID_HANDLE) {
    SetError("Failed opening WinDriver device\n");
    return OpenCleanUp(handle);
  }
  if (!WdDriver_VersionAccepted(&version)) {
    SetError("Incorrect WinDriver version\n");
    return OpenCleanUp(handle);
  }

  WdPciScan scan;
  (void)WdDriver_Scan(handle->device, vendorId, deviceId, &scan);
  if (scan.cardCount == 0) {
    SetError("Could not find PCI card\n");
    return OpenCleanUp(handle);
  }
  if (cardIndex >= WdDriver_ScanCount(&scan)) {
    SetError("Card out of range of available cards\n");
    return OpenCleanUp(handle);
  }

  handle->pciSlot = scan.slots[cardIndex];

  // The 9050 does not answer register accesses through BAR0 while BAR0's address has bit 7 set;
  // moving the range before its resources are read makes the registers reachable. BAR0 is written
  // back only from a read the driver answered with success: the zeroed value of a failed read
  // would move the registers to address 0. Without it, open goes on as without the option.
  if (options & P9050_OPEN_FIX_BAR0) {
    uint32_t bar0 = 0;
    if (ConfigAccess(handle, pci::kBar0, &bar0, 1) == 0) {
      (void)P9050_WritePciReg(handle, pci::kBar0, bar0 & ~kBar0Bit7);
    }
  }

  WdPciCardInfo info;
  (void)WdDriver_CardInfo(handle->device, handle->pciSlot, &info);

  handle->cardRegister.card = info.card;
  handle->cardRegister.checkLockOnly = 0;
  (void)DriverRequest(WD_CODE_CARD_REGISTER, handle->device, &handle->cardRegister,
                      sizeof handle->cardRegister, 0);
  if (handle->cardRegister.cardHandle == 0) return OpenCleanUp(handle);

  if (!P9050_DetectCardElements(handle)) {
    SetError("Card does not have all items expected for PLX 9050\n");
    return OpenCleanUp(handle);
  }

  *handleOut = handle;
  return TRUE;
}

extern "C" void P9050_Close(P9050_Handle* handle) {
  if (handle == nullptr) return;
  if (P9050_IntIsEnabled(handle)) P9050_IntDisable(handle);
  if (handle->cardRegister.cardHandle != 0) {
    (void)DriverRequest(WD_CODE_CARD_UNREGISTER, handle->device, &handle->cardRegister,
                        sizeof handle->cardRegister, 0);
  }
  WdChannel_Close(handle->device);
  FreeHandle(handle);
}

extern "C" void P9050_GetPciSlot(P9050_Handle* handle, WdPciSlot* slotOut) {
  *slotOut = handle->pciSlot;
}

extern "C" uint32_t P9050_ReadPciReg(P9050_Handle* handle, uint32_t offset) {
  uint32_t value = 0;
  (void)ConfigAccess(handle, offset, &value, 1);
  return value;
}

extern "C" uint32_t P9050_WritePciReg(P9050_Handle* handle, uint32_t offset, uint32_t value) {
  return ConfigAccess(handle, offset, &value, 0);
}

extern "C" BOOL P9050_IsAddrSpaceActive(P9050_Handle* handle, uint32_t space) {
  if (space >= P9050_ADDR_SPACES) return FALSE;
  return handle->addrDesc[space].bytes != 0 ? TRUE : FALSE;
}

extern "C" BOOL P9050_DetectCardElements(P9050_Handle* handle) {
  ZeroInterruptArea(handle);
  memset(handle->addrDesc, 0, sizeof handle->addrDesc);

  const WdCard* card = &handle->cardRegister.card;
  const uint32_t count = WdDriver_ItemCount(card);
  for (uint32_t i = 0; i < count; i++) {
    const WdItem* item = &card->items[i];
    switch (item->kind) {
      case WD_ITEM_INTERRUPT:
        if (handle->intHandle != 0) return FALSE;  // a second interrupt
        handle->intHandle = item->u.interrupt.intHandle;
        break;
      case WD_ITEM_MEMORY:
        EnterRange(handle, item->u.mem.bar, 1, item->u.mem.bytes, item->u.mem.transferAddress,
                   item->u.mem.userAddress);
        break;
      case WD_ITEM_IO:
        EnterRange(handle, item->u.io.bar, 0, item->u.io.bytes, item->u.io.port, 0);
        break;
      default:
        break;
    }
  }

  for (uint32_t space = 0; space <= P9050_SPACE_LOCAL3; space++) {
    if (P9050_IsAddrSpaceActive(handle, space)) return TRUE;
  }
  return FALSE;
}

extern "C" BOOL P9050_IntIsEnabled(P9050_Handle* handle) {
  return handle->active != 0 ? TRUE : FALSE;
}

// A running service is ended first: from then on nothing re-arms the card behind this thread's
// back, and the disable request has brought the card's memory windows up to date, so the
// read-modify-write below starts from the register as it is.
extern "C" void P9050_IntDisable(P9050_Handle* handle) {
  if (handle->active == 0) return;
  P9050_IntServiceStop(handle);
  const uint32_t intcsr = P9050_ReadReg(handle, P9050_INTCSR);
  P9050_WriteReg(handle, P9050_INTCSR, intcsr & ~P9050_INTCSR_PCI_INT_ENABLE);
  handle->active = 0;
}
