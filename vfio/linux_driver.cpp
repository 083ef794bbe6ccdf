// The Linux driver's choice of VFIO or sysfs, request by request (see linux_driver.h).
#include "vfio/linux_driver.h"

#include "linux/sysfs_tree.h"

namespace vfio {

wd::RequestDriver& LinuxDriver::BySlot(const WdPciSlot& slot) {
  const std::string name = sysfs::FunctionName({0, slot.bus, slot.slot, slot.function});
  if (vfio_.BoundToVfio(name)) return vfio_;
  return sysfs_;
}

uint32_t LinuxDriver::Register(WdCardRegister& r, uintptr_t device) {
  if (vfio_.TakesCard(r.card)) return Forward(vfio_, WD_CODE_CARD_REGISTER, r, device);
  return Forward(sysfs_, WD_CODE_CARD_REGISTER, r, device);
}

uint32_t LinuxDriver::Unregister(WdCardRegister& r) {
  if (vfio_.OwnsCard(r.cardHandle)) return Forward(vfio_, WD_CODE_CARD_UNREGISTER, r);
  return Forward(sysfs_, WD_CODE_CARD_UNREGISTER, r);
}

uint32_t LinuxDriver::Transfer(WdTransfer& r) {
  if (vfio_.CoversTransfer(r)) return Forward(vfio_, WD_CODE_TRANSFER, r);
  return Forward(sysfs_, WD_CODE_TRANSFER, r);
}

uint32_t LinuxDriver::IntEnable(WdIntRequest& r) {
  if (vfio_.OwnsInterrupt(r.intHandle)) return Forward(vfio_, WD_CODE_INT_ENABLE, r);
  return Forward(sysfs_, WD_CODE_INT_ENABLE, r);
}

uint32_t LinuxDriver::IntWait(WdIntRequest& r) {
  if (vfio_.OwnsInterrupt(r.intHandle)) return Forward(vfio_, WD_CODE_INT_WAIT, r);
  return Forward(sysfs_, WD_CODE_INT_WAIT, r);
}

uint32_t LinuxDriver::IntDisable(WdIntRequest& r) {
  if (vfio_.OwnsInterrupt(r.intHandle)) return Forward(vfio_, WD_CODE_INT_DISABLE, r);
  return Forward(sysfs_, WD_CODE_INT_DISABLE, r);
}

}  // namespace vfio
