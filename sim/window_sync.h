// The simulated driver's registrations and the synchronisation of their memory windows around
// each request (see simulator.h for what a request reaches).
//
// A registration holds the windows its card's memory items were mapped to (pci_bus.h). Before a
// request, Begin hands the stores made in the windows of the cards the request addresses to their
// models (MemoryWindow::Flush); after it, End writes the models' values back (Refresh). Only
// windows of the requesting thread are touched: a card's windows belong to the thread that
// registered it until another thread sends a request on the card's device handle, since a thread
// may be loading and storing in its windows while another's request is served.
//
// Everything here is called with the simulator's lock held.
#ifndef ZARERERA_SIM_WINDOW_SYNC_H
#define ZARERERA_SIM_WINDOW_SYNC_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "sim/pci_bus.h"

namespace sim {

struct Registration {
  uint32_t card_handle = 0;
  uint32_t int_handle = 0;          // of the card's interrupt item; 0: none
  PciFunction* function = nullptr;  // the function the card's first range belongs to
  uintptr_t device = 0;             // the device handle it was made on; 0: sent without one
  std::thread::id owner;  // the thread that registered it or last sent a request on `device`
  std::vector<std::unique_ptr<MemoryWindow>> windows;
};

class WindowSync {
 public:
  explicit WindowSync(PciBus& bus) : bus_(bus) {}

  // Registrations: Add takes one made on `device` by the calling thread; Remove gives back the
  // one with this card handle (null: none), whose windows unmap when it goes.
  void Add(std::unique_ptr<Registration> registration);
  std::unique_ptr<Registration> Remove(uint32_t card_handle);
  const Registration* WithInterrupt(uint32_t int_handle) const;  // null: none
  int registrations() const { return static_cast<int>(registrations_.size()); }
  int mapped_windows() const;

  // The cards a request reaches, from its code and record.
  struct Reach {
    enum Scope { kNothing, kThread, kDevice, kFunctions, kHandle } scope = kNothing;
    uintptr_t device = 0;                           // kDevice
    std::array<const PciFunction*, 2> functions{};  // kFunctions; null: none
    uint32_t card_handle = 0;                       // kHandle: the card with this handle...
    uint32_t int_handle = 0;                        // ... or with this interrupt handle
  };
  // One request's synchronisation: what Begin flushed, for End to refresh.
  struct Pass {
    Reach reach;
    std::thread::id requester;
    std::array<MemoryWindow*, 8> reached{};  // as many as fit
    size_t reached_count = 0;
    uint64_t changes = 0;  // registrations_changed_ at Begin
  };
  void Begin(uintptr_t device, uint32_t code, const void* record, uint32_t size, Pass& pass);
  void End(Pass& pass);

  // Where the transfer being served starts, as Begin decoded it, handed out once (serving it
  // decodes no more).
  std::optional<PciBus::Hit> TakeTransferStart() {
    std::optional<PciBus::Hit> start = transfer_start_;
    transfer_start_.reset();
    return start;
  }

 private:
  using List = std::vector<Registration*>;
  struct LastFound {
    const void* key = nullptr;
    const List* found = nullptr;  // null: none
  };
  template <class Map>
  static const List* Lookup(Map& map, typename Map::key_type key, LastFound& last);
  void Changed();
  void TakeOwnership(uintptr_t device, std::thread::id requester);
  Reach ReachOf(uintptr_t device, uint32_t code, const void* record, uint32_t size);
  template <class F>
  void ForReachedWindows(const Reach& reach, std::thread::id requester, F f);

  PciBus& bus_;
  std::vector<std::unique_ptr<Registration>> registrations_;
  std::unordered_map<uintptr_t, List> by_device_;  // the same, by handle
  // ... and by each function one of their windows belongs to.
  std::unordered_map<const PciFunction*, List> by_function_;
  // The last lookup in each: a thread sends request after request on one handle to one card, and
  // hashing costs as much as the rest of a sync. Cleared whenever registrations change.
  LastFound last_device_;
  LastFound last_function_;
  // Counts changes of registrations and of their owners: the windows a request reached before it
  // is served are the ones to refresh after it while this stands.
  uint64_t registrations_changed_ = 0;
  std::optional<PciBus::Hit> transfer_start_;
  // The last (device, thread) taken: its cards stay that thread's until a request on that device
  // from another thread, or a change of registrations.
  uintptr_t owner_device_ = 0;
  std::thread::id owner_thread_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_WINDOW_SYNC_H
