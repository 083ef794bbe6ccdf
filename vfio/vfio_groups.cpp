// The VFIO driver: a function opened through its container, group and device, and released.
#include "vfio/vfio_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/driver_calls.h"
#include "driver/precise_sleep.h"
#include "driver/transfer_kind.h"
#include "driver/transfer_run.h"
#include "driver/wd_status.h"
#include "vfio/vfio_driver_parts.h"

namespace vfio {

using namespace parts;  // NOLINT(google-build-using-namespace): the driver's own helpers

// --- Opening a function: container, group, device

uint32_t VfioDriver::CheckViable(const std::string& name, const std::string& group) {
  std::vector<std::string> members;
  std::string others;
  if (kernel_->List(PathOf(name, "iommu_group/devices"), &members) == 0) {
    std::sort(members.begin(), members.end());
    for (const std::string& member : members) {
      const Binding b = BindingOf(*kernel_, sysfs_root_, member);
      if (b.driver.empty() || b.driver == kVfioDriverName) continue;
      others += (others.empty() ? "" : ", ") + member + " (" + b.driver + ")";
    }
  }
  return Fail(WD_STATUS_RESOURCE_BUSY,
              "IOMMU group " + group + " of " + name + " is not viable: " +
                  (others.empty() ? std::string("a function of it is bound to another driver")
                                  : "bound to other drivers: " + others) +
                  "; bind every function of the group to vfio-pci (zarerera bind --force)");
}

uint32_t VfioDriver::OpenGroup(const std::string& number, Group** out, bool* notViable) {
  auto it = groups_.find(number);
  if (it != groups_.end()) {
    ++it->second->uses;
    *out = it->second.get();
    return 0;
  }
  const std::string path = dev_root_ + "/" + number;
  const int fd = kernel_->Open(path);
  if (fd < 0) return FailErrno(-fd, "opening " + path);
  bool viable = false;
  if (const int error = kernel_->GroupViable(fd, &viable); error < 0) {
    kernel_->Close(fd);
    return FailErrno(-error, "asking the status of " + path);
  }
  if (!viable) {
    kernel_->Close(fd);
    *notViable = true;  // the caller says why
    return WD_STATUS_RESOURCE_BUSY;
  }
  bool opened_container = false;
  if (container_ < 0) {
    const std::string container = dev_root_ + "/vfio";
    const int c = kernel_->Open(container);
    if (c < 0) {
      kernel_->Close(fd);
      return FailErrno(-c, "opening " + container);
    }
    if (const int error = kernel_->CheckContainer(c); error < 0) {
      kernel_->Close(c);
      kernel_->Close(fd);
      if (error == -ENOTSUP) {
        return Fail(WD_STATUS_RESOURCE_BUSY,
                    container +
                        " offers no type 1 IOMMU: load vfio_iommu_type1 (modprobe "
                        "vfio_iommu_type1)");
      }
      return FailErrno(-error, "checking " + container + " for the type 1 IOMMU");
    }
    container_ = c;
    opened_container = true;
  }
  auto undo = [&](int error, const std::string& doing) {
    kernel_->Close(fd);
    if (opened_container) {
      kernel_->Close(container_);
      container_ = -1;
    }
    return FailErrno(error, doing);
  };
  if (const int error = kernel_->SetContainer(fd, container_); error < 0) {
    return undo(-error, "adding " + path + " to the container");
  }
  if (!iommu_set_) {
    if (const int error = kernel_->SetIommuType1(container_); error < 0) {
      kernel_->UnsetContainer(fd);
      return undo(-error, "setting the container's IOMMU for " + path);
    }
    iommu_set_ = true;
  }
  auto group = std::make_unique<Group>();
  group->number = number;
  group->fd = fd;
  group->uses = 1;
  *out = group.get();
  groups_[number] = std::move(group);
  return 0;
}

void VfioDriver::ReleaseGroup(Group* group) {
  if (--group->uses > 0) return;
  kernel_->UnsetContainer(group->fd);
  kernel_->Close(group->fd);
  groups_.erase(group->number);
  if (groups_.empty() && container_ >= 0) {
    kernel_->Close(container_);
    container_ = -1;
    iommu_set_ = false;
  }
}

uint32_t VfioDriver::Acquire(const std::string& name, Device** out) {
  auto it = devices_.find(name);
  if (it != devices_.end()) {
    ++it->second->uses;
    *out = it->second.get();
    return 0;
  }
  const Binding b = BindingOf(*kernel_, sysfs_root_, name);
  if (b.driver != kVfioDriverName) {
    std::vector<std::string> names;
    if (kernel_->List(PathOf(name, ""), &names) < 0) {
      return Fail(WD_STATUS_NO_SUCH_CARD, "no function " + name + " under " + sysfs_root_);
    }
    return Fail(WD_STATUS_RESOURCE_BUSY,
                name + " is bound to " + (b.driver.empty() ? "no driver" : b.driver) +
                    ", not vfio-pci: `zarerera bind -s " + ShortName(name) + "` hands it over");
  }
  if (b.group.empty()) {
    return Fail(WD_STATUS_RESOURCE_BUSY,
                name + " has no IOMMU group: VFIO needs an IOMMU (intel_iommu=on or amd_iommu=on)");
  }
  Group* group = nullptr;
  bool notViable = false;
  if (const uint32_t status = OpenGroup(b.group, &group, &notViable)) {
    return notViable ? CheckViable(name, b.group) : status;
  }
  const int fd = kernel_->DeviceFd(group->fd, name);
  if (fd < 0) {
    ReleaseGroup(group);
    return FailErrno(-fd, "opening " + name + " in IOMMU group " + b.group);
  }
  auto device = std::make_unique<Device>();
  device->name = name;
  device->group = group;
  device->fd = fd;
  for (uint32_t i = 0; i < kBarRegions; ++i) {
    if (kernel_->Region(fd, i, &device->bars[i]) < 0) device->bars[i] = RegionInfo{};
  }
  if (const int error = kernel_->Region(fd, kConfigRegion, &device->config); error < 0) {
    kernel_->Close(fd);
    ReleaseGroup(group);
    return FailErrno(-error, "asking for the configuration region of " + name);
  }
  uint32_t irqs = 0;
  device->intx = kernel_->IrqCount(fd, kIntxIndex, &irqs) == 0 && irqs > 0;
  device->uses = 1;
  *out = device.get();
  devices_[name] = std::move(device);
  return 0;
}

void VfioDriver::ReleaseDevice(Device* device) {
  if (--device->uses > 0) return;
  kernel_->Close(device->fd);
  Group* group = device->group;
  devices_.erase(device->name);
  ReleaseGroup(group);
}

bool VfioDriver::FunctionOfRange(const WdItem& range, std::string* name,
                                 std::vector<sysfs::ResourceLine>* lines) {
  const auto [memory, start, bytes, bar] = wd::ItemRangeOf(range);
  std::vector<std::string> names;
  if (kernel_->List(sysfs_root_, &names) < 0) return false;
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    sysfs::FunctionAddress a;
    std::string text;
    unsigned bad = 0;
    std::vector<sysfs::ResourceLine> l;
    if (!sysfs::ParseFunctionName(n, &a) || a.domain != 0 ||
        kernel_->ReadFile(PathOf(n, "resource"), &text) < 0 ||
        !sysfs::ParseResource(text, &l, &bad) || BarOf(l, memory, start, bytes, bar) < 0) {
      continue;
    }
    *name = n;
    *lines = std::move(l);
    return true;
  }
  return false;
}

bool VfioDriver::TakesCard(const WdCard& card) {
  std::lock_guard<std::mutex> guard(lock_);
  const WdItem* first = wd::FirstRange(card);
  std::string name;
  std::vector<sysfs::ResourceLine> lines;
  return first != nullptr && FunctionOfRange(*first, &name, &lines) &&
         BindingOf(*kernel_, sysfs_root_, name).driver == kVfioDriverName;
}

}  // namespace vfio
