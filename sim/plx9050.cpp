// The PLX 9050 bridge model: register file, local address decoding, EEPROM pins and the BAR0
// erratum. What it models and leaves out is listed in plx9050.h.
#include "sim/plx9050.h"

#include <algorithm>
#include <utility>

#include "sim/pci_config.h"

namespace sim {

namespace {

using namespace plx9050;

constexpr uint32_t kAllBits = 0xFFFFFFFFu;

// The low bits of a register window's version: the levels that change what it shows unwritten.
constexpr uint64_t kVersionDataOut = 1;
constexpr uint64_t kVersionPin2 = 2;
constexpr uint64_t kVersionPin1 = 4;

uint32_t Index(uint32_t offset) {
  return offset / kRegisterStride;
}

// Bits a write can change, per register. Reserved bits read 0; status bits are the bridge's own.
uint32_t WritableBits(uint32_t offset) {
  if (offset < kEromrr) return kLocalAddressBits;  // LASnRR
  if (offset == kEromrr) return 0x0FFFF800u;       // 2 KB granularity
  if (offset < kEromba) return 0x0FFFFFFDu;        // LASnBA: bit 1 reserved
  if (offset == kEromba) return 0x0FFFF800u;
  if (offset < kCs0base) return kAllBits;          // bus region descriptors
  if (offset < kIntcsr) return kLocalAddressBits;  // CSnBASE
  if (offset == kIntcsr) {
    return kIntLint1Enable | kIntLint1Polarity | kIntLint2Enable | kIntLint2Polarity |
           kIntPciEnable | kIntSoftware;
  }
  // CNTRL: data out and present are the EEPROM's; bit 31 is reserved.
  return 0x7FFFFFFFu & ~(kCntrlEeDataOut | kCntrlEePresent);
}

bool IsRegisterBar(int bar) {
  return bar == 0 || bar == 1;
}

int SpaceOfBar(int bar) {
  return bar - kFirstLocalBar;
}

}  // namespace

Plx9050::Plx9050(const Plx9050Config& cfg) : cfg_(cfg) {
  for (int space = 0; space < kLocalSpaces; space++) {
    const BarConfig& bar = cfg_.bars[space + kFirstLocalBar];
    if (bar.kind == BarKind::kNone) continue;
    const uint32_t range = ~(bar.size - 1);
    regs_[Index(kLas0rr) + space] =
        bar.kind == BarKind::kIo ? (range & kRangeIoMask) | kRangeIo : range & kRangeMemoryMask;
    regs_[Index(kLas0ba) + space] = kDefaultLocalBase[space] | kBaseEnable;
  }
}

uint32_t Plx9050::BarRead(int bar, uint32_t offset, unsigned size) {
  if (IsRegisterBar(bar)) {
    if (bar == 0 && !RegistersReachableThroughBar0()) return pci::AllOnes(size);
    // Byte by byte, so that any width at any offset sees the registers it covers.
    uint32_t value = 0;
    for (unsigned i = 0; i < size; i++) {
      const uint32_t at = offset + i;
      const uint32_t dword = ReadRegister(at & ~(kRegisterStride - 1));
      value |= ((dword >> (8 * (at % kRegisterStride))) & 0xFFu) << (8 * i);
    }
    return value;
  }
  const int space = SpaceOfBar(bar);
  if (space < 0 || space >= kLocalSpaces || !LocalSpaceEnabled(space)) return pci::AllOnes(size);
  return local_bus_.Read(LocalAddress(space, offset), size);
}

void Plx9050::BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) {
  if (IsRegisterBar(bar)) {
    if (bar == 0 && !RegistersReachableThroughBar0()) return;
    if (size == kRegisterStride && offset % kRegisterStride == 0) {
      WriteRegister(bar, offset, value);  // the whole register: nothing to merge
      return;
    }
    // Each register the write covers takes its bytes merged into its stored value.
    unsigned i = 0;
    while (i < size) {
      const uint32_t at = offset + i;
      const uint32_t reg = at & ~(kRegisterStride - 1);
      uint32_t merged = ReadRegister(reg);
      while (i < size && ((offset + i) & ~(kRegisterStride - 1)) == reg) {
        const uint32_t shift = 8 * ((offset + i) % kRegisterStride);
        const uint32_t byte = (value >> (8 * i)) & 0xFFu;
        merged = (merged & ~(0xFFu << shift)) | (byte << shift);
        i++;
      }
      WriteRegister(bar, reg, merged);
    }
    return;
  }
  const int space = SpaceOfBar(bar);
  if (space < 0 || space >= kLocalSpaces || !LocalSpaceEnabled(space)) return;
  local_bus_.Write(LocalAddress(space, offset), value, size);
}

uint32_t Plx9050::BarPeek(int bar, uint32_t offset, unsigned size) {
  if (IsRegisterBar(bar)) return BarRead(bar, offset, size);
  const int space = SpaceOfBar(bar);
  if (space < 0 || space >= kLocalSpaces || !LocalSpaceEnabled(space)) return pci::AllOnes(size);
  return local_bus_.Peek(LocalAddress(space, offset), size);
}

// The register window's read-back: the stored registers as they are (reserved ones past CNTRL
// read 0), then the two that show pins, rather than byte by byte.
void Plx9050::BarPeekDwords(int bar, uint32_t offset, uint32_t* out, uint32_t count) {
  if (!IsRegisterBar(bar) || offset % kRegisterStride != 0) {
    WindowModel::BarPeekDwords(bar, offset, out, count);
    return;
  }
  if (bar == 0 && !RegistersReachableThroughBar0()) {
    std::fill(out, out + count, 0xFFFFFFFFu);
    return;
  }
  const uint32_t first = offset / kRegisterStride;
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = first + i < kRegisterCount ? regs_[first + i] : 0;
  }
  for (const uint32_t live : {kIntcsr, kCntrl}) {
    const uint32_t index = Index(live);
    if (index >= first && index - first < count) out[index - first] = ReadRegister(live);
  }
}

void Plx9050::BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) {
  if (IsRegisterBar(bar)) {
    BarWrite(bar, offset, value, 4);
    return;
  }
  const int space = SpaceOfBar(bar);
  if (space < 0 || space >= kLocalSpaces || !LocalSpaceEnabled(space)) return;
  local_bus_.Store(LocalAddress(space, offset), value, before);
}

Region* Plx9050::PlainMemory(int bar, uint32_t offset, uint32_t bytes) {
  const int space = SpaceOfBar(bar);
  if (IsRegisterBar(bar) || space < 0 || space >= kLocalSpaces || bytes == 0) return nullptr;
  if (!LocalSpaceEnabled(space)) return nullptr;
  // Contiguous on the local bus only while the range stays below the space's address mask.
  if (offset > LocalMask(space) || bytes - 1 > LocalMask(space) - offset) return nullptr;
  return local_bus_.RegionAt(LocalAddress(space, offset), bytes);
}

uint64_t Plx9050::WindowVersion(int bar) {
  if (!IsRegisterBar(bar)) {
    // A local space that no local device answers reads all ones whatever the registers say: its
    // window need not be read back. One that a device answers is read back every time, since a
    // device's contents change without telling (counters, RAM written through requests).
    const int space = SpaceOfBar(bar);
    if (space < 0 || space >= kLocalSpaces) return 0;
    const uint32_t mask = LocalMask(space);
    const auto bytes =
        static_cast<uint32_t>(std::min<uint64_t>(cfg_.bars[bar].size, uint64_t{mask} + 1));
    const bool claimed =
        LocalSpaceEnabled(space) && local_bus_.Claims(LocalAddress(space, 0), bytes);
    return claimed ? 0 : 1;
  }
  // INTCSR's status bits follow the pins, and a board source may move a pin without anything
  // being written: their levels are part of the version, as the EEPROM's data out is.
  const bool data_out = eeprom_ != nullptr ? eeprom_->DataOut() : true;
  return changes_.generation() << 3 | (PinLevel(0) ? kVersionPin1 : 0u) |
         (PinLevel(1) ? kVersionPin2 : 0u) | (data_out ? kVersionDataOut : 0u);
}

uint64_t Plx9050::WindowChanges(int bar, uint64_t since, uint64_t now) {
  if (!IsRegisterBar(bar)) return WindowModel::WindowChanges(bar, since, now);
  uint64_t changed = changes_.ChangedSince(since >> 3);
  if ((since ^ now) & (kVersionPin1 | kVersionPin2)) changed |= uint64_t{1} << Index(kIntcsr);
  if ((since ^ now) & kVersionDataOut) changed |= uint64_t{1} << Index(kCntrl);
  return changed;
}

void Plx9050::Changed(uint32_t offset) {
  const uint32_t index = Index(offset);
  changes_.Changed(index < kRegisterBlockSize / kRegisterStride ? index : ChangeLog::kNone);
}

void Plx9050::ConfigWritten(const ConfigSpace& config) {
  changes_.Changed(ChangeLog::kNone);
  const bool reachable = RegistersReachableThroughBar0();
  uint32_t bar0 = 0;
  for (unsigned i = 0; i < 4; i++) bar0 |= static_cast<uint32_t>(config[pci::kBar0 + i]) << (8 * i);
  bar0_address_ = bar0 & pci::kBarMemAddressMask;
  if (RegistersReachableThroughBar0() != reachable) changes_.ChangedEverything();
}

std::shared_ptr<Ram> Plx9050::AttachRam(uint32_t base, uint32_t size) {
  auto ram = std::make_shared<Ram>(size);
  local_bus_.Attach(base, size, ram);
  return ram;
}

void Plx9050::AttachEeprom(std::shared_ptr<SerialEeprom> eeprom) {
  eeprom_ = std::move(eeprom);
  eeprom_present_ = eeprom_ != nullptr;
  Changed(kCntrl);
}

uint32_t Plx9050::Peek(uint32_t offset) const {
  const uint32_t index = Index(offset);
  return index < kRegisterCount ? regs_[index] : 0;
}

void Plx9050::Poke(uint32_t offset, uint32_t value) {
  const uint32_t index = Index(offset);
  if (index < kRegisterCount) regs_[index] = value;
  Changed(offset);
}

uint32_t Plx9050::LocalMask(int space) const {
  const uint32_t rr = regs_[Index(kLas0rr) + space];
  const uint32_t range = rr & ((rr & kRangeIo) ? kRangeIoMask : kRangeMemoryMask);
  return ~range & kLocalAddressBits;
}

uint32_t Plx9050::LocalAddress(int space, uint32_t offset) const {
  const uint32_t mask = LocalMask(space);
  const uint32_t base = regs_[Index(kLas0ba) + space] & kLocalAddressBits;
  return (base & ~mask) | (offset & mask);
}

bool Plx9050::LocalSpaceEnabled(int space) const {
  return (regs_[Index(kLas0ba) + space] & kBaseEnable) != 0;
}

bool Plx9050::RegistersReachableThroughBar0() const {
  return !(cfg_.bar0_bit7_erratum && (bar0_address_ & kBar0Bit7) != 0);
}

std::vector<Plx9050::RegisterWrite> Plx9050::register_writes() const {
  const auto oldest = writes_.begin() + static_cast<std::ptrdiff_t>(oldest_write_);
  std::vector<RegisterWrite> ordered(oldest, writes_.end());
  ordered.insert(ordered.end(), writes_.begin(), oldest);
  return ordered;
}

void Plx9050::set_register_write_capacity(size_t writes) {
  std::vector<RegisterWrite> ordered = register_writes();
  if (ordered.size() > writes) {
    ordered.erase(ordered.begin(), ordered.end() - static_cast<std::ptrdiff_t>(writes));
  }
  writes_ = std::move(ordered);
  oldest_write_ = 0;
  write_capacity_ = writes;
}

uint32_t Plx9050::ReadRegister(uint32_t offset) {
  if (offset == kIntcsr) return ReadIntcsr();
  if (offset == kCntrl) return ReadCntrl();
  return Peek(offset);  // beyond CNTRL: reserved, reads 0
}

void Plx9050::WriteRegister(int bar, uint32_t offset, uint32_t value) {
  if (Index(offset) >= kRegisterCount) return;
  Changed(offset);
  if (writes_.size() < write_capacity_) {
    writes_.push_back({bar, offset, value});
  } else if (write_capacity_ > 0) {
    writes_[oldest_write_] = {bar, offset, value};
    oldest_write_ = (oldest_write_ + 1) % write_capacity_;
  }
  if (offset == kIntcsr) {
    WriteIntcsr(value);
  } else if (offset == kCntrl) {
    WriteCntrl(value);
  } else {
    const uint32_t writable = WritableBits(offset);
    regs_[Index(offset)] = (regs_[Index(offset)] & ~writable) | (value & writable);
  }
}

// INTCSR: enables, polarities, the PCI interrupt enable and the software interrupt are stored;
// the status bits follow the local inputs.
uint32_t Plx9050::ReadIntcsr() const {
  const uint32_t stored = regs_[Index(kIntcsr)] & ~(kIntLint1Status | kIntLint2Status);
  uint32_t status = 0;
  if (PinLevel(0) == ((stored & kIntLint1Polarity) != 0)) status |= kIntLint1Status;
  if (PinLevel(1) == ((stored & kIntLint2Polarity) != 0)) status |= kIntLint2Status;
  return stored | status;
}

bool Plx9050::PinLevel(int index) const {
  return local_interrupt_[index] && !(pulls_low_[index] && pulls_low_[index]());
}

void Plx9050::SetLocalInterrupt(int input, bool level) {
  if (input != 1 && input != 2) return;
  auto apply = [this, input, level] {
    local_interrupt_[input - 1] = level;
    Changed(kIntcsr);
  };
  if (sources_ != nullptr) {
    sources_->Change(apply);
  } else {
    apply();
  }
}

void Plx9050::PulseLocalInterrupt(int input) {
  if (input != 1 && input != 2) return;
  auto low = [this, input] {
    local_interrupt_[input - 1] = false;
    Changed(kIntcsr);
  };
  auto high = [this, input] {
    local_interrupt_[input - 1] = true;
    Changed(kIntcsr);
  };
  if (sources_ != nullptr) {
    sources_->Change(low, high);
  } else {
    high();
  }
}

void Plx9050::DriveLocalInterrupt(int input, std::function<bool()> pulls_low) {
  if (input != 1 && input != 2) return;
  pulls_low_[input - 1] = std::move(pulls_low);
  Changed(kIntcsr);
}

bool Plx9050::InterruptRequested() const {
  const uint32_t intcsr = ReadIntcsr();
  const bool lint1 = (intcsr & kIntLint1Enable) && (intcsr & kIntLint1Status);
  const bool lint2 = (intcsr & kIntLint2Enable) && (intcsr & kIntLint2Status);
  return lint1 || lint2 || (intcsr & kIntSoftware) != 0;
}

bool Plx9050::InterruptAsserted() const {
  return (ReadIntcsr() & kIntPciEnable) != 0 && InterruptRequested();
}

void Plx9050::WriteIntcsr(uint32_t value) {
  const uint32_t writable = WritableBits(kIntcsr);
  regs_[Index(kIntcsr)] = (regs_[Index(kIntcsr)] & ~writable) | (value & writable);
}

// CNTRL: the stored bits, with data out and present taken from the EEPROM side.
uint32_t Plx9050::ReadCntrl() {
  uint32_t value = regs_[Index(kCntrl)] & ~(kCntrlEeDataOut | kCntrlEePresent);
  const bool data_out = eeprom_ != nullptr ? eeprom_->DataOut() : true;
  if (data_out) value |= kCntrlEeDataOut;
  if (eeprom_present_) value |= kCntrlEePresent;
  return value;
}

void Plx9050::WriteCntrl(uint32_t value) {
  const uint32_t writable = WritableBits(kCntrl);
  uint32_t& cntrl = regs_[Index(kCntrl)];
  cntrl = (cntrl & ~writable) | (value & writable);
  if (eeprom_ != nullptr) {
    eeprom_->Drive((cntrl & kCntrlEeSelect) != 0, (cntrl & kCntrlEeClock) != 0,
                   (cntrl & kCntrlEeDataIn) != 0);
  }
}

}  // namespace sim
