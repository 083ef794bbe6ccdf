// The simulated PCI bus: BAR assignment, address decoding and memory windows (see pci_bus.h).
#include "sim/pci_bus.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>

#include "sim/pci_config.h"

namespace sim {

namespace {

constexpr uint32_t kMemoryBarBase = 0xFE000000u;  // where memory BARs are assigned from
constexpr uint64_t kMemoryBarLimit = 0x100000000ull;
constexpr uint32_t kIoBarBase = 0xC000;  // where I/O BARs are assigned from
constexpr uint32_t kIoBarLimit = 0x10000;

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

// Page-aligned memory: aligned operator new rather than aligned_alloc, which the Windows C runtime
// does not have.
uint8_t* AllocatePages(size_t bytes) {
  return static_cast<uint8_t*>(::operator new (bytes, std::align_val_t{kPageSize}, std::nothrow));
}

void FreePages(uint8_t* pages) {
  ::operator delete (pages, std::align_val_t{kPageSize});
}

}  // namespace

MemoryWindow::~MemoryWindow() {
  if (lent_to_ != nullptr) lent_to_->Release(pages_);
  if (pages_ != nullptr) FreePages(pages_);
}

// A lent window whose range no longer maps to the memory keeping its pages becomes a copy: the
// memory takes its contents back, and the pages hold no store that the memory has not seen.
void MemoryWindow::CheckLent() {
  if (function_->PlainMemory(bar_, bar_offset_, modelled_) == lent_to_) return;
  lent_to_->Release(pages_);
  lent_to_ = nullptr;
  shadow_.resize(modelled_ / 4);
  std::memcpy(shadow_.data(), pages_, modelled_);
  version_ = 0;
}

// A window usually holds no store at all: one comparison of the whole says so.
void MemoryWindow::Flush() {
  if (function_ == nullptr || modelled_ == 0) return;
  if (lent_to_ != nullptr) {
    CheckLent();
    if (lent_to_ != nullptr) return;
  }
  if (std::memcmp(pages_, shadow_.data(), modelled_) == 0) return;
  // A store usually changes one dword of many: look at 32 bytes at a time (a compare of a fixed
  // size compiles to a few vector instructions), then at the dwords of a block that changed.
  constexpr uint32_t kBlock = 32;
  const uint8_t* const now_at = pages_;
  const auto* const before_at = reinterpret_cast<const uint8_t*>(shadow_.data());
  for (uint32_t block = 0; block < modelled_; block += kBlock) {
    const uint32_t end = std::min(block + kBlock, modelled_);
    if (end - block == kBlock && std::memcmp(now_at + block, before_at + block, kBlock) == 0) {
      continue;
    }
    for (uint32_t at = block; at < end; at += 4) {
      uint32_t now;
      uint32_t before;
      std::memcpy(&now, now_at + at, 4);
      std::memcpy(&before, before_at + at, 4);
      if (now == before) continue;
      const uint32_t k = at / 4;
      stored_ |= k < 64 ? uint64_t{1} << k : ~uint64_t{0};
      function_->BarStore(bar_, bar_offset_ + at, now, before);
    }
  }
}

void MemoryWindow::Refresh() {
  if (function_ == nullptr || modelled_ == 0) return;
  if (lent_to_ != nullptr) CheckLent();
  if (lent_to_ != nullptr) return;
  const uint64_t version = function_->WindowVersion(bar_);
  if (version != 0 && version == version_ && stored_ == 0) return;
  const uint32_t count = modelled_ / 4;
  const uint64_t all = count < 64 ? (uint64_t{1} << count) - 1 : ~uint64_t{0};
  uint64_t changed = all;
  if (precise_ && version != 0 && version_ != 0) {
    changed =
        (function_->WindowChanges(bar_, version_, version) >> (bar_offset_ / 4) | stored_) & all;
  }
  version_ = version;
  stored_ = 0;
  if (changed == all) {
    function_->BarPeekDwords(bar_, bar_offset_, shadow_.data(), count);
    std::memcpy(pages_, shadow_.data(), modelled_);
    return;
  }
  // Run by run of changed dwords.
  while (changed != 0) {
    const auto first = static_cast<uint32_t>(std::countr_zero(changed));
    const auto run = static_cast<uint32_t>(std::countr_one(changed >> first));
    function_->BarPeekDwords(bar_, bar_offset_ + 4 * first, shadow_.data() + first, run);
    std::memcpy(pages_ + 4 * first, shadow_.data() + first, 4 * run);
    changed &= run + first < 64 ? ~((uint64_t{1} << (first + run)) - 1) : 0;
  }
}

PciBus::PciBus() : next_memory_(kMemoryBarBase), next_io_(kIoBarBase) {}

PciFunction& PciBus::Add(const WdPciSlot& where, const FunctionConfig& cfg,
                         std::shared_ptr<CardModel> model) {
  if (slots_.count(KeyOf(where)) != 0) {
    throw std::invalid_argument("a function already sits at this slot");
  }
  std::array<uint32_t, pci::kBarCount> addresses{};
  uint64_t next_memory = next_memory_;
  uint32_t next_io = next_io_;
  for (unsigned bar = 0; bar < pci::kBarCount; ++bar) {
    const BarConfig& b = cfg.bars[bar];
    if (b.kind == BarKind::kNone) continue;
    const uint32_t minimum = b.kind == BarKind::kMemory ? 16 : 4;
    if (!IsPowerOfTwo(b.size) || b.size < minimum) {
      throw std::invalid_argument("BAR size must be a power of two of at least 16 (memory) or 4");
    }
    if (b.kind == BarKind::kMemory) {
      const uint64_t at = AlignUp(next_memory, b.size);
      if (at + b.size > kMemoryBarLimit) throw std::invalid_argument("memory space exhausted");
      addresses[bar] = static_cast<uint32_t>(at);
      next_memory = at + b.size;
    } else {
      const uint64_t at = AlignUp(next_io, b.size);
      if (at + b.size > kIoBarLimit) throw std::invalid_argument("I/O space exhausted");
      addresses[bar] = static_cast<uint32_t>(at);
      next_io = static_cast<uint32_t>(at + b.size);
    }
  }
  auto f = std::make_unique<PciFunction>(where, cfg, std::move(model), addresses);
  next_memory_ = next_memory;
  next_io_ = next_io;
  PciFunction& ref = *f;
  slots_[KeyOf(where)] = std::move(f);
  ordered_.clear();
  for (auto& [key, fn] : slots_) ordered_.push_back(fn.get());
  return ref;
}

PciFunction* PciBus::Find(const WdPciSlot& where) const {
  auto it = slots_.find(KeyOf(where));
  return it == slots_.end() ? nullptr : it->second.get();
}

PciFunction* PciBus::Decode(BarKind kind, uint32_t address, uint32_t size, int* bar,
                            uint32_t* offset) {
  LastHit& last = last_hit_[kind == BarKind::kIo ? 1 : 0];
  if (last.function != nullptr) {
    const uint32_t off = address - last.function->bar_address(last.bar);
    const uint32_t length = last.size;
    if (off < length && size <= length - off) {
      *bar = last.bar;
      *offset = off;
      return last.function;
    }
  }
  for (PciFunction* f : ordered_) {
    if (f->Decode(kind, address, size, bar, offset)) {
      last = {f, *bar, f->bar_size(*bar)};
      return f;
    }
  }
  return nullptr;
}

uint32_t PciBus::Read(BarKind kind, uint32_t address, unsigned size) {
  int bar;
  uint32_t offset;
  PciFunction* f = Decode(kind, address, size, &bar, &offset);
  return f ? f->BarRead(bar, offset, size) & pci::AllOnes(size) : pci::AllOnes(size);
}

void PciBus::Write(BarKind kind, uint32_t address, uint32_t value, unsigned size) {
  int bar;
  uint32_t offset;
  if (PciFunction* f = Decode(kind, address, size, &bar, &offset)) {
    f->BarWrite(bar, offset, value & pci::AllOnes(size), size);
  }
}

PciBus::Hit PciBus::DecodeStart(BarKind kind, uint32_t address) {
  Hit hit;
  DecodeStart(kind, address, &hit);
  return hit;
}

void PciBus::DecodeStart(BarKind kind, uint32_t address, Hit* hit) {
  *hit = Hit{kind, address};
  hit->function = Decode(kind, address, 1, &hit->bar, &hit->offset);
  // A decode that found a function left it as the last hit.
  if (hit->function != nullptr) hit->bar_size = last_hit_[kind == BarKind::kIo ? 1 : 0].size;
}

// An access that does not fit in the BAR its first byte is in may still fit in another function's
// range (BARs moved to overlap): that rare case takes the full decode.
uint32_t PciBus::Read(const Hit& at, unsigned size) {
  if (at.function == nullptr) return pci::AllOnes(size);
  if (at.offset > at.bar_size - size) return Read(at.kind, at.address, size);
  return at.function->BarRead(at.bar, at.offset, size) & pci::AllOnes(size);
}

void PciBus::Write(const Hit& at, uint32_t value, unsigned size) {
  if (at.function == nullptr) return;
  if (at.offset > at.bar_size - size) {
    Write(at.kind, at.address, value, size);
    return;
  }
  at.function->BarWrite(at.bar, at.offset, value & pci::AllOnes(size), size);
}

std::unique_ptr<MemoryWindow> PciBus::Map(uint32_t address, uint32_t bytes) {
  std::unique_ptr<MemoryWindow> w(new MemoryWindow);
  const size_t mapped = AlignUp(bytes, kPageSize);
  w->pages_ = AllocatePages(mapped);
  if (w->pages_ == nullptr) return nullptr;
  std::memset(w->pages_, 0, mapped);
  w->function_ = Decode(BarKind::kMemory, address, 1, &w->bar_, &w->bar_offset_);
  if (w->function_ == nullptr) return w;
  const uint32_t in_bar = w->function_->bar_size(w->bar_) - w->bar_offset_;
  w->modelled_ = std::min(bytes, in_bar) & ~3u;
  w->precise_ = w->bar_offset_ % 4 == 0 && w->bar_offset_ / 4 + w->modelled_ / 4 <= 64;
  Region* plain = w->function_->PlainMemory(w->bar_, w->bar_offset_, w->modelled_);
  if (plain != nullptr && plain->Adopt(w->pages_, w->modelled_)) {
    w->lent_to_ = plain;
    return w;
  }
  w->shadow_.assign(w->modelled_ / 4, 0);
  w->Refresh();
  return w;
}

}  // namespace sim
