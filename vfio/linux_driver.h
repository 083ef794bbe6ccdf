// The driver for real PCI hardware on Linux: each function through VFIO when it is bound to
// vfio-pci, through sysfs otherwise, chosen request by request, with no option.
//
// - Scan, version and sleeps: the sysfs driver.
// - Card information and configuration: by the function's slot (bound to vfio-pci or not, looked
//   at for each request, so a function bound or unbound meanwhile is met as it is now).
// - Registration: by the function whose BAR the card's first range is; unregistration, transfers
//   and the interrupt requests: by the driver that holds the card handle, the range, the
//   interrupt handle (the VFIO driver's handles never meet the sysfs driver's).
// - The interrupt requests reach the VFIO driver only: the sysfs driver has no interrupts, and
//   refuses them for its cards as before.
// Each request is served by the chosen driver's own ControlOn, under its own lock.
#ifndef ZARERERA_VFIO_LINUX_DRIVER_H
#define ZARERERA_VFIO_LINUX_DRIVER_H

#include <cstdint>
#include <string>

#include "driver/request_driver.h"
#include "driver/wd_status.h"
#include "linux/sysfs_driver.h"
#include "vfio/vfio_driver.h"

namespace vfio {

class LinuxDriver : public wd::RequestDriver {
 public:
  // Both must outlive this driver.
  LinuxDriver(sysfs::SysfsDriver& sysfs, VfioDriver& vfio) : sysfs_(sysfs), vfio_(vfio) {}

 private:
  uint32_t Version(WdVersion& r) override { return Forward(sysfs_, WD_CODE_VERSION, r); }
  uint32_t Scan(WdPciScan& r) override { return Forward(sysfs_, WD_CODE_PCI_SCAN, r); }
  uint32_t CardInfo(WdPciCardInfo& r) override {
    return Forward(BySlot(r.pciSlot), WD_CODE_PCI_CARD_INFO, r);
  }
  uint32_t Register(WdCardRegister& r, uintptr_t device) override;
  uint32_t Unregister(WdCardRegister& r) override;
  uint32_t Config(WdPciConfigDump& r) override {
    return Forward(BySlot(r.pciSlot), WD_CODE_PCI_CONFIG, r);
  }
  uint32_t Transfer(WdTransfer& r) override;
  uint32_t Sleep(WdSleep& r) override { return Forward(sysfs_, WD_CODE_SLEEP, r); }
  bool ServesInterrupts() const override { return true; }
  uint32_t IntEnable(WdIntRequest& r) override;
  uint32_t IntWait(WdIntRequest& r) override;
  uint32_t IntDisable(WdIntRequest& r) override;

  wd::RequestDriver& BySlot(const WdPciSlot& slot);
  template <class T>
  uint32_t Forward(WdHostedDriver& to, uint32_t code, T& record, uintptr_t device = wd::kNoDevice) {
    uint32_t status = WD_STATUS_NONE;
    if (!to.ControlOn(device, code, &record, sizeof record, &status)) return WD_STATUS_NONE;
    return status;
  }

  sysfs::SysfsDriver& sysfs_;
  VfioDriver& vfio_;
};

}  // namespace vfio

#endif  // ZARERERA_VFIO_LINUX_DRIVER_H
