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
//
// Behind a memory window (see CardModel) a region is also looked at and stored into the way a
// window sees it: Peek reads without side effects, Store hands on one dword the window changed
// together with what the window showed there before. By default Peek is Read and Store a dword
// Write; a region whose reads have side effects or whose bytes are separate ports overrides them.
class Region {
 public:
  virtual ~Region() = default;
  virtual uint32_t Read(uint32_t offset, unsigned size) = 0;
  virtual void Write(uint32_t offset, uint32_t value, unsigned size) = 0;
  virtual uint32_t Peek(uint32_t offset, unsigned size) { return Read(offset, size); }
  virtual void Store(uint32_t offset, uint32_t value, uint32_t before) {
    (void)before;
    Write(offset, value, 4);
  }
  // Plain memory may keep its contents [0, bytes) in a memory window's pages while the window
  // shows it, so that the window's loads and stores are its own: Adopt moves the contents there
  // (false when the region cannot, or lends them already), Release moves them back.
  virtual bool Adopt(uint8_t* pages, uint32_t bytes) {
    (void)pages;
    (void)bytes;
    return false;
  }
  virtual void Release(uint8_t* pages) { (void)pages; }
};

enum class BarKind { kNone, kMemory, kIo };
std::ostream& operator<<(std::ostream& os, BarKind kind);  // "none", "memory", "I/O"

struct BarConfig {
  BarKind kind = BarKind::kNone;
  uint32_t size = 0;  // a power of two; memory BARs at least 16 bytes, I/O BARs at least 4
};

// Configuration space of one function.
using ConfigSpace = std::array<uint8_t, pci::kConfigSize>;

class WindowModel;

// The device behind a PCI function's BARs: requests reach it through BarRead and BarWrite. A model
// whose BARs a memory window (a BAR mapped into the process) should see other than through plain
// reads and writes opts in to window support (window_model.h) by returning it from windows().
class CardModel {
 public:
  virtual ~CardModel() = default;
  // Access at `offset` of BAR `bar` (0-5).
  virtual uint32_t BarRead(int bar, uint32_t offset, unsigned size) = 0;
  virtual void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) = 0;
  // Called after every write to the function's configuration space.
  virtual void ConfigWritten(const ConfigSpace& config) { (void)config; }
  // Level of the card's PCI interrupt line (asserted = true).
  virtual bool InterruptAsserted() const { return false; }
  // Whether a source on the card asks for an interrupt, whether or not the card's own enable lets
  // it reach the line (by default: only when it does).
  virtual bool InterruptRequested() const { return InterruptAsserted(); }
  // The model's window support; null (the default): a window reads the model with BarRead,
  // hands each changed dword to BarWrite, and is read back whole after every request that syncs
  // it.
  virtual WindowModel* windows() { return nullptr; }
};

}  // namespace sim

#endif  // ZARERERA_SIM_CARD_MODEL_H
