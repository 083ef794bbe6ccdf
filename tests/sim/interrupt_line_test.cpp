// The board's interrupt path in the simulator: LINTi1 driven by counter 0 of group 0, as the
// bridge's INTCSR shows it, and the simulated driver's interrupt requests answered on their own
// (without the library's service): refusals, a level that nothing masks, waits after disable.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "driver/driver_request.h"
#include "driver/int_requests.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/simulator.h"
#include "support/param_name.h"

namespace {

constexpr uint32_t kLint1Status = 0x04;
constexpr uint32_t kLint1ActiveHigh = 0x02;

struct CounterCase {
  const char* name;
  uint8_t control;  // 0: the counter is never programmed
  uint8_t count;
  uint32_t pulses;
  bool activeHigh;
  bool newCount;  // a new count written after the pulses
  bool active;    // LINTi1 status in INTCSR
};
void PrintTo(const CounterCase& c, std::ostream* os) {
  *os << c.name;
}

class CounterLineTest : public ::testing::TestWithParam<CounterCase> {};

TEST_P(CounterLineTest, Lint1FollowsTheInvertedCounterOutput) {
  const CounterCase& c = GetParam();
  sim::Simulator simulator;
  sim::SimBoard board = sim::AddBoard(simulator);
  board.bridge->Poke(P9050_INTCSR, c.activeHigh ? kLint1ActiveHigh : 0);
  sim::CounterGroup8254& group = board.ports->group(sim::wiring::kInterruptGroup);
  if (c.control != 0) {
    group.Write(sim::i8254::kControlPort, c.control, 1);
    group.Write(0, c.count, 1);
    group.Write(0, 0, 1);
  }
  group.Pulse(c.pulses);
  if (c.newCount) {
    group.Write(0, c.count, 1);
    group.Write(0, 0, 1);
  }
  const uint32_t intcsr = board.bridge->BarRead(0, P9050_INTCSR, 4);
  EXPECT_EQ((intcsr & kLint1Status) != 0, c.active);
}

// Counter 0: LSB then MSB; mode 0 is 0x30, mode 2 is 0x34. The first pulse after a count loads it.
INSTANTIATE_TEST_SUITE_P(
    Cases, CounterLineTest,
    ::testing::Values(CounterCase{"Unprogrammed", 0, 0, 100, false, false, false},
                      CounterCase{"Mode0Counting", 0x30, 10, 10, false, false, false},
                      CounterCase{"Mode0TerminalCount", 0x30, 10, 11, false, false, true},
                      CounterCase{"Mode0NewCountAcknowledges", 0x30, 10, 11, false, true, false},
                      CounterCase{"Mode2ActiveHighOutOfThePulse", 0x34, 4, 3, true, false, false},
                      CounterCase{"Mode2ActiveHighInThePulse", 0x34, 4, 4, true, false, true},
                      CounterCase{"Mode2ActiveHighReloaded", 0x34, 4, 5, true, false, false}),
    testsupport::ByNameMember());

class DriverInterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator_.set_interrupt_service(true);
    board_ = sim::AddBoard(simulator_);
    ASSERT_TRUE(P9050_Open(&handle_, 0x9050, 0x10B5, 0, 0));
    ASSERT_NE(handle_->intHandle, 0u);
  }
  void TearDown() override {
    P9050_Close(handle_);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }
  uint32_t Send(uint32_t code, WdIntRequest* r) {
    return DriverRequest(code, handle_->device, r, sizeof *r, 0);
  }
  WdIntRequest For(uint32_t intHandle) {
    WdIntRequest r;
    std::memset(&r, 0, sizeof r);
    r.intHandle = intHandle;
    return r;
  }

  sim::Simulator simulator_;
  sim::ScopedInstall install_{simulator_};
  sim::SimBoard board_;
  P9050_Handle* handle_ = nullptr;
};

TEST_F(DriverInterruptTest, RefusesWhatItCannotService) {
  WdIntRequest r = For(handle_->intHandle + 1);
  EXPECT_EQ(Send(WD_CODE_INT_ENABLE, &r), sim::kStatusNoSuchCard) << "no such interrupt";
  WdTransfer block{};
  block.command = WD_RP_SDWORD;
  r = For(handle_->intHandle);
  r.commands = WD_TO_UPTR(&block);
  r.commandCount = 1;
  EXPECT_EQ(Send(WD_CODE_INT_ENABLE, &r), sim::kStatusInvalidParameter) << "block command";
  r = For(handle_->intHandle);
  EXPECT_EQ(Send(WD_CODE_INT_DISABLE, &r), sim::kStatusNoSuchCard) << "not enabled";
  EXPECT_EQ(Send(WD_CODE_INT_WAIT, &r), 0u);
  EXPECT_EQ(r.stopped, 1u) << "a wait on a disabled interrupt returns stopped";
  EXPECT_EQ(Send(WD_CODE_INT_ENABLE, &r), 0u);
  EXPECT_EQ(Send(WD_CODE_INT_ENABLE, &r), sim::kStatusResourceBusy) << "enabled twice";
  EXPECT_EQ(Send(WD_CODE_INT_DISABLE, &r), 0u);
}

// The counter moves LINTi1 without any register write: the register window the library reads
// shows the new status bit after the next request all the same.
TEST_F(DriverInterruptTest, RegisterWindowFollowsTheCounterDrivenInput) {
  sim::CounterGroup8254& group = board_.ports->group(sim::wiring::kInterruptGroup);
  group.Write(sim::i8254::kControlPort, 0x30, 1);  // counter 0, mode 0
  group.Write(0, 10, 1);
  group.Write(0, 0, 1);
  WdVersion v{};
  (void)DriverRequest(WD_CODE_VERSION, handle_->device, &v, sizeof v, 0);
  EXPECT_EQ(P9050_ReadReg(handle_, P9050_INTCSR) & kLint1Status, 0u) << "counting";
  group.Pulse(11);
  (void)DriverRequest(WD_CODE_VERSION, handle_->device, &v, sizeof v, 0);
  EXPECT_EQ(P9050_ReadReg(handle_, P9050_INTCSR) & kLint1Status, kLint1Status) << "expired";
}

// With no command to mask it, the software interrupt keeps the line asserted: it is taken once,
// every further look while it is pending counts a lost one, and each wait is followed by the next.
TEST_F(DriverInterruptTest, UnmaskedLevelRepeatsAndCountsLost) {
  P9050_WriteReg(handle_, P9050_INTCSR, 0xC0);  // PCI interrupt enable and software interrupt
  WdIntRequest r = For(handle_->intHandle);
  ASSERT_EQ(Send(WD_CODE_INT_ENABLE, &r), 0u);
  EXPECT_EQ(simulator_.interrupt_state(handle_->intHandle).counter, 1u);
  for (int i = 0; i < 2; ++i) {
    WdVersion v{};
    (void)DriverRequest(WD_CODE_VERSION, handle_->device, &v, sizeof v, 0);
  }
  ASSERT_EQ(Send(WD_CODE_INT_WAIT, &r), 0u);
  EXPECT_EQ(r.counter, 1u);
  EXPECT_EQ(r.lost, 2u);
  EXPECT_EQ(r.stopped, 0u);
  ASSERT_EQ(Send(WD_CODE_INT_WAIT, &r), 0u);
  EXPECT_EQ(r.counter, 2u);
  EXPECT_EQ(r.lost, 2u);
  ASSERT_EQ(Send(WD_CODE_INT_DISABLE, &r), 0u);
  EXPECT_EQ(Send(WD_CODE_INT_WAIT, &r), 0u);
  EXPECT_EQ(r.stopped, 1u);
}

}  // namespace
