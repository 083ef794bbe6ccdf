// The simulated PCI bus: the functions in their slots, the addresses their BARs are given, which
// function decodes an address, and memory windows (a memory range mapped into the process).
//
// BARs are assigned when a function is added, naturally aligned and without overlap, as firmware
// does at boot: memory from 0xFE000000 up to 4 GiB, I/O from 0xC000 up to 0x10000. A read that no
// function decodes returns all ones (a master abort); such a write is dropped.
//
// A memory window is page-aligned memory the bus owns, tied to the function that decoded the
// mapped range's start (it follows that BAR when the BAR moves, as a real mapping stays with the
// device). Flush hands the stores made into it since the last Refresh to the card model, each
// changed dword as a BarStore (window_model.h), lowest address first; Refresh writes the model's
// values (BarPeekDwords) back into it, unless the model's WindowVersion says nothing changed and no
// store was handed on. Of a window within the first 64 dwords of its BAR, Refresh rewrites only the
// dwords the model's WindowChanges names and those a store was handed on for. A window over a
// range no function decodes is plain memory.
//
// A window over plain memory (CardModel::PlainMemory: a card's local RAM) lends its pages to that
// memory instead, so loads and stores there are the memory's own and Flush and Refresh cost
// nothing whatever the window's size. Each only checks that the range still maps to that memory;
// once it does not (the card was told to decode another local address), the memory takes its
// contents back and the window goes on as a copy.
#ifndef ZARERERA_SIM_PCI_BUS_H
#define ZARERERA_SIM_PCI_BUS_H

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "driver/wd_records.h"
#include "sim/card_model.h"
#include "sim/pci_function.h"

namespace sim {

constexpr uint32_t kPageSize = 4096;

class MemoryWindow {
 public:
  ~MemoryWindow();
  MemoryWindow(const MemoryWindow&) = delete;
  MemoryWindow& operator=(const MemoryWindow&) = delete;

  uint8_t* pages() const { return pages_; }
  PciFunction* function() const { return function_; }
  void Flush();
  void Refresh();
  bool lent() const { return lent_to_ != nullptr; }  // whether plain memory keeps its pages

 private:
  friend class PciBus;
  MemoryWindow() = default;
  void CheckLent();

  PciFunction* function_ = nullptr;  // null: plain memory
  int bar_ = 0;
  uint32_t bar_offset_ = 0;  // where the window starts inside the BAR
  uint32_t modelled_ = 0;    // bytes from the start that the BAR covers (a multiple of 4)
  uint8_t* pages_ = nullptr;
  std::vector<uint32_t> shadow_;  // the window's contents as the model last left them
  Region* lent_to_ = nullptr;     // the plain memory keeping its contents in the pages
  uint64_t version_ = 0;          // the model's WindowVersion when last read back
  uint64_t stored_ = 0;   // dwords Flush handed on since the last read-back (bit i: dword i)
  bool precise_ = false;  // the window lies within the BAR's first 64 dwords, dword-aligned
};

class PciBus {
 public:
  PciBus();
  // Throws std::invalid_argument when the slot is taken, a BAR size is not a power of two of at
  // least 16 (memory) or 4 (I/O), or an address space is exhausted.
  PciFunction& Add(const WdPciSlot& where, const FunctionConfig& cfg,
                   std::shared_ptr<CardModel> model);
  PciFunction* Find(const WdPciSlot& where) const;
  // Every function, in bus/slot/function order.
  const std::vector<PciFunction*>& functions() const { return ordered_; }

  // The function decoding [address, address + size) in `kind` space, with the BAR and offset.
  PciFunction* Decode(BarKind kind, uint32_t address, uint32_t size, int* bar, uint32_t* offset);
  uint32_t Read(BarKind kind, uint32_t address, unsigned size);
  void Write(BarKind kind, uint32_t address, uint32_t value, unsigned size);

  // Where an access starts: the function decoding its first byte (null: none), BAR and offset.
  // Found once, it serves the access without decoding again; Read and Write with it behave as
  // with the address.
  struct Hit {
    BarKind kind = BarKind::kNone;
    uint32_t address = 0;
    PciFunction* function = nullptr;
    int bar = 0;
    uint32_t offset = 0;
    uint32_t bar_size = 0;
  };
  Hit DecodeStart(BarKind kind, uint32_t address);
  void DecodeStart(BarKind kind, uint32_t address, Hit* hit);  // the same, into *hit
  uint32_t Read(const Hit& at, unsigned size);
  void Write(const Hit& at, uint32_t value, unsigned size);

  // Maps `bytes` of memory space from `address`, filled as the model shows them; null when the
  // memory cannot be had.
  std::unique_ptr<MemoryWindow> Map(uint32_t address, uint32_t bytes);

 private:
  using SlotKey = std::tuple<uint32_t, uint32_t, uint32_t>;
  static SlotKey KeyOf(const WdPciSlot& s) { return {s.bus, s.slot, s.function}; }

  std::map<SlotKey, std::unique_ptr<PciFunction>> slots_;
  std::vector<PciFunction*> ordered_;  // the same functions in bus/slot/function order
  uint64_t next_memory_;
  uint32_t next_io_;

  // The range that decoded last, per space: board code hits the same BAR again and again. It is
  // checked against the BAR's current address, so a moved BAR cannot be hit stale.
  struct LastHit {
    PciFunction* function = nullptr;
    int bar = 0;
    uint32_t size = 0;  // the BAR's size, which never changes
  };
  LastHit last_hit_[2];
};

}  // namespace sim

#endif  // ZARERERA_SIM_PCI_BUS_H
