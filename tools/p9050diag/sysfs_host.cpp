// The console host's real-bus driver.
#include "sysfs_host.h"

#include <cstdio>

#include "driver/hosted_driver.h"

namespace p9050diag {

SysfsHost::SysfsHost(const Options& options)
    : driver_(options.sysfsRoot,
              options.readOnly ? sysfs::Access::kReadOnly : sysfs::Access::kFull) {
  driver_.SetErrorReporter(
      [](const std::string& reason) { std::fprintf(stderr, "p9050diag: %s\n", reason.c_str()); });
  WdHosted_Install(&driver_);
}

SysfsHost::~SysfsHost() {
  WdHosted_Install(nullptr);
}

}  // namespace p9050diag
