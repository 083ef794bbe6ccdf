// The driver a command talks to and the board it works on.
//
// A Session starts the driver the command line chose (for `sim`, the simulated machine p9050diag
// runs on too, installed as the process's driver; for `sysfs`, the Linux sysfs driver installed
// the same way; for `windows`, nothing: the device channel then reaches the
// kernel driver's device) and opens the board that
// --board / -s / -d name. Finish closes the board and stops the driver, saving what the simulated
// machine keeps (EEPROM files, pin recordings, the port and register logs); its failures are the
// command's. With --sim-irq-every a thread of the session pulses the first board's LINTi1 while
// the board is open, each pulse through the console host's own (one interrupt, waited out).
#ifndef ZARERERA_TOOLS_ZARERERA_SESSION_H
#define ZARERERA_TOOLS_ZARERERA_SESSION_H

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "driver/hosted_driver.h"
#include "machine/options.h"
#include "p9050_lib.h"
#include "util.h"

namespace machine {
class SimMachine;
class SysfsHost;
}  // namespace machine

namespace zcmd {

class Session {
 public:
  explicit Session(const Config& config);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the chosen board (once); a Failure with the library's reason when it cannot.
  P9050_Handle* Board();
  const WdPciSlot& BoardSlot() const { return slot_; }

  // The BARs of the function in `slot` that the driver's records cannot carry (above 4 GiB), known
  // to the sysfs driver's tree; none on the other drivers, whose records hold every BAR they have.
  struct HighRegion {
    unsigned bar;
    bool memory;
    uint64_t start;
    uint64_t bytes;
  };
  std::vector<HighRegion> HighRegions(const WdPciSlot& slot) const;

  // A driver device handle for bus requests, checked for the driver's version. The caller closes
  // it with WdChannel_Close.
  WdDeviceHandle OpenDevice();

  void Finish();

 private:
  void CheckBridge(const machine::BoardIds& ids,
                   uint32_t index);  // a Failure unless it looks like one
  void StartSim();
  void StartSysfs();
  void StopSysfs();
  void WriteLogs();  // the first board's port and register logs, as --sim-...-log asks
  void StartPulser();
  void StopPulser();

  const Config& config_;
  std::unique_ptr<machine::SimMachine> machine_;
#ifdef __linux__
  std::unique_ptr<machine::SysfsHost> sysfs_;  // --driver=sysfs: the installed driver
#endif
  P9050_Handle* board_ = nullptr;
  WdPciSlot slot_{};
  bool finished_ = false;

  // --sim-irq-every: the pulsing thread and what stops it.
  std::thread pulser_;
  std::mutex pulserLock_;
  std::condition_variable pulserWake_;
  bool pulserStop_ = false;
};

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_SESSION_H
