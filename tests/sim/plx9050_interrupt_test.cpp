// INTCSR's interrupt logic on the 9050 model: status bits that follow the local inputs through
// their polarities, and the card's interrupt line.
#include <gtest/gtest.h>

#include "sim/plx9050.h"
#include "support/param_name.h"

namespace {

using namespace sim::plx9050;

struct LineCase {
  uint32_t written;  // INTCSR as written through BAR0
  bool lint1;        // pin levels
  bool lint2;
  uint32_t read;  // INTCSR as read back
  bool asserted;
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << "written 0x" << std::hex << c.written << ", LINT1 " << (c.lint1 ? "high" : "low")
      << ", LINT2 " << (c.lint2 ? "high" : "low");
}

class IntcsrTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(IntcsrTest, StatusFollowsTheInputsAndTheLineNeedsAnEnabledSource) {
  const LineCase& c = GetParam();
  sim::Plx9050 bridge;
  bridge.SetLocalInterrupt(1, c.lint1);
  bridge.SetLocalInterrupt(2, c.lint2);
  bridge.BarWrite(0, kIntcsr, c.written, 4);
  EXPECT_EQ(bridge.BarRead(0, kIntcsr, 4), c.read);
  EXPECT_EQ(bridge.BarRead(1, kIntcsr, 4), c.read);
  EXPECT_EQ(bridge.InterruptAsserted(), c.asserted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntcsrTest,
    ::testing::Values(
        // Inputs at rest (high) with the reset polarity (active low): nothing pending.
        LineCase{0x00, true, true, 0x00, false}, LineCase{0x49, true, true, 0x49, false},
        // Status bits are read-only: writing them sets nothing.
        LineCase{0x64, true, true, 0x40, false},
        // Input 1 pulled low: status shows it whether enabled or not; the line needs enable + 6.
        LineCase{0x00, false, true, 0x04, false}, LineCase{0x01, false, true, 0x05, false},
        LineCase{0x40, false, true, 0x44, false}, LineCase{0x41, false, true, 0x45, true},
        // Input 2, active high.
        LineCase{0x58, true, true, 0x78, true}, LineCase{0x50, true, true, 0x70, false},
        LineCase{0x18, true, true, 0x38, false}, LineCase{0x58, true, false, 0x58, false},
        // Input 1 active high, input 2 active low, both enabled and active.
        LineCase{0x4B, true, false, 0x6F, true},
        // The software interrupt needs only the PCI enable.
        LineCase{0x80, true, true, 0x80, false}, LineCase{0xC0, true, true, 0xC0, true}),
    testsupport::ByPrinted());

TEST(Plx9050InterruptTest, TheLineFollowsTheInputWithoutAnotherWrite) {
  sim::Plx9050 bridge;
  bridge.BarWrite(0, kIntcsr, kIntLint1Enable | kIntPciEnable, 4);
  EXPECT_FALSE(bridge.InterruptAsserted());
  bridge.SetLocalInterrupt(1, false);
  EXPECT_TRUE(bridge.InterruptAsserted());
  bridge.SetLocalInterrupt(1, true);
  EXPECT_FALSE(bridge.InterruptAsserted());
  bridge.SetLocalInterrupt(3, false);  // no such input
  EXPECT_FALSE(bridge.InterruptAsserted());
}

}  // namespace
