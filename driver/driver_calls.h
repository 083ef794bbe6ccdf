/* The requests every caller of the driver makes, one call each: the record zeroed in full, its
 * input fields set, the request sent on the caller's device handle. Each returns the driver's
 * status (DriverRequest); what a caller makes of a failure, and what it says, stays its own. */
#ifndef ZARERERA_DRIVER_DRIVER_CALLS_H
#define ZARERERA_DRIVER_DRIVER_CALLS_H

#include <stdint.h>

#include "driver/device_channel.h"
#include "driver/wd_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the driver device and asks its version into *version. Returns the open handle, or
 * WD_INVALID_HANDLE when the device does not open: nothing is sent then, *version is zeroed and
 * *status is WD_STATUS_NONE (`status` may be null). The caller judges the version
 * (WdDriver_VersionAccepted) and closes the handle. */
WdDeviceHandle WdDriver_OpenWithVersion(WdVersion* version, uint32_t* status);

/* Non-zero when the driver's answer is a version the library accepts (WD_MIN_VERSION or later). */
int WdDriver_VersionAccepted(const WdVersion* version);

/* Scans the bus for cards with these IDs (0 and 0: every card) into *scan. */
uint32_t WdDriver_Scan(WdDeviceHandle device, uint32_t vendorId, uint32_t deviceId,
                       WdPciScan* scan);

/* The slots of a scan result worth reading: its count, at most WD_PCI_CARDS. */
uint32_t WdDriver_ScanCount(const WdPciScan* scan);

/* The resources of the card in `slot` into *info. */
uint32_t WdDriver_CardInfo(WdDeviceHandle device, WdPciSlot slot, WdPciCardInfo* info);

/* The items of a card worth reading: its count, at most WD_CARD_ITEMS. */
uint32_t WdDriver_ItemCount(const WdCard* card);

/* Reads (isRead non-zero) or writes `bytes` (1-4) bytes of the configuration space of the card in
 * `slot` at `offset`, from or into `buffer` (little-endian: the low bytes of a value). */
uint32_t WdDriver_Config(WdDeviceHandle device, WdPciSlot slot, uint32_t offset, void* buffer,
                         uint32_t bytes, uint32_t isRead);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_DRIVER_DRIVER_CALLS_H */
