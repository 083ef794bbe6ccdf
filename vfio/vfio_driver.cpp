// The VFIO driver: functions opened through their groups, card items, registrations, transfers and
// the INTx interrupt service (see vfio_driver.h for what each request does).
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

namespace vfio {

namespace {

constexpr uint64_t kAddressLimit = 0x100000000ull;  // the records carry 32-bit addresses
constexpr uint32_t kConfigLimit = 4096;             // PCI Express configuration space
constexpr char kVersionText[] = "zarerera Linux VFIO driver";

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

// "0000:00:03.0" as the tools' -s option spells it: "00:03.0".
std::string ShortName(const std::string& name) {
  return name.size() > 5 ? name.substr(5) : name;
}

bool SingleTransfer(const WdTransfer& t) {
  const wd::TransferKind k = wd::KindOf(t.command);
  return k.width != 0 && !k.block;
}

bool IsRange(const WdItem& item) {
  return (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes != 0) ||
         (item.kind == WD_ITEM_IO && item.u.io.bytes != 0);
}

void ItemOf(const WdItem& item, bool* memory, uint32_t* start, uint32_t* bytes, uint32_t* bar) {
  *memory = item.kind == WD_ITEM_MEMORY;
  *start = *memory ? item.u.mem.physAddress : item.u.io.port;
  *bytes = *memory ? item.u.mem.bytes : item.u.io.bytes;
  *bar = *memory ? item.u.mem.bar : item.u.io.bar;
}

// The BAR of `lines` a range is: the one with its start, kind and at least its bytes, the range's
// own BAR number first; -1 for none.
int BarOf(const std::vector<sysfs::ResourceLine>& lines, bool memory, uint32_t start,
          uint32_t bytes, uint32_t hint) {
  auto fits = [&](uint32_t b) {
    return b < kBarRegions && b < lines.size() && lines[b].used() && lines[b].io() != memory &&
           lines[b].start == start && uint64_t{bytes} <= lines[b].bytes();
  };
  if (fits(hint)) return static_cast<int>(hint);
  for (uint32_t b = 0; b < kBarRegions; ++b) {
    if (fits(b)) return static_cast<int>(b);
  }
  return -1;
}

}  // namespace

Binding BindingOf(VfioKernel& kernel, const std::string& sysfsRoot, const std::string& name) {
  Binding b;
  const std::string dir = sysfsRoot + "/" + name + "/";
  if (kernel.LinkName(dir + "driver", &b.driver) != 0) b.driver.clear();
  if (kernel.LinkName(dir + "iommu_group", &b.group) != 0) b.group.clear();
  return b;
}

struct VfioDriver::Group {
  std::string number;
  int fd = -1;
  int uses = 0;
};

struct VfioDriver::Device {
  std::string name;
  Group* group = nullptr;
  int fd = -1;
  RegionInfo bars[kBarRegions];
  RegionInfo config;
  bool intx = false;
  int uses = 0;
};

struct VfioDriver::Range {
  bool memory = false;
  uint32_t start = 0;
  uint32_t bytes = 0;
  Device* device = nullptr;
  uint64_t region_offset = 0;  // in the device file
  uint8_t* user = nullptr;     // a mapped memory region's first byte
  size_t map_length = 0;
};

struct VfioDriver::Registration {
  uint32_t card_handle = 0;
  uint32_t int_handle = 0;  // 0: no interrupt item
  Device* device = nullptr;
  std::vector<Range> ranges;
};

struct VfioDriver::Line {
  uint32_t int_handle = 0;
  Device* device = nullptr;
  int eventfd = -1;  // signalled by the kernel at each interrupt
  int wakefd = -1;   // signalled by disable
  std::vector<WdTransfer> commands;
  uint32_t options = 0;
  uint64_t generation = 0;
  bool enabled = false;
  bool in_service = false;  // handed out, the service not yet back (the line masked)
  uint32_t counter = 0;
  uint32_t lost = 0;
  int waiters = 0;
};

VfioDriver::VfioDriver(std::string sysfsRoot, std::string devRoot, VfioKernel* kernel)
    : sysfs_root_(std::move(sysfsRoot)),
      dev_root_(std::move(devRoot)),
      kernel_(kernel != nullptr ? kernel : &SystemKernel()),
      page_size_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {}

VfioDriver::~VfioDriver() {
  std::unique_lock<std::mutex> guard(lock_);
  std::vector<Line*> lines;
  for (auto& [handle, line] : lines_) lines.push_back(line.get());
  for (Line* line : lines) StopLine(*line, guard);  // may end it at once
  waiters_left_.wait(guard, [this] { return lines_.empty(); });
  for (auto& r : registrations_) ReleaseRegistration(*r);
  registrations_.clear();
}

std::string VfioDriver::LastError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return last_error_;
}

void VfioDriver::SetErrorReporter(std::function<void(const std::string&)> reporter) {
  std::lock_guard<std::mutex> guard(lock_);
  reporter_ = std::move(reporter);
}

bool VfioDriver::BoundToVfio(const std::string& name) {
  return BindingOf(*kernel_, sysfs_root_, name).driver == kVfioDriverName;
}

bool VfioDriver::OwnsCard(uint32_t cardHandle) const {
  std::lock_guard<std::mutex> guard(lock_);
  return std::any_of(registrations_.begin(), registrations_.end(), [&](const auto& r) {
    return cardHandle != 0 && r->card_handle == cardHandle;
  });
}

bool VfioDriver::OwnsInterrupt(uint32_t intHandle) const {
  std::lock_guard<std::mutex> guard(lock_);
  return std::any_of(registrations_.begin(), registrations_.end(),
                     [&](const auto& r) { return intHandle != 0 && r->int_handle == intHandle; });
}

bool VfioDriver::CoversTransfer(const WdTransfer& r) const {
  const wd::TransferKind c = wd::KindOf(r.command);
  if (c.width == 0) return false;
  const uint64_t span =
      c.block && r.autoIncrement != 0 && r.bytes >= c.width ? r.bytes : uint64_t{c.width};
  std::lock_guard<std::mutex> guard(lock_);
  return Covering(c.memory, r.address, span) != nullptr;
}

int VfioDriver::registrations() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(registrations_.size());
}

int VfioDriver::open_devices() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(devices_.size());
}

int VfioDriver::open_eventfds() const {
  std::lock_guard<std::mutex> guard(lock_);
  int n = 0;
  for (const auto& [handle, line] : lines_) n += (line->eventfd >= 0) + (line->wakefd >= 0);
  return n;
}

bool VfioDriver::ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                           uint32_t* status) {
  // A sleep, and a wait (which locks for itself, not while it blocks), are served without the
  // lock.
  std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
  const bool unlocked = (code == WD_CODE_SLEEP || code == WD_CODE_INT_WAIT) && record != nullptr &&
                        size >= (code == WD_CODE_SLEEP ? sizeof(WdSleep) : sizeof(WdIntRequest));
  if (!unlocked) guard.lock();
  *status = Serve(device, code, record, size);
  return true;
}

uint32_t VfioDriver::Refuse(uint32_t code, uint32_t status) {
  if (status == WD_STATUS_UNKNOWN_REQUEST) return Fail(status, "unknown request " + Hex(code));
  return Fail(status, "record too short");
}

uint32_t VfioDriver::Sleep(WdSleep& r) {
  WdPreciseSleepUs(r.microseconds);
  return 0;
}

// --- Errors

uint32_t VfioDriver::Fail(uint32_t status, const std::string& reason) {
  last_error_ = reason;
  if (reporter_) reporter_(reason);
  return status;
}

uint32_t VfioDriver::FailErrno(int error, const std::string& doing) {
  switch (error) {
    case EACCES:
    case EPERM:
      return Fail(WD_STATUS_RESOURCE_BUSY, "permission denied: " + doing +
                                               " (the user needs read and write access to " +
                                               dev_root_ + "/<group>; see zarerera bind)");
    case EBUSY:
      return Fail(WD_STATUS_RESOURCE_BUSY, "busy: " + doing + " (in use by another process?)");
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return Fail(WD_STATUS_NO_SUCH_CARD, "no such device: " + doing);
    case ENOMEM:
      return Fail(WD_STATUS_NO_MEMORY, "out of memory: " + doing);
    default: {
      std::string text = std::strerror(error);
      if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
      return Fail(WD_STATUS_INVALID_PARAMETER, text + ": " + doing);
    }
  }
}

// --- sysfs

std::string VfioDriver::PathOf(const std::string& name, const char* file) const {
  return sysfs_root_ + "/" + name + "/" + file;
}

uint32_t VfioDriver::ListFunctions(std::vector<sysfs::FunctionAddress>* functions) {
  std::vector<std::string> names;
  if (const int error = kernel_->List(sysfs_root_, &names); error < 0) {
    return FailErrno(-error, "listing " + sysfs_root_);
  }
  functions->clear();
  for (const std::string& name : names) {
    sysfs::FunctionAddress a;
    if (sysfs::ParseFunctionName(name, &a) && a.domain == 0) functions->push_back(a);
  }
  std::sort(functions->begin(), functions->end());
  return 0;
}

uint32_t VfioDriver::ReadResource(const std::string& name,
                                  std::vector<sysfs::ResourceLine>* lines) {
  const std::string path = PathOf(name, "resource");
  std::string text;
  if (const int error = kernel_->ReadFile(path, &text); error < 0) {
    return FailErrno(-error, "reading " + path);
  }
  unsigned bad = 0;
  if (!sysfs::ParseResource(text, lines, &bad)) {
    return Fail(WD_STATUS_INVALID_PARAMETER,
                "malformed: line " + std::to_string(bad) + " of " + path);
  }
  return 0;
}

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

bool VfioDriver::FunctionOfCard(const WdCard& card, std::string* name,
                                std::vector<sysfs::ResourceLine>* lines) {
  const uint32_t count = WdDriver_ItemCount(&card);
  const WdItem* first = nullptr;
  for (uint32_t i = 0; i < count && first == nullptr; ++i) {
    if (IsRange(card.items[i])) first = &card.items[i];
  }
  if (first == nullptr) return false;
  bool memory = false;
  uint32_t start = 0;
  uint32_t bytes = 0;
  uint32_t bar = 0;
  ItemOf(*first, &memory, &start, &bytes, &bar);
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
  std::string name;
  std::vector<sysfs::ResourceLine> lines;
  return FunctionOfCard(card, &name, &lines) &&
         BindingOf(*kernel_, sysfs_root_, name).driver == kVfioDriverName;
}

// --- Requests

uint32_t VfioDriver::Version(WdVersion& r) {
  r.version = kVersion;
  std::memset(r.text, 0, sizeof r.text);
  std::snprintf(r.text, sizeof r.text, "%s", kVersionText);
  return 0;
}

uint32_t VfioDriver::Scan(WdPciScan& r) {
  std::vector<sysfs::FunctionAddress> functions;
  if (const uint32_t status = ListFunctions(&functions)) return status;
  r.cardCount = 0;
  std::memset(r.ids, 0, sizeof r.ids);
  std::memset(r.slots, 0, sizeof r.slots);
  for (const sysfs::FunctionAddress& f : functions) {
    if (r.cardCount == WD_PCI_CARDS) break;
    const std::string name = sysfs::FunctionName(f);
    std::string text;
    uint32_t vendor = 0;
    uint32_t device = 0;
    if (kernel_->ReadFile(PathOf(name, "vendor"), &text) != 0 ||
        !sysfs::ParseNumberFile(text, &vendor) ||
        kernel_->ReadFile(PathOf(name, "device"), &text) != 0 ||
        !sysfs::ParseNumberFile(text, &device)) {
      continue;
    }
    if (r.vendorId != 0 && r.vendorId != vendor) continue;
    if (r.deviceId != 0 && r.deviceId != device) continue;
    r.ids[r.cardCount] = WdPciId{vendor, device};
    r.slots[r.cardCount] = WdPciSlot{f.bus, f.slot, f.function};
    ++r.cardCount;
  }
  return 0;
}

uint32_t VfioDriver::CardInfo(WdPciCardInfo& r) {
  const std::string name =
      sysfs::FunctionName({0, r.pciSlot.bus, r.pciSlot.slot, r.pciSlot.function});
  std::vector<sysfs::ResourceLine> lines;
  if (const uint32_t status = ReadResource(name, &lines)) return status;
  Device* device = nullptr;
  if (const uint32_t status = Acquire(name, &device)) return status;
  WdCard card{};
  for (uint32_t bar = 0; bar < kBarRegions && bar < lines.size(); ++bar) {
    const sysfs::ResourceLine& line = lines[bar];
    if (device->bars[bar].size == 0 || !line.used() || line.end >= kAddressLimit) continue;
    const auto start = static_cast<uint32_t>(line.start);
    const auto bytes =
        static_cast<uint32_t>(std::min<uint64_t>(line.bytes(), device->bars[bar].size));
    if (line.io()) {
      wd::AddIoItem(card, bar, start, bytes);
    } else {
      wd::AddMemoryItem(card, bar, start, bytes);
    }
  }
  if (device->intx) {
    std::string text;
    uint32_t irq = 0;
    if (kernel_->ReadFile(PathOf(name, "irq"), &text) == 0) sysfs::ParseNumberFile(text, &irq);
    // The item is what lets the library ask for the interrupt: a function with INTx gets one
    // even where sysfs shows no number.
    wd::AddInterruptItem(card, irq);
  }
  ReleaseDevice(device);
  r.card = card;
  return 0;
}

uint32_t VfioDriver::Register(WdCardRegister& r, uintptr_t handle) {
  (void)handle;  // a registration is not tied to the handle it came on
  if (r.checkLockOnly != 0) return 0;
  const uint32_t count = WdDriver_ItemCount(&r.card);
  const WdItem* first = nullptr;
  for (uint32_t i = 0; i < count && first == nullptr; ++i) {
    if (IsRange(r.card.items[i])) first = &r.card.items[i];
  }
  if (first == nullptr) {
    return Fail(WD_STATUS_INVALID_PARAMETER, "card has no BAR to tell its function by");
  }
  // The function: the one with a BAR where the first range starts.
  bool memory = false;
  uint32_t start = 0;
  uint32_t bytes = 0;
  uint32_t bar = 0;
  ItemOf(*first, &memory, &start, &bytes, &bar);
  std::string name;
  std::vector<sysfs::ResourceLine> lines;
  FunctionOfCard(r.card, &name, &lines);
  if (name.empty()) {
    return Fail(WD_STATUS_NO_SUCH_CARD, std::string("no function under ") + sysfs_root_ + " has " +
                                            (memory ? "a memory" : "an I/O") + " BAR at " +
                                            Hex(start) + " of " + std::to_string(bytes) + " bytes");
  }
  for (const auto& reg : registrations_) {
    if (reg->device->name == name) {
      return Fail(WD_STATUS_RESOURCE_BUSY, name + " is registered already");
    }
  }
  Device* device = nullptr;
  if (const uint32_t status = Acquire(name, &device)) return status;

  auto reg = std::make_unique<Registration>();
  reg->device = device;
  auto fail = [&](uint32_t status) {
    ReleaseRegistration(*reg);
    return status;
  };
  WdCard card = r.card;
  for (uint32_t i = 0; i < count; ++i) {
    WdItem& item = card.items[i];
    if (item.kind == WD_ITEM_INTERRUPT) {
      if (!device->intx) return fail(Fail(WD_STATUS_INVALID_PARAMETER, name + " has no INTx"));
      reg->int_handle = next_int_handle_++;
      if (next_int_handle_ == 0) next_int_handle_ = kFirstHandle;
      item.u.interrupt.intHandle = reg->int_handle;
      continue;
    }
    if (!IsRange(item)) continue;
    ItemOf(item, &memory, &start, &bytes, &bar);
    const int index = BarOf(lines, memory, start, bytes, bar);
    if (index < 0 || device->bars[index].size < bytes) {
      return fail(Fail(WD_STATUS_INVALID_PARAMETER,
                       std::string(memory ? "memory" : "I/O") + " range at " + Hex(start) + " of " +
                           std::to_string(bytes) + " bytes is no BAR of " + name));
    }
    const RegionInfo& region = device->bars[index];
    Range range;
    range.memory = memory;
    range.start = start;
    range.bytes = bytes;
    range.device = device;
    range.region_offset = region.offset;
    if (memory && region.mmap) {
      const size_t length = (size_t{bytes} + page_size_ - 1) / page_size_ * page_size_;
      int error = 0;
      void* base = kernel_->Map(device->fd, length, region.offset, &error);
      if (base == nullptr) {
        return fail(FailErrno(error, "mapping BAR" + std::to_string(index) + " of " + name));
      }
      range.user = static_cast<uint8_t*>(base);
      range.map_length = length;
      item.u.mem.userAddress = WD_TO_UPTR(range.user);
    }
    reg->ranges.push_back(range);
  }
  reg->card_handle = next_card_handle_++;
  if (next_card_handle_ == 0) next_card_handle_ = kFirstHandle;
  r.card = card;
  r.cardHandle = reg->card_handle;
  registrations_.push_back(std::move(reg));
  return 0;
}

void VfioDriver::ReleaseRegistration(Registration& reg) {
  for (Range& range : reg.ranges) {
    if (range.user != nullptr) kernel_->Unmap(range.user, range.map_length);
  }
  reg.ranges.clear();
  if (reg.device != nullptr) ReleaseDevice(reg.device);
  reg.device = nullptr;
}

uint32_t VfioDriver::Unregister(WdCardRegister& r) {
  auto it = std::find_if(registrations_.begin(), registrations_.end(), [&r](const auto& reg) {
    return r.cardHandle != 0 && reg->card_handle == r.cardHandle;
  });
  if (it == registrations_.end()) {
    return Fail(WD_STATUS_NO_SUCH_CARD, "unknown card handle " + std::to_string(r.cardHandle));
  }
  // An interrupt still on is disabled first: its waiters wake before the device goes.
  auto line = lines_.find((*it)->int_handle);
  if ((*it)->int_handle != 0 && line != lines_.end()) {
    std::unique_lock<std::mutex> relock(lock_, std::adopt_lock);
    StopLine(*line->second, relock);
    const uint32_t intHandle = (*it)->int_handle;
    waiters_left_.wait(relock, [&] { return lines_.count(intHandle) == 0; });
    relock.release();  // the caller's lock, held again
    it = std::find_if(registrations_.begin(), registrations_.end(),
                      [&r](const auto& reg) { return reg->card_handle == r.cardHandle; });
    if (it == registrations_.end()) return 0;
  }
  ReleaseRegistration(**it);
  registrations_.erase(it);
  return 0;
}

uint32_t VfioDriver::Config(WdPciConfigDump& r) {
  if (r.bytes == 0 || r.bytes > 4 || r.offset >= kConfigLimit ||
      r.bytes > kConfigLimit - r.offset || r.buffer == 0) {
    return Fail(WD_STATUS_INVALID_PARAMETER, "configuration access of " + std::to_string(r.bytes) +
                                                 " bytes at " + Hex(r.offset) + " is out of range");
  }
  const std::string name =
      sysfs::FunctionName({0, r.pciSlot.bus, r.pciSlot.slot, r.pciSlot.function});
  Device* device = nullptr;
  if (const uint32_t status = Acquire(name, &device)) return status;
  const bool write = r.isRead == 0;
  uint32_t status = 0;
  if (uint64_t{r.offset} + r.bytes > device->config.size) {
    status = Fail(WD_STATUS_INVALID_PARAMETER, "configuration access at " + Hex(r.offset) +
                                                   " lies past the " +
                                                   std::to_string(device->config.size) +
                                                   " bytes of " + name + "'s configuration space");
  } else {
    auto* buffer = WD_FROM_UPTR(uint8_t*, r.buffer);
    uint8_t bytes[4] = {};
    const uint64_t at = device->config.offset + r.offset;
    long n;
    if (write) {
      std::memcpy(bytes, buffer, r.bytes);
      n = kernel_->Write(device->fd, bytes, r.bytes, at);
    } else {
      n = kernel_->Read(device->fd, bytes, r.bytes, at);
    }
    const std::string doing = std::string(write ? "writing" : "reading") + " configuration " +
                              Hex(r.offset) + " of " + name;
    if (n < 0) {
      status = FailErrno(static_cast<int>(-n), doing);
    } else if (n != static_cast<long>(r.bytes)) {
      status = Fail(WD_STATUS_INVALID_PARAMETER, "short access: " + doing);
    } else if (!write) {
      std::memcpy(buffer, bytes, r.bytes);
    }
  }
  ReleaseDevice(device);
  return status;
}

const VfioDriver::Range* VfioDriver::Covering(bool memory, uint32_t address, uint64_t bytes) const {
  for (const auto& reg : registrations_) {
    for (const Range& range : reg->ranges) {
      if (range.memory == memory && address >= range.start &&
          uint64_t{address} - range.start + bytes <= range.bytes) {
        return &range;
      }
    }
  }
  return nullptr;
}

uint32_t VfioDriver::Transfer(WdTransfer& r) {
  return TransferLocked(r);
}

uint32_t VfioDriver::TransferLocked(WdTransfer& r) {
  wd::TransferPlan plan;
  std::string error;
  if (!wd::PlanTransfer(r, &plan, &error)) return Fail(WD_STATUS_INVALID_PARAMETER, error);
  if (plan.count == 0) return 0;
  const wd::TransferKind c = plan.kind;
  const Range* range = Covering(c.memory, r.address, plan.span);
  if (range == nullptr) {
    return Fail(WD_STATUS_INVALID_PARAMETER,
                std::string("no registered ") + (c.memory ? "memory" : "I/O") + " range covers " +
                    Hex(r.address) + "-" + Hex(r.address + plan.span - 1));
  }
  return wd::RunTransfer(
      r, plan, r.address - range->start, [&](uint64_t offset, uint32_t* value) -> uint32_t {
        if (range->user != nullptr) {
          if (c.write) {
            wd::StoreWidth(range->user + offset, *value, c.width);
          } else {
            *value = wd::LoadWidth(range->user + offset, c.width);
          }
          return 0;
        }
        const uint64_t at = range->region_offset + offset;
        const long n = c.write ? kernel_->Write(range->device->fd, value, c.width, at)
                               : kernel_->Read(range->device->fd, value, c.width, at);
        const std::string doing = std::string(c.write ? "writing " : "reading ") +
                                  Hex(range->start + offset) + " of " + range->device->name;
        if (n < 0) return FailErrno(static_cast<int>(-n), doing);
        if (n != static_cast<long>(c.width)) {
          return Fail(WD_STATUS_INVALID_PARAMETER, "short access: " + doing);
        }
        return 0;
      });
}

// --- Interrupts

uint32_t VfioDriver::IntEnable(WdIntRequest& r) {
  const Registration* reg = nullptr;
  for (const auto& candidate : registrations_) {
    if (r.intHandle != 0 && candidate->int_handle == r.intHandle) reg = candidate.get();
  }
  if (reg == nullptr) {
    return Fail(WD_STATUS_NO_SUCH_CARD, "unknown interrupt handle " + std::to_string(r.intHandle));
  }
  if (r.commandCount > kMaxCommands || (r.commandCount != 0 && r.commands == 0)) {
    return Fail(WD_STATUS_INVALID_PARAMETER,
                std::to_string(r.commandCount) + " interrupt commands refused");
  }
  const auto* given = WD_FROM_UPTR(const WdTransfer*, r.commands);
  std::vector<WdTransfer> commands(given, given + r.commandCount);
  if (!std::all_of(commands.begin(), commands.end(), SingleTransfer)) {
    return Fail(WD_STATUS_INVALID_PARAMETER, "interrupt commands must be single transfers");
  }
  auto existing = lines_.find(r.intHandle);
  if (existing != lines_.end()) {
    if (existing->second->enabled) {
      return Fail(WD_STATUS_RESOURCE_BUSY,
                  "interrupt " + std::to_string(r.intHandle) + " is enabled already");
    }
    // The waiters of the last enable are still leaving.
    std::unique_lock<std::mutex> relock(lock_, std::adopt_lock);
    const uint32_t handle = r.intHandle;
    waiters_left_.wait(relock, [&] { return lines_.count(handle) == 0; });
    relock.release();
  }
  auto line = std::make_unique<Line>();
  line->int_handle = r.intHandle;
  line->device = reg->device;
  line->eventfd = kernel_->EventFd();
  if (line->eventfd < 0) return FailErrno(-line->eventfd, "creating an eventfd");
  line->wakefd = kernel_->EventFd();
  if (line->wakefd < 0) {
    kernel_->Close(line->eventfd);
    return FailErrno(-line->wakefd, "creating an eventfd");
  }
  if (const int error = kernel_->SetIntxEventfd(reg->device->fd, line->eventfd); error < 0) {
    CloseLine(*line);
    return FailErrno(-error, "arming the INTx interrupt of " + reg->device->name);
  }
  line->commands = std::move(commands);
  line->options = r.options;
  line->generation = next_generation_++;
  line->enabled = true;
  lines_[r.intHandle] = std::move(line);
  return 0;
}

void VfioDriver::CloseLine(Line& line) {
  if (line.eventfd >= 0) kernel_->Close(line.eventfd);
  if (line.wakefd >= 0) kernel_->Close(line.wakefd);
  line.eventfd = line.wakefd = -1;
}

void VfioDriver::StopLine(Line& line, std::unique_lock<std::mutex>& lock) {
  (void)lock;  // held
  if (line.enabled) {
    line.enabled = false;
    kernel_->SetIntxEventfd(line.device->fd, -1);
    kernel_->Signal(line.wakefd);
  }
  if (line.waiters == 0) {
    CloseLine(line);
    lines_.erase(line.int_handle);
    waiters_left_.notify_all();
  }
}

uint32_t VfioDriver::IntDisable(WdIntRequest& r) {
  auto it = lines_.find(r.intHandle);
  if (it == lines_.end() || !it->second->enabled) {
    return Fail(WD_STATUS_NO_SUCH_CARD,
                "interrupt " + std::to_string(r.intHandle) + " is not enabled");
  }
  std::unique_lock<std::mutex> relock(lock_, std::adopt_lock);
  StopLine(*it->second, relock);
  relock.release();
  return 0;
}

uint32_t VfioDriver::IntWait(WdIntRequest& r) {
  std::unique_lock<std::mutex> guard(lock_);
  r.stopped = 1;
  auto it = lines_.find(r.intHandle);
  if (it == lines_.end() || !it->second->enabled) return 0;
  Line& line = *it->second;
  const uint64_t generation = line.generation;
  if (line.in_service) {
    // The service is back: its handler has dealt with the card, so the line may fire again.
    line.in_service = false;
    if (const int error = kernel_->UnmaskIntx(line.device->fd); error < 0) {
      return FailErrno(-error, "unmasking the INTx interrupt of " + line.device->name);
    }
  }
  ++line.waiters;
  uint64_t signals = 0;
  int error = 0;
  while (line.enabled && line.generation == generation) {
    const int eventfd = line.eventfd;
    const int wakefd = line.wakefd;
    guard.unlock();
    const int ready = kernel_->Poll(eventfd, wakefd, -1);
    guard.lock();
    if (!line.enabled || line.generation != generation) break;
    if (ready < 0) {
      error = -ready;
      break;
    }
    // Another waiter may have taken it first.
    if ((ready & 1) != 0 && kernel_->TakeCount(eventfd, &signals) == 0 && signals > 0) break;
    signals = 0;
  }
  --line.waiters;
  const bool ended = !line.enabled || line.generation != generation;
  if (ended) {
    if (line.waiters == 0 && !line.enabled) {
      CloseLine(line);
      lines_.erase(r.intHandle);
      waiters_left_.notify_all();
    }
    return 0;
  }
  if (error != 0) return FailErrno(error, "waiting for the interrupt of " + line.device->name);
  for (WdTransfer& command : line.commands) TransferLocked(command);
  ++line.counter;
  line.lost += static_cast<uint32_t>(signals - 1);
  line.in_service = true;
  r.counter = line.counter;
  r.lost = line.lost;
  r.stopped = 0;
  if ((line.options & WD_INT_OPTION_COPY_DATA) != 0 && r.commands != 0) {
    auto* out = WD_FROM_UPTR(WdTransfer*, r.commands);
    const size_t n = std::min<size_t>(r.commandCount, line.commands.size());
    for (size_t i = 0; i < n; ++i) out[i].data = line.commands[i].data;
  }
  return 0;
}

}  // namespace vfio
