// The board's 32-byte port window on the bridge's local bus: four groups of three 8254-style
// counters and a control port at 4 * g + 0..3, the digital input byte at 0x10 and the digital
// output latch at 0x14.
//
// The board is an 8-bit device: a wider access is split into byte accesses, lowest offset first,
// little-endian. The digital input is whatever the test or host sets; the output latch is
// write-only (reads float to 0xFF, like every port nothing drives) and counts its writes.
//
// Behind an I/O range every access is a request and reaches the ports one by one. A memory window
// over the ports peeks (a counter shows its next byte, but nothing latches or flips) and hands on
// only the bytes a store changed: a counter cannot be read through such a window, and writing the
// value the window already shows is not seen.
#ifndef ZARERERA_SIM_BOARD_PORTS_H
#define ZARERERA_SIM_BOARD_PORTS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/card_model.h"
#include "sim/counter8254.h"

namespace sim {

// The board's port window as the model decodes it.
namespace port_window {
constexpr uint32_t kWindowBytes = 32;
constexpr uint32_t kCounterGroups = 4;
constexpr uint32_t kGroupStride = 4;  // group g at 4 * g
constexpr uint32_t kDigitalIn = 0x10;
constexpr uint32_t kDigitalOut = 0x14;
constexpr uint8_t kUndriven = 0xFF;
constexpr size_t kLatchHistory = 4096;  // output latch writes kept for inspection
}  // namespace port_window

class BoardPorts : public Region {
 public:
  // One byte access that reached the board.
  struct Access {
    uint32_t offset;
    uint8_t value;
    bool write;
    bool operator==(const Access&) const = default;
  };

  explicit BoardPorts(const Clock* clock, uint64_t counter_hz = CounterGroup8254::kDefaultClockHz);

  uint32_t Read(uint32_t offset, unsigned size) override;
  void Write(uint32_t offset, uint32_t value, unsigned size) override;
  uint32_t Peek(uint32_t offset, unsigned size) override;
  void Store(uint32_t offset, uint32_t value, uint32_t before) override;

  CounterGroup8254& group(uint32_t g) { return groups_[g]; }
  void SetCounterClock(uint64_t hz);

  void set_digital_in(uint8_t value) { digital_in_ = value; }
  uint8_t digital_in() const { return digital_in_; }
  uint8_t digital_out() const { return digital_out_; }
  uint64_t digital_out_writes() const { return digital_out_writes_; }
  // The values written to the output latch, oldest first: the latest kLatchHistory of them.
  std::vector<uint8_t> digital_out_history() const;
  // Restores the latch and its write count (a saved machine); the history starts empty.
  void RestoreDigitalOut(uint8_t value, uint64_t writes);

  // Byte accesses, when logging is on (off by default: a console session may run for hours).
  void set_logging(bool on) { logging_ = on; }
  const std::vector<Access>& log() const { return log_; }
  void ClearLog() { log_.clear(); }

 private:
  uint8_t ReadByte(uint32_t offset, bool peek);
  void WriteByte(uint32_t offset, uint8_t value);

  std::array<CounterGroup8254, port_window::kCounterGroups> groups_;
  uint8_t digital_in_ = 0;
  uint8_t digital_out_ = 0;
  uint64_t digital_out_writes_ = 0;
  std::vector<uint8_t> latch_history_;  // a ring once full, its oldest entry at latch_oldest_
  size_t latch_oldest_ = 0;
  bool logging_ = false;
  std::vector<Access> log_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_BOARD_PORTS_H
