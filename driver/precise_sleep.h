// A sleep that blocks for at least the time asked and ends close after it: what the kernel
// driver's sleep request does. In-process drivers (the simulator in real time, the Linux sysfs
// driver) serve their sleep requests with it.
#ifndef ZARERERA_DRIVER_PRECISE_SLEEP_H
#define ZARERERA_DRIVER_PRECISE_SLEEP_H

#include <cstdint>

// Nanoseconds on the monotonic clock.
uint64_t WdMonotonicNs();

// Waits until the monotonic clock reaches `deadline` (nanoseconds); never returns earlier.
void WdWaitUntilNs(uint64_t deadline);

// Waits `microseconds`, never less.
void WdPreciseSleepUs(uint32_t microseconds);

#endif  // ZARERERA_DRIVER_PRECISE_SLEEP_H
