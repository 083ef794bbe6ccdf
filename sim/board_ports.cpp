// The board's port window: byte routing to the counter groups and the digital ports.
#include "sim/board_ports.h"

namespace sim {

BoardPorts::BoardPorts(const Clock* clock, uint64_t counter_hz)
    : groups_{CounterGroup8254(clock, counter_hz), CounterGroup8254(clock, counter_hz),
              CounterGroup8254(clock, counter_hz), CounterGroup8254(clock, counter_hz)} {}

void BoardPorts::SetCounterClock(uint64_t hz) {
  for (CounterGroup8254& g : groups_) g.SetClockRate(hz);
}

uint8_t BoardPorts::ReadByte(uint32_t offset, bool peek) {
  uint8_t value = port_window::kUndriven;
  if (offset < port_window::kCounterGroups * port_window::kGroupStride) {
    CounterGroup8254& g = groups_[offset / port_window::kGroupStride];
    const uint32_t port = offset % port_window::kGroupStride;
    value = peek ? g.PeekPort(port) : static_cast<uint8_t>(g.Read(port, 1));
  } else if (offset == port_window::kDigitalIn) {
    value = digital_in_;
  }
  if (logging_) log_.push_back({offset, value, false});
  return value;
}

void BoardPorts::WriteByte(uint32_t offset, uint8_t value) {
  if (logging_) log_.push_back({offset, value, true});
  if (offset < port_window::kCounterGroups * port_window::kGroupStride) {
    groups_[offset / port_window::kGroupStride].Write(offset % port_window::kGroupStride, value, 1);
  } else if (offset == port_window::kDigitalOut) {
    digital_out_ = value;
    if (latch_history_.size() < port_window::kLatchHistory) {
      latch_history_.push_back(value);
    } else {
      latch_history_[latch_oldest_] = value;
      latch_oldest_ = (latch_oldest_ + 1) % port_window::kLatchHistory;
    }
    ++digital_out_writes_;
  }
}

std::vector<uint8_t> BoardPorts::digital_out_history() const {
  const auto oldest = static_cast<std::ptrdiff_t>(latch_oldest_);
  std::vector<uint8_t> ordered(latch_history_.begin() + oldest, latch_history_.end());
  ordered.insert(ordered.end(), latch_history_.begin(), latch_history_.begin() + oldest);
  return ordered;
}

void BoardPorts::RestoreDigitalOut(uint8_t value, uint64_t writes) {
  digital_out_ = value;
  digital_out_writes_ = writes;
  latch_history_.clear();
  latch_oldest_ = 0;
}

uint32_t BoardPorts::Read(uint32_t offset, unsigned size) {
  uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    value |= static_cast<uint32_t>(ReadByte(offset + i, false)) << (8 * i);
  }
  return value;
}

uint32_t BoardPorts::Peek(uint32_t offset, unsigned size) {
  uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    value |= static_cast<uint32_t>(ReadByte(offset + i, true)) << (8 * i);
  }
  return value;
}

// Only the bytes the store changed: the others are ports nobody wrote.
void BoardPorts::Store(uint32_t offset, uint32_t value, uint32_t before) {
  for (unsigned i = 0; i < 4; ++i) {
    const auto byte = static_cast<uint8_t>(value >> (8 * i));
    if (byte != static_cast<uint8_t>(before >> (8 * i))) WriteByte(offset + i, byte);
  }
}

void BoardPorts::Write(uint32_t offset, uint32_t value, unsigned size) {
  for (unsigned i = 0; i < size; ++i) WriteByte(offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace sim
