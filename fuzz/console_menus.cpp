// The console host's menus fed arbitrary lines: the first input byte picks the machine (how many
// default boards, bridge registers in memory or I/O, port window in memory or I/O), the rest is
// typed at the prompts. The machine is the host's typical one with the request log off and
// virtual time, so sleeps take no time. The host opens the default board as at start, runs the main
// menu to 99 or the end of input and closes the board; then no device handle and no registration
// may be left.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_bus.h"
#include "main_menu.h"
#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"
#include "sim/typical_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t machine = data[0];
  sim::Simulator simulator(sim::Clock::Mode::kVirtual);
  simulator.set_logging(false);
  sim::AddTypicalMachine(simulator);
  const int boards = machine & 3;
  for (int i = 0; i < boards; ++i) {
    sim::BoardConfig layout;
    layout.slot = 5 + static_cast<uint32_t>(i);
    if ((machine & 4) != 0)
      layout.bridge.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
    layout.ports_in_memory = (machine & 8) != 0;
    sim::AddBoard(simulator, layout);
  }
  sim::ScopedInstall install(simulator);
  {
    fuzz::ScopedConsole console(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    p9050diag::HostState state;
    p9050diag::OpenDefaultBoard(&state);
    p9050diag::RunMainMenu(&state);
    p9050diag::CloseBoard(&state);
  }
  fuzz::CheckNothingLeft(simulator, "console_menus");
  return 0;
}
