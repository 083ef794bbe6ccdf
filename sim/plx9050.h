// The PLX 9050 PCI bridge as a card model on the simulated bus.
//
// Its register file (LAS0RR at 0x00 to CNTRL at 0x50) answers behind BAR0 (memory, 128 bytes) and
// BAR1 (I/O, the same registers); offsets 0x54 to 0x7F read 0 and ignore writes. Read-only bits
// (the local interrupt status bits of INTCSR, the EEPROM data-out and present bits of CNTRL,
// reserved bits) keep their value whatever is written.
//
// Local address spaces 0-3 answer behind BAR2-BAR5. An access at offset o of space n reaches the
// local bus at (LASnBA & ~mask) | (o & mask), where mask is the part of the local address that
// LASnRR leaves to the offset; a space whose LASnBA enable bit (0) is clear answers reads with all
// ones and drops writes.
//
// Reset state: the registers hold what the serial EEPROM would have loaded for the card's BAR
// layout. For each local space n whose BAR exists:
//   LASnRR = the range of the BAR's size (bits 27:4 memory, 27:2 I/O), bit 0 set for an I/O BAR;
//   LASnBA = kDefaultLocalBase[n] | 1 (enabled).
// Spaces without a BAR hold 0 in both. With the default layout that is:
//   space 0 (BAR2, memory, 256 bytes): LAS0RR 0x0FFFFF00, LAS0BA 0x00010001 -> local 0x00010000
//   space 1 (BAR3, I/O, 256 bytes):    LAS1RR 0x0FFFFF01, LAS1BA 0x00000001 -> local 0x00000000
// so a board's ports belong at local address 0, where space 1 points. Every other register resets
// to 0: no expansion ROM, chip selects off, interrupts disabled, EEPROM pins low.
//
// The serial EEPROM sits on CNTRL: every CNTRL write drives chip select (bit 25), clock (bit 24)
// and data in (bit 26) into the attached part; a CNTRL read shows its data out in bit 27 (1 with no
// part attached, as the pulled-up pin reads) and the "EEPROM present" setting in bit 28.
//
// The 9050's BAR0 erratum can be switched on: while BAR0's address has bit 7 set, the registers do
// not answer through BAR0 (reads all ones, writes lost); BAR1 still reaches them.
//
// INTCSR: the enables and polarities of the two local interrupt inputs (LINTi1, LINTi2), the PCI
// interrupt enable and the software interrupt are stored; the two status bits are read-only and
// show whether each input is at its active level (whether enabled or not). The inputs are pin
// levels that tests set; they rest high, as pulled-up lines do, so with the reset polarity (active
// low) they are inactive. The card's PCI interrupt line is asserted while the PCI interrupt enable
// is set and an enabled input is active or the software interrupt bit is set (level-triggered: it
// stays asserted until the input goes inactive or an enable is cleared). A board may wire a source
// of its own to an input (DriveLocalInterrupt): the pin is then low while the test's level is low
// or the source pulls it low. Pin changes made by a test go through the simulator's lock when the
// card sits on a simulator, so they may come from any thread.
//
// Not modelled: the bus region descriptors' timing and width (LASnBRD, EROMBRD are plain storage),
// chip selects, the expansion ROM, the user I/O pins and the reset and reload bits of CNTRL, a
// change of BAR size when LASnRR is rewritten.
#ifndef ZARERERA_SIM_PLX9050_H
#define ZARERERA_SIM_PLX9050_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "driver/board_ids.h"
#include "sim/card_model.h"
#include "sim/change_log.h"
#include "sim/interrupt_service.h"
#include "sim/local_bus.h"
#include "sim/ram.h"
#include "sim/serial_eeprom.h"
#include "sim/window_model.h"

namespace sim {

namespace plx9050 {

// Register offsets.
constexpr uint32_t kLas0rr = 0x00;  // local space 0-3 range: 0x00, 0x04, 0x08, 0x0C
constexpr uint32_t kEromrr = 0x10;
constexpr uint32_t kLas0ba = 0x14;  // local space 0-3 base: 0x14, 0x18, 0x1C, 0x20
constexpr uint32_t kEromba = 0x24;
constexpr uint32_t kLas0brd = 0x28;  // local space 0-3 bus region descriptors: 0x28 .. 0x34
constexpr uint32_t kErombrd = 0x38;
constexpr uint32_t kCs0base = 0x3C;  // chip select 0-3 base: 0x3C .. 0x48
constexpr uint32_t kIntcsr = 0x4C;
constexpr uint32_t kCntrl = 0x50;
constexpr uint32_t kRegisterCount = 21;
constexpr uint32_t kRegisterStride = 4;
constexpr uint32_t kRegisterBlockSize = 128;  // BAR0 and BAR1

constexpr int kLocalSpaces = 4;
constexpr int kFirstLocalBar = 2;  // local space n is behind BAR n + 2

// LASnRR and LASnBA.
constexpr uint32_t kRangeIo = 0x1;                   // LASnRR bit 0: the space is I/O
constexpr uint32_t kLocalAddressBits = 0x0FFFFFFFu;  // the 28-bit local address
constexpr uint32_t kRangeMemoryMask = 0x0FFFFFF0u;   // range bits of a memory space
constexpr uint32_t kRangeIoMask = 0x0FFFFFFCu;       // range bits of an I/O space
constexpr uint32_t kBaseEnable = 0x1;                // LASnBA bit 0: the space decodes

// INTCSR.
constexpr uint32_t kIntLint1Enable = 1u << 0;
constexpr uint32_t kIntLint1Polarity = 1u << 1;  // 1: active high
constexpr uint32_t kIntLint1Status = 1u << 2;    // read-only
constexpr uint32_t kIntLint2Enable = 1u << 3;
constexpr uint32_t kIntLint2Polarity = 1u << 4;
constexpr uint32_t kIntLint2Status = 1u << 5;  // read-only
constexpr uint32_t kIntPciEnable = 1u << 6;
constexpr uint32_t kIntSoftware = 1u << 7;

// CNTRL: the serial EEPROM's pins.
constexpr uint32_t kCntrlEeClock = 1u << 24;
constexpr uint32_t kCntrlEeSelect = 1u << 25;
constexpr uint32_t kCntrlEeDataIn = 1u << 26;
constexpr uint32_t kCntrlEeDataOut = 1u << 27;  // read-only
constexpr uint32_t kCntrlEePresent = 1u << 28;  // read-only

// The BAR0 address bit the erratum trips on.
constexpr uint32_t kBar0Bit7 = 0x80;

// Where each local space points at reset, when its BAR exists.
constexpr uint32_t kDefaultLocalBase[kLocalSpaces] = {0x00010000u, 0x00000000u, 0x00020000u,
                                                      0x00030000u};

}  // namespace plx9050

struct Plx9050Config {
  uint16_t vendor_id = product_ids::kVendorId;
  uint16_t device_id = product_ids::kDeviceId;
  uint16_t subsystem_vendor_id = 0;
  uint16_t subsystem_id = 0;
  uint8_t revision = 1;
  uint32_t class_code = 0x068000;  // bridge, other
  // BAR0 and BAR1 carry the registers; BAR2-BAR5 the local spaces 0-3.
  BarConfig bars[pci::kBarCount] = {{BarKind::kMemory, plx9050::kRegisterBlockSize},
                                    {BarKind::kIo, plx9050::kRegisterBlockSize},
                                    {BarKind::kMemory, 256},
                                    {BarKind::kIo, 256},
                                    {},
                                    {}};
  uint8_t irq = 10;  // 0: no interrupt item
  uint8_t interrupt_pin = 1;
  bool bar0_bit7_erratum = false;
  // Non-zero: BAR0 is moved here after the bus assigned its addresses (to put it at an address
  // with bit 7 set, as some firmware did). Must not overlap another range.
  uint32_t bar0_address = 0;
};

class Plx9050 : public CardModel, public WindowModel {
 public:
  struct RegisterWrite {
    int bar;          // 0 or 1
    uint32_t offset;  // of the register
    uint32_t value;   // the dword as written, before read-only bits are kept
    bool operator==(const RegisterWrite&) const = default;
  };

  explicit Plx9050(const Plx9050Config& cfg = {});

  uint32_t BarRead(int bar, uint32_t offset, unsigned size) override;
  void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) override;
  WindowModel* windows() override { return this; }
  // A window over a local space peeks and stores through the local bus.
  uint32_t BarPeek(int bar, uint32_t offset, unsigned size) override;
  void BarPeekDwords(int bar, uint32_t offset, uint32_t* out, uint32_t count) override;
  void BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) override;
  Region* PlainMemory(int bar, uint32_t offset, uint32_t bytes) override;
  // Register windows change with register writes, the local interrupt inputs, the EEPROM's data
  // out and the erratum's BAR0 address; a local space window is unchanging (1) while no local
  // device answers the space, not tracked (0) while one does.
  uint64_t WindowVersion(int bar) override;
  // A register window: the registers written or otherwise changed since, INTCSR when a pin level
  // moved, CNTRL when the EEPROM's data out did; everything when BAR0's reachability changed.
  uint64_t WindowChanges(int bar, uint64_t since, uint64_t now) override;
  void ConfigWritten(const ConfigSpace& config) override;

  const Plx9050Config& config() const { return cfg_; }

  // The local bus behind spaces 0-3; board devices and RAM attach here.
  LocalBus& local_bus() { return local_bus_; }
  std::shared_ptr<Ram> AttachRam(uint32_t base, uint32_t size);

  // The serial EEPROM on CNTRL. Attaching a part marks it present.
  void AttachEeprom(std::shared_ptr<SerialEeprom> eeprom);
  void SetEepromPresent(bool present) {
    eeprom_present_ = present;
    Changed(plx9050::kCntrl);
  }

  // Local interrupt input `input` (1 or 2) at pin level `level`; other numbers are ignored.
  void SetLocalInterrupt(int input, bool level);
  // Pulls the input low for one look of the simulator's interrupt lines, then lets it go high:
  // at the reset polarity exactly one request, however the threads are scheduled.
  void PulseLocalInterrupt(int input);
  // A board source on input `input` (1 or 2): while `pulls_low` returns true the pin is low.
  void DriveLocalInterrupt(int input, std::function<bool()> pulls_low);
  // Where pin changes go first (the simulator that holds the card); null: applied at once.
  void set_interrupt_sources(InterruptSources* sources) { sources_ = sources; }
  bool InterruptAsserted() const override;
  // INTCSR as a read shows it: the stored bits with each input's status.
  uint32_t InterruptControl() const { return ReadIntcsr(); }
  bool InterruptRequested() const override;

  // Backdoor for tests: the stored register, and setting it without side effects (no pins
  // driven, nothing logged, read-only bits included).
  uint32_t Peek(uint32_t offset) const;
  void Poke(uint32_t offset, uint32_t value);

  // Every register write that reached the register file, in order: the latest `writes` of them
  // once a capacity is set (0: none kept), so that a long-running host stays in bounded memory.
  std::vector<RegisterWrite> register_writes() const;
  void ClearRegisterWrites() {
    writes_.clear();
    oldest_write_ = 0;
  }
  void set_register_write_capacity(size_t writes);

  // Where offset `offset` of local space `space` lands on the local bus now, and whether the
  // space decodes at all.
  uint32_t LocalAddress(int space, uint32_t offset) const;
  bool LocalSpaceEnabled(int space) const;
  // False while the erratum keeps BAR0 from reaching the registers.
  bool RegistersReachableThroughBar0() const;

 private:
  uint32_t ReadRegister(uint32_t offset);
  void WriteRegister(int bar, uint32_t offset, uint32_t value);
  uint32_t ReadIntcsr() const;
  bool PinLevel(int index) const;
  void WriteIntcsr(uint32_t value);
  uint32_t ReadCntrl();
  void WriteCntrl(uint32_t value);
  uint32_t LocalMask(int space) const;
  // A new generation in which the register at `offset` (past CNTRL: none) changed.
  void Changed(uint32_t offset);

  Plx9050Config cfg_;
  uint32_t regs_[plx9050::kRegisterCount] = {};
  uint32_t bar0_address_ = 0;
  LocalBus local_bus_;
  std::shared_ptr<SerialEeprom> eeprom_;
  bool eeprom_present_ = false;
  bool local_interrupt_[2] = {true, true};  // LINTi1, LINTi2 pin levels as a test sets them
  std::function<bool()> pulls_low_[2];      // board sources wired to the inputs
  InterruptSources* sources_ = nullptr;
  // A ring once it holds write_capacity_ writes: each new one then takes the oldest one's place.
  std::vector<RegisterWrite> writes_;
  size_t oldest_write_ = 0;
  size_t write_capacity_ = SIZE_MAX;
  // What changed the registers, beside the EEPROM's data out and the pins; BAR0's reachability
  // changes everything.
  ChangeLog changes_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_PLX9050_H
