// The simulator's time base. Virtual by default: sleeps advance the clock and nothing waits, so
// tests step time deterministically. Real: the clock follows the monotonic clock and sleeps wait
// precisely (never early).
#ifndef ZARERERA_SIM_CLOCK_H
#define ZARERERA_SIM_CLOCK_H

#include <cstdint>

namespace sim {

class Clock {
 public:
  enum class Mode { kVirtual, kReal };

  explicit Clock(Mode mode = Mode::kVirtual);

  Mode mode() const { return mode_; }
  // Nanoseconds since the clock was made.
  uint64_t NowNs() const;
  // Serves a sleep request.
  void Sleep(uint32_t microseconds);
  // Moves virtual time on (tests); no effect in real mode.
  void Advance(uint64_t nanoseconds);
  // Makes NowNs() read `ns` now, in either mode (a machine resumed where it stopped). Call it
  // before anything reads the clock: what already holds a time of it is not moved.
  void Restore(uint64_t ns);

  uint64_t sleep_count() const { return sleep_count_; }
  uint64_t slept_us() const { return slept_us_; }

 private:
  Mode mode_;
  uint64_t virtual_ns_ = 0;
  uint64_t origin_ns_ = 0;
  uint64_t sleep_count_ = 0;
  uint64_t slept_us_ = 0;
};

}  // namespace sim

#endif  // ZARERERA_SIM_CLOCK_H
