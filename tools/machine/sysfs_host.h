// A tool on a real PCI bus: the Linux driver installed as the process's driver (each function
// through VFIO when it is bound to vfio-pci, through sysfs otherwise), or the sysfs or VFIO driver
// alone when the user chose one; sysfs in full or read-only mode. The reason for each failed
// request is printed on standard error after the program's name ("p9050diag: permission denied:
// reading .../config needs root").
#ifndef ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
#define ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/wd_records.h"
#include "linux/sysfs_driver.h"
#include "machine/options.h"
#include "vfio/linux_driver.h"
#include "vfio/vfio_driver.h"

namespace machine {

// A BAR the driver's records cannot carry: one not wholly below 4 GiB (a 64-bit BAR placed high).
// The driver leaves it out of a card's items; the tools still show it, as not reachable.
struct HighRegion {
  unsigned bar;
  bool memory;
  uint64_t start;
  uint64_t bytes;
};

// The high BARs of the function in `slot` (domain 0000) under `root`, read from its `resource`
// file; none when the file cannot be read or parsed.
std::vector<HighRegion> HighRegions(const std::string& root, const WdPciSlot& slot);

class SysfsHost {
 public:
  // `driver`: kAuto, kSysfs or kVfio. Read-only takes the sysfs driver alone, whatever it is.
  SysfsHost(const std::string& root, bool readOnly, const std::string& program,
            Driver driver = Driver::kSysfs);
  ~SysfsHost();  // uninstalls the driver, which releases what is still registered
  SysfsHost(const SysfsHost&) = delete;
  SysfsHost& operator=(const SysfsHost&) = delete;

 private:
  sysfs::SysfsDriver sysfs_;
  std::unique_ptr<vfio::VfioDriver> vfio_;
  std::unique_ptr<vfio::LinuxDriver> linux_;
};

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
