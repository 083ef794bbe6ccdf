// A tool on a real PCI bus: the Linux sysfs driver installed as the process's driver, in full or
// read-only mode, with the system's reason for each failed request printed on standard error
// after the program's name ("p9050diag: permission denied: reading .../config needs root").
#ifndef ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
#define ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H

#include <cstdint>
#include <string>
#include <vector>

#include "driver/wd_records.h"
#include "linux/sysfs_driver.h"

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
  SysfsHost(const std::string& root, bool readOnly, const std::string& program);
  ~SysfsHost();  // uninstalls the driver, which releases what is still registered
  SysfsHost(const SysfsHost&) = delete;
  SysfsHost& operator=(const SysfsHost&) = delete;

 private:
  sysfs::SysfsDriver driver_;
};

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_SYSFS_HOST_H
