// The tools' real-bus driver.
#include "sysfs_host.h"

#include <cstdio>

#include "driver/hosted_driver.h"

namespace machine {

SysfsHost::SysfsHost(const std::string& root, bool readOnly, const std::string& program,
                     Driver driver)
    : driver_(readOnly ? Driver::kSysfs : driver),
      sysfs_(root, readOnly ? sysfs::Access::kReadOnly : sysfs::Access::kFull) {
  auto report = [program](const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), reason.c_str());
  };
  sysfs_.SetErrorReporter(report);
  WdHostedDriver* installed = &sysfs_;
  if (driver_ != Driver::kSysfs) {
    vfio_ = std::make_unique<vfio::VfioDriver>(root);
    vfio_->SetErrorReporter(report);
    installed = vfio_.get();
  }
  if (driver_ == Driver::kAuto) {
    linux_ = std::make_unique<vfio::LinuxDriver>(sysfs_, *vfio_);
    installed = linux_.get();
  }
  WdHosted_Install(installed);
}

SysfsHost::~SysfsHost() {
  WdHosted_Install(nullptr);
}

}  // namespace machine
