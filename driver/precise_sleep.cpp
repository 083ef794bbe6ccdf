// A precise real-time sleep.
//
// The bridge library paces the EEPROM with thousands of 500 us sleeps, and a plain nanosleep wakes
// tens of microseconds late here (timer slack plus scheduling), some 11% of each sleep. So a sleep
// blocks until shortly before its deadline, with a small timer slack, and spins the rest. How early
// to wake is learnt from how late past wake-ups were, so the spin stays short on a quiet machine
// and grows on a busy one. A sleep never ends early.
#include "driver/precise_sleep.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace {

constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kNsPerSecond = 1000000000;

// The blocking part of a sleep ends this long before the deadline: twice the average lateness of
// past wake-ups, within these bounds. A wake-up delayed by preemption (milliseconds on a busy
// machine) counts only up to the upper bound: spinning longer would not have caught it, and a long
// spin is itself likely to be preempted.
constexpr uint64_t kMinLeadNs = 20'000;
constexpr uint64_t kMaxLeadNs = 120'000;
constexpr uint64_t kInitialLateNs = 50'000;
// Timer slack while blocked (the default is 50 us).
constexpr unsigned long kTimerSlackNs = 1'000;

thread_local uint64_t t_wake_late_ns = kInitialLateNs;

timespec ToTimespec(uint64_t ns) {
  return timespec{static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}

// Blocks until about `wake` on the monotonic clock; returns when it woke.
uint64_t BlockUntil(uint64_t wake) {
#if defined(__linux__)
  const int oldSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
  const timespec at = ToTimespec(wake);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
  if (oldSlack > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(oldSlack), 0, 0, 0);
#else
  for (uint64_t now = WdMonotonicNs(); now < wake; now = WdMonotonicNs()) {
    const timespec left = ToTimespec(wake - now);
    nanosleep(&left, nullptr);
  }
#endif
  return WdMonotonicNs();
}

}  // namespace

uint64_t WdMonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * kNsPerSecond + static_cast<uint64_t>(ts.tv_nsec);
}

void WdWaitUntilNs(uint64_t deadline) {
  const uint64_t now = WdMonotonicNs();
  if (now >= deadline) return;
  const uint64_t lead = std::clamp(2 * t_wake_late_ns, kMinLeadNs, kMaxLeadNs);
  if (deadline - now > lead) {
    const uint64_t wake = deadline - lead;
    const uint64_t woke = BlockUntil(wake);
    const uint64_t late = std::min(woke > wake ? woke - wake : 0, kMaxLeadNs);
    t_wake_late_ns = (7 * t_wake_late_ns + late) / 8;
  }
  while (WdMonotonicNs() < deadline) {
  }
}

void WdPreciseSleepUs(uint32_t microseconds) {
  WdWaitUntilNs(WdMonotonicNs() + static_cast<uint64_t>(microseconds) * kNsPerUs);
}
