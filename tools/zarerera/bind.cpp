// `bind` and `unbind`: hand a board to vfio-pci, and give it back, through the kernel's sysfs
// attributes (driver_override, the driver's unbind, drivers_probe). Both print the function's
// IOMMU group and what else is in it; a function held by another driver is left alone without
// --force; -n only shows what would be written.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "linux/sysfs_tree.h"
#include "util.h"
#include "vfio/vfio_driver.h"
#include "vfio/vfio_kernel.h"

namespace zcmd {

namespace {

using vfio::kVfioDriverName;

// The function's binding now: its driver ("" for none) and IOMMU group ("" for none).
vfio::Binding BindingOf(const Config& config, const std::string& name) {
  return vfio::BindingOf(vfio::SystemKernel(), config.sysfsRoot, name);
}

// A directory's names, sorted; none when it cannot be read.
std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  if (vfio::SystemKernel().List(path, &names) != 0) names.clear();
  std::sort(names.begin(), names.end());
  return names;
}

// A one-number sysfs file of the function (vendor, device); false when it is not one.
bool ReadNumber(const std::string& path, uint32_t* value) {
  std::string text;
  return vfio::SystemKernel().ReadFile(path, &text) == 0 && sysfs::ParseNumberFile(text, value);
}

struct Target {
  std::string name;  // DDDD:BB:SS.F
  std::string dir;   // under the sysfs root
};

// The function the options name: -s, or the board with -d's IDs at --board's index.
Target Choose(const Config& config) {
  const SlotFilter slots = config.slot.empty() ? SlotFilter{} : ParseSlot(config.slot);
  // With -s the IDs do not matter (as with lspci); without it, -d's IDs at --board's index.
  const IdFilter ids = config.slot.empty() ? ParseIds(config.ids) : IdFilter{};
  const unsigned index = config.board < 0 ? 0 : static_cast<unsigned>(config.board);
  std::vector<Target> found;
  for (const std::string& name : ListDir(config.sysfsRoot)) {
    sysfs::FunctionAddress a;
    uint32_t vendor = 0;
    uint32_t device = 0;
    const std::string dir = config.sysfsRoot + "/" + name;
    if (!sysfs::ParseFunctionName(name, &a) || a.domain != 0 ||
        !slots.Matches(WdPciSlot{a.bus, a.slot, a.function}) ||
        !ReadNumber(dir + "/vendor", &vendor) || !ReadNumber(dir + "/device", &device) ||
        !ids.Matches(vendor, device)) {
      continue;
    }
    found.push_back({name, dir});
  }
  if (!config.slot.empty()) {
    if (found.size() == 1) return found.front();
    if (found.empty())
      throw Failure("no function at " + config.slot + " under " + config.sysfsRoot);
    throw Failure("-s " + config.slot + " matches " + std::to_string(found.size()) +
                  " functions; name one");
  }
  if (index < found.size()) return found[index];
  throw Failure("no board " + std::to_string(index) + " with IDs " + IdFilterText(ids) + " under " +
                config.sysfsRoot);
}

std::string DriverText(const std::string& driver) {
  return driver.empty() ? "no driver" : driver;
}

// Prints the IOMMU group and its members with their drivers; returns the group ("" for none) and
// the members other than `t` held by a driver other than vfio-pci.
std::string ShowGroup(const Config& config, const Target& t, std::vector<std::string>* others) {
  const std::string group = BindingOf(config, t.name).group;
  if (group.empty()) {
    std::printf("%s has no IOMMU group: VFIO needs an IOMMU (intel_iommu=on or amd_iommu=on)\n",
                t.name.c_str());
    return "";
  }
  std::string members;
  for (const std::string& m : ListDir(t.dir + "/iommu_group/devices")) {
    const std::string driver = BindingOf(config, m).driver;
    members += (members.empty() ? "" : ", ") + m + " (" + DriverText(driver) + ")";
    if (m != t.name && !driver.empty() && driver != kVfioDriverName && driver != "pci-stub") {
      others->push_back(m + " (" + driver + ")");
    }
  }
  std::printf("IOMMU group %s: %s\n", group.c_str(), members.c_str());
  return group;
}

// Writes `text` to sysfs attribute `path`, or with -n says it would.
void Step(const Config& config, const std::string& path, const std::string& text) {
  const std::string shown = text == "\n" ? "an empty line" : "'" + text + "'";
  if (config.dryRun) {
    std::printf("would write %s to %s\n", shown.c_str(), path.c_str());
    return;
  }
  std::printf("writing %s to %s\n", shown.c_str(), path.c_str());
  std::fflush(stdout);
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr || std::fputs(text.c_str(), f) < 0 || std::fclose(f) != 0) {
    const int error = errno;
    throw Failure("cannot write " + path + ": " + std::strerror(error) +
                  (error == EACCES || error == EPERM ? " (binding needs root)" : ""));
  }
}

std::string ProbePath(const Config& config) {
  // drivers_probe sits beside the devices directory, in the bus's own.
  return config.sysfsRoot + "/../drivers_probe";
}

void NeedRealBus(const Config& config) {
  if (!machine::IsLinuxDriver(config.driver)) {
    throw UsageError("bind and unbind work on the real bus (Linux), not --driver=" +
                     std::string(DriverName(config.driver)));
  }
}

}  // namespace

int RunBind(Session&, const Config& config) {
  NeedRealBus(config);
  const Target t = Choose(config);
  std::vector<std::string> others;
  const std::string group = ShowGroup(config, t, &others);
  const std::string driver = BindingOf(config, t.name).driver;
  if (driver == kVfioDriverName) {
    std::printf("%s is bound to vfio-pci already%s\n", t.name.c_str(),
                group.empty() ? "" : (": /dev/vfio/" + group).c_str());
    return kExitOk;
  }
  if (group.empty())
    throw Failure(t.name + " stays with " + DriverText(driver) + ": no IOMMU group");
  if (!driver.empty() && !config.force) {
    throw Failure(t.name + " is held by " + driver + ": left alone (--force takes it from " +
                  driver + ")");
  }
  Step(config, t.dir + "/driver_override", kVfioDriverName);
  if (!driver.empty()) Step(config, t.dir + "/driver/unbind", t.name);
  Step(config, ProbePath(config), t.name);
  for (const std::string& o : others) {
    std::printf("the group is not viable while %s keeps its driver: bind it too\n", o.c_str());
  }
  if (config.dryRun) return kExitOk;
  const std::string now = BindingOf(config, t.name).driver;
  if (now != kVfioDriverName) {
    throw Failure("vfio-pci did not take " + t.name + " (now " + DriverText(now) +
                  "; is the vfio-pci module loaded?)");
  }
  std::printf("%s bound to vfio-pci: /dev/vfio/%s\n", t.name.c_str(), group.c_str());
  return kExitOk;
}

int RunUnbind(Session&, const Config& config) {
  NeedRealBus(config);
  const Target t = Choose(config);
  std::vector<std::string> others;
  ShowGroup(config, t, &others);
  const std::string driver = BindingOf(config, t.name).driver;
  if (driver != kVfioDriverName) {
    std::printf("%s is not bound to vfio-pci (%s): nothing to do\n", t.name.c_str(),
                DriverText(driver).c_str());
    return kExitOk;
  }
  Step(config, t.dir + "/driver_override", "\n");
  Step(config, t.dir + "/driver/unbind", t.name);
  Step(config, ProbePath(config), t.name);
  if (config.dryRun) return kExitOk;
  const std::string now = BindingOf(config, t.name).driver;
  if (now == kVfioDriverName) throw Failure(t.name + " is still bound to vfio-pci");
  std::printf("%s released: %s\n", t.name.c_str(),
              now.empty() ? "no driver took it" : ("bound to " + now).c_str());
  return kExitOk;
}

}  // namespace zcmd
