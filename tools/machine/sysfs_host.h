// A tool on a real PCI bus: the Linux sysfs driver installed as the process's driver, in full or
// read-only mode, with the system's reason for each failed request printed on standard error
// after the program's name ("p9050diag: permission denied: reading .../config needs root").
#ifndef ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
#define ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H

#include <string>

#include "linux/sysfs_driver.h"

namespace machine {

class SysfsHost {
 public:
  SysfsHost(const std::string& root, bool readOnly, const std::string& program);
  ~SysfsHost();  // uninstalls the driver, which releases what is still registered
  SysfsHost(const SysfsHost&) = delete;
  SysfsHost& operator=(const SysfsHost&) = delete;

 private:
  sysfs::SysfsDriver driver_;
};

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
