// Registrations and the window synchronisation around each request (window_sync.h).
#include "sim/window_sync.h"

#include <algorithm>
#include <cstring>

#include "driver/int_requests.h"
#include "driver/request_driver.h"
#include "driver/transfer_kind.h"
#include "driver/wd_records.h"

namespace sim {

namespace {

template <class T>
bool Load(const void* record, uint32_t size, T* out) {
  if (record == nullptr || size < sizeof(T)) return false;
  std::memcpy(out, record, sizeof(T));
  return true;
}

template <class List>
void Erase(List& list, const Registration* registration) {
  list.erase(std::remove(list.begin(), list.end(), registration), list.end());
}

}  // namespace

template <class Map>
const WindowSync::List* WindowSync::Lookup(Map& map, typename Map::key_type key, LastFound& last) {
  const void* k = reinterpret_cast<const void*>(key);
  if (last.key == k && k != nullptr) return last.found;
  auto it = map.find(key);
  last = {k, it == map.end() ? nullptr : &it->second};
  return last.found;
}

void WindowSync::Changed() {
  last_device_ = last_function_ = {};
  owner_device_ = wd::kNoDevice;
  owner_thread_ = {};
  ++registrations_changed_;
}

void WindowSync::Add(std::unique_ptr<Registration> registration) {
  Registration* reg = registration.get();
  reg->owner = std::this_thread::get_id();
  Changed();
  by_device_[reg->device].push_back(reg);
  for (const auto& w : reg->windows) {
    if (w->function() == nullptr) continue;  // plain memory: nothing to sync
    List& on_function = by_function_[w->function()];
    if (on_function.empty() || on_function.back() != reg) on_function.push_back(reg);
  }
  registrations_.push_back(std::move(registration));
}

std::unique_ptr<Registration> WindowSync::Remove(uint32_t card_handle) {
  auto it = std::find_if(registrations_.begin(), registrations_.end(), [&](const auto& reg) {
    return card_handle != 0 && reg->card_handle == card_handle;
  });
  if (it == registrations_.end()) return nullptr;
  std::unique_ptr<Registration> reg = std::move(*it);
  registrations_.erase(it);
  Changed();
  List& on_device = by_device_[reg->device];
  Erase(on_device, reg.get());
  if (on_device.empty()) by_device_.erase(reg->device);
  for (const auto& w : reg->windows) {
    auto found = by_function_.find(w->function());
    if (found == by_function_.end()) continue;
    Erase(found->second, reg.get());
    if (found->second.empty()) by_function_.erase(found);
  }
  return reg;
}

const Registration* WindowSync::WithInterrupt(uint32_t int_handle) const {
  const Registration* found = nullptr;  // the latest, as registrations are made
  for (const auto& reg : registrations_) {
    if (int_handle != 0 && reg->int_handle == int_handle) found = reg.get();
  }
  return found;
}

int WindowSync::mapped_windows() const {
  int n = 0;
  for (const auto& r : registrations_) n += static_cast<int>(r->windows.size());
  return n;
}

void WindowSync::Begin(uintptr_t device, uint32_t code, const void* record, uint32_t size,
                       Pass& pass) {
  pass.requester = std::this_thread::get_id();
  TakeOwnership(device, pass.requester);
  pass.reach = ReachOf(device, code, record, size);
  pass.reached_count = 0;
  ForReachedWindows(pass.reach, pass.requester, [&pass](MemoryWindow& w) {
    w.Flush();
    pass.reached[pass.reached_count < pass.reached.size() ? pass.reached_count : 0] = &w;
    ++pass.reached_count;
  });
  pass.changes = registrations_changed_;
}

void WindowSync::End(Pass& pass) {
  transfer_start_.reset();
  // The windows flushed, unless registrations changed meanwhile or more were reached than kept.
  if (registrations_changed_ == pass.changes && pass.reached_count <= pass.reached.size()) {
    for (size_t i = 0; i < pass.reached_count; ++i) pass.reached[i]->Refresh();
  } else {
    ForReachedWindows(pass.reach, pass.requester, [](MemoryWindow& w) { w.Refresh(); });
  }
}

// A request on a card's device handle shows which thread uses the card now.
void WindowSync::TakeOwnership(uintptr_t device, std::thread::id requester) {
  if (device == wd::kNoDevice || (owner_device_ == device && owner_thread_ == requester)) return;
  owner_device_ = device;
  owner_thread_ = requester;
  ++registrations_changed_;
  const List* regs = Lookup(by_device_, device, last_device_);
  if (regs == nullptr) return;
  for (Registration* r : *regs) r->owner = requester;
}

// Calls `f` on each window of the cards a request synchronises (see Reach), among those the
// requesting thread uses (lent windows and unchanged register windows cost next to nothing; see
// pci_bus.h).
template <class F>
void WindowSync::ForReachedWindows(const Reach& reach, std::thread::id requester, F f) {
  auto each = [&](const List& regs) {
    for (Registration* r : regs) {
      if (r->owner != requester) continue;
      for (auto& w : r->windows) f(*w);
    }
  };
  switch (reach.scope) {
    case Reach::kNothing:
      return;
    case Reach::kThread:
      for (auto& r : registrations_) {
        if (r->owner != requester) continue;
        for (auto& w : r->windows) f(*w);
      }
      return;
    case Reach::kDevice:
      if (const List* regs = Lookup(by_device_, reach.device, last_device_)) each(*regs);
      return;
    case Reach::kHandle:
      for (auto& r : registrations_) {
        const bool named = (reach.card_handle != 0 && r->card_handle == reach.card_handle) ||
                           (reach.int_handle != 0 && r->int_handle == reach.int_handle);
        if (!named || r->owner != requester) continue;
        for (auto& w : r->windows) f(*w);
      }
      return;
    case Reach::kFunctions:
      for (size_t i = 0; i < reach.functions.size(); ++i) {
        const PciFunction* fn = reach.functions[i];
        if (fn == nullptr || (i > 0 && fn == reach.functions[0])) continue;
        if (const List* regs = Lookup(by_function_, fn, last_function_)) each(*regs);
      }
      return;
  }
}

// Which cards' windows request `code` synchronises: a transfer, the card(s) decoding its first and
// last address; a configuration request, the card in its slot; an unregistration or an interrupt
// request, the card it names by its card or interrupt handle; a sleep, every card of the
// requesting thread (the EEPROM protocol relies on it to see each CNTRL store); any other request,
// the cards registered on the device handle it is sent on (none without one).
WindowSync::Reach WindowSync::ReachOf(uintptr_t device, uint32_t code, const void* record,
                                      uint32_t size) {
  Reach reach;
  if (code == WD_CODE_SLEEP) {
    reach.scope = Reach::kThread;
  } else if (code == WD_CODE_TRANSFER) {
    WdTransfer t;
    if (!Load(record, size, &t)) return reach;
    const wd::TransferKind k = wd::KindOf(t.command);
    if (k.width == 0) return reach;
    const BarKind space = k.memory ? BarKind::kMemory : BarKind::kIo;
    reach.scope = Reach::kFunctions;
    transfer_start_ = bus_.DecodeStart(space, t.address);
    reach.functions[0] = transfer_start_->function;
    if (k.block && t.autoIncrement != 0 && t.bytes > 1) {
      int bar = 0;
      uint32_t offset = 0;
      reach.functions[1] = bus_.Decode(space, t.address + (t.bytes - 1), 1, &bar, &offset);
    }
  } else if (code == WD_CODE_PCI_CONFIG) {
    WdPciConfigDump dump;
    if (!Load(record, size, &dump)) return reach;
    reach.scope = Reach::kFunctions;
    reach.functions[0] = bus_.Find(dump.pciSlot);
  } else if (code == WD_CODE_CARD_UNREGISTER) {
    WdCardRegister r;
    if (!Load(record, size, &r)) return reach;
    reach.scope = Reach::kHandle;
    reach.card_handle = r.cardHandle;
  } else if (WD_IS_INT_REQUEST(code)) {
    WdIntRequest r;
    if (!Load(record, size, &r)) return reach;
    reach.scope = Reach::kHandle;
    reach.int_handle = r.intHandle;
  } else if (device != wd::kNoDevice) {
    reach.scope = Reach::kDevice;
    reach.device = device;
  }
  return reach;
}

}  // namespace sim
