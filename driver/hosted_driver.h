// The hosted device channel: a driver object living in this process takes the place of the kernel
// driver. Tests, the simulator and the console host install one; while none is installed, opening
// the device fails as it does on a machine without the driver.
#ifndef ZARERERA_DRIVER_HOSTED_DRIVER_H
#define ZARERERA_DRIVER_HOSTED_DRIVER_H

#include <cstdint>

struct WdHostedDriver {
  virtual ~WdHostedDriver() = default;
  // Handles one request in place; returns false when it leaves *status untouched.
  virtual bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) = 0;
  // The same request as sent on device handle `device` (what the channel calls). Requests may come
  // from several threads at once, each on its own handle. A driver that keeps state per handle
  // overrides this; by default the handle is not looked at.
  virtual bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                         uint32_t* status) {
    (void)device;
    return Control(code, record, size, status);
  }
};

void WdHosted_Install(WdHostedDriver* driver);  // process-wide; nullptr: no driver, opening fails
int WdHosted_OpenHandles();                     // device handles open now

#endif  // ZARERERA_DRIVER_HOSTED_DRIVER_H
