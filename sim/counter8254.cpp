// The 8254-style counter and counter group: byte protocol, modes and closed-form counting.
#include "sim/counter8254.h"

#include "sim/clock.h"

namespace sim {

namespace {
constexpr uint64_t kNsPerSecond = 1000000000u;
}  // namespace

uint16_t Counter8254::Encode(uint32_t value) const {
  if (!bcd()) return static_cast<uint16_t>(value);
  uint16_t out = 0;
  for (int shift = 0; shift < 16; shift += 4) {
    out = static_cast<uint16_t>(out | ((value % 10) << shift));
    value /= 10;
  }
  return out;
}

uint32_t Counter8254::Decode(uint16_t raw) const {
  if (!bcd()) return raw;
  uint32_t value = 0;
  for (int shift = 12; shift >= 0; shift -= 4) value = value * 10 + ((raw >> shift) & 0xF);
  return value % i8254::kBcdModulus;  // digits above 9 are illegal; keep the value in range
}

uint16_t Counter8254::count() const {
  return Encode(value_ % modulus());
}

void Counter8254::WriteControl(uint8_t control) {
  control_ = control & i8254::kProgramMask;
  int mode = (control_ & i8254::kModeMask) >> i8254::kModeShift;
  if (mode > 5) mode -= 4;  // 6 and 7 are 2 and 3
  mode_ = static_cast<CounterMode>(mode);
  state_ = State::kIdle;
  write_msb_next_ = false;
  read_msb_next_ = false;
  count_latched_ = false;
  status_latched_ = false;
  null_count_ = true;
  terminal_seen_ = false;
  // Interrupt on terminal count starts with OUT low, every other mode with OUT high.
  out_ = mode_ != CounterMode::kInterruptOnTerminalCount;
}

void Counter8254::LatchCount() {
  if (count_latched_) return;
  latched_count_ = count();
  count_latched_ = true;
}

void Counter8254::LatchStatus() {
  if (status_latched_) return;
  latched_status_ = static_cast<uint8_t>((out_ ? i8254::kStatusOut : 0) |
                                         (null_count_ ? i8254::kStatusNullCount : 0) | control_);
  status_latched_ = true;
}

void Counter8254::WriteCount(uint8_t byte) {
  uint16_t raw = 0;
  switch (AccessBits()) {
    case i8254::kAccessLsb:
      raw = byte;
      break;
    case i8254::kAccessMsb:
      raw = static_cast<uint16_t>(byte << 8);
      break;
    case i8254::kAccessLsbMsb:
      if (!write_msb_next_) {
        pending_lsb_ = byte;
        write_msb_next_ = true;
        if (mode_ == CounterMode::kInterruptOnTerminalCount) {
          // In mode 0 the first byte of a new count stops the counter and drops OUT at once.
          out_ = false;
          if (state_ == State::kCounting || state_ == State::kLoadPending) state_ = State::kIdle;
        }
        return;
      }
      raw = static_cast<uint16_t>((byte << 8) | pending_lsb_);
      write_msb_next_ = false;
      break;
    default:
      return;  // never programmed: the counter does not know how to take the byte
  }
  count_register_ = Decode(raw);
  if (count_register_ == 0) count_register_ = modulus();
  null_count_ = true;
  CountWritten();
}

void Counter8254::CountWritten() {
  switch (mode_) {
    case CounterMode::kInterruptOnTerminalCount:
      out_ = false;
      state_ = State::kLoadPending;
      break;
    case CounterMode::kSoftwareStrobe:
      state_ = State::kLoadPending;
      break;
    case CounterMode::kHardwareOneShot:
    case CounterMode::kHardwareStrobe:
      // Hardware triggered: the count waits for a GATE rising edge; a running one-shot is not
      // disturbed.
      if (state_ == State::kIdle) state_ = State::kWaitTrigger;
      break;
    case CounterMode::kRateGenerator:
    case CounterMode::kSquareWave:
      // The first count starts the counter; later ones wait for the next reload.
      if (state_ == State::kIdle || state_ == State::kWaitTrigger) {
        state_ = gate_ ? State::kLoadPending : State::kWaitTrigger;
      }
      break;
  }
}

void Counter8254::Load() {
  const uint32_t n = count_register_;
  null_count_ = false;
  terminal_seen_ = false;
  state_ = State::kCounting;
  switch (mode_) {
    case CounterMode::kInterruptOnTerminalCount:
    case CounterMode::kHardwareOneShot:
      value_ = n % modulus();
      out_ = false;  // a one-shot's pulse starts with the load
      break;
    case CounterMode::kRateGenerator:
      period_ = n;
      value_ = n;
      out_ = value_ != 1;
      break;
    case CounterMode::kSquareWave:
      period_ = n;
      high_half_ = true;
      out_ = true;
      value_ = (n & 1) ? n - 1 : n;
      break;
    case CounterMode::kSoftwareStrobe:
    case CounterMode::kHardwareStrobe:
      value_ = n % modulus();
      out_ = true;
      break;
  }
}

void Counter8254::Preload(uint16_t raw) {
  const uint32_t m = modulus();
  uint32_t value = Decode(raw) % m;
  const bool periodic = mode_ == CounterMode::kRateGenerator || mode_ == CounterMode::kSquareWave;
  // Modes 2 and 3 never hold 0: their top count is the modulus, which reads as 0.
  if (periodic && value == 0) value = m;
  if (state_ == State::kLoadPending) Load();
  value_ = value;
  terminal_seen_ = false;
}

Counter8254::Snapshot Counter8254::snapshot() const {
  Snapshot s;
  s.control = control_;
  s.mode = static_cast<uint8_t>(mode_);
  s.state = static_cast<uint8_t>(state_);
  s.count_register = count_register_;
  s.pending_lsb = pending_lsb_;
  s.write_msb_next = write_msb_next_;
  s.read_msb_next = read_msb_next_;
  s.value = value_;
  s.period = period_;
  s.high_half = high_half_;
  s.terminal_seen = terminal_seen_;
  s.out = out_;
  s.gate = gate_;
  s.null_count = null_count_;
  s.count_latched = count_latched_;
  s.latched_count = latched_count_;
  s.status_latched = status_latched_;
  s.latched_status = latched_status_;
  return s;
}

bool Counter8254::Restore(const Snapshot& s) {
  const uint32_t m = (s.control & i8254::kBcd) != 0 ? i8254::kBcdModulus : i8254::kBinaryModulus;
  if (s.control > i8254::kProgramMask ||
      s.mode > static_cast<uint8_t>(CounterMode::kHardwareStrobe) ||
      s.state > static_cast<uint8_t>(State::kWaitTrigger) || s.count_register == 0 ||
      s.count_register > m || s.period == 0 || s.period > m || s.value > m) {
    return false;
  }
  control_ = s.control;
  mode_ = static_cast<CounterMode>(s.mode);
  state_ = static_cast<State>(s.state);
  count_register_ = s.count_register;
  pending_lsb_ = s.pending_lsb;
  write_msb_next_ = s.write_msb_next;
  read_msb_next_ = s.read_msb_next;
  value_ = s.value;
  period_ = s.period;
  high_half_ = s.high_half;
  terminal_seen_ = s.terminal_seen;
  out_ = s.out;
  gate_ = s.gate;
  null_count_ = s.null_count;
  count_latched_ = s.count_latched;
  latched_count_ = s.latched_count;
  status_latched_ = s.status_latched;
  latched_status_ = s.latched_status;
  return true;
}

void Counter8254::Pulse(uint64_t pulses) {
  while (pulses > 0) {
    switch (state_) {
      case State::kIdle:
      case State::kWaitTrigger:
        return;
      case State::kLoadPending:
        Load();
        --pulses;
        break;
      case State::kCounting:
        Advance(pulses);
        return;
    }
  }
}

void Counter8254::Advance(uint64_t pulses) {
  switch (mode_) {
    case CounterMode::kInterruptOnTerminalCount:
    case CounterMode::kSoftwareStrobe:
      if (!gate_) return;  // GATE low holds the count
      AdvanceOneShot(pulses);
      break;
    case CounterMode::kHardwareOneShot:
    case CounterMode::kHardwareStrobe:
      AdvanceOneShot(pulses);
      break;
    case CounterMode::kRateGenerator:
      AdvanceRate(pulses);
      break;
    case CounterMode::kSquareWave:
      AdvanceSquare(pulses);
      break;
  }
}

// Modes 0, 1, 4, 5: count down and wrap; the first time the count reaches zero OUT goes high
// (0, 1) or strobes low for one pulse (4, 5).
void Counter8254::AdvanceOneShot(uint64_t pulses) {
  const uint32_t m = modulus();
  const uint64_t to_zero = value_ == 0 ? m : value_;
  const bool expires_now = !terminal_seen_ && pulses >= to_zero;
  if (mode_ == CounterMode::kInterruptOnTerminalCount || mode_ == CounterMode::kHardwareOneShot) {
    if (expires_now) out_ = true;
  } else {
    out_ = !(expires_now && pulses == to_zero);
  }
  if (expires_now) terminal_seen_ = true;
  value_ = static_cast<uint32_t>((value_ + m - pulses % m) % m);
}

// Mode 2: N, N-1, ..., 1, then the count register reloads; OUT is low while the count is 1.
void Counter8254::AdvanceRate(uint64_t pulses) {
  if (pulses >= value_) {
    pulses -= value_;
    period_ = count_register_;
    null_count_ = false;
    value_ = static_cast<uint32_t>(period_ - pulses % period_);
  } else {
    value_ -= static_cast<uint32_t>(pulses);
  }
  out_ = value_ != 1;
}

// Mode 3: each half period counts down by two from N (odd N: from N - 1, with one extra pulse at
// zero in the high half); at the end of a half OUT toggles and the count register reloads.
void Counter8254::AdvanceSquare(uint64_t pulses) {
  while (pulses > 0) {
    const bool odd = (period_ & 1) != 0;
    uint64_t to_reload = (odd && high_half_) ? value_ / 2 + 1 : value_ / 2;
    if (to_reload == 0) to_reload = 1;  // an illegal count of 1
    if (pulses < to_reload) {
      value_ -= static_cast<uint32_t>(2 * pulses);
      return;
    }
    pulses -= to_reload;
    high_half_ = !high_half_;
    out_ = high_half_;
    period_ = count_register_;
    null_count_ = false;
    value_ = (period_ & 1) ? period_ - 1 : period_;
    if (high_half_) pulses %= period_;  // a whole period later the counter is back here
  }
}

void Counter8254::SetGate(bool high) {
  if (high == gate_) return;
  const bool rising = high;
  gate_ = high;
  switch (mode_) {
    case CounterMode::kHardwareOneShot:
    case CounterMode::kHardwareStrobe:
      if (rising && state_ != State::kIdle) state_ = State::kLoadPending;
      break;
    case CounterMode::kRateGenerator:
    case CounterMode::kSquareWave:
      if (!rising) {
        out_ = true;
        if (state_ == State::kCounting || state_ == State::kLoadPending) {
          state_ = State::kWaitTrigger;
        }
      } else if (state_ == State::kWaitTrigger) {
        state_ = State::kLoadPending;
      }
      break;
    case CounterMode::kInterruptOnTerminalCount:
    case CounterMode::kSoftwareStrobe:
      break;  // GATE only enables counting
  }
}

uint8_t Counter8254::SelectByte(uint16_t value, bool msb_next) const {
  switch (AccessBits()) {
    case i8254::kAccessMsb:
      return static_cast<uint8_t>(value >> 8);
    case i8254::kAccessLsbMsb:
      return static_cast<uint8_t>(msb_next ? value >> 8 : value);
    default:
      return static_cast<uint8_t>(value);
  }
}

uint8_t Counter8254::PeekCount() const {
  if (status_latched_) return latched_status_;
  return SelectByte(count_latched_ ? latched_count_ : count(), read_msb_next_);
}

uint8_t Counter8254::ReadCount() {
  if (status_latched_) {
    status_latched_ = false;
    return latched_status_;
  }
  const uint8_t byte = SelectByte(count_latched_ ? latched_count_ : count(), read_msb_next_);
  if (AccessBits() == i8254::kAccessLsbMsb) {
    if (read_msb_next_) count_latched_ = false;
    read_msb_next_ = !read_msb_next_;
  } else {
    count_latched_ = false;
  }
  return byte;
}

CounterGroup8254::CounterGroup8254(const Clock* clock, uint64_t hz)
    : clock_(clock),
      hz_(hz),
      origin_ns_(clock != nullptr ? clock->NowNs() : 0),
      synced_ns_(origin_ns_) {}

uint64_t CounterGroup8254::TicksAt(uint64_t now_ns) const {
  if (clock_ == nullptr || hz_ == 0) return base_ticks_;
  const uint64_t elapsed = now_ns - origin_ns_;
  // elapsed * hz / 1e9 without a 128-bit product (none on 32-bit targets): whole seconds exactly,
  // then the remainder, whose product stays below 2^64 for any rate up to 18 GHz.
  return base_ticks_ + elapsed / kNsPerSecond * hz_ + elapsed % kNsPerSecond * hz_ / kNsPerSecond;
}

// A virtual clock stands still between sleeps, and the bridge asks for the interrupt pin after
// every request: at the time of the last sync there is nothing to count (a rate change keeps the
// ticks at that time as they were).
void CounterGroup8254::Sync() {
  const uint64_t now_ns = clock_ != nullptr ? clock_->NowNs() : 0;
  if (now_ns == synced_ns_) return;
  synced_ns_ = now_ns;
  const uint64_t now = TicksAt(now_ns);
  if (now <= applied_ticks_) return;
  for (Counter8254& c : counters_) c.Pulse(now - applied_ticks_);
  applied_ticks_ = now;
}

void CounterGroup8254::SetClockRate(uint64_t hz) {
  Sync();
  base_ticks_ = applied_ticks_;
  origin_ns_ = clock_ != nullptr ? clock_->NowNs() : 0;
  hz_ = hz;
}

CounterGroup8254::Snapshot CounterGroup8254::snapshot() {
  Sync();
  Snapshot s;
  s.hz = hz_;
  for (size_t i = 0; i < counters_.size(); ++i) s.counters[i] = counters_[i].snapshot();
  return s;
}

bool CounterGroup8254::Restore(const Snapshot& s) {
  std::array<Counter8254, 3> restored;
  for (size_t i = 0; i < restored.size(); ++i) {
    if (!restored[i].Restore(s.counters[i])) return false;
  }
  counters_ = restored;
  hz_ = s.hz;
  origin_ns_ = synced_ns_ = clock_ != nullptr ? clock_->NowNs() : 0;
  base_ticks_ = applied_ticks_ = 0;
  return true;
}

void CounterGroup8254::Pulse(uint64_t pulses) {
  Sync();
  for (Counter8254& c : counters_) c.Pulse(pulses);
}

void CounterGroup8254::SetGate(int counter, bool high) {
  Sync();
  counters_[counter].SetGate(high);
}

uint8_t CounterGroup8254::PeekPort(uint32_t offset) {
  Sync();
  if (offset < i8254::kCounterPorts) return counters_[offset].PeekCount();
  return i8254::kUndrivenBus;
}

uint32_t CounterGroup8254::Read(uint32_t offset, unsigned size) {
  Sync();
  uint32_t value = 0;
  for (unsigned i = 0; i < size; ++i) {
    const uint32_t port = offset + i;
    const uint8_t byte =
        port < i8254::kCounterPorts ? counters_[port].ReadCount() : i8254::kUndrivenBus;
    value |= static_cast<uint32_t>(byte) << (8 * i);
  }
  return value;
}

void CounterGroup8254::Write(uint32_t offset, uint32_t value, unsigned size) {
  Sync();
  for (unsigned i = 0; i < size; ++i) {
    const uint32_t port = offset + i;
    const auto byte = static_cast<uint8_t>(value >> (8 * i));
    if (port < i8254::kCounterPorts) {
      counters_[port].WriteCount(byte);
      continue;
    }
    if (port != i8254::kControlPort) continue;
    const unsigned select = (byte & i8254::kSelectMask) >> i8254::kSelectShift;
    if ((byte & i8254::kSelectMask) == i8254::kSelectReadBack) {
      for (unsigned c = 0; c < counters_.size(); ++c) {
        if ((byte & (i8254::kReadBackCounter0 << c)) == 0) continue;
        if ((byte & i8254::kReadBackNoCount) == 0) counters_[c].LatchCount();
        if ((byte & i8254::kReadBackNoStatus) == 0) counters_[c].LatchStatus();
      }
    } else if ((byte & i8254::kAccessMask) == i8254::kAccessLatch) {
      counters_[select].LatchCount();
    } else {
      counters_[select].WriteControl(byte);
    }
  }
}

}  // namespace sim
