// The console host on a real PCI bus: the Linux sysfs driver installed as the process's driver,
// in full or read-only mode, with the system's reason for each failed request printed on standard
// error ("p9050diag: permission denied: reading .../config needs root").
#ifndef ZARERERA_TOOLS_P9050DIAG_SYSFS_HOST_H
#define ZARERERA_TOOLS_P9050DIAG_SYSFS_HOST_H

#include "linux/sysfs_driver.h"
#include "options.h"

namespace p9050diag {

class SysfsHost {
 public:
  explicit SysfsHost(const Options& options);
  ~SysfsHost();  // uninstalls the driver, which releases what is still registered
  SysfsHost(const SysfsHost&) = delete;
  SysfsHost& operator=(const SysfsHost&) = delete;

 private:
  sysfs::SysfsDriver driver_;
};

}  // namespace p9050diag

#endif  // ZARERERA_TOOLS_P9050DIAG_SYSFS_HOST_H
