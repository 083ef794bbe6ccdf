// The access delay: a busy loop of a fixed count, the board's only pacing between accesses.
#include <atomic>

#include "board/port_map.h"
#include "hooks/test_hooks.h"

namespace {

// Boards used from different threads pace at the same time: the count is one relaxed atomic
// increment (a single locked add, no library behind it).
std::atomic<uint32_t> g_delaysRun{0};

}  // namespace

extern "C" {
int32_t AccessDelayCount = 20000;
}

extern "C" void Board_AccessDelay(void) {
  // A volatile counter makes every iteration a load and a store the compiler must keep, so the
  // loop runs its full count at any optimisation level.
  volatile int32_t i = 1;
  while (i < AccessDelayCount) {
    i = i + 1;
  }
  g_delaysRun.fetch_add(1, std::memory_order_relaxed);
}

extern "C" uint32_t Board_AccessDelays(void) {
  return g_delaysRun.load(std::memory_order_relaxed);
}
