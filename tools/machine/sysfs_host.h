// A tool on a real PCI bus: the Linux driver installed as the process's driver (each function
// through VFIO when it is bound to vfio-pci, through sysfs otherwise), or the sysfs or VFIO driver
// alone when the user chose one; sysfs in full or read-only mode. The reason for each failed
// request is printed on standard error after the program's name ("p9050diag: permission denied:
// reading .../config needs root").
#ifndef ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
#define ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H

#include <memory>
#include <string>

#include "linux/sysfs_driver.h"
#include "machine/options.h"
#include "vfio/linux_driver.h"
#include "vfio/vfio_driver.h"

namespace machine {

class SysfsHost {
 public:
  // `driver`: kAuto, kSysfs or kVfio. Read-only takes the sysfs driver alone, whatever it is.
  SysfsHost(const std::string& root, bool readOnly, const std::string& program,
            Driver driver = Driver::kSysfs);
  ~SysfsHost();  // uninstalls the driver, which releases what is still registered
  SysfsHost(const SysfsHost&) = delete;
  SysfsHost& operator=(const SysfsHost&) = delete;

  // The driver installed: kSysfs, kVfio or kAuto.
  Driver driver() const { return driver_; }

 private:
  Driver driver_;
  sysfs::SysfsDriver sysfs_;
  std::unique_ptr<vfio::VfioDriver> vfio_;
  std::unique_ptr<vfio::LinuxDriver> linux_;
};

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
