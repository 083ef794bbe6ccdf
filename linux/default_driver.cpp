// libzarerera.so on Linux: the driver for the real PCI bus is what the library falls back on when
// the application installed no driver of its own, so a program linked against the shared library
// reaches a real board with no extra call: through VFIO when the board is bound to vfio-pci
// (interrupts included), through sysfs otherwise. Linked into the shared library alone: the static
// libraries that tests, the simulator and the tools use leave it out.
#include "driver/hosted_driver.h"
#include "linux/sysfs_driver.h"
#include "vfio/linux_driver.h"
#include "vfio/vfio_driver.h"

namespace {

WdHostedDriver* RealBus() {
  static sysfs::SysfsDriver sysfs(sysfs::kDefaultRoot, sysfs::Access::kFull);
  static vfio::VfioDriver vfio;
  static vfio::LinuxDriver driver(sysfs, vfio);
  return &driver;
}

struct FallBackOnTheRealBus {
  FallBackOnTheRealBus() { WdHosted_SetFallback(&RealBus); }
} g_fallBackOnTheRealBus;

}  // namespace
