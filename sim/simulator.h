// The simulated kernel driver and the PCI bus behind it.
//
// Serves every request code of the driver channel with the driver's record layouts, results
// written in place and the 4-byte status. Cards are PCI functions with a 256-byte configuration
// space; their resources are derived from the BARs and the interrupt line. Memory BARs are mapped,
// on registration, to page-aligned memory the simulator owns: the library loads and stores there
// directly, and a card model sees those stores at the next request (each changed dword handed to
// it as a write, lowest address first); after every request the model's current values are
// written back into the window.
//
// For tests it keeps a log of every request and lets faults be injected per request code.
#ifndef ZARERERA_SIM_SIMULATOR_H
#define ZARERERA_SIM_SIMULATOR_H

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "driver/hosted_driver.h"
#include "driver/wd_records.h"
#include "sim/card_model.h"
#include "sim/clock.h"

namespace sim {

struct FunctionSpec {
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint32_t classCode = 0;  // base class, subclass, programming interface (24 bits)
  uint8_t revision = 0;
  uint8_t headerType = 0;
  uint16_t subsystemVendorId = 0;
  uint16_t subsystemId = 0;
  BarSpec bars[6];
  uint8_t irq = 0;           // interrupt line; 0: the card has no interrupt item
  uint8_t interruptPin = 0;  // 1 = INTA#
  bool busItem = false;      // report a bus item in the card information
};

class PciFunction;  // one function on the bus: configuration space, BARs, model

class Simulator : public WdHostedDriver {
 public:
  explicit Simulator(Clock::Mode mode = Clock::Mode::kVirtual);
  ~Simulator() override;

  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override;

  // The bus. BAR addresses are assigned when a function is added.
  PciFunction& AddFunction(uint32_t bus, uint32_t slot, uint32_t function, const FunctionSpec& spec,
                           std::shared_ptr<CardModel> model = nullptr);
  PciFunction* Find(const WdPciSlot& slot);
  Clock& clock() { return clock_; }

  // The request log: every request, with the record as the driver left it.
  struct Request {
    uint32_t code;
    std::vector<uint8_t> record;
    uint32_t status;  // as written, or WD_STATUS_NONE when not written
    bool answered;    // false when the status was left untouched
    template <class T>
    T As() const {
      T out{};
      std::memcpy(&out, record.data(), record.size() < sizeof out ? record.size() : sizeof out);
      return out;
    }
  };
  const std::vector<Request>& log() const { return log_; }
  void ClearLog() { log_.clear(); }
  size_t Count(uint32_t code) const;
  void set_logging(bool on) { logging_ = on; }  // benchmarks switch it off

  // Faults.
  void SetVersion(uint32_t version) { version_ = version; }
  void FailRequests(uint32_t code, uint32_t status);  // error status, record untouched
  void SilenceRequests(uint32_t code);                // status not written, record untouched
  void ClearFaults();
  void RefuseRegistration(bool refuse) { refuse_registration_ = refuse; }
  void OverrideCardItems(const WdPciSlot& slot, const WdCard& card);
  void OverrideScan(const WdPciScan& result);  // every scan answers with this

  // Registrations now in force.
  int registrations() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  Clock clock_;
  std::vector<Request> log_;
  bool logging_ = true;
  uint32_t version_ = 1000;
  bool refuse_registration_ = false;
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
