// Real-time sleeps never end early, whatever the lead the clock has learnt (speed is measured in
// bench/, not here).
#include <gtest/gtest.h>

#include <chrono>

#include "sim/clock.h"

namespace {

TEST(RealClock, SleepsNeverEndEarly) {
  sim::Clock clock(sim::Clock::Mode::kReal);
  for (uint32_t us : {500u, 500u, 1u, 0u, 20u, 300u, 500u, 2000u}) {
    for (int i = 0; i < 5; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const uint64_t before = clock.NowNs();
      clock.Sleep(us);
      const auto elapsed = std::chrono::steady_clock::now() - start;
      EXPECT_GE(elapsed, std::chrono::microseconds(us)) << us;
      EXPECT_GE(clock.NowNs() - before, uint64_t{us} * 1000) << us;
    }
  }
  EXPECT_EQ(clock.sleep_count(), 40u);
}

TEST(VirtualClock, SleepsAdvanceTimeAndAreCounted) {
  sim::Clock clock;
  EXPECT_EQ(clock.mode(), sim::Clock::Mode::kVirtual);
  // Over an hour of sleeps: the test would hang if virtual sleeps waited.
  for (uint32_t us : {500u, 0u, 4000000000u}) clock.Sleep(us);
  clock.Advance(7);
  EXPECT_EQ(clock.NowNs(), 4000000500ull * 1000 + 7);  // no 32-bit overflow of the total
  EXPECT_EQ(clock.sleep_count(), 3u);
  EXPECT_EQ(clock.slept_us(), 4000000500ull);
}

}  // namespace
