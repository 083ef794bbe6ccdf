// Runs board_demo on the simulated board: before main starts, a simulator in real time with the
// default board is installed as the process's driver. Part of the example's test set-up only,
// never of the product. At exit it reports what reached the board's output latch.
#include <cstdio>

#include "sim/board.h"
#include "sim/simulator.h"

namespace {

constexpr uint8_t kDigitalInput = 0x5A;

class SimulatedBoardHost {
 public:
  SimulatedBoardHost() : simulator_(sim::Clock::Mode::kReal), install_(simulator_) {
    board_ = sim::AddBoard(simulator_);
    board_.ports->set_digital_in(kDigitalInput);
  }
  ~SimulatedBoardHost() {
    std::printf(
        "simulated board: output latch 0x%02x after %llu write(s), %d registration(s) left\n",
        static_cast<unsigned>(board_.ports->digital_out()),
        static_cast<unsigned long long>(board_.ports->digital_out_writes()),
        simulator_.registrations());
  }

 private:
  sim::Simulator simulator_;
  sim::ScopedInstall install_;
  sim::SimBoard board_;
};

SimulatedBoardHost g_host;

}  // namespace
