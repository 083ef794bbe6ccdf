// The simulated kernel driver and the PCI bus behind it.
//
// Serves every request code of the driver channel with the driver's record layouts, results
// written in place and the 4-byte status. Cards are PCI functions with a 256-byte configuration
// space; their resources are derived from the BARs and the interrupt line. Memory BARs are mapped,
// on registration, to page-aligned memory the simulator owns (pci_bus.h): the library loads and
// stores there directly, and a card model sees those stores at the next request that addresses
// the card from the thread using it (each changed dword handed to it, lowest address first);
// after that request the model's current values are written back into the window. A request
// addresses the cards it reaches: a transfer, the card decoding its port or memory address (for a
// block, its first and last); a configuration request, the card in its slot; an unregistration or
// an interrupt request, the card it names by card or interrupt handle; any other request sent on a
// device handle (registration, version, scan, card information), the cards registered on that
// handle, none without one. A sleep addresses every card of the requesting thread: the EEPROM
// protocol follows each CNTRL store with one, so the EEPROM sees every clock edge. So stores into
// card A's window followed by a transfer to card B reach A's model at the next request addressing
// A or the next sleep, and a request costs the same however many cards are open. A window over a
// card's local RAM is that RAM, and a register window is read back only when its model changed.
// A registration with the check-lock-only flag set answers 0 and registers nothing.
//
// Like a kernel driver, it takes requests from several threads at once: they are served one at a
// time. A card is used by one thread at a time, and its windows belong to that thread: the one
// that registered it, until another thread sends a request on the card's device handle
// (ControlOn; the hosted channel passes the handle). A request synchronises only windows of the
// requesting thread, so it never reads or rewrites a window while another thread stores into it. A
// thread that takes a card over sends a request on it before it loads or stores in its windows
// (until then the thread that had it goes on synchronising them). The inspection and fault calls
// below are for a test's own thread while no request is in flight, except registrations() and
// mapped_windows().
//
// Bad input gets an error status (one of the kStatus constants below) and nothing is written into
// the record: an unknown code, a record shorter than its code's record, configuration access of 0
// or more than 4 bytes or past the end of configuration space, an unknown transfer command, a block
// whose length is not a whole number of elements. A read of a port or memory address that no card
// decodes returns all ones with status 0 (a master abort); such a write is dropped. Configuration
// access to an empty slot behaves the same way.
//
// For tests it keeps a log of the requests (every one unless its capacity is set) and lets faults
// be injected per request code.
//
// Interrupts: once switched on (set_interrupt_service), it serves the library's own interrupt
// requests (driver/int_requests.h) for registered cards with an interrupt item, as
// sim/interrupt_service.h describes; a waiting request releases the simulator meanwhile. Switched
// off, as by default, it answers them as unknown requests, as a driver without them does.
#ifndef ZARERERA_SIM_SIMULATOR_H
#define ZARERERA_SIM_SIMULATOR_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "driver/request_driver.h"
#include "driver/wd_records.h"
#include "driver/wd_status.h"
#include "sim/card_model.h"
#include "sim/clock.h"
#include "sim/interrupt_service.h"
#include "sim/pci_bus.h"
#include "sim/pci_function.h"
#include "sim/recording_driver.h"
#include "sim/window_sync.h"

namespace sim {

// Error statuses of the simulated driver (0 is success), shared with the other in-process drivers.
constexpr uint32_t kStatusUnknownRequest = WD_STATUS_UNKNOWN_REQUEST;
constexpr uint32_t kStatusRecordTooShort = WD_STATUS_RECORD_TOO_SHORT;
constexpr uint32_t kStatusInvalidParameter = WD_STATUS_INVALID_PARAMETER;
constexpr uint32_t kStatusNoSuchCard = WD_STATUS_NO_SUCH_CARD;
constexpr uint32_t kStatusResourceBusy = WD_STATUS_RESOURCE_BUSY;  // registration refused
constexpr uint32_t kStatusNoMemory = WD_STATUS_NO_MEMORY;

// Version reported unless a test sets another: 10.00, which the library accepts.
constexpr uint32_t kDefaultVersion = 1000;

class Simulator : public wd::RequestDriver {
 public:
  explicit Simulator(Clock::Mode mode = Clock::Mode::kVirtual);
  ~Simulator() override;

  bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                 uint32_t* status) override;

  // The bus. BAR addresses are assigned when a function is added.
  PciFunction& AddFunction(uint32_t bus, uint32_t slot, uint32_t function,
                           const FunctionConfig& cfg, std::shared_ptr<CardModel> model = nullptr);
  PciFunction* Find(const WdPciSlot& slot);
  PciFunction* Find(uint32_t bus, uint32_t slot, uint32_t function);
  // Every function, in bus/slot/function order.
  std::vector<PciFunction*> functions() const;
  Clock& clock() { return clock_; }

  // The request log: every request, with the record as the driver left it (recording_driver.h).
  using Request = LoggedRequest;
  const std::vector<Request>& log() const { return recorder_.log(); }
  void ClearLog() { recorder_.ClearLog(); }
  size_t Count(uint32_t code) const { return recorder_.Count(code); }
  void set_logging(bool on) { recorder_.set_logging(on); }  // benchmarks switch it off
  // The log keeps the latest `requests` requests (0: none), so that a long-running host stays in
  // bounded memory; unbounded until set.
  void set_log_capacity(size_t requests) { recorder_.set_log_capacity(requests); }

  // Faults.
  void SetVersion(uint32_t version) { version_ = version; }
  void FailRequests(uint32_t code, uint32_t status) {  // error status, record untouched
    recorder_.FailRequests(code, status);
  }
  void SilenceRequests(uint32_t code) {  // status not written, record untouched
    recorder_.SilenceRequests(code);
  }
  void ClearFaults();  // every fault here back to normal, the version included
  void RefuseRegistration(bool refuse) { refuse_registration_ = refuse; }
  // Card information for `slot` answers with `card` as given (any item count, kinds, BAR numbers),
  // whether or not a function sits there; registration walks at most 20 of its items.
  void OverrideCardItems(const WdPciSlot& slot, const WdCard& card);
  void OverrideScan(const WdPciScan& result);  // every scan answers with this

  // Registrations now in force, and the memory windows they hold mapped.
  int registrations() const;
  int mapped_windows() const;

  // Interrupts (see above). Pin changes of the cards on this bus come through interrupt_sources().
  void set_interrupt_service(bool on);
  InterruptSources& interrupt_sources();
  InterruptService::State interrupt_state(uint32_t int_handle) const;
  // Blocks until the interrupt with this handle is disabled, or has nothing pending or handed out
  // and its service waits again; false after `timeout`.
  bool WaitInterruptSettled(uint32_t int_handle, std::chrono::milliseconds timeout);

 private:
  struct Sources;
  // What the request log wraps: the requests as this driver's handlers serve them.
  struct Served : WdHostedDriver {
    explicit Served(Simulator& s) : simulator(s) {}
    bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
      return ControlOn(wd::kNoDevice, code, record, size, status);
    }
    bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                   uint32_t* status) override {
      *status = simulator.Serve(device, code, record, size);
      return true;
    }
    Simulator& simulator;
  };

  uint32_t Version(WdVersion& r) override;
  uint32_t Scan(WdPciScan& r) override;
  uint32_t CardInfo(WdPciCardInfo& r) override;
  uint32_t Register(WdCardRegister& r, uintptr_t device) override;
  uint32_t Unregister(WdCardRegister& r) override;
  uint32_t Config(WdPciConfigDump& r) override;
  uint32_t Transfer(WdTransfer& r) override;
  uint32_t Sleep(WdSleep& r) override;
  bool ServesInterrupts() const override { return interrupt_service_; }
  uint32_t IntEnable(WdIntRequest& r) override;
  uint32_t IntWait(WdIntRequest& r) override;
  uint32_t IntDisable(WdIntRequest& r) override;
  // Maps the memory items of `r` and hands out its interrupt handles into `reg`.
  uint32_t Acquire(WdCardRegister& r, Registration& reg);

  mutable std::mutex lock_;  // held while a request is served
  PciBus bus_;
  WindowSync sync_{bus_};
  Clock clock_;
  std::unique_ptr<InterruptService> interrupts_;
  std::unique_ptr<Sources> sources_;
  Served served_{*this};
  RecordingDriver recorder_{served_, RecordingDriver::Serialised::kByCaller};
  std::unique_lock<std::mutex>* serving_lock_ = nullptr;  // the request being served holds it
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, WdCard> item_overrides_;  // by slot
  std::optional<WdPciScan> scan_override_;
  uint32_t next_card_handle_ = 1;
  uint32_t next_int_handle_ = 1;
  uint32_t version_ = kDefaultVersion;
  bool refuse_registration_ = false;
  bool interrupt_service_ = false;
};

// Installs a simulator as the process's driver for the lifetime of this object.
class ScopedInstall {
 public:
  explicit ScopedInstall(Simulator& sim) { WdHosted_Install(&sim); }
  ~ScopedInstall() { WdHosted_Install(nullptr); }
  ScopedInstall(const ScopedInstall&) = delete;
  ScopedInstall& operator=(const ScopedInstall&) = delete;
};

}  // namespace sim

#endif  // ZARERERA_SIM_SIMULATOR_H
