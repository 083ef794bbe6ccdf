// The Linux sysfs driver: request dispatch, the scan, card items, registrations and transfers (see
// sysfs_driver.h for what each request does). Parsing of the files lives in sysfs_tree.cpp, the
// file operations behind sysfs_files.h.
#include "linux/sysfs_driver.h"

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

namespace sysfs {

namespace {

constexpr size_t kMaxFileBytes = size_t{64} * 1024;  // the small text files read whole
constexpr char kVersionText[] = "zarerera Linux sysfs driver";
using wd::Hex;

}  // namespace

struct SysfsDriver::Range {
  bool memory = false;
  uint32_t start = 0;
  uint32_t bytes = 0;
  std::string path;          // the resourceN file
  int fd = -1;               // I/O ranges
  uint8_t* user = nullptr;   // memory ranges: the BAR's first byte in the mapping
  void* map_base = nullptr;  // memory ranges: the mapping, whole pages
  size_t map_length = 0;
};

struct SysfsDriver::Registration {
  uint32_t card_handle = 0;
  std::vector<Range> ranges;
};

struct SysfsDriver::Function {
  FunctionAddress address;
  std::vector<ResourceLine> lines;
};

SysfsDriver::SysfsDriver(std::string root, Access access, SysfsFiles* files)
    : root_(std::move(root)),
      access_(access),
      files_(files != nullptr ? files : &SystemFiles()),
      page_size_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {}

SysfsDriver::~SysfsDriver() {
  for (auto& r : registrations_) Release(*r);
}

int SysfsDriver::registrations() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(registrations_.size());
}

int SysfsDriver::open_files() const {
  std::lock_guard<std::mutex> guard(lock_);
  int n = 0;
  for (const auto& r : registrations_) {
    for (const Range& range : r->ranges) n += range.fd >= 0 ? 1 : 0;
  }
  return n;
}

uint32_t SysfsDriver::Sleep(WdSleep& r) {
  WdPreciseSleepUs(r.microseconds);
  return 0;
}

// --- Errors

uint32_t SysfsDriver::FailErrno(int error, const char* doing, const std::string& path) {
  switch (error) {
    case EACCES:
    case EPERM:
      return Fail(WD_STATUS_RESOURCE_BUSY,
                  std::string("permission denied: ") + doing + " " + path + " needs root");
    case EBUSY:
      return Fail(WD_STATUS_RESOURCE_BUSY, std::string("busy: ") + doing + " " + path);
    case ENOENT:
    case ENXIO:
      return Fail(WD_STATUS_NO_SUCH_CARD, std::string("no such file: ") + doing + " " + path);
    case ENODEV:
      // A file opened before its function was removed from the bus (echo 1 > .../remove): the
      // kernel answers every later access on it so.
      return Fail(WD_STATUS_NO_SUCH_CARD, std::string("device removed: ") + doing + " " + path);
    case ENOMEM:
      return Fail(WD_STATUS_NO_MEMORY, std::string("out of memory: ") + doing + " " + path);
    default: {
      const std::string text = wd::ErrnoText(error);
      return Fail(WD_STATUS_INVALID_PARAMETER, text + ": " + doing + " " + path);
    }
  }
}

// --- Files

std::string SysfsDriver::PathOf(const FunctionAddress& f, const char* file) const {
  return root_ + "/" + FunctionName(f) + "/" + file;
}

uint32_t SysfsDriver::ReadText(const std::string& path, std::string* text) {
  const int fd = files_->Open(path, false);
  if (fd < 0) return FailErrno(-fd, "reading", path);
  text->clear();
  char chunk[1024];
  for (;;) {
    const long n = files_->Read(fd, chunk, sizeof chunk, text->size());
    if (n < 0) {
      files_->Close(fd);
      return FailErrno(static_cast<int>(-n), "reading", path);
    }
    if (n == 0) break;
    text->append(chunk, static_cast<size_t>(n));
    if (text->size() > kMaxFileBytes) {
      files_->Close(fd);
      return Fail(WD_STATUS_INVALID_PARAMETER, "too long: " + path);
    }
  }
  files_->Close(fd);
  return 0;
}

uint32_t SysfsDriver::ReadResource(const FunctionAddress& f, std::vector<ResourceLine>* lines) {
  const std::string path = PathOf(f, "resource");
  std::string text;
  if (const uint32_t status = ReadText(path, &text)) return status;
  unsigned bad = 0;
  if (!ParseResource(text, lines, &bad)) {
    return Fail(WD_STATUS_INVALID_PARAMETER,
                "malformed: line " + std::to_string(bad) + " of " + path);
  }
  return 0;
}

bool SysfsDriver::ReadIds(const FunctionAddress& f, uint32_t* vendor, uint32_t* device) {
  const std::string config = PathOf(f, "config");
  const int fd = files_->Open(config, false);
  if (fd >= 0) {
    uint8_t id[4] = {};
    const long n = files_->Read(fd, id, sizeof id, 0);
    files_->Close(fd);
    if (n == static_cast<long>(sizeof id)) {
      *vendor = static_cast<uint32_t>(id[0] | id[1] << 8);
      *device = static_cast<uint32_t>(id[2] | id[3] << 8);
      return true;
    }
  }
  std::string text;
  if (ReadText(PathOf(f, "vendor"), &text) != 0 || !ParseNumberFile(text, vendor)) return false;
  if (ReadText(PathOf(f, "device"), &text) != 0 || !ParseNumberFile(text, device)) return false;
  return true;
}

uint32_t SysfsDriver::ListFunctions(std::vector<FunctionAddress>* functions) {
  std::vector<std::string> names;
  if (const int error = files_->List(root_, &names); error < 0) {
    return FailErrno(-error, "listing", root_);
  }
  *functions = FunctionsIn(names);
  return 0;
}

// --- Requests

uint32_t SysfsDriver::Version(WdVersion& r) {
  r.version = kVersion;
  std::memset(r.text, 0, sizeof r.text);
  std::snprintf(r.text, sizeof r.text, "%s", kVersionText);
  return 0;
}

uint32_t SysfsDriver::Scan(WdPciScan& r) {
  std::vector<FunctionAddress> functions;
  if (const uint32_t status = ListFunctions(&functions)) return status;
  wd::ClearScan(r);
  for (const FunctionAddress& f : functions) {
    WdPciId id{};
    if (!ReadIds(f, &id.vendorId, &id.deviceId)) continue;  // the reason is kept
    if (!wd::AddScanned(r, id, WdPciSlot{f.bus, f.slot, f.function})) break;
  }
  return 0;
}

uint32_t SysfsDriver::CardInfo(WdPciCardInfo& r) {
  const FunctionAddress f{0, r.pciSlot.bus, r.pciSlot.slot, r.pciSlot.function};
  std::vector<ResourceLine> lines;
  if (const uint32_t status = ReadResource(f, &lines)) return status;
  std::string irqText;
  uint32_t irq = 0;
  const std::string irqPath = PathOf(f, "irq");
  if (ReadText(irqPath, &irqText) == 0 && !ParseNumberFile(irqText, &irq)) {
    return Fail(WD_STATUS_INVALID_PARAMETER, "malformed: " + irqPath);
  }
  WdCard card{};
  for (unsigned bar = 0; bar < kBarLines && bar < lines.size(); ++bar) {
    const ResourceLine& line = lines[bar];
    if (!line.used() || !line.in_records()) continue;
    const auto start = static_cast<uint32_t>(line.start);
    const auto bytes = static_cast<uint32_t>(line.bytes());
    if (line.io()) {
      wd::AddIoItem(card, bar, start, bytes);
    } else {
      wd::AddMemoryItem(card, bar, start, bytes);
    }
  }
  if (irq != 0) wd::AddInterruptItem(card, irq);
  r.card = card;
  return 0;
}

uint32_t SysfsDriver::MapRange(const WdItem& item, const std::vector<Function>& functions,
                               Range* range) {
  // Plain copies, not a structured binding: the lambda below captures them, which clang 14 does
  // not allow of a binding.
  const wd::ItemRange at = wd::ItemRangeOf(item);
  const bool memory = at.memory;
  const uint32_t start = at.start;
  const uint32_t bytes = at.bytes;
  const uint32_t bar = at.bar;
  auto matches = [&](const ResourceLine& line) {
    return line.used() && line.io() != memory && line.start == start &&
           uint64_t{bytes} <= line.bytes();
  };
  // The function whose BAR starts there: the item's own BAR number first, then any.
  const Function* owner = nullptr;
  unsigned index = 0;
  for (const Function& f : functions) {
    if (bar < kBarLines && bar < f.lines.size() && matches(f.lines[bar])) {
      owner = &f;
      index = bar;
      break;
    }
  }
  for (size_t i = 0; owner == nullptr && i < functions.size(); ++i) {
    for (unsigned b = 0; b < kBarLines && b < functions[i].lines.size(); ++b) {
      if (matches(functions[i].lines[b])) {
        owner = &functions[i];
        index = b;
        break;
      }
    }
  }
  if (owner == nullptr) {
    return Fail(WD_STATUS_NO_SUCH_CARD, wd::NoBarAt(root_, memory, start, bytes));
  }
  const std::string file = "resource" + std::to_string(index);
  range->memory = memory;
  range->start = start;
  range->bytes = bytes;
  range->path = PathOf(owner->address, file.c_str());
  const int fd = files_->Open(range->path, true);
  if (fd < 0) return FailErrno(-fd, "opening", range->path);
  if (!memory) {
    range->fd = fd;
    return 0;
  }
  // The file maps from the page that holds the BAR's start.
  const size_t inPage = start % page_size_;
  range->map_length = (inPage + bytes + page_size_ - 1) / page_size_ * page_size_;
  int error = 0;
  range->map_base = files_->Map(fd, range->map_length, &error);
  files_->Close(fd);  // the mapping stays without it
  if (range->map_base == nullptr) return FailErrno(error, "mapping", range->path);
  range->user = static_cast<uint8_t*>(range->map_base) + inPage;
  return 0;
}

void SysfsDriver::Release(Registration& registration) {
  for (Range& range : registration.ranges) {
    if (range.map_base != nullptr) files_->Unmap(range.map_base, range.map_length);
    if (range.fd >= 0) files_->Close(range.fd);
  }
  registration.ranges.clear();
  last_hit_[0] = last_hit_[1] = nullptr;
}

uint32_t SysfsDriver::Register(WdCardRegister& r, uintptr_t device) {
  (void)device;  // a registration here is not tied to the handle it came on
  if (access_ == Access::kReadOnly) {
    return Fail(WD_STATUS_RESOURCE_BUSY, "read-only: card registration refused");
  }
  if (r.checkLockOnly != 0) return 0;  // nothing is registered

  std::vector<FunctionAddress> addresses;
  if (const uint32_t status = ListFunctions(&addresses)) return status;
  std::vector<Function> functions;
  for (const FunctionAddress& a : addresses) {
    Function f{a, {}};
    if (ReadResource(a, &f.lines) == 0) functions.push_back(std::move(f));
  }

  auto reg = std::make_unique<Registration>();
  const uint32_t count = WdDriver_ItemCount(&r.card);
  for (uint32_t i = 0; i < count; ++i) {
    WdItem& item = r.card.items[i];
    const bool range = wd::IsRange(item);
    if (range) {
      Range mapped;
      if (const uint32_t status = MapRange(item, functions, &mapped)) {
        reg->ranges.push_back(std::move(mapped));  // whatever part of it was acquired
        Release(*reg);
        return status;
      }
      if (mapped.memory) item.u.mem.userAddress = WD_TO_UPTR(mapped.user);
      reg->ranges.push_back(std::move(mapped));
    } else if (item.kind == WD_ITEM_INTERRUPT) {
      item.u.interrupt.intHandle = next_int_handle_++;
    }
  }
  reg->card_handle = next_card_handle_++;
  if (next_card_handle_ == 0) next_card_handle_ = 1;
  r.cardHandle = reg->card_handle;
  registrations_.push_back(std::move(reg));
  return 0;
}

uint32_t SysfsDriver::Unregister(WdCardRegister& r) {
  auto it = std::find_if(registrations_.begin(), registrations_.end(), [&r](const auto& reg) {
    return r.cardHandle != 0 && reg->card_handle == r.cardHandle;
  });
  if (it == registrations_.end()) {
    return Fail(WD_STATUS_NO_SUCH_CARD, "unknown card handle " + std::to_string(r.cardHandle));
  }
  Release(**it);
  registrations_.erase(it);
  return 0;
}

uint32_t SysfsDriver::Config(WdPciConfigDump& r) {
  if (const std::string refusal = wd::ConfigRefusal(r); !refusal.empty()) {
    return Fail(WD_STATUS_INVALID_PARAMETER, refusal);
  }
  const FunctionAddress f{0, r.pciSlot.bus, r.pciSlot.slot, r.pciSlot.function};
  const std::string path = PathOf(f, "config");
  const bool write = r.isRead == 0;
  if (write && access_ == Access::kReadOnly) {
    return Fail(WD_STATUS_RESOURCE_BUSY, "read-only: writing " + path + " refused");
  }
  const int fd = files_->Open(path, write);
  if (fd < 0) return FailErrno(-fd, write ? "writing" : "reading", path);
  auto* buffer = WD_FROM_UPTR(uint8_t*, r.buffer);
  uint8_t bytes[4] = {};
  long n;
  if (write) {
    std::memcpy(bytes, buffer, r.bytes);
    n = files_->Write(fd, bytes, r.bytes, r.offset);
  } else {
    n = files_->Read(fd, bytes, r.bytes, r.offset);
  }
  files_->Close(fd);
  if (n < 0) return FailErrno(static_cast<int>(-n), write ? "writing" : "reading", path);
  if (n != static_cast<long>(r.bytes)) {
    return Fail(WD_STATUS_INVALID_PARAMETER,
                std::string("short ") + (write ? "write" : "read") + ": " + std::to_string(n) +
                    " of " + std::to_string(r.bytes) + " bytes at " + Hex(r.offset) + " of " +
                    path + (write ? "" : " (only root reads past the first 64 bytes)"));
  }
  if (!write) std::memcpy(buffer, bytes, r.bytes);
  return 0;
}

const SysfsDriver::Range* SysfsDriver::Covering(bool memory, uint32_t address, uint64_t bytes) {
  auto covers = [&](const Range* range) {
    return range->memory == memory && address >= range->start &&
           uint64_t{address} - range->start + bytes <= range->bytes;
  };
  const Range*& last = last_hit_[memory ? 1 : 0];
  if (last != nullptr && covers(last)) return last;
  for (const auto& reg : registrations_) {
    for (const Range& range : reg->ranges) {
      if (covers(&range)) return last = &range;
    }
  }
  return nullptr;
}

uint32_t SysfsDriver::Transfer(WdTransfer& r) {
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
        if (c.memory) {
          if (c.write) {
            wd::StoreWidth(range->user + offset, *value, c.width);
          } else {
            *value = wd::LoadWidth(range->user + offset, c.width);
          }
          return 0;
        }
        const long n = c.write ? files_->Write(range->fd, value, c.width, offset)
                               : files_->Read(range->fd, value, c.width, offset);
        if (n < 0) {
          return FailErrno(static_cast<int>(-n), c.write ? "writing" : "reading", range->path);
        }
        if (n != static_cast<long>(c.width)) {
          return Fail(WD_STATUS_INVALID_PARAMETER, std::string("short ") +
                                                       (c.write ? "write" : "read") + " at " +
                                                       Hex(offset) + " of " + range->path);
        }
        return 0;
      });
}

}  // namespace sysfs
