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

#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "driver/driver_calls.h"
#include "driver/failure_reasons.h"
#include "driver/transfer_kind.h"
#include "sim/pci_config.h"

namespace sim {

namespace {

constexpr uint32_t kMaxWindowBytes = 64u << 20;  // larger memory items are not mapped
constexpr char kVersionText[] = "zarerera simulated WinDriver";

std::tuple<uint32_t, uint32_t, uint32_t> KeyOf(const WdPciSlot& s) {
  return {s.bus, s.slot, s.function};
}

// The resource list a card information request reports for `f`.
WdCard ItemsOf(const PciFunction& f) {
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

}  // namespace

// Pin changes a test or host makes: applied under the lock, between requests, then the lines are
// looked at. A model changes its pins directly while a request is served; the lines are looked at
// after every request.
struct Simulator::Sources : InterruptSources {
  explicit Sources(Simulator* owner) : simulator(owner) {}
  void Change(const std::function<void()>& change, const std::function<void()>& then) override {
    std::lock_guard<std::mutex> guard(simulator->lock_);
    change();
    simulator->interrupts_->Evaluate();
    if (then) {
      then();
      simulator->interrupts_->Evaluate();
    }
  }
  Simulator* simulator;
};

Simulator::Simulator(Clock::Mode mode) : clock_(mode) {
  interrupts_ =
      std::make_unique<InterruptService>([this](WdTransfer& command) { (void)Transfer(command); });
  sources_ = std::make_unique<Sources>(this);
}

Simulator::~Simulator() {
  std::unique_lock<std::mutex> lock(lock_);
  interrupts_->StopAll(lock);
}

// One request: the windows it reaches synchronised around it, the log and faults, then a look at
// the interrupt lines.
bool Simulator::ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                          uint32_t* status) {
  std::unique_lock<std::mutex> guard(lock_);
  WindowSync::Pass pass;
  sync_.Begin(device, code, record, size, pass);
  serving_lock_ = &guard;
  bool answered = true;
  if (recorder_.idle()) {
    *status = Serve(device, code, record, size);  // nothing to log, no faults: the hot path
  } else {
    answered = recorder_.ControlOn(device, code, record, size, status);
  }
  sync_.Served();
  interrupts_->Evaluate();
  sync_.End(pass);
  return answered;
}

void Simulator::set_interrupt_service(bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  interrupt_service_ = on;
}

InterruptSources& Simulator::interrupt_sources() {
  return *sources_;
}

InterruptService::State Simulator::interrupt_state(uint32_t int_handle) const {
  std::lock_guard<std::mutex> guard(lock_);
  return interrupts_->state(int_handle);
}

bool Simulator::WaitInterruptSettled(uint32_t int_handle, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(lock_);
  return interrupts_->WaitSettled(int_handle, lock, timeout);
}

PciFunction& Simulator::AddFunction(uint32_t bus, uint32_t slot, uint32_t function,
                                    const FunctionConfig& cfg, std::shared_ptr<CardModel> model) {
  return bus_.Add(WdPciSlot{bus, slot, function}, cfg, std::move(model));
}

PciFunction* Simulator::Find(const WdPciSlot& slot) {
  return bus_.Find(slot);
}

PciFunction* Simulator::Find(uint32_t bus, uint32_t slot, uint32_t function) {
  return bus_.Find(WdPciSlot{bus, slot, function});
}

std::vector<PciFunction*> Simulator::functions() const {
  return bus_.functions();
}

void Simulator::ClearFaults() {
  recorder_.ClearFaults();
  item_overrides_.clear();
  scan_override_.reset();
  refuse_registration_ = false;
  version_ = kDefaultVersion;
}

void Simulator::OverrideCardItems(const WdPciSlot& slot, const WdCard& card) {
  item_overrides_[KeyOf(slot)] = card;
}

void Simulator::OverrideScan(const WdPciScan& result) {
  scan_override_ = result;
}

int Simulator::registrations() const {
  std::lock_guard<std::mutex> guard(lock_);
  return sync_.registrations();
}

int Simulator::mapped_windows() const {
  std::lock_guard<std::mutex> guard(lock_);
  return sync_.mapped_windows();
}

// --- Request handlers (driver/request_driver.h: each works on a copy that goes back on success).

uint32_t Simulator::Version(WdVersion& r) {
  r.version = version_;
  std::snprintf(r.text, sizeof r.text, "%s", kVersionText);
  return 0;
}

uint32_t Simulator::Scan(WdPciScan& r) {
  if (scan_override_) {
    const WdPciScan& o = *scan_override_;
    r.cardCount = o.cardCount;
    std::memcpy(r.ids, o.ids, sizeof r.ids);
    std::memcpy(r.slots, o.slots, sizeof r.slots);
    return 0;
  }
  wd::ClearScan(r);
  for (PciFunction* f : bus_.functions()) {
    const WdPciId id{f->ConfigRead(pci::kVendorId, 2), f->ConfigRead(pci::kDeviceId, 2)};
    if (!wd::AddScanned(r, id, f->slot())) break;
  }
  return 0;
}

uint32_t Simulator::CardInfo(WdPciCardInfo& r) {
  if (auto it = item_overrides_.find(KeyOf(r.pciSlot)); it != item_overrides_.end()) {
    r.card = it->second;
    return 0;
  }
  PciFunction* f = bus_.Find(r.pciSlot);
  if (f == nullptr) return kStatusNoSuchCard;
  r.card = ItemsOf(*f);
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
  auto reg = std::make_unique<Registration>();
  if (const uint32_t status = Acquire(r, *reg)) return status;  // what it mapped goes with `reg`
  reg->card_handle = next_card_handle_++;
  reg->device = device;
  r.cardHandle = reg->card_handle;
  sync_.Add(std::move(reg));
  return 0;
}

uint32_t Simulator::Acquire(WdCardRegister& r, Registration& reg) {
  const uint32_t count = WdDriver_ItemCount(&r.card);
  for (uint32_t i = 0; i < count; ++i) {
    WdItem& item = r.card.items[i];
    if (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes != 0) {
      std::unique_ptr<MemoryWindow> w = bus_.Map(item.u.mem.physAddress, item.u.mem.bytes);
      if (!w) return kStatusNoMemory;
      item.u.mem.userAddress = WD_TO_UPTR(w->pages());
      reg.windows.push_back(std::move(w));
    } else if (item.kind == WD_ITEM_INTERRUPT) {
      item.u.interrupt.intHandle = next_int_handle_++;
      if (reg.int_handle == 0) reg.int_handle = item.u.interrupt.intHandle;
    }
    if (reg.function == nullptr && (item.kind == WD_ITEM_MEMORY || item.kind == WD_ITEM_IO)) {
      const bool memory = item.kind == WD_ITEM_MEMORY;
      int bar = 0;
      uint32_t offset = 0;
      reg.function =
          bus_.Decode(memory ? BarKind::kMemory : BarKind::kIo,
                      memory ? item.u.mem.physAddress : item.u.io.port, 1, &bar, &offset);
    }
  }
  return 0;
}

uint32_t Simulator::Unregister(WdCardRegister& r) {
  std::unique_ptr<Registration> reg = sync_.Remove(r.cardHandle);
  if (reg == nullptr) return kStatusNoSuchCard;
  if (reg->int_handle != 0) (void)interrupts_->Disable(reg->int_handle);
  return 0;  // its windows unmap as it goes
}

uint32_t Simulator::Config(WdPciConfigDump& r) {
  // Conventional functions only: 256 bytes.
  if (!wd::ConfigRefusal(r, pci::kConfigSize).empty()) return kStatusInvalidParameter;
  auto* buffer = WD_FROM_UPTR(uint8_t*, r.buffer);
  PciFunction* f = bus_.Find(r.pciSlot);
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
    // Used where it lies: a copy of the hit would be read back before its stores land.
    const PciBus::Hit* start = sync_.transfer_start();
    PciBus::Hit decoded;
    if (start == nullptr || start->kind != space || start->address != r.address) {
      bus_.DecodeStart(space, r.address, &decoded);
      start = &decoded;
    }
    if (k.write) {
      bus_.Write(*start, r.data.dword, k.width);
    } else {
      const uint32_t v = bus_.Read(*start, k.width);
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
      bus_.Write(space, at, v, k.width);
    } else {
      const uint32_t v = bus_.Read(space, at, k.width);
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

uint32_t Simulator::IntEnable(WdIntRequest& r) {
  const Registration* reg = sync_.WithInterrupt(r.intHandle);
  return interrupts_->Enable(r, reg != nullptr ? reg->function : nullptr);
}

uint32_t Simulator::IntWait(WdIntRequest& r) {
  // Other threads' requests are served while this one waits, with the lock released.
  std::unique_lock<std::mutex>& lock = *serving_lock_;
  return interrupts_->Wait(r, lock, clock_.mode() == Clock::Mode::kReal);
}

uint32_t Simulator::IntDisable(WdIntRequest& r) {
  return interrupts_->Disable(r.intHandle);
}

}  // namespace sim
