// The simulator's time base: virtual time that sleeps advance, or the monotonic clock with sleeps
// that wait at least as long as asked. Real sleeps here are plain nanosleep calls repeated until
// the deadline has passed; they never end early but may overshoot by the scheduler's granularity.
#include "sim/clock.h"

#include <ctime>

namespace sim {

namespace {

constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kNsPerSecond = 1000000000;

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * kNsPerSecond + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

Clock::Clock(Mode mode) : mode_(mode), origin_ns_(mode == Mode::kReal ? MonotonicNs() : 0) {}

uint64_t Clock::NowNs() const {
  return mode_ == Mode::kVirtual ? virtual_ns_ : MonotonicNs() - origin_ns_;
}

void Clock::Sleep(uint32_t microseconds) {
  ++sleep_count_;
  slept_us_ += microseconds;
  const uint64_t ns = static_cast<uint64_t>(microseconds) * kNsPerUs;
  if (mode_ == Mode::kVirtual) {
    virtual_ns_ += ns;
    return;
  }
  const uint64_t deadline = MonotonicNs() + ns;
  for (uint64_t now = MonotonicNs(); now < deadline; now = MonotonicNs()) {
    const uint64_t left = deadline - now;
    timespec ts{static_cast<time_t>(left / kNsPerSecond), static_cast<long>(left % kNsPerSecond)};
    nanosleep(&ts, nullptr);  // interrupted or early wake-ups are caught by the loop
  }
}

void Clock::Advance(uint64_t nanoseconds) {
  if (mode_ == Mode::kVirtual) virtual_ns_ += nanoseconds;
}

}  // namespace sim
