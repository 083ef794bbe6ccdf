// The tools' real-bus driver.
#include "sysfs_host.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "driver/hosted_driver.h"
#include "linux/sysfs_tree.h"

namespace machine {

std::vector<HighRegion> HighRegions(const std::string& root, const WdPciSlot& slot) {
  const sysfs::FunctionAddress address{0, slot.bus, slot.slot, slot.function};
  std::ifstream in(root + "/" + sysfs::FunctionName(address) + "/resource");
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<sysfs::ResourceLine> lines;
  unsigned badLine = 0;
  std::vector<HighRegion> regions;
  if (!in || !sysfs::ParseResource(text.str(), &lines, &badLine)) return regions;
  for (unsigned bar = 0; bar < sysfs::kBarLines && bar < lines.size(); ++bar) {
    const sysfs::ResourceLine& line = lines[bar];
    if (line.used() && !line.in_records()) {
      regions.push_back({bar, !line.io(), line.start, line.bytes()});
    }
  }
  return regions;
}

SysfsHost::SysfsHost(const std::string& root, bool readOnly, const std::string& program,
                     Driver driver)
    : sysfs_(root, readOnly ? sysfs::Access::kReadOnly : sysfs::Access::kFull) {
  if (readOnly) driver = Driver::kSysfs;
  auto report = [program](const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), reason.c_str());
  };
  sysfs_.SetErrorReporter(report);
  WdHostedDriver* installed = &sysfs_;
  if (driver != Driver::kSysfs) {
    vfio_ = std::make_unique<vfio::VfioDriver>(root);
    vfio_->SetErrorReporter(report);
    installed = vfio_.get();
  }
  if (driver == Driver::kAuto) {
    linux_ = std::make_unique<vfio::LinuxDriver>(sysfs_, *vfio_);
    installed = linux_.get();
  }
  WdHosted_Install(installed);
}

SysfsHost::~SysfsHost() {
  WdHosted_Install(nullptr);
}

}  // namespace machine
