// A 93C46 serial EEPROM in 16-bit organisation (64 words), modelled at its pins.
//
// The bridge drives chip select (CS), serial clock (SK) and data in (DI) on every CNTRL write; the
// part finds edges by comparing with the levels it saw last. With CS high, a rising SK with DI high
// is the start bit (leading zeros are ignored); then come a two-bit opcode and a six-bit address,
// most significant bit first:
//   READ  10 aaaaaa  a dummy 0 on DO after the last address bit, then D15..D0 shifted out on the
//                    following rising edges; further clocks go on with the next words (sequential
//                    read, wrapping after word 63) and DI is ignored until CS falls;
//   WRITE 01 aaaaaa + D15..D0;  ERASE 11 aaaaaa (the word becomes 0xFFFF);
//   EWEN 00 11xxxx;  EWDS 00 00xxxx;  ERAL 00 10xxxx;  WRAL 00 01xxxx + D15..D0.
// The part powers up write-disabled: WRITE, ERASE, ERAL and WRAL are refused unless EWEN came
// since the last EWDS. An accepted programming command starts when CS falls after its last bit and
// keeps the part busy for the write time (settable; default 1 ms, a 5 V part's typical); a start
// bit that arrives while busy is ignored, and so is the rest of that frame. With CS high and no
// command under way, DO shows ready (1) or busy (0); while CS is low, or while a command is being
// shifted in, DO is not driven and reads 1 (the bridge's pull-up).
//
// Time comes from the simulator's clock: the part is busy until the clock reaches the end of its
// write time, and the cell takes its new value then.
//
// A cell can be marked worn out: programming commands leave it as it is (its old value stays), as
// a cell past its endurance or a write-protected area does; reads and the rest of the part work.
//
// Not modelled: the 8-bit organisation (ORG pin) and the 93C56/66 address widths; setup, hold and
// minimum pulse times (every edge the bridge makes is taken, however close); power-on ramps and
// data retention; the cells' indeterminate contents during programming (they read as before until
// the write time has passed, but no command can read them meanwhile); endurance.
#ifndef ZARERERA_SIM_EEPROM93C46_H
#define ZARERERA_SIM_EEPROM93C46_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/serial_eeprom.h"

namespace sim {

class Eeprom93C46 : public SerialEeprom {
 public:
  static constexpr unsigned kWords = 64;
  static constexpr unsigned kAddressBits = 6;
  static constexpr unsigned kOpcodeBits = 2;
  static constexpr unsigned kDataBits = 16;
  // Opcodes; opcode 00 selects an extended command by the address field's top bits.
  static constexpr uint32_t kOpWrite = 0x1;
  static constexpr uint32_t kOpRead = 0x2;
  static constexpr uint32_t kOpErase = 0x3;
  static constexpr uint32_t kExtEwds = 0x0;
  static constexpr uint32_t kExtWral = 0x1;
  static constexpr uint32_t kExtEral = 0x2;
  static constexpr uint32_t kExtEwen = 0x3;
  static constexpr uint64_t kDefaultWriteTimeNs = 1'000'000;

  using Image = std::array<uint16_t, kWords>;

  // The part holds `clock` (it must outlive the part) and starts holding `contents` (by default
  // erased, as a new part comes).
  explicit Eeprom93C46(Clock& clock, const Image& contents = ErasedImage());

  void Drive(bool chip_select, bool clock, bool data_in) override;
  bool DataOut() override;

  // Contents, as the cells hold them now (a programming cycle still running is not yet in).
  uint16_t word(unsigned index) const;
  Image image() const;
  void set_word(unsigned index, uint16_t value);
  void set_image(const Image& image);
  static Image ErasedImage();

  // A worn-out cell keeps its value through WRITE, ERASE, ERAL and WRAL.
  void set_worn_out(unsigned index, bool worn);
  bool worn_out(unsigned index) const;

  void set_write_time_ns(uint64_t ns) { write_time_ns_ = ns; }
  uint64_t write_time_ns() const { return write_time_ns_; }
  bool write_enabled() const { return write_enabled_; }
  // The write-enable latch as EWEN / EWDS would leave it (a part resumed across runs).
  void set_write_enabled(bool enabled) { write_enabled_ = enabled; }
  bool busy() const;

  // What the part was asked: commands taken, start bits ignored while busy, programming commands
  // refused while write-disabled, and rising clock edges seen with CS high.
  struct Counters {
    uint64_t reads = 0;
    uint64_t writes = 0;  // WRITE, ERASE, ERAL and WRAL that started programming
    uint64_t ewen = 0;
    uint64_t ewds = 0;
    uint64_t ignored_while_busy = 0;
    uint64_t refused_while_disabled = 0;
    uint64_t rising_edges = 0;
  };
  const Counters& counters() const { return counters_; }

  // Records the four pins with the clock's timestamps from now on.
  void StartTrace();
  void StopTrace() { tracing_ = false; }
  // The recording as a value change dump (timescale 1 ns) that waveform viewers open.
  std::string TraceVcd() const;
  bool WriteTraceVcd(const std::string& path) const;

 private:
  enum class State {
    kIdle,       // selected, waiting for a start bit; DO shows ready/busy
    kOpcode,     // shifting in the opcode
    kAddress,    // shifting in the address field
    kReadData,   // shifting data out
    kWriteData,  // shifting in 16 data bits for WRITE or WRAL
    kArmed,      // a programming command is complete; it starts when CS falls
    kDone,       // the frame is over; clocks are ignored until CS falls
    kIgnored,    // a start bit came while busy; the frame is ignored, DO shows ready/busy
  };
  enum Pin { kCs, kSk, kDi, kDo, kPins };

  void Settle();  // finishes a programming cycle whose time has passed
  bool ProgrammingOver() const { return programming_ && clock_.NowNs() >= ready_at_ns_; }
  // The cells as they read now: the programming cycle's result once its time has passed.
  const Image& Cells() const { return ProgrammingOver() ? target_ : cells_; }
  void OnRisingEdge(bool data_in);
  void DecodeAddressField();
  void Arm();
  void StartProgramming();
  bool DrivenDataOut(bool programming) const;
  bool DrivenDataOut() const { return DrivenDataOut(programming_); }
  void TracePin(int pin, bool level, uint64_t ns);
  void TracePins();

  Clock& clock_;
  uint64_t write_time_ns_ = kDefaultWriteTimeNs;

  // Cells. While programming, `target_` is what they become at `ready_at_ns_`.
  Image cells_{};
  Image target_{};
  bool programming_ = false;
  uint64_t ready_at_ns_ = 0;

  uint64_t worn_out_ = 0;  // bit i: cell i keeps its value when programmed
  bool write_enabled_ = false;
  bool cs_ = false;
  bool sk_ = false;
  bool di_ = false;

  State state_ = State::kIdle;
  unsigned bits_ = 0;  // bits shifted in the current step
  uint32_t opcode_ = 0;
  uint32_t address_ = 0;
  uint32_t data_ = 0;
  uint16_t shift_out_ = 0;  // the word being read
  unsigned out_bit_ = 0;    // bits of it already shifted out
  bool data_out_ = true;    // DO while reading

  Counters counters_;

  struct Change {
    uint64_t ns;
    int pin;
    bool level;
  };
  static constexpr char kVcdIds[kPins] = {'c', 'k', 'i', 'o'};  // VCD identifiers of the pins
  static void AppendValue(std::string& out, const Change& change);

  bool tracing_ = false;
  std::array<bool, kPins> traced_{};
  std::vector<Change> trace_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_EEPROM93C46_H
