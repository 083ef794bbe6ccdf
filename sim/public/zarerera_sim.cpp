// libzarerera_sim: the board API with a simulated machine as the process's driver, and the calls
// of zarerera_sim.h that set the machine up, drive its inputs and faults and look at it.
//
// The driver the device channel falls back on is one fixture object, made on first use and never
// destroyed, so that an application's static destructors and exit handlers may still close boards
// and look at them. It passes every request to the machine of the moment, after the faults a test
// armed; a reset replaces the machine behind it.
#include "zarerera_sim.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "driver/hosted_driver.h"
#include "driver/request_driver.h"
#include "driver/wd_records.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace {

constexpr uint32_t kFirstSlot = 5;
constexpr uint32_t kSlotsPerBus = 32;
constexpr uint32_t kBuses = 256;
constexpr unsigned kLocalInputs = 2;  // LINTi1, LINTi2
constexpr uint64_t kNsPerUs = 1000;

struct BoardSetup {
  uint16_t vendor_id = sim::wiring::kVendorId;
  uint16_t device_id = sim::wiring::kDeviceId;
  uint32_t bus = 0;
  uint32_t slot = kFirstSlot;
};

struct Setup {
  std::vector<BoardSetup> boards = {BoardSetup{}};
  bool virtual_time = false;

  bool SlotTaken(uint32_t bus, uint32_t slot, size_t except) const {
    for (size_t i = 0; i < boards.size(); ++i) {
      if (i != except && boards[i].bus == bus && boards[i].slot == slot) return true;
    }
    return false;
  }
};

// One machine as set up: the simulator and its boards.
struct Machine {
  explicit Machine(const Setup& setup)
      : simulator(setup.virtual_time ? sim::Clock::Mode::kVirtual : sim::Clock::Mode::kReal) {
    simulator.set_logging(false);  // a test may run for hours
    for (const BoardSetup& b : setup.boards) {
      sim::BoardConfig cfg;
      cfg.bus = b.bus;
      cfg.slot = b.slot;
      cfg.bridge.vendor_id = b.vendor_id;
      cfg.bridge.device_id = b.device_id;
      boards.push_back(sim::AddBoard(simulator, cfg));
      boards.back().bridge->set_register_write_capacity(0);
    }
  }
  sim::Simulator simulator;
  std::vector<sim::SimBoard> boards;
};

class Fixture : public WdHostedDriver {
 public:
  Fixture() : machine_(std::make_unique<Machine>(setup_)) {}

  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    return ControlOn(0, code, record, size, status);
  }
  bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                 uint32_t* status) override {
    if (armed_.load(std::memory_order_acquire) && Faulted(code, record, size, status)) return true;
    return machine_->simulator.ControlOn(device, code, record, size, status);
  }

  Machine& machine() { return *machine_; }
  const Setup& setup() const { return setup_; }
  bool BoardOpen() const { return machine_->simulator.registrations() > 0; }

  // A fresh machine made to `next`, the faults cleared.
  ZarereraSimResult Rebuild(const Setup& next) {
    if (BoardOpen()) return ZARERERA_SIM_BOARD_OPEN;
    setup_ = next;
    machine_ = std::make_unique<Machine>(setup_);
    std::lock_guard<std::mutex> guard(lock_);
    open_fault_ = ZARERERA_SIM_OPEN_NORMALLY;
    transfers_to_fail_ = 0;
    Rearm();
    return ZARERERA_SIM_OK;
  }

  ZarereraSimResult FailNextOpen(ZarereraSimOpenFault fault) {
    if (fault < ZARERERA_SIM_OPEN_NORMALLY || fault > ZARERERA_SIM_OPEN_REGISTRATION_REFUSED) {
      return ZARERERA_SIM_BAD_ARGUMENT;
    }
    if (fault == ZARERERA_SIM_OPEN_NO_DRIVER) {
      if (BoardOpen() || WdHosted_OpenHandles() > 0) return ZARERERA_SIM_BOARD_OPEN;
      // Until the next open asks the fallback for a driver, the process has none.
      WdHosted_Install(nullptr);
    }
    std::lock_guard<std::mutex> guard(lock_);
    open_fault_ = fault;
    Rearm();
    return ZARERERA_SIM_OK;
  }

  void FailTransfers(uint32_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    transfers_to_fail_ = count;
    Rearm();
  }

  // The driver an opening installs: none once while "no driver" is armed.
  WdHostedDriver* ForOpening() {
    std::lock_guard<std::mutex> guard(lock_);
    if (open_fault_ == ZARERERA_SIM_OPEN_NO_DRIVER) {
      open_fault_ = ZARERERA_SIM_OPEN_NORMALLY;
      Rearm();
      return nullptr;
    }
    return this;
  }

 private:
  void Rearm() {
    armed_.store(open_fault_ != ZARERERA_SIM_OPEN_NORMALLY || transfers_to_fail_ != 0,
                 std::memory_order_release);
  }

  // Answers a request the armed faults take; false when it goes on to the machine.
  bool Faulted(uint32_t code, void* record, uint32_t size, uint32_t* status) {
    std::lock_guard<std::mutex> guard(lock_);
    bool taken = false;
    if (code == WD_CODE_PCI_SCAN && open_fault_ == ZARERERA_SIM_OPEN_NO_BOARD &&
        record != nullptr && size >= sizeof(WdPciScan)) {
      WdPciScan scan;
      std::memcpy(&scan, record, sizeof scan);
      wd::ClearScan(scan);
      std::memcpy(record, &scan, sizeof scan);
      *status = 0;
      open_fault_ = ZARERERA_SIM_OPEN_NORMALLY;
      taken = true;
    } else if (code == WD_CODE_CARD_REGISTER &&
               open_fault_ == ZARERERA_SIM_OPEN_REGISTRATION_REFUSED) {
      *status = sim::kStatusResourceBusy;
      open_fault_ = ZARERERA_SIM_OPEN_NORMALLY;
      taken = true;
    } else if (code == WD_CODE_TRANSFER && transfers_to_fail_ > 0) {
      *status = sim::kStatusInvalidParameter;
      --transfers_to_fail_;
      taken = true;
    }
    Rearm();
    return taken;
  }

  Setup setup_;
  std::unique_ptr<Machine> machine_;
  std::mutex lock_;  // the faults: requests may come from several threads
  ZarereraSimOpenFault open_fault_ = ZARERERA_SIM_OPEN_NORMALLY;
  uint32_t transfers_to_fail_ = 0;
  std::atomic<bool> armed_{false};  // any fault armed: requests look at them only then
};

Fixture& TheFixture() {
  static Fixture* fixture = new Fixture;
  return *fixture;
}

WdHostedDriver* DriverForOpening() {
  return TheFixture().ForOpening();
}

// Opening the device installs the fixture when no other driver is installed.
struct UseTheFixture {
  UseTheFixture() { WdHosted_SetFallback(&DriverForOpening); }
} g_useTheFixture;

sim::SimBoard* BoardAt(unsigned board) {
  std::vector<sim::SimBoard>& boards = TheFixture().machine().boards;
  return board < boards.size() ? &boards[board] : nullptr;
}

sim::CounterGroup8254* GroupAt(unsigned board, unsigned group) {
  sim::SimBoard* b = BoardAt(board);
  if (b == nullptr || group >= sim::port_window::kCounterGroups) return nullptr;
  return &b->ports->group(group);
}

sim::Counter8254* CounterAt(unsigned board, unsigned group, unsigned counter) {
  sim::CounterGroup8254* g = GroupAt(board, group);
  if (g == nullptr || counter >= sim::i8254::kCounterPorts) return nullptr;
  return &g->counter(static_cast<int>(counter));
}

}  // namespace

extern "C" {

ZarereraSimResult ZarereraSim_SetBoardCount(unsigned count) {
  if (count > ZARERERA_SIM_MAX_BOARDS) return ZARERERA_SIM_BAD_ARGUMENT;
  Setup next = TheFixture().setup();
  if (next.boards.size() > count) next.boards.resize(count);
  while (next.boards.size() < count) {
    BoardSetup b;
    while (next.SlotTaken(b.bus, b.slot, next.boards.size())) ++b.slot;
    next.boards.push_back(b);
  }
  return TheFixture().Rebuild(next);
}

ZarereraSimResult ZarereraSim_SetBoardIds(unsigned board, uint16_t vendorId, uint16_t deviceId) {
  Setup next = TheFixture().setup();
  if (board >= next.boards.size()) return ZARERERA_SIM_BAD_ARGUMENT;
  next.boards[board].vendor_id = vendorId;
  next.boards[board].device_id = deviceId;
  return TheFixture().Rebuild(next);
}

ZarereraSimResult ZarereraSim_SetBoardSlot(unsigned board, unsigned bus, unsigned slot) {
  Setup next = TheFixture().setup();
  if (board >= next.boards.size() || bus >= kBuses || slot >= kSlotsPerBus ||
      next.SlotTaken(bus, slot, board)) {
    return ZARERERA_SIM_BAD_ARGUMENT;
  }
  next.boards[board].bus = bus;
  next.boards[board].slot = slot;
  return TheFixture().Rebuild(next);
}

ZarereraSimResult ZarereraSim_SetVirtualTime(int on) {
  Setup next = TheFixture().setup();
  next.virtual_time = on != 0;
  return TheFixture().Rebuild(next);
}

ZarereraSimResult ZarereraSim_Reset(void) {
  return TheFixture().Rebuild(TheFixture().setup());
}

ZarereraSimResult ZarereraSim_AdvanceMicroseconds(uint64_t microseconds) {
  sim::Clock& clock = TheFixture().machine().simulator.clock();
  if (clock.mode() != sim::Clock::Mode::kVirtual) return ZARERERA_SIM_REAL_TIME;
  clock.Advance(microseconds * kNsPerUs);
  return ZARERERA_SIM_OK;
}

uint64_t ZarereraSim_ElapsedMicroseconds(void) {
  return TheFixture().machine().simulator.clock().NowNs() / kNsPerUs;
}

void ZarereraSim_SetDigitalIn(uint8_t value) {
  (void)ZarereraSim_SetBoardDigitalIn(0, value);
}

ZarereraSimResult ZarereraSim_SetBoardDigitalIn(unsigned board, uint8_t value) {
  sim::SimBoard* b = BoardAt(board);
  if (b == nullptr) return ZARERERA_SIM_BAD_ARGUMENT;
  b->ports->set_digital_in(value);
  return ZARERERA_SIM_OK;
}

uint8_t ZarereraSim_DigitalOut(void) {
  const sim::SimBoard* b = BoardAt(0);
  return b != nullptr ? b->ports->digital_out() : 0;
}

uint32_t ZarereraSim_DigitalOutWrites(void) {
  const sim::SimBoard* b = BoardAt(0);
  return b != nullptr ? static_cast<uint32_t>(b->ports->digital_out_writes()) : 0;
}

uint32_t ZarereraSim_DigitalOutHistory(unsigned board, uint8_t* values, uint32_t capacity) {
  const sim::SimBoard* b = BoardAt(board);
  if (b == nullptr || values == nullptr) return 0;
  const std::vector<uint8_t> history = b->ports->digital_out_history();
  const size_t n = std::min<size_t>(capacity, history.size());
  std::copy(history.end() - static_cast<std::ptrdiff_t>(n), history.end(), values);
  return static_cast<uint32_t>(n);
}

ZarereraSimResult ZarereraSim_SetCounterClock(unsigned board, unsigned group, uint32_t hz) {
  sim::CounterGroup8254* g = GroupAt(board, group);
  if (g == nullptr) return ZARERERA_SIM_BAD_ARGUMENT;
  g->SetClockRate(hz);
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_PulseCounterClock(unsigned board, unsigned group, uint32_t pulses) {
  sim::CounterGroup8254* g = GroupAt(board, group);
  if (g == nullptr) return ZARERERA_SIM_BAD_ARGUMENT;
  g->Pulse(pulses);
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_SetCounterGate(unsigned board, unsigned group, unsigned counter,
                                             int high) {
  sim::CounterGroup8254* g = GroupAt(board, group);
  if (g == nullptr || counter >= sim::i8254::kCounterPorts) return ZARERERA_SIM_BAD_ARGUMENT;
  g->SetGate(static_cast<int>(counter), high != 0);
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_PreloadCount(unsigned board, unsigned group, unsigned counter,
                                           uint16_t count) {
  sim::Counter8254* c = CounterAt(board, group, counter);
  if (c == nullptr) return ZARERERA_SIM_BAD_ARGUMENT;
  c->Preload(count);
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_GetCounterState(unsigned board, unsigned group, unsigned counter,
                                              ZarereraSimCounterState* state) {
  const sim::Counter8254* c = CounterAt(board, group, counter);
  if (c == nullptr || state == nullptr) return ZARERERA_SIM_BAD_ARGUMENT;
  state->count = c->count();
  state->status =
      static_cast<uint8_t>((c->out() ? sim::i8254::kStatusOut : 0) |
                           (c->null_count() ? sim::i8254::kStatusNullCount : 0) | c->control());
  state->mode = static_cast<uint8_t>(c->mode());
  state->out = c->out() ? 1 : 0;
  state->gate = c->gate() ? 1 : 0;
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_FailNextOpen(ZarereraSimOpenFault fault) {
  return TheFixture().FailNextOpen(fault);
}

void ZarereraSim_FailTransfers(uint32_t count) {
  TheFixture().FailTransfers(count);
}

ZarereraSimResult ZarereraSim_SetEepromWornOut(unsigned board, unsigned word, int worn) {
  const sim::SimBoard* b = BoardAt(board);
  if (b == nullptr || b->eeprom == nullptr || word >= sim::Eeprom93C46::kWords) {
    return ZARERERA_SIM_BAD_ARGUMENT;
  }
  b->eeprom->set_worn_out(word, worn != 0);
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_GetEepromWord(unsigned board, unsigned word, uint16_t* value) {
  const sim::SimBoard* b = BoardAt(board);
  if (b == nullptr || b->eeprom == nullptr || word >= sim::Eeprom93C46::kWords ||
      value == nullptr) {
    return ZARERERA_SIM_BAD_ARGUMENT;
  }
  *value = b->eeprom->word(word);
  return ZARERERA_SIM_OK;
}

ZarereraSimResult ZarereraSim_SetLocalInterruptPin(unsigned board, unsigned input, int level) {
  const sim::SimBoard* b = BoardAt(board);
  if (b == nullptr || input < 1 || input > kLocalInputs) return ZARERERA_SIM_BAD_ARGUMENT;
  b->bridge->SetLocalInterrupt(static_cast<int>(input), level != 0);
  return ZARERERA_SIM_OK;
}

uint32_t ZarereraSim_Intcsr(unsigned board) {
  const sim::SimBoard* b = BoardAt(board);
  return b != nullptr ? b->bridge->InterruptControl() : 0;
}

ZarereraSimResult ZarereraSim_SetIntcsr(unsigned board, uint32_t value) {
  const sim::SimBoard* b = BoardAt(board);
  if (b == nullptr) return ZARERERA_SIM_BAD_ARGUMENT;
  namespace plx = sim::plx9050;
  constexpr uint32_t kStored = plx::kIntLint1Enable | plx::kIntLint1Polarity |
                               plx::kIntLint2Enable | plx::kIntLint2Polarity | plx::kIntPciEnable |
                               plx::kIntSoftware;
  b->bridge->Poke(plx::kIntcsr, value & kStored);
  return ZARERERA_SIM_OK;
}

int ZarereraSim_PciInterruptAsserted(unsigned board) {
  const sim::SimBoard* b = BoardAt(board);
  return b != nullptr && b->bridge->InterruptAsserted() ? 1 : 0;
}

int ZarereraSim_Registrations(void) {
  return TheFixture().machine().simulator.registrations();
}

int ZarereraSim_OpenHandles(void) {
  return WdHosted_OpenHandles();
}

}  // extern "C"
