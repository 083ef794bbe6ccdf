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

// The device behind a PCI function's BARs.
//
// Requests reach it through BarRead and BarWrite. A memory window (a BAR mapped into the process)
// reaches it through BarPeek, which must have no side effects (the window is read back after
// requests), and BarStore, one dword the window's user changed with what it showed before; by
// default these are BarRead and a dword BarWrite.
class CardModel {
 public:
  virtual ~CardModel() = default;
  // Access at `offset` of BAR `bar` (0-5).
  virtual uint32_t BarRead(int bar, uint32_t offset, unsigned size) = 0;
  virtual void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) = 0;
  virtual uint32_t BarPeek(int bar, uint32_t offset, unsigned size) {
    return BarRead(bar, offset, size);
  }
  virtual void BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) {
    (void)before;
    BarWrite(bar, offset, value, 4);
  }
  // `count` dwords from `offset` as BarPeek shows them, into `out`: what a window's read-back
  // calls, once per window (a model may answer a whole register block faster than dword by dword).
  virtual void BarPeekDwords(int bar, uint32_t offset, uint32_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) out[i] = BarPeek(bar, offset + 4 * i, 4);
  }
  // The plain memory region that holds [offset, offset + bytes) of BAR `bar` now, from its start;
  // null when there is none. A window over it may have the region adopt its pages.
  virtual Region* PlainMemory(int bar, uint32_t offset, uint32_t bytes) {
    (void)bar;
    (void)offset;
    (void)bytes;
    return nullptr;
  }
  // A number that changes whenever what BarPeek shows of BAR `bar` may have changed; 0 when the
  // model cannot tell (a window over it is then read back after every request that syncs it).
  virtual uint64_t WindowVersion(int bar) {
    (void)bar;
    return 0;
  }
  // Which dwords of BAR `bar` may show differently at WindowVersion `now` than they did at
  // `since` (both non-zero values it returned): bit i for the dword at offset 4 * i. A model
  // answers only for a BAR of at most 64 dwords; the default, all ones, means it cannot tell (a
  // window over it is then read back whole whenever the version moved).
  virtual uint64_t WindowChanges(int bar, uint64_t since, uint64_t now) {
    (void)bar;
    (void)since;
    (void)now;
    return ~uint64_t{0};
  }
  // Called after every write to the function's configuration space.
  virtual void ConfigWritten(const ConfigSpace& config) { (void)config; }
  // Level of the card's PCI interrupt line (asserted = true).
  virtual bool InterruptAsserted() const { return false; }
  // Whether a source on the card asks for an interrupt, whether or not the card's own enable lets
  // it reach the line (by default: only when it does).
  virtual bool InterruptRequested() const { return InterruptAsserted(); }
};

}  // namespace sim

#endif  // ZARERERA_SIM_CARD_MODEL_H
