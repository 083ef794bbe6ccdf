// The access delay: a busy loop of a fixed count, the board's only pacing between accesses.
#include "board/port_map.h"

extern "C" {
int32_t AccessDelayCount = 20000;
uint64_t Board_AccessDelays = 0;
}

extern "C" void Board_AccessDelay(void) {
  // A volatile counter makes every iteration a load and a store the compiler must keep, so the
  // loop runs its full count at any optimisation level.
  volatile int32_t i = 1;
  while (i < AccessDelayCount) {
    i = i + 1;
  }
  ++Board_AccessDelays;
}
