// Boards on a simulated bus, assembled from the chip models: a PLX 9050 card (AddPlx9050), and the
// default board (AddBoard), a 9050 whose local space 1 (BAR3) holds the board's 32-byte port window
// (sim/board_ports.h) at local address 0, with the serial EEPROM on the bridge's CNTRL pins. One
// call builds it and hands back the parts for tests and the console host.
//
// The bridge's other spaces are as the card description says; by default BAR0 (memory) and BAR1
// (I/O) carry the bridge's registers and no other local space exists.
//
// Interrupts: the bridge's local interrupt input LINTi1 is wired to OUT of counter 0 in counter
// group 0 through an inverter, so LINTi1 is low while that OUT is high. At the bridge's reset
// polarity (active low) the input is therefore active while OUT is high: a counter in mode 0
// ("interrupt on terminal count") interrupts when its count expires, until a new count is
// written, which is the handler's acknowledgement; with the polarity set active high (INTCSR bit
// 1) a counter in mode 2 or 3 asks for an interrupt in every period while OUT is low. An
// unprogrammed counter leaves the input inactive. LINTi2 is not wired; tests and hosts may drive
// either pin (Plx9050::SetLocalInterrupt), the pin being low while either side pulls it low.
#ifndef ZARERERA_SIM_BOARD_H
#define ZARERERA_SIM_BOARD_H

#include <cstdint>

#include "driver/board_ids.h"
#include "sim/board_ports.h"
#include "sim/eeprom93c46.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"

namespace sim {

// How the simulated board is wired to its bridge: where its ports sit, the IDs its EEPROM gives,
// which counter drives which local interrupt input.
namespace wiring {
constexpr int kPortsBar = 3;                // local space 1
constexpr uint32_t kPortsLocalAddress = 0;  // where local space 1 points at reset
constexpr uint16_t kVendorId = product_ids::kVendorId;
constexpr uint16_t kDeviceId = product_ids::kDeviceId;
constexpr int kCounterInput = 1;         // LINTi1: the bridge input the counter drives
constexpr uint32_t kInterruptGroup = 0;  // counter group 0 ...
constexpr int kInterruptCounter = 0;     // ... counter 0
}  // namespace wiring

// Puts a 9050 card on the simulator's bus and returns its model (owned by the bus).
Plx9050& AddPlx9050(Simulator& simulator, uint32_t bus, uint32_t slot, uint32_t function,
                    const Plx9050Config& cfg = {});
// The same with a model the caller made from `cfg` (a subclass that watches the bridge, say).
Plx9050& AddPlx9050(Simulator& simulator, uint32_t bus, uint32_t slot, uint32_t function,
                    const Plx9050Config& cfg, std::shared_ptr<Plx9050> model);

// Plausible 9050 configuration words for the board's EEPROM: IDs 0x9050/0x10B5, class "other
// bridge", an interrupt pin, and the local space ranges, bases and descriptors of a board with its
// ports (32 bytes of I/O) in local space 1.
Eeprom93C46::Image DefaultEepromImage();

// The bridge description for the default board: the IDs above, registers behind BAR0 and BAR1, the
// port window an I/O range of 32 bytes behind BAR3.
Plx9050Config DefaultBoardBridge();

struct BoardConfig {
  uint32_t bus = 0;
  uint32_t slot = 5;
  uint32_t function = 0;
  Plx9050Config bridge = DefaultBoardBridge();
  // Put the port window behind a memory BAR3 instead (see BoardPorts for what works there).
  bool ports_in_memory = false;
  uint64_t counter_clock_hz = CounterGroup8254::kDefaultClockHz;
  bool with_eeprom = true;  // a 93C46 holding DefaultEepromImage() on CNTRL
};

// The parts of one board; they live as long as the simulator.
struct SimBoard {
  Plx9050* bridge = nullptr;
  BoardPorts* ports = nullptr;
  Eeprom93C46* eeprom = nullptr;  // null when the board has none
};

SimBoard AddBoard(Simulator& simulator, const BoardConfig& cfg = {});

}  // namespace sim

#endif  // ZARERERA_SIM_BOARD_H
