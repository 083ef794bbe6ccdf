// The common requests (driver_calls.h), over DriverRequest.
#include "driver/driver_calls.h"

#include <string.h>

#include "driver/driver_request.h"

extern "C" WdDeviceHandle WdDriver_OpenWithVersion(WdVersion* version, uint32_t* status) {
  memset(version, 0, sizeof *version);
  uint32_t result = WD_STATUS_NONE;
  WdDeviceHandle device = WdChannel_Open();
  if (device != WD_INVALID_HANDLE) {
    result = DriverRequest(WD_CODE_VERSION, device, version, sizeof *version, 0);
  }
  if (status != NULL) *status = result;
  return device;
}

extern "C" int WdDriver_VersionAccepted(const WdVersion* version) {
  return version->version >= WD_MIN_VERSION ? 1 : 0;
}

extern "C" uint32_t WdDriver_Scan(WdDeviceHandle device, uint32_t vendorId, uint32_t deviceId,
                                  WdPciScan* scan) {
  memset(scan, 0, sizeof *scan);
  scan->vendorId = vendorId;
  scan->deviceId = deviceId;
  return DriverRequest(WD_CODE_PCI_SCAN, device, scan, sizeof *scan, 0);
}

extern "C" uint32_t WdDriver_ScanCount(const WdPciScan* scan) {
  return scan->cardCount < WD_PCI_CARDS ? scan->cardCount : WD_PCI_CARDS;
}

extern "C" uint32_t WdDriver_CardInfo(WdDeviceHandle device, WdPciSlot slot, WdPciCardInfo* info) {
  memset(info, 0, sizeof *info);
  info->pciSlot = slot;
  return DriverRequest(WD_CODE_PCI_CARD_INFO, device, info, sizeof *info, 0);
}

extern "C" uint32_t WdDriver_ItemCount(const WdCard* card) {
  return card->itemCount < WD_CARD_ITEMS ? card->itemCount : WD_CARD_ITEMS;
}

extern "C" uint32_t WdDriver_Config(WdDeviceHandle device, WdPciSlot slot, uint32_t offset,
                                    void* buffer, uint32_t bytes, uint32_t isRead) {
  WdPciConfigDump dump;
  memset(&dump, 0, sizeof dump);
  dump.pciSlot = slot;
  dump.buffer = WD_TO_UPTR(buffer);
  dump.offset = offset;
  dump.bytes = bytes;
  dump.isRead = isRead;
  return DriverRequest(WD_CODE_PCI_CONFIG, device, &dump, sizeof dump, 0);
}
