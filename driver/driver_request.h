/* Sending one request to the kernel driver. */
#ifndef ZARERERA_DRIVER_DRIVER_REQUEST_H
#define ZARERERA_DRIVER_DRIVER_REQUEST_H

#include <stdint.h>

#include "driver/device_channel.h"
#include "driver/wd_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sends request `code` with `record` on `device`, or, with `openOwn` non-zero, on a device handle
 * opened and closed for this request alone. Returns the driver's status (0 success), or
 * WD_STATUS_NONE when the handle is invalid (nothing is sent) or the driver wrote no status. */
uint32_t DriverRequest(uint32_t code, WdDeviceHandle device, void* record, uint32_t recordSize,
                       int openOwn);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_DRIVER_DRIVER_REQUEST_H */
