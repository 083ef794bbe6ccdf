// One request to the kernel driver. The status word is preset so that a driver that writes
// nothing reads as a failure; the system's own success flag is not consulted.
#include "driver/driver_request.h"

extern "C" uint32_t DriverRequest(uint32_t code, WdDeviceHandle device, void* record,
                                  uint32_t recordSize, int openOwn) {
  if (openOwn) device = WdChannel_Open();
  if (device == WD_INVALID_HANDLE) return WD_STATUS_NONE;
  uint32_t status = WD_STATUS_NONE;
  (void)WdChannel_Control(device, code, record, recordSize, &status);
  if (openOwn) WdChannel_Close(device);
  return status;
}
