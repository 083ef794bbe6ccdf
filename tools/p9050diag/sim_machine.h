// The simulated machine the console host runs on: the simulated driver installed as the process's
// driver, a chipset's ordinary PCI functions, and the boards the command line asks for, each a
// PLX 9050 with its port window and serial EEPROM. Also keeps the EEPROM files and pin recordings.
#ifndef ZARERERA_TOOLS_P9050DIAG_SIM_MACHINE_H
#define ZARERERA_TOOLS_P9050DIAG_SIM_MACHINE_H

#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace p9050diag {

class SimMachine {
 public:
  SimMachine() = default;
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // Builds the bus, loads the EEPROM files that exist, starts the pin recordings and installs the
  // driver. False with a message on a file that cannot be used; nothing is installed then.
  bool Start(const Options& options, std::string* error);

  // Saves every EEPROM file and writes every recording; false with a message when one fails (the
  // others are still written). The driver stays installed until the object goes.
  bool Stop(std::string* error);

  // The machine built by Start, for tools that add to it before using it.
  sim::Simulator& simulator() { return *simulator_; }
  const std::vector<sim::SimBoard>& boards() const { return boards_; }

 private:
  std::unique_ptr<sim::Simulator> simulator_;
  std::unique_ptr<sim::ScopedInstall> install_;
  std::vector<sim::SimBoard> boards_;
  std::vector<std::string> eeprom_files_;
  std::vector<std::string> vcd_files_;
};

}  // namespace p9050diag

#endif  // ZARERERA_TOOLS_P9050DIAG_SIM_MACHINE_H
