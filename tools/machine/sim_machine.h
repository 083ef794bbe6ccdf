// The simulated machine both tools run on: the simulated driver installed as the process's
// driver, a chipset's ordinary PCI functions, and the boards the command line asks for, each a
// PLX 9050 with its port window and serial EEPROM. Also keeps the EEPROM files and pin recordings.
#ifndef ZARERERA_TOOLS_MACHINE_SIM_MACHINE_H
#define ZARERERA_TOOLS_MACHINE_SIM_MACHINE_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <thread>

#include "eeprom_file.h"
#include "options.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace machine {

class SimMachine {
 public:
  SimMachine();
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // Checks that every file can be written, builds the bus, loads the EEPROM files that exist,
  // starts the pin recordings and installs the driver. A file that does not exist yet adds a line
  // to *notes. False with a message on a file that cannot be used; nothing is installed then.
  bool Start(const SimMachineOptions& options, std::vector<std::string>* notes, std::string* error);

  // Runs `hook` before every request the driver gets (the host ends a session there).
  void set_before_request(std::function<void()> hook) { beforeRequest_ = std::move(hook); }

  // Saves every EEPROM file whose image changed (or that did not exist) and writes every
  // recording; false with a message per file that failed (the others are still written). Once:
  // later calls do nothing. The driver stays installed until the object goes.
  bool Stop(std::vector<std::string>* errors);

  // Pulses LINTi1 of the simulated board `board` is open on (low, then high again) and waits, up to
  // a second, until an interrupt that caused has been handled; false when `board` is none of them.
  bool PulseInterrupt(P9050_Handle* board);

  // The machine built by Start, for tools that add to it before using it.
  sim::Simulator& simulator() { return *simulator_; }
  const std::vector<sim::SimBoard>& boards() const { return boards_; }

 private:
  // The simulator, the chipset's functions and the boards the options ask for.
  void BuildBus(const SimMachineOptions& options);
  struct Driver;

  std::unique_ptr<sim::Simulator> simulator_;
  std::unique_ptr<Driver> driver_;
  std::function<void()> beforeRequest_;
  std::thread::id hostThread_;  // the hook runs for its requests only, not an interrupt service's
  std::vector<sim::SimBoard> boards_;
  std::vector<std::string> eepromFiles_;
  std::vector<std::optional<EepromImage>> onDisk_;  // per EEPROM file; none when missing
  std::vector<std::string> vcdFiles_;
  std::string stateFile_;  // --sim-state; empty: none
  bool stopped_ = false;
};

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_SIM_MACHINE_H
