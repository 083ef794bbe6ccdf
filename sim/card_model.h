// The seams between the simulated PCI bus and the devices on it.
//
// A PCI function carries an optional CardModel that answers accesses to its BARs. Register blocks
// and memories inside a card answer as Regions. Accesses are 1, 2 or 4 bytes wide, little-endian,
// at a byte offset; an unclaimed read returns all ones, as a master abort does.
#ifndef ZARERERA_SIM_CARD_MODEL_H
#define ZARERERA_SIM_CARD_MODEL_H

#include <array>
#include <cstdint>
#include <iosfwd>

#include "sim/pci_config.h"

namespace sim {

// A register block or memory answering reads and writes by offset.
class Region {
 public:
  virtual ~Region() = default;
  virtual uint32_t Read(uint32_t offset, unsigned size) = 0;
  virtual void Write(uint32_t offset, uint32_t value, unsigned size) = 0;
};

enum class BarKind { kNone, kMemory, kIo };
std::ostream& operator<<(std::ostream& os, BarKind kind);  // "none", "memory", "I/O"

struct BarSpec {
  BarKind kind = BarKind::kNone;
  uint32_t size = 0;  // a power of two; memory BARs at least 16 bytes, I/O BARs at least 4
};

// Configuration space of one function.
using ConfigSpace = std::array<uint8_t, pci::kConfigSize>;

// The device behind a PCI function's BARs.
class CardModel {
 public:
  virtual ~CardModel() = default;
  // Access at `offset` of BAR `bar` (0-5). Reads behind memory BARs must have no side effects:
  // the simulator reads every dword of a mapped window after each request.
  virtual uint32_t BarRead(int bar, uint32_t offset, unsigned size) = 0;
  virtual void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) = 0;
  // Called after every write to the function's configuration space.
  virtual void ConfigWritten(const ConfigSpace& config) { (void)config; }
  // Level of the card's PCI interrupt line (asserted = true).
  virtual bool InterruptAsserted() const { return false; }
};

}  // namespace sim

#endif  // ZARERERA_SIM_CARD_MODEL_H
