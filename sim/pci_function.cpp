// Configuration space and BAR decoding of one simulated PCI function.
#include "sim/pci_function.h"

#include <algorithm>
#include <ostream>

#include "sim/pci_config.h"
#include "sim/window_model.h"

namespace sim {

std::ostream& operator<<(std::ostream& os, BarKind kind) {
  switch (kind) {
    case BarKind::kMemory:
      return os << "memory";
    case BarKind::kIo:
      return os << "I/O";
    default:
      return os << "none";
  }
}

namespace {

// Bits of a configuration byte that a write may change, BARs aside (they size themselves).
uint8_t WritableBits(uint32_t offset) {
  switch (offset) {
    case pci::kCommand:
      return 0xFF;  // I/O, memory, bus master, special cycles, MWI, palette snoop, parity, wait
    case pci::kCommand + 1:
      return 0x03;  // SERR# enable, fast back-to-back enable
    case pci::kCacheLineSize:
    case pci::kLatencyTimer:
    case pci::kInterruptLine:
      return 0xFF;
    default:
      return 0x00;
  }
}

bool IsBarByte(uint32_t offset) {
  return offset >= pci::kBar0 && offset < pci::kBar0 + 4 * pci::kBarCount;
}

}  // namespace

PciFunction::PciFunction(const WdPciSlot& slot, const FunctionConfig& cfg,
                         std::shared_ptr<CardModel> model,
                         const std::array<uint32_t, pci::kBarCount>& bar_addresses)
    : slot_(slot),
      cfg_(cfg),
      model_(std::move(model)),
      windows_(model_ ? model_->windows() : nullptr) {
  auto put = [this](uint32_t offset, uint32_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i)
      config_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(pci::kVendorId, cfg.vendor_id, 2);
  put(pci::kDeviceId, cfg.device_id, 2);
  // As firmware leaves a card it has configured: both address spaces decoded.
  put(pci::kCommand, pci::kCommandIoSpace | pci::kCommandMemorySpace, 2);
  put(pci::kRevision, cfg.revision, 1);
  put(pci::kClassCode, cfg.class_code, 3);
  put(pci::kHeaderType, cfg.header_type, 1);
  put(pci::kSubsystemVendorId, cfg.subsystem_vendor_id, 2);
  put(pci::kSubsystemId, cfg.subsystem_id, 2);
  put(pci::kInterruptLine, cfg.irq, 1);
  put(pci::kInterruptPin, cfg.interrupt_pin, 1);
  for (int bar = 0; bar < static_cast<int>(pci::kBarCount); ++bar) {
    StoreBar(bar, bar_addresses[bar]);
  }
}

uint32_t PciFunction::ConfigRead(uint32_t offset, unsigned size) const {
  uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i)
    value |= static_cast<uint32_t>(config_[offset + i]) << (8 * i);
  return value;
}

void PciFunction::ConfigWrite(uint32_t offset, uint32_t value, unsigned size) {
  for (unsigned i = 0; i < size; ++i) {
    const uint32_t at = offset + i;
    const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
    if (IsBarByte(at)) {
      // Merge the byte into the BAR, then let the BAR drop the bits it does not implement.
      const int bar = static_cast<int>((at - pci::kBar0) / 4);
      const uint32_t shift = 8 * ((at - pci::kBar0) % 4);
      uint32_t raw = ConfigRead(pci::kBar0 + 4 * bar, 4);
      raw = (raw & ~(0xFFu << shift)) | (static_cast<uint32_t>(byte) << shift);
      StoreBar(bar, raw);
      continue;
    }
    const uint8_t writable = WritableBits(at);
    config_[at] = static_cast<uint8_t>((config_[at] & ~writable) | (byte & writable));
  }
  if (model_) model_->ConfigWritten(config_);
}

void PciFunction::StoreBar(int bar, uint32_t value) {
  const BarConfig& b = cfg_.bars[bar];
  uint32_t stored = 0;
  if (b.kind == BarKind::kMemory) {
    stored = value & ~(b.size - 1) & pci::kBarMemAddressMask;
  } else if (b.kind == BarKind::kIo) {
    stored = (value & ~(b.size - 1) & pci::kBarIoAddressMask) | pci::kBarIo;
  }
  base_[bar] = b.kind == BarKind::kIo ? stored & pci::kBarIoAddressMask : stored;
  const uint32_t at = pci::kBar0 + 4 * static_cast<uint32_t>(bar);
  for (unsigned i = 0; i < 4; ++i) config_[at + i] = static_cast<uint8_t>(stored >> (8 * i));
}

BarKind PciFunction::bar_kind(int bar) const {
  return bar >= 0 && bar < static_cast<int>(pci::kBarCount) ? cfg_.bars[bar].kind : BarKind::kNone;
}

uint32_t PciFunction::bar_size(int bar) const {
  return bar_kind(bar) == BarKind::kNone ? 0 : cfg_.bars[bar].size;
}

uint8_t PciFunction::interrupt_line() const {
  return config_[pci::kInterruptLine];
}

bool PciFunction::Decode(BarKind kind, uint32_t address, uint32_t size, int* bar,
                         uint32_t* offset) const {
  for (int b = 0; b < static_cast<int>(pci::kBarCount); ++b) {
    const BarConfig& cfg = cfg_.bars[b];
    if (cfg.kind != kind) continue;
    const uint32_t base = base_[b];
    const uint32_t length = cfg.size;
    const uint32_t off = address - base;  // wraps to a large value below the base
    if (off < length && size <= length - off) {
      *bar = b;
      *offset = off;
      return true;
    }
  }
  return false;
}

uint32_t PciFunction::BarRead(int bar, uint32_t offset, unsigned size) const {
  return model_ ? model_->BarRead(bar, offset, size) : pci::AllOnes(size);
}

void PciFunction::BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) const {
  if (model_) model_->BarWrite(bar, offset, value, size);
}

// A model without window support is peeked by reading it and stored into a dword at a time.
uint32_t PciFunction::BarPeek(int bar, uint32_t offset, unsigned size) const {
  if (windows_) return windows_->BarPeek(bar, offset, size);
  return model_ ? model_->BarRead(bar, offset, size) : pci::AllOnes(size);
}

void PciFunction::BarPeekDwords(int bar, uint32_t offset, uint32_t* out, uint32_t count) const {
  if (windows_) {
    windows_->BarPeekDwords(bar, offset, out, count);
  } else if (model_) {
    for (uint32_t i = 0; i < count; ++i) out[i] = model_->BarRead(bar, offset + 4 * i, 4);
  } else {
    std::fill(out, out + count, 0xFFFFFFFFu);
  }
}

void PciFunction::BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) const {
  if (windows_) {
    windows_->BarStore(bar, offset, value, before);
  } else if (model_) {
    model_->BarWrite(bar, offset, value, 4);
  }
}

Region* PciFunction::PlainMemory(int bar, uint32_t offset, uint32_t bytes) const {
  return windows_ ? windows_->PlainMemory(bar, offset, bytes) : nullptr;
}

// Without a model a BAR reads all ones for ever; a model without window support cannot tell.
uint64_t PciFunction::WindowVersion(int bar) const {
  if (windows_) return windows_->WindowVersion(bar);
  return model_ ? 0 : 1;
}

uint64_t PciFunction::WindowChanges(int bar, uint64_t since, uint64_t now) const {
  if (windows_) return windows_->WindowChanges(bar, since, now);
  return model_ ? ~uint64_t{0} : 0;
}

}  // namespace sim
