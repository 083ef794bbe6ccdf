// The tools' real-bus driver.
#include "sysfs_host.h"

#include <cstdio>

#include "driver/hosted_driver.h"

namespace machine {

SysfsHost::SysfsHost(const std::string& root, bool readOnly, const std::string& program)
    : driver_(root, readOnly ? sysfs::Access::kReadOnly : sysfs::Access::kFull) {
  driver_.SetErrorReporter([program](const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), reason.c_str());
  });
  WdHosted_Install(&driver_);
}

SysfsHost::~SysfsHost() {
  WdHosted_Install(nullptr);
}

}  // namespace machine
