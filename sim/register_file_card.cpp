// The generic card: plain storage behind each BAR.
#include "sim/register_file_card.h"

#include "sim/pci_config.h"

namespace sim {

namespace {
constexpr int kBars = static_cast<int>(pci::kBarCount);
}  // namespace

RegisterFileCard::RegisterFileCard(const FunctionConfig& cfg) : storage_(kBars) {
  for (int bar = 0; bar < kBars; ++bar) {
    if (cfg.bars[bar].kind != BarKind::kNone) storage_[bar].assign(cfg.bars[bar].size, 0);
  }
}

bool RegisterFileCard::InRange(int bar, uint32_t offset, unsigned size) const {
  if (bar < 0 || bar >= kBars || size == 0 || size > 4) return false;
  const size_t length = storage_[bar].size();
  return offset < length && size <= length - offset;
}

uint32_t RegisterFileCard::Peek(int bar, uint32_t offset, unsigned size) const {
  if (!InRange(bar, offset, size)) return pci::AllOnes(size);
  uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) value |= uint32_t{storage_[bar][offset + i]} << (8 * i);
  return value;
}

void RegisterFileCard::Poke(int bar, uint32_t offset, uint32_t value, unsigned size) {
  if (!InRange(bar, offset, size)) return;
  ++generation_;
  for (unsigned i = 0; i < size; ++i)
    storage_[bar][offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t RegisterFileCard::BarRead(int bar, uint32_t offset, unsigned size) {
  const uint32_t value = Peek(bar, offset, size);
  accesses_.push_back({bar, offset, value, size, false});
  return value;
}

void RegisterFileCard::BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) {
  accesses_.push_back({bar, offset, value, size, true});
  Poke(bar, offset, value, size);
}

void RegisterFileCard::ConfigWritten(const ConfigSpace& config) {
  (void)config;
  ++config_writes_;
}

}  // namespace sim
