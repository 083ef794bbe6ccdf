// A card model's side of its memory windows (pci_bus.h), for a model that opts in to it
// (CardModel::windows()).
//
// A window is page-aligned memory the library loads from and stores into directly; at the requests
// that reach the card, its stores are handed to the model and the model's values written back.
// BarPeek reads without side effects (the window is read back after requests); BarStore hands on
// one dword the window's user changed, with what the window showed there before. WindowVersion and
// WindowChanges let a window skip or narrow its read-back; PlainMemory lets a window over a card's
// RAM be that RAM.
#ifndef ZARERERA_SIM_WINDOW_MODEL_H
#define ZARERERA_SIM_WINDOW_MODEL_H

#include <cstdint>

#include "sim/card_model.h"

namespace sim {

class WindowModel {
 public:
  virtual ~WindowModel() = default;
  virtual uint32_t BarPeek(int bar, uint32_t offset, unsigned size) = 0;
  virtual void BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) = 0;
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
};

}  // namespace sim

#endif  // ZARERERA_SIM_WINDOW_MODEL_H
