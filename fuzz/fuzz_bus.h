// The simulated bus of a fuzz target: the boards it puts on it and the check that a run left
// nothing behind.
#ifndef ZARERERA_FUZZ_FUZZ_BUS_H
#define ZARERERA_FUZZ_FUZZ_BUS_H

#include <fuzzer/FuzzedDataProvider.h>

#include "driver/hosted_driver.h"
#include "fuzz_console.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace fuzz {

// A board laid out as `layout`, its ports in memory or in I/O as the input says.
inline sim::SimBoard AddBoard(sim::Simulator& simulator, FuzzedDataProvider& in,
                              sim::BoardConfig layout = {}) {
  layout.ports_in_memory = in.ConsumeBool();
  return sim::AddBoard(simulator, layout);
}

// Aborts when a device handle is left open or a card registered.
inline void CheckNothingLeft(const sim::Simulator& simulator, const char* target) {
  Check(WdHosted_OpenHandles() == 0, target, "a device handle is left open");
  Check(simulator.registrations() == 0, target, "a registration is left");
}

}  // namespace fuzz

#endif  // ZARERERA_FUZZ_FUZZ_BUS_H
