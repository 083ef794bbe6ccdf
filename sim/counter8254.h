// An 8254-style programmable interval timer: one counter (Counter8254) and a group of three
// counters with their control port as the chip sits on a bus (CounterGroup8254).
//
// Modelled: the control word (counter select, read/write mode LSB / MSB / LSB-then-MSB, counting
// modes 0-5 with the 6/7 aliases of 2/3, BCD), the counter-latch command, the read-back command
// (count and status latches), the separate read and write byte flip-flops, the null-count flag,
// OUT for every mode, the GATE input (level gating in modes 0, 2, 3, 4; rising-edge triggers in
// modes 1, 5 and the reload of 2, 3), and counting down on CLK pulses. An initial count of 0 loads
// as 65536 (10000 in BCD). A group derives its CLK pulses from a sim::Clock at a settable rate;
// pulses are applied lazily, in closed form, when a port is touched, so long gaps cost nothing.
//
// Not modelled: the contents of a counter that has never been given a count (0 here; undefined
// on silicon), illegal counts (1 in modes 2 and 3 behave plausibly, not as any particular part),
// BCD digits above 9 (taken at face value), CLK and GATE timing inside one pulse (set-up and hold
// times), and the 8253's lack of read-back. Reading the control port returns 0xFF, as the chip
// leaves the bus undriven there.
#ifndef ZARERERA_SIM_COUNTER8254_H
#define ZARERERA_SIM_COUNTER8254_H

#include <array>
#include <cstdint>

#include "sim/card_model.h"

namespace sim {

class Clock;

namespace i8254 {
// Port offsets within a group.
constexpr uint32_t kCounterPorts = 3;  // counters 0, 1, 2 at offsets 0, 1, 2
constexpr uint32_t kControlPort = 3;

// Control word.
constexpr uint8_t kSelectMask = 0xC0;  // counter select, bits 7-6
constexpr unsigned kSelectShift = 6;
constexpr uint8_t kSelectReadBack = 0xC0;  // select 3: the read-back command
constexpr uint8_t kAccessMask = 0x30;      // read/write mode, bits 5-4
constexpr uint8_t kAccessLatch = 0x00;     // counter-latch command
constexpr uint8_t kAccessLsb = 0x10;       // low byte only
constexpr uint8_t kAccessMsb = 0x20;       // high byte only
constexpr uint8_t kAccessLsbMsb = 0x30;    // low byte, then high byte
constexpr uint8_t kModeMask = 0x0E;        // counting mode, bits 3-1
constexpr unsigned kModeShift = 1;
constexpr uint8_t kBcd = 0x01;          // count in four BCD digits
constexpr uint8_t kProgramMask = 0x3F;  // what a counter keeps of its control word

// Read-back command (select 3): bits low-active for what to latch, one bit per counter.
constexpr uint8_t kReadBackNoCount = 0x20;
constexpr uint8_t kReadBackNoStatus = 0x10;
constexpr uint8_t kReadBackCounter0 = 0x02;  // counter i: 0x02 << i

// Status byte (read-back): OUT, null count, then the counter's control bits 5-0.
constexpr uint8_t kStatusOut = 0x80;
constexpr uint8_t kStatusNullCount = 0x40;

constexpr uint32_t kBinaryModulus = 65536;
constexpr uint32_t kBcdModulus = 10000;
constexpr uint8_t kUndrivenBus = 0xFF;
}  // namespace i8254

// The counting modes, as the control word's bits 3-1 select them (6 and 7 alias 2 and 3).
enum class CounterMode {
  kInterruptOnTerminalCount = 0,
  kHardwareOneShot = 1,
  kRateGenerator = 2,
  kSquareWave = 3,
  kSoftwareStrobe = 4,
  kHardwareStrobe = 5,
};

// One counter. Bytes arrive through WriteControl / WriteCount / ReadCount; time passes through
// Pulse(n), n falling edges of CLK.
class Counter8254 {
 public:
  // A control word with a read/write mode (not a latch command): programs the counter and stops
  // it until a count is written.
  void WriteControl(uint8_t control);
  // The counter-latch command: holds the current count until it has been read. Ignored while a
  // latched count is still unread.
  void LatchCount();
  // The read-back command's status latch, likewise ignored while one is unread.
  void LatchStatus();
  void WriteCount(uint8_t byte);
  uint8_t ReadCount();
  // What ReadCount would return, without moving any flip-flop or latch.
  uint8_t PeekCount() const;
  void Pulse(uint64_t pulses);
  void SetGate(bool high);

  bool out() const { return out_; }
  bool gate() const { return gate_; }
  CounterMode mode() const { return mode_; }
  bool bcd() const { return (control_ & i8254::kBcd) != 0; }
  bool null_count() const { return null_count_; }
  // The control word's bits 5-0 as last programmed (0 before any).
  uint8_t control() const { return control_; }
  // The counting element as it would be read (BCD-encoded in BCD mode).
  uint16_t count() const;
  // Sets the counting element to `raw` (as it reads, BCD-encoded in BCD mode; 0 is the top count)
  // without a port access, as a test fixture does. A counter that had a count written but not yet
  // loaded counts on from there, as if the load had happened; one never given a count, or waiting
  // for its GATE trigger, only shows the value. OUT, the count register and the latches stay; the
  // count expires again when it reaches zero.
  void Preload(uint16_t raw);

  // Everything the counter holds, to keep it across runs of a program. Restore refuses (false,
  // nothing changed) a snapshot no counter could be in: a mode, state or flag out of range, or a
  // count beyond the modulus of its BCD setting.
  struct Snapshot {
    uint8_t control = 0;
    uint8_t mode = 0;
    uint8_t state = 0;
    uint32_t count_register = i8254::kBinaryModulus;
    uint8_t pending_lsb = 0;
    bool write_msb_next = false;
    bool read_msb_next = false;
    uint32_t value = 0;
    uint32_t period = i8254::kBinaryModulus;
    bool high_half = true;
    bool terminal_seen = false;
    bool out = false;
    bool gate = true;
    bool null_count = false;
    bool count_latched = false;
    uint16_t latched_count = 0;
    bool status_latched = false;
    uint8_t latched_status = 0;
  };
  Snapshot snapshot() const;
  bool Restore(const Snapshot& s);

 private:
  enum class State {
    kIdle,         // programmed, no count written since
    kLoadPending,  // the next pulse loads the count register
    kCounting,     // counting
    kWaitTrigger,  // modes 1 and 5 (and 2, 3 with GATE low): waiting for a GATE rising edge
  };

  uint32_t modulus() const { return bcd() ? i8254::kBcdModulus : i8254::kBinaryModulus; }
  uint16_t Encode(uint32_t value) const;
  uint32_t Decode(uint16_t raw) const;
  uint8_t AccessBits() const { return control_ & i8254::kAccessMask; }
  void CountWritten();
  void Load();
  void Advance(uint64_t pulses);
  void AdvanceOneShot(uint64_t pulses);
  void AdvanceRate(uint64_t pulses);
  void AdvanceSquare(uint64_t pulses);
  uint8_t SelectByte(uint16_t value, bool msb_next) const;

  uint8_t control_ = 0;
  CounterMode mode_ = CounterMode::kInterruptOnTerminalCount;
  State state_ = State::kIdle;
  uint32_t count_register_ = i8254::kBinaryModulus;  // decoded initial count, 1..modulus
  uint8_t pending_lsb_ = 0;
  bool write_msb_next_ = false;
  bool read_msb_next_ = false;
  // The counting element as a number: modes 0, 1, 4, 5 hold 0..modulus-1; modes 2 and 3 hold
  // 0..modulus, where modulus reads as 0.
  uint32_t value_ = 0;
  uint32_t period_ = i8254::kBinaryModulus;  // the count in force in modes 2 and 3
  bool high_half_ = true;                    // mode 3: which half of the period
  bool terminal_seen_ = false;               // modes 0, 1, 4, 5: the count has expired once
  bool out_ = false;
  bool gate_ = true;
  bool null_count_ = false;
  bool count_latched_ = false;
  uint16_t latched_count_ = 0;
  bool status_latched_ = false;
  uint8_t latched_status_ = 0;
};

// Three counters and a control port, as one chip answers on a bus: counters at offsets 0-2, the
// control port at 3. Only byte accesses mean anything; the board splits wider ones.
class CounterGroup8254 : public Region {
 public:
  static constexpr uint64_t kDefaultClockHz = 1000000;

  // CLK pulses derive from `clock` at `hz`; without a clock only Pulse() moves the counters.
  explicit CounterGroup8254(const Clock* clock = nullptr, uint64_t hz = kDefaultClockHz);

  uint32_t Read(uint32_t offset, unsigned size) override;
  void Write(uint32_t offset, uint32_t value, unsigned size) override;
  // A read of the port with no side effect (memory windows read every byte after each request).
  uint8_t PeekPort(uint32_t offset);

  // Brings the counters up to the clock's present time.
  void Sync();
  void SetClockRate(uint64_t hz);
  uint64_t clock_rate() const { return hz_; }
  // Extra CLK pulses for every counter, beside those from the clock.
  void Pulse(uint64_t pulses);
  void SetGate(int counter, bool high);
  // The group's rate and counters as of now; restored, the group counts on from the clock's
  // present time (the fraction of a pulse under way when the snapshot was taken is dropped).
  struct Snapshot {
    uint64_t hz = kDefaultClockHz;
    std::array<Counter8254::Snapshot, 3> counters;
  };
  Snapshot snapshot();
  bool Restore(const Snapshot& s);
  Counter8254& counter(int index) {
    Sync();
    return counters_[index];
  }

 private:
  uint64_t TicksAt(uint64_t now_ns) const;  // ticks counted by clock time `now_ns`

  std::array<Counter8254, 3> counters_;
  const Clock* clock_;
  uint64_t hz_;
  uint64_t origin_ns_ = 0;   // clock time at which base_ticks_ was reached
  uint64_t base_ticks_ = 0;  // ticks counted before the last rate change
  uint64_t applied_ticks_ = 0;
  uint64_t synced_ns_;  // clock time of the last sync
};

}  // namespace sim

#endif  // ZARERERA_SIM_COUNTER8254_H
