// The simulator's time base: virtual time that sleeps advance, or the monotonic clock with the
// driver's precise sleep (driver/precise_sleep.h), which waits at least as long as asked.
#include "sim/clock.h"

#include "driver/precise_sleep.h"

namespace sim {

namespace {

constexpr uint64_t kNsPerUs = 1000;

}  // namespace

Clock::Clock(Mode mode) : mode_(mode), origin_ns_(mode == Mode::kReal ? WdMonotonicNs() : 0) {}

uint64_t Clock::NowNs() const {
  return mode_ == Mode::kVirtual ? virtual_ns_ : WdMonotonicNs() - origin_ns_;
}

void Clock::Sleep(uint32_t microseconds) {
  ++sleep_count_;
  slept_us_ += microseconds;
  const uint64_t ns = static_cast<uint64_t>(microseconds) * kNsPerUs;
  if (mode_ == Mode::kVirtual) {
    virtual_ns_ += ns;
    return;
  }
  WdWaitUntilNs(WdMonotonicNs() + ns);
}

void Clock::Restore(uint64_t ns) {
  virtual_ns_ = ns;
  if (mode_ == Mode::kReal) origin_ns_ = WdMonotonicNs() - ns;
}

void Clock::Advance(uint64_t nanoseconds) {
  if (mode_ == Mode::kVirtual) virtual_ns_ += nanoseconds;
}

}  // namespace sim
