// The simulator's request log and the bridge's register-write log keep every entry by default and
// only the latest ones once a capacity is set (a long-running host sets 0).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sim/plx9050.h"
#include "sim_fixture.h"

namespace {

constexpr uint32_t kEntries = 5;

struct CapacityCase {
  const char* name;
  bool set;         // false: the default
  size_t capacity;  // when set
  uint32_t kept;    // the latest `kept` of kEntries stay
};

void PrintTo(const CapacityCase& c, std::ostream* os) {
  *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<CapacityCase>& info) {
  return info.param.name;
}

const CapacityCase kCases[] = {
    {"Default", false, 0, kEntries}, {"None", true, 0, 0},  {"One", true, 1, 1},
    {"Three", true, 3, 3},           {"Exact", true, 5, 5}, {"Larger", true, 8, 5},
};

class RequestLogCapacityTest : public simtest::SimFixture,
                               public ::testing::WithParamInterface<CapacityCase> {};

// Sleeps of 1..5 us: the log holds the latest ones, oldest first.
TEST_P(RequestLogCapacityTest, KeepsTheLatestRequests) {
  const CapacityCase& c = GetParam();
  sim_.ClearLog();
  if (c.set) sim_.set_log_capacity(c.capacity);
  for (uint32_t us = 1; us <= kEntries; ++us) Sleep(us);
  std::vector<uint32_t> logged;
  for (const auto& r : sim_.log()) {
    ASSERT_EQ(r.code, WD_CODE_SLEEP);
    logged.push_back(r.As<WdSleep>().microseconds);
  }
  std::vector<uint32_t> expected;
  for (uint32_t us = kEntries - c.kept + 1; us <= kEntries; ++us) expected.push_back(us);
  EXPECT_EQ(logged, expected);
  EXPECT_EQ(sim_.Count(WD_CODE_SLEEP), c.kept);
  // Every request was still served.
  EXPECT_EQ(sim_.clock().sleep_count(), kEntries);
}

INSTANTIATE_TEST_SUITE_P(Capacities, RequestLogCapacityTest, ::testing::ValuesIn(kCases), CaseName);

class RegisterWriteCapacityTest : public ::testing::TestWithParam<CapacityCase> {};

// Writes of 1..5 to LAS0BA through BAR0: the log holds the latest ones, oldest first.
TEST_P(RegisterWriteCapacityTest, KeepsTheLatestWrites) {
  const CapacityCase& c = GetParam();
  sim::Plx9050 card;
  if (c.set) card.set_register_write_capacity(c.capacity);
  for (uint32_t v = 1; v <= kEntries; ++v) card.BarWrite(0, sim::plx9050::kLas0ba, v, 4);
  std::vector<sim::Plx9050::RegisterWrite> expected;
  for (uint32_t v = kEntries - c.kept + 1; v <= kEntries; ++v) {
    expected.push_back({0, sim::plx9050::kLas0ba, v});
  }
  EXPECT_EQ(card.register_writes(), expected);
  // The register took every write.
  EXPECT_EQ(card.Peek(sim::plx9050::kLas0ba), kEntries);
}

INSTANTIATE_TEST_SUITE_P(Capacities, RegisterWriteCapacityTest, ::testing::ValuesIn(kCases),
                         CaseName);

class LogCapacityTest : public simtest::SimFixture {};

// Setting a smaller capacity drops the oldest entries already logged.
TEST_F(LogCapacityTest, SmallerCapacityDropsTheOldest) {
  sim_.ClearLog();
  for (uint32_t us = 1; us <= kEntries; ++us) Sleep(us);
  sim_.set_log_capacity(2);
  ASSERT_EQ(sim_.log().size(), 2u);
  EXPECT_EQ(sim_.log()[0].As<WdSleep>().microseconds, 4u);
  EXPECT_EQ(sim_.log()[1].As<WdSleep>().microseconds, 5u);

  sim::Plx9050 card;
  for (uint32_t v = 1; v <= kEntries; ++v) card.BarWrite(0, sim::plx9050::kLas0ba, v, 4);
  card.set_register_write_capacity(1);
  EXPECT_EQ(card.register_writes(),
            (std::vector<sim::Plx9050::RegisterWrite>{{0, sim::plx9050::kLas0ba, kEntries}}));
}

}  // namespace
