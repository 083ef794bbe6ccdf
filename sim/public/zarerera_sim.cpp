// libzarerera_sim: the board API with the simulated machine as the process's driver. The simulator
// is made on first use (the device's first open, or a call of zarerera_sim.h) and never destroyed,
// so that an application's static destructors and exit handlers may still close boards and look at
// the board.
#include "zarerera_sim.h"

#include "driver/hosted_driver.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace {

struct SimulatedMachine {
  SimulatedMachine() { simulator.set_logging(false); }  // a test may run for hours
  sim::Simulator simulator{sim::Clock::Mode::kReal};
  sim::SimBoard board = sim::AddBoard(simulator);
};

SimulatedMachine& Machine() {
  static SimulatedMachine* machine = new SimulatedMachine;
  return *machine;
}

WdHostedDriver* Driver() {
  return &Machine().simulator;
}

// Opening the device installs the simulator when no other driver is installed.
struct UseTheSimulator {
  UseTheSimulator() { WdHosted_SetFallback(&Driver); }
} g_useTheSimulator;

}  // namespace

extern "C" {

void ZarereraSim_SetDigitalIn(uint8_t value) {
  Machine().board.ports->set_digital_in(value);
}

uint8_t ZarereraSim_DigitalOut(void) {
  return Machine().board.ports->digital_out();
}

uint32_t ZarereraSim_DigitalOutWrites(void) {
  return static_cast<uint32_t>(Machine().board.ports->digital_out_writes());
}

int ZarereraSim_Registrations(void) {
  return Machine().simulator.registrations();
}

int ZarereraSim_OpenHandles(void) {
  return WdHosted_OpenHandles();
}

}  // extern "C"
