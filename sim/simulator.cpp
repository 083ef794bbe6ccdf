// The simulated kernel driver: request dispatch and registrations, over the bus (pci_bus.h).
//
// Each request is copied out of the caller's record, served on the copy and copied back only when
// it succeeds, so a refused request leaves the record as it came. Registrations hold the bus's
// memory windows; before a request the stores in the windows of the cards it addresses reach the
// card models, after it the models' values are written back (see simulator.h), so a request costs
// the same however many cards are open. One mutex serialises requests. The windows of cards
// another thread uses are not touched, since that thread may be loading and storing there
// meanwhile.
//
// Interrupts: the lines are looked at after every request (sim/interrupt_service.h); a wait
// request blocks on the simulator's condition with the lock released.
//
// Not modelled: DMA, 64-bit BARs, bus numbers behind bridges, registrations released when their
// device handle closes (the library unregisters first), arbitration between functions whose BARs a
// test has made overlap (which one answers is then not defined, as on a real bus).
#include "sim/simulator.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "driver/driver_calls.h"
#include "driver/int_requests.h"
#include "driver/transfer_kind.h"
#include "sim/pci_bus.h"
#include "sim/pci_config.h"

namespace sim {

namespace {

constexpr uint32_t kMaxWindowBytes = 64u << 20;  // larger memory items are not mapped
constexpr char kVersionText[] = "zarerera simulated WinDriver";
using wd::kNoDevice;

using SlotKey = std::tuple<uint32_t, uint32_t, uint32_t>;
SlotKey KeyOf(const WdPciSlot& s) {
  return {s.bus, s.slot, s.function};
}

template <class T>
bool Load(const void* record, uint32_t size, T* out) {
  if (record == nullptr || size < sizeof(T)) return false;
  std::memcpy(out, record, sizeof(T));
  return true;
}

}  // namespace

struct Registration {
  uint32_t card_handle = 0;
  uint32_t int_handle = 0;          // of the card's interrupt item; 0: none
  PciFunction* function = nullptr;  // the function the card's first range belongs to
  uintptr_t device = 0;             // the device handle it was made on; 0: sent without one
  std::thread::id owner;  // the thread that registered it or last sent a request on `device`
  std::vector<std::unique_ptr<MemoryWindow>> windows;
};

// The simulator a thread is serving a request of now: pin changes made from inside a request
// (by a card model) are applied at once and looked at when the request ends.
thread_local const Simulator* t_serving = nullptr;

struct Simulator::Sources : InterruptSources {
  explicit Sources(Simulator* owner) : simulator(owner) {}
  void Change(const std::function<void()>& change, const std::function<void()>& then) override;
  Simulator* simulator;
};

// The cards whose windows a request synchronises.
struct Reach {
  enum Scope { kNothing, kThread, kDevice, kFunctions, kHandle } scope = kNothing;
  uintptr_t device = kNoDevice;                   // kDevice
  std::array<const PciFunction*, 2> functions{};  // kFunctions; null: none
  uint32_t card_handle = 0;                       // kHandle: the card with this handle...
  uint32_t int_handle = 0;                        // ... or with this interrupt handle
};

struct Simulator::Impl {
  std::mutex lock;  // held while a request is served
  std::unique_ptr<InterruptService> interrupts;
  std::unique_ptr<Sources> sources;
  PciBus bus;
  std::vector<std::unique_ptr<Registration>> registrations;
  std::unordered_map<uintptr_t, std::vector<Registration*>> by_device;  // the same, by handle
  // ... and by each function one of their windows belongs to.
  std::unordered_map<const PciFunction*, std::vector<Registration*>> by_function;
  // The last lookup in each: a thread sends request after request on one handle to one card, and
  // hashing costs as much as the rest of a sync. Cleared whenever registrations change.
  struct LastFound {
    const void* key = nullptr;
    const std::vector<Registration*>* found = nullptr;  // null: none
  };
  LastFound last_device;
  LastFound last_function;

  template <class Map>
  static const std::vector<Registration*>* Lookup(Map& map, typename Map::key_type key,
                                                  LastFound& last) {
    const void* k = reinterpret_cast<const void*>(key);
    if (last.key == k && k != nullptr) return last.found;
    auto it = map.find(key);
    last = {k, it == map.end() ? nullptr : &it->second};
    return last.found;
  }
  void RegistrationsChanged() {
    last_device = last_function = {};
    last_owner = {};
    ++registrations_changed;
  }
  // Counts changes of registrations and of their owners: the windows a request reached before it
  // is served are the ones to refresh after it while this stands.
  uint64_t registrations_changed = 0;
  // Where the transfer being served starts, as found for its sync: serving it decodes no more.
  std::optional<PciBus::Hit> transfer_start;
  std::unique_lock<std::mutex>* serving_lock = nullptr;  // the request being served holds it
  std::map<uint32_t, uint32_t> failures;                 // code -> status
  std::set<uint32_t> silenced;
  std::map<SlotKey, WdCard> item_overrides;
  std::optional<WdPciScan> scan_override;
  uint32_t next_card_handle = 1;
  uint32_t next_int_handle = 1;

  // The last (device, thread) taken: its cards stay that thread's until a request on that
  // device from another thread, or a change of registrations.
  struct LastOwner {
    uintptr_t device = kNoDevice;
    std::thread::id thread;
  };
  LastOwner last_owner;
  // A request on a card's device handle shows which thread uses the card now.
  void TakeOwnership(uintptr_t device, std::thread::id requester) {
    if (device == kNoDevice || (last_owner.device == device && last_owner.thread == requester)) {
      return;
    }
    last_owner = {device, requester};
    ++registrations_changed;
    const std::vector<Registration*>* regs = Lookup(by_device, device, last_device);
    if (regs == nullptr) return;
    for (Registration* r : *regs) r->owner = requester;
  }

  // Calls `f` on each window of the cards a request synchronises (see Reach), among those the
  // requesting thread uses (lent windows and unchanged register windows cost next to nothing; see
  // pci_bus.h).
  template <class F>
  void ForReachedWindows(const Reach& reach, std::thread::id requester, F f) {
    auto each = [&](const std::vector<Registration*>& regs) {
      for (Registration* r : regs) {
        if (r->owner != requester) continue;
        for (auto& w : r->windows) f(*w);
      }
    };
    switch (reach.scope) {
      case Reach::kNothing:
        return;
      case Reach::kThread:
        for (auto& r : registrations) {
          if (r->owner != requester) continue;
          for (auto& w : r->windows) f(*w);
        }
        return;
      case Reach::kDevice:
        if (const auto* regs = Lookup(by_device, reach.device, last_device)) each(*regs);
        return;
      case Reach::kHandle:
        for (auto& r : registrations) {
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
          if (const auto* regs = Lookup(by_function, fn, last_function)) each(*regs);
        }
        return;
    }
  }

  // Which cards' windows request `code` synchronises: a transfer, the card(s) decoding its first
  // and last address; a configuration request, the card in its slot; an unregistration or an
  // interrupt request, the card it names by its card or interrupt handle; a sleep, every card of
  // the requesting thread (the EEPROM protocol relies on it to see each CNTRL store); any other
  // request, the cards registered on the device handle it is sent on (none without one).
  Reach ReachOf(uintptr_t device, uint32_t code, const void* record, uint32_t size) {
    Reach reach;
    if (code == WD_CODE_SLEEP) {
      reach.scope = Reach::kThread;
    } else if (code == WD_CODE_TRANSFER) {
      WdTransfer t;
      if (!Load(record, size, &t)) return reach;
      const wd::TransferKind k = wd::KindOf(t.command);
      if (k.width == 0) return reach;
      const BarKind space = k.memory ? BarKind::kMemory : BarKind::kIo;
      int bar = 0;
      uint32_t offset = 0;
      reach.scope = Reach::kFunctions;
      transfer_start = bus.DecodeStart(space, t.address);
      reach.functions[0] = transfer_start->function;
      if (k.block && t.autoIncrement != 0 && t.bytes > 1) {
        reach.functions[1] = bus.Decode(space, t.address + (t.bytes - 1), 1, &bar, &offset);
      }
    } else if (code == WD_CODE_PCI_CONFIG) {
      WdPciConfigDump dump;
      if (!Load(record, size, &dump)) return reach;
      reach.scope = Reach::kFunctions;
      reach.functions[0] = bus.Find(dump.pciSlot);
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
    } else if (device != kNoDevice) {
      reach.scope = Reach::kDevice;
      reach.device = device;
    }
    return reach;
  }

  // The resource list a card information request reports for `f`.
  static WdCard ItemsOf(const PciFunction& f) {
    WdCard card{};
    for (int bar = 0; bar < static_cast<int>(pci::kBarCount); ++bar) {
      const auto index = static_cast<uint32_t>(bar);
      const BarKind kind = f.bar_kind(bar);
      if (kind == BarKind::kMemory) {
        wd::AddMemoryItem(card, index, f.bar_address(bar), f.bar_size(bar));
      } else if (kind == BarKind::kIo) {
        wd::AddIoItem(card, index, f.bar_address(bar), f.bar_size(bar));
      }
    }
    const uint8_t line = f.interrupt_line();
    if (line != 0 && line != pci::kInterruptLineNone) wd::AddInterruptItem(card, line);
    if (f.cfg().bus_item) wd::AddBusItem(card, f.slot());
    return card;
  }
};

Simulator::Simulator(Clock::Mode mode) : impl_(std::make_unique<Impl>()), clock_(mode) {
  impl_->interrupts =
      std::make_unique<InterruptService>([this](WdTransfer& command) { (void)Transfer(command); });
  impl_->sources = std::make_unique<Sources>(this);
}

Simulator::~Simulator() {
  std::unique_lock<std::mutex> lock(impl_->lock);
  impl_->interrupts->StopAll(lock);
}

void Simulator::Sources::Change(const std::function<void()>& change,
                                const std::function<void()>& then) {
  const bool serving = t_serving == simulator;  // the lines are looked at when the request ends
  std::unique_lock<std::mutex> guard(simulator->impl_->lock, std::defer_lock);
  if (!serving) guard.lock();
  change();
  simulator->impl_->interrupts->Evaluate();
  if (then) {
    then();
    simulator->impl_->interrupts->Evaluate();
  }
}

void Simulator::set_interrupt_service(bool on) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  interrupt_service_ = on;
}

InterruptSources& Simulator::interrupt_sources() {
  return *impl_->sources;
}

InterruptService::State Simulator::interrupt_state(uint32_t int_handle) const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->interrupts->state(int_handle);
}

bool Simulator::WaitInterruptSettled(uint32_t int_handle, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(impl_->lock);
  return impl_->interrupts->WaitSettled(int_handle, lock, timeout);
}

PciFunction& Simulator::AddFunction(uint32_t bus, uint32_t slot, uint32_t function,
                                    const FunctionConfig& cfg, std::shared_ptr<CardModel> model) {
  return impl_->bus.Add(WdPciSlot{bus, slot, function}, cfg, std::move(model));
}

PciFunction* Simulator::Find(const WdPciSlot& slot) {
  return impl_->bus.Find(slot);
}

PciFunction* Simulator::Find(uint32_t bus, uint32_t slot, uint32_t function) {
  return impl_->bus.Find(WdPciSlot{bus, slot, function});
}

std::vector<PciFunction*> Simulator::functions() const {
  return impl_->bus.functions();
}

size_t Simulator::Count(uint32_t code) const {
  return static_cast<size_t>(
      std::count_if(log_.begin(), log_.end(), [code](const Request& r) { return r.code == code; }));
}

void Simulator::set_log_capacity(size_t requests) {
  log_capacity_ = requests;
  if (log_.size() > requests)
    log_.erase(log_.begin(), log_.end() - static_cast<std::ptrdiff_t>(requests));
}

void Simulator::FailRequests(uint32_t code, uint32_t status) {
  impl_->failures[code] = status;
}
void Simulator::SilenceRequests(uint32_t code) {
  impl_->silenced.insert(code);
}

void Simulator::ClearFaults() {
  impl_->failures.clear();
  impl_->silenced.clear();
  impl_->item_overrides.clear();
  impl_->scan_override.reset();
  refuse_registration_ = false;
  version_ = kDefaultVersion;
}

void Simulator::OverrideCardItems(const WdPciSlot& slot, const WdCard& card) {
  impl_->item_overrides[KeyOf(slot)] = card;
}

void Simulator::OverrideScan(const WdPciScan& result) {
  impl_->scan_override = result;
}

int Simulator::registrations() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return static_cast<int>(impl_->registrations.size());
}

int Simulator::mapped_windows() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  int n = 0;
  for (const auto& r : impl_->registrations) n += static_cast<int>(r->windows.size());
  return n;
}

// --- Request handlers: each works on a copy `rec` and reports a status; the caller copies the
// record back only on success.

bool Simulator::ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                          uint32_t* status) {
  std::unique_lock<std::mutex> guard(impl_->lock);
  const std::thread::id requester = std::this_thread::get_id();
  impl_->TakeOwnership(device, requester);
  const Reach reach = impl_->ReachOf(device, code, record, size);
  // The windows flushed, remembered (as many as fit) to be refreshed after the request.
  std::array<MemoryWindow*, 8> reached;
  size_t reached_count = 0;
  impl_->ForReachedWindows(reach, requester, [&](MemoryWindow& w) {
    w.Flush();
    reached[reached_count < reached.size() ? reached_count : 0] = &w;
    ++reached_count;
  });
  const uint64_t registrations_before = impl_->registrations_changed;
  t_serving = this;

  bool answered = true;
  uint32_t result = 0;
  if (!impl_->silenced.empty() && impl_->silenced.count(code) != 0) {
    answered = false;
  } else if (auto it = impl_->failures.find(code); it != impl_->failures.end()) {
    result = it->second;
  } else {
    impl_->serving_lock = &guard;
    result = Serve(device, code, record, size);
  }
  impl_->transfer_start.reset();

  impl_->interrupts->Evaluate();
  t_serving = nullptr;
  if (impl_->registrations_changed == registrations_before && reached_count <= reached.size()) {
    for (size_t i = 0; i < reached_count; ++i) reached[i]->Refresh();
  } else {
    impl_->ForReachedWindows(reach, requester, [](MemoryWindow& w) { w.Refresh(); });
  }
  if (answered) *status = result;
  if (logging_ && log_capacity_ > 0) {
    if (log_.size() >= log_capacity_) {
      log_.erase(log_.begin(), log_.end() - static_cast<std::ptrdiff_t>(log_capacity_ - 1));
    }
    Request r{code, {}, answered ? result : WD_STATUS_NONE, answered};
    if (record != nullptr) {
      const auto* bytes = static_cast<const uint8_t*>(record);
      r.record.assign(bytes, bytes + size);
    }
    log_.push_back(std::move(r));
  }
  return answered;
}

uint32_t Simulator::IntDisable(WdIntRequest& r) {
  return impl_->interrupts->Disable(r.intHandle);
}

uint32_t Simulator::IntWait(WdIntRequest& r) {
  std::unique_lock<std::mutex>& lock = *impl_->serving_lock;  // released while it waits
  // Other threads' requests are served while this one waits: it must not count as theirs.
  t_serving = nullptr;
  const uint32_t status = impl_->interrupts->Wait(r, lock, clock_.mode() == Clock::Mode::kReal);
  t_serving = this;
  return status;
}

uint32_t Simulator::IntEnable(WdIntRequest& r) {
  PciFunction* function = nullptr;
  for (const auto& reg : impl_->registrations) {
    if (r.intHandle != 0 && reg->int_handle == r.intHandle) function = reg->function;
  }
  return impl_->interrupts->Enable(r, function);
}

uint32_t Simulator::Version(WdVersion& r) {
  r.version = version_;
  std::snprintf(r.text, sizeof r.text, "%s", kVersionText);
  return 0;
}

uint32_t Simulator::Scan(WdPciScan& r) {
  if (impl_->scan_override) {
    const WdPciScan& o = *impl_->scan_override;
    r.cardCount = o.cardCount;
    std::memcpy(r.ids, o.ids, sizeof r.ids);
    std::memcpy(r.slots, o.slots, sizeof r.slots);
    return 0;
  }
  r.cardCount = 0;
  std::memset(r.ids, 0, sizeof r.ids);
  std::memset(r.slots, 0, sizeof r.slots);
  for (PciFunction* f : impl_->bus.functions()) {
    if (r.cardCount == WD_PCI_CARDS) break;
    const uint32_t vendor = f->ConfigRead(pci::kVendorId, 2);
    const uint32_t device = f->ConfigRead(pci::kDeviceId, 2);
    // A zero ID matches any card.
    if (r.vendorId != 0 && r.vendorId != vendor) continue;
    if (r.deviceId != 0 && r.deviceId != device) continue;
    r.ids[r.cardCount] = WdPciId{vendor, device};
    r.slots[r.cardCount] = f->slot();
    ++r.cardCount;
  }
  return 0;
}

uint32_t Simulator::CardInfo(WdPciCardInfo& r) {
  if (auto it = impl_->item_overrides.find(KeyOf(r.pciSlot)); it != impl_->item_overrides.end()) {
    r.card = it->second;
    return 0;
  }
  PciFunction* f = impl_->bus.Find(r.pciSlot);
  if (f == nullptr) return kStatusNoSuchCard;
  r.card = Impl::ItemsOf(*f);
  return 0;
}

uint32_t Simulator::Register(WdCardRegister& r, uintptr_t device) {
  if (refuse_registration_) return kStatusResourceBusy;
  const uint32_t count = WdDriver_ItemCount(&r.card);
  for (uint32_t i = 0; i < count; ++i) {
    const WdItem& item = r.card.items[i];
    if (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes > kMaxWindowBytes) return kStatusNoMemory;
  }
  if (r.checkLockOnly != 0) return 0;  // the resources are free: nothing is registered

  auto owned = std::make_unique<Registration>();
  Registration& reg = *owned;
  for (uint32_t i = 0; i < count; ++i) {
    WdItem& item = r.card.items[i];
    if (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes != 0) {
      std::unique_ptr<MemoryWindow> w = impl_->bus.Map(item.u.mem.physAddress, item.u.mem.bytes);
      if (!w) return kStatusNoMemory;  // windows mapped so far go with `owned`
      item.u.mem.userAddress = WD_TO_UPTR(w->pages());
      reg.windows.push_back(std::move(w));
    } else if (item.kind == WD_ITEM_INTERRUPT) {
      item.u.interrupt.intHandle = impl_->next_int_handle++;
      if (reg.int_handle == 0) reg.int_handle = item.u.interrupt.intHandle;
    }
    if (reg.function == nullptr && (item.kind == WD_ITEM_MEMORY || item.kind == WD_ITEM_IO)) {
      const bool memory = item.kind == WD_ITEM_MEMORY;
      int bar = 0;
      uint32_t offset = 0;
      reg.function =
          impl_->bus.Decode(memory ? BarKind::kMemory : BarKind::kIo,
                            memory ? item.u.mem.physAddress : item.u.io.port, 1, &bar, &offset);
    }
  }
  reg.card_handle = impl_->next_card_handle++;
  reg.device = device;
  reg.owner = std::this_thread::get_id();
  r.cardHandle = reg.card_handle;
  impl_->RegistrationsChanged();
  impl_->by_device[device].push_back(&reg);
  for (const auto& w : reg.windows) {
    if (w->function() == nullptr) continue;  // plain memory: nothing to sync
    std::vector<Registration*>& on_function = impl_->by_function[w->function()];
    if (on_function.empty() || on_function.back() != &reg) on_function.push_back(&reg);
  }
  impl_->registrations.push_back(std::move(owned));
  return 0;
}

uint32_t Simulator::Unregister(WdCardRegister& r) {
  auto& regs = impl_->registrations;
  auto it = std::find_if(regs.begin(), regs.end(), [&r](const auto& reg) {
    return r.cardHandle != 0 && reg->card_handle == r.cardHandle;
  });
  if (it == regs.end()) return kStatusNoSuchCard;
  if ((*it)->int_handle != 0) (void)impl_->interrupts->Disable((*it)->int_handle);
  impl_->RegistrationsChanged();
  std::vector<Registration*>& on_device = impl_->by_device[(*it)->device];
  on_device.erase(std::find(on_device.begin(), on_device.end(), it->get()));
  if (on_device.empty()) impl_->by_device.erase((*it)->device);
  for (const auto& w : (*it)->windows) {
    auto found = impl_->by_function.find(w->function());
    if (found == impl_->by_function.end()) continue;
    std::vector<Registration*>& on_function = found->second;
    on_function.erase(std::remove(on_function.begin(), on_function.end(), it->get()),
                      on_function.end());
    if (on_function.empty()) impl_->by_function.erase(found);
  }
  regs.erase(it);  // unmaps its windows
  return 0;
}

uint32_t Simulator::Config(WdPciConfigDump& r) {
  if (r.bytes == 0 || r.bytes > 4 || r.offset >= pci::kConfigSize ||
      r.bytes > pci::kConfigSize - r.offset || r.buffer == 0) {
    return kStatusInvalidParameter;
  }
  auto* buffer = WD_FROM_UPTR(uint8_t*, r.buffer);
  PciFunction* f = impl_->bus.Find(r.pciSlot);
  if (r.isRead) {
    // An empty slot reads all ones, as a master abort does.
    const uint32_t v = f ? f->ConfigRead(r.offset, r.bytes) : pci::AllOnes(r.bytes);
    for (uint32_t i = 0; i < r.bytes; ++i) buffer[i] = static_cast<uint8_t>(v >> (8 * i));
  } else if (f != nullptr) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < r.bytes; ++i) v |= uint32_t{buffer[i]} << (8 * i);
    f->ConfigWrite(r.offset, v, r.bytes);
  }
  return 0;
}

uint32_t Simulator::Transfer(WdTransfer& r) {
  const wd::TransferKind k = wd::KindOf(r.command);
  if (k.width == 0) return kStatusInvalidParameter;
  const BarKind space = k.memory ? BarKind::kMemory : BarKind::kIo;
  if (!k.block) {
    const std::optional<PciBus::Hit>& found = impl_->transfer_start;
    const PciBus::Hit start = found && found->kind == space && found->address == r.address
                                  ? *found
                                  : impl_->bus.DecodeStart(space, r.address);
    if (k.write) {
      impl_->bus.Write(start, r.data.dword, k.width);
    } else {
      const uint32_t v = impl_->bus.Read(start, k.width);
      std::memcpy(&r.data, &v, k.width);  // little-endian: the value's low bytes
    }
    return 0;
  }
  const bool increment = r.autoIncrement != 0;
  if (r.bytes % k.width != 0 || (r.bytes != 0 && r.data.ptr == 0)) return kStatusInvalidParameter;
  auto* buffer = WD_FROM_UPTR(uint8_t*, r.data.ptr);
  uint32_t at = r.address;
  for (uint32_t done = 0; done < r.bytes; done += k.width) {
    if (k.write) {
      uint32_t v = 0;
      std::memcpy(&v, buffer + done, k.width);
      impl_->bus.Write(space, at, v, k.width);
    } else {
      const uint32_t v = impl_->bus.Read(space, at, k.width);
      std::memcpy(buffer + done, &v, k.width);
    }
    if (increment) at += k.width;
  }
  return 0;
}

uint32_t Simulator::Sleep(WdSleep& r) {
  clock_.Sleep(r.microseconds);
  return 0;
}

}  // namespace sim
