// A plain RAM block for a local bus: little-endian reads and writes of 1, 2 or 4 bytes, no side
// effects. Accesses that run past its end read the missing bytes as ones and drop them on writes,
// as an unclaimed bus cycle would.
//
// A memory window that shows the whole block may keep the contents in its own pages (Adopt): the
// block then reads and writes there, so loads and stores through the window are the block's own
// and nothing is copied either way, until Release moves the contents back.
#ifndef ZARERERA_SIM_RAM_H
#define ZARERERA_SIM_RAM_H

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "sim/card_model.h"

namespace sim {

class Ram : public Region {
 public:
  explicit Ram(uint32_t size, uint8_t fill = 0) : own_(size, fill), data_(own_.data()) {}
  ~Ram() override = default;
  Ram(const Ram&) = delete;
  Ram& operator=(const Ram&) = delete;

  uint32_t Read(uint32_t offset, unsigned size) override {
    uint32_t value = 0;
    for (unsigned i = 0; i < size; i++) {
      const uint32_t at = offset + i;
      const uint32_t byte = at < own_.size() ? data_[at] : 0xFFu;
      value |= byte << (8 * i);
    }
    return value;
  }

  void Write(uint32_t offset, uint32_t value, unsigned size) override {
    for (unsigned i = 0; i < size; i++) {
      const uint32_t at = offset + i;
      if (at < own_.size()) data_[at] = static_cast<uint8_t>(value >> (8 * i));
    }
  }

  bool Adopt(uint8_t* pages, uint32_t bytes) override {
    if (data_ != own_.data() || bytes != own_.size()) return false;
    std::memcpy(pages, own_.data(), own_.size());
    data_ = pages;
    return true;
  }

  void Release(uint8_t* pages) override {
    if (data_ != pages) return;
    std::memcpy(own_.data(), pages, own_.size());
    data_ = own_.data();
  }

  // The contents, wherever they are kept now, and a copy of them.
  std::span<uint8_t> bytes() { return {data_, own_.size()}; }
  std::vector<uint8_t> contents() const { return {data_, data_ + own_.size()}; }

 private:
  std::vector<uint8_t> own_;
  uint8_t* data_;  // own_ or the pages of the window that adopted the block
};

}  // namespace sim

#endif  // ZARERERA_SIM_RAM_H
