// The VFIO driver's requests: card items, registrations, configuration and transfers (see
// vfio_driver.h for what each does; vfio_groups.cpp opens the functions, vfio_interrupts.cpp
// serves the interrupts).
#include "vfio/vfio_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/driver_calls.h"
#include "driver/failure_reasons.h"
#include "driver/precise_sleep.h"
#include "driver/transfer_kind.h"
#include "driver/transfer_run.h"
#include "driver/wd_status.h"
#include "vfio/vfio_driver_parts.h"

namespace vfio {

using namespace parts;  // NOLINT(google-build-using-namespace): the driver's own helpers

Binding BindingOf(VfioKernel& kernel, const std::string& sysfsRoot, const std::string& name) {
  Binding b;
  const std::string dir = sysfsRoot + "/" + name + "/";
  if (kernel.LinkName(dir + "driver", &b.driver) != 0) b.driver.clear();
  if (kernel.LinkName(dir + "iommu_group", &b.group) != 0) b.group.clear();
  return b;
}

VfioDriver::VfioDriver(std::string sysfsRoot, std::string devRoot, VfioKernel* kernel)
    : sysfs_root_(std::move(sysfsRoot)),
      dev_root_(std::move(devRoot)),
      kernel_(kernel != nullptr ? kernel : &SystemKernel()),
      page_size_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {}

VfioDriver::~VfioDriver() {
  std::unique_lock<std::mutex> guard(lock_);
  std::vector<Line*> lines;
  for (auto& [handle, line] : lines_) lines.push_back(line.get());
  for (Line* line : lines) StopLine(*line);  // may end it at once
  waiters_left_.wait(guard, [this] { return lines_.empty(); });
  for (auto& r : registrations_) ReleaseRegistration(*r);
  registrations_.clear();
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

uint32_t VfioDriver::Sleep(WdSleep& r) {
  WdPreciseSleepUs(r.microseconds);
  return 0;
}

// --- Errors

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
      const std::string text = wd::ErrnoText(error);
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
  *functions = sysfs::FunctionsIn(names);
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
  wd::ClearScan(r);
  for (const sysfs::FunctionAddress& f : functions) {
    const std::string name = sysfs::FunctionName(f);
    std::string text;
    WdPciId id{};
    if (kernel_->ReadFile(PathOf(name, "vendor"), &text) != 0 ||
        !sysfs::ParseNumberFile(text, &id.vendorId) ||
        kernel_->ReadFile(PathOf(name, "device"), &text) != 0 ||
        !sysfs::ParseNumberFile(text, &id.deviceId)) {
      continue;
    }
    if (!wd::AddScanned(r, id, WdPciSlot{f.bus, f.slot, f.function})) break;
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
    if (device->bars[bar].size == 0 || !line.used() || !line.in_records()) continue;
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

// The range of a card's item on `device`: the BAR of `lines` it is, mapped when the region can be.
uint32_t VfioDriver::RangeOf(Device* device, const std::vector<sysfs::ResourceLine>& lines,
                             WdItem& item, Range* out) {
  const auto [memory, start, bytes, bar] = wd::ItemRangeOf(item);
  const std::string& name = device->name;
  const int index = BarOf(lines, memory, start, bytes, bar);
  if (index < 0 || device->bars[index].size < bytes) {
    return Fail(WD_STATUS_INVALID_PARAMETER, std::string(memory ? "memory" : "I/O") + " range at " +
                                                 Hex(start) + " of " + std::to_string(bytes) +
                                                 " bytes is no BAR of " + name);
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
      return FailErrno(error, "mapping BAR" + std::to_string(index) + " of " + name);
    }
    range.user = static_cast<uint8_t*>(base);
    range.map_length = length;
    item.u.mem.userAddress = WD_TO_UPTR(range.user);
  }
  *out = range;
  return 0;
}

uint32_t VfioDriver::Register(WdCardRegister& r, uintptr_t handle) {
  (void)handle;  // a registration is not tied to the handle it came on
  if (r.checkLockOnly != 0) return 0;
  const uint32_t count = WdDriver_ItemCount(&r.card);
  const WdItem* first = wd::FirstRange(r.card);
  if (first == nullptr) {
    return Fail(WD_STATUS_INVALID_PARAMETER, "card has no BAR to tell its function by");
  }
  // The function: the one with a BAR where the first range starts.
  std::string name;
  std::vector<sysfs::ResourceLine> lines;
  if (!FunctionOfRange(*first, &name, &lines)) {
    const wd::ItemRange at = wd::ItemRangeOf(*first);
    return Fail(WD_STATUS_NO_SUCH_CARD, wd::NoBarAt(sysfs_root_, at.memory, at.start, at.bytes));
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
    Range range;
    if (const uint32_t status = RangeOf(device, lines, item, &range)) return fail(status);
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
    StopLine(*line->second);
    AwaitLineGone((*it)->int_handle);
    it = std::find_if(registrations_.begin(), registrations_.end(),
                      [&r](const auto& reg) { return reg->card_handle == r.cardHandle; });
    if (it == registrations_.end()) return 0;
  }
  ReleaseRegistration(**it);
  registrations_.erase(it);
  return 0;
}

uint32_t VfioDriver::Config(WdPciConfigDump& r) {
  if (const std::string refusal = wd::ConfigRefusal(r); !refusal.empty()) {
    return Fail(WD_STATUS_INVALID_PARAMETER, refusal);
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
  wd::TransferPlan plan;
  std::string error;
  if (!wd::PlanTransfer(r, &plan, &error)) return Fail(WD_STATUS_INVALID_PARAMETER, error);
  if (plan.count == 0) return 0;
  const wd::TransferKind c = plan.kind;
  const Range* range = Covering(c.memory, r.address, plan.span);
  if (range == nullptr) {
    return Fail(WD_STATUS_INVALID_PARAMETER, wd::NotCovered(c.memory, r.address, plan.span));
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

}  // namespace vfio
