// Ordinary PCI functions to put beside the boards on a simulated bus, so that a bus scan looks like
// a real machine: a host bridge, an Ethernet controller and a SATA controller, each with the IDs,
// class code and resources (memory, I/O, interrupt) of a common chipset part. They answer their
// configuration space only; nothing behind their BARs is modelled (reads return all ones).
#ifndef ZARERERA_SIM_TYPICAL_MACHINE_H
#define ZARERERA_SIM_TYPICAL_MACHINE_H

#include <cstdint>
#include <vector>

#include "driver/wd_records.h"
#include "sim/simulator.h"

namespace sim {

struct TypicalFunction {
  WdPciSlot slot;
  FunctionConfig cfg;
};

// The functions AddTypicalMachine adds, in bus/slot/function order. They sit on bus 0 at slots 0,
// 0x19 and 0x1f, where a chipset puts them; boards belong elsewhere.
std::vector<TypicalFunction> TypicalMachineFunctions();

// Adds every function of TypicalMachineFunctions() to `sim`.
void AddTypicalMachine(Simulator& sim);

}  // namespace sim

#endif  // ZARERERA_SIM_TYPICAL_MACHINE_H
