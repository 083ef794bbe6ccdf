// A plain RAM block for a local bus: little-endian reads and writes of 1, 2 or 4 bytes, no side
// effects. Accesses that run past its end read the missing bytes as ones and drop them on writes,
// as an unclaimed bus cycle would.
#ifndef ZARERERA_SIM_RAM_H
#define ZARERERA_SIM_RAM_H

#include <cstdint>
#include <vector>

#include "sim/card_model.h"

namespace sim {

class Ram : public Region {
 public:
  explicit Ram(uint32_t size, uint8_t fill = 0) : bytes_(size, fill) {}

  uint32_t Read(uint32_t offset, unsigned size) override {
    uint32_t value = 0;
    for (unsigned i = 0; i < size; i++) {
      const uint32_t at = offset + i;
      const uint32_t byte = at < bytes_.size() ? bytes_[at] : 0xFFu;
      value |= byte << (8 * i);
    }
    return value;
  }

  void Write(uint32_t offset, uint32_t value, unsigned size) override {
    for (unsigned i = 0; i < size; i++) {
      const uint32_t at = offset + i;
      if (at < bytes_.size()) bytes_[at] = static_cast<uint8_t>(value >> (8 * i));
    }
  }

  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_RAM_H
