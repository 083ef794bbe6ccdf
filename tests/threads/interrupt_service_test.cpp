// The interrupt service: P9050_IntEnable with a driver that services interrupts (the simulator with
// its interrupt requests on) starts a thread that calls the handler once per interrupt; disable
// and close end it. The bridge's LINTi1 is the source: a test pulls it low (active at the reset
// polarity) and lets it go. Run under ThreadSanitizer too (the tsan preset builds this program).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/diag_fixture.h"
#include "driver/driver_request.h"
#include "driver/int_requests.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/simulator.h"
#include "support/param_name.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLint1Enable = 0x01;  // INTCSR: LINTi1 enabled, active low
constexpr uint32_t kLint1Status = 0x04;

// What the handlers saw, shared with the service threads.
struct Seen {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<P9050_IntResult> results;
  std::vector<P9050_Handle*> handles;     // opened by the test
  std::vector<P9050_Handle*> calledWith;  // per handler call
  std::vector<uint32_t> intcsrAtCall;     // the bridge's INTCSR while the handler ran
  sim::Plx9050* bridges[2] = {};
  int ackAfter = 0;         // acknowledge (release LINTi1) at this call; 0: at once
  bool blockFirst = false;  // the first call waits for `release`
  bool entered = false;
  bool release = false;
  std::atomic<bool> returned{false};
};
Seen* g_seen = nullptr;

void Handler(P9050_Handle* handle, P9050_IntResult* result) {
  Seen& s = *g_seen;
  std::unique_lock<std::mutex> lock(s.lock);
  sim::Plx9050* bridge = s.bridges[handle == s.handles.front() ? 0 : 1];
  s.results.push_back(*result);
  s.calledWith.push_back(handle);
  s.intcsrAtCall.push_back(bridge->Peek(P9050_INTCSR));
  if (s.blockFirst && s.results.size() == 1) {
    s.entered = true;
    s.changed.notify_all();
    s.changed.wait(lock, [&] { return s.release; });
  }
  const bool ack = static_cast<int>(s.results.size()) >= s.ackAfter;
  lock.unlock();
  if (ack) bridge->SetLocalInterrupt(1, true);  // the board's acknowledgement
  s.returned = true;
}

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() {
    g_seen = &seen_;
    sim_.set_interrupt_service(true);
  }
  ~ServiceTest() override { g_seen = nullptr; }

  P9050_Handle* AddAndOpen(sim::BarKind bar0 = sim::BarKind::kMemory) {
    sim::BoardConfig cfg;
    cfg.slot = static_cast<uint32_t>(3 + boards_.size());
    cfg.bridge.bars[0] = {bar0, sim::plx9050::kRegisterBlockSize};
    boards_.push_back(sim::AddBoard(sim_, cfg));
    P9050_Handle* h = nullptr;
    EXPECT_TRUE(P9050_Open(&h, 0x9050, 0x10B5, static_cast<uint32_t>(boards_.size() - 1), 0));
    seen_.bridges[boards_.size() - 1] = boards_.back().bridge;
    P9050_WriteReg(h, P9050_INTCSR, kLint1Enable);
    seen_.handles.push_back(h);
    return h;
  }

  void TearDown() override {
    for (P9050_Handle* h : seen_.handles) P9050_Close(h);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
    EXPECT_EQ(sim_.registrations(), 0);
  }

  void Pulse(P9050_Handle* h, int board = 0) {
    boards_[board].bridge->PulseLocalInterrupt(1);
    Settle(h);
  }
  void Settle(P9050_Handle* h) { ASSERT_TRUE(sim_.WaitInterruptSettled(h->intHandle, 5s)); }

  // With `seen_.blockFirst`: waits until the first handler call has begun, and lets it return.
  void WaitUntilTheHandlerRuns() {
    std::unique_lock<std::mutex> lock(seen_.lock);
    seen_.changed.wait(lock, [&] { return seen_.entered; });
  }
  void ReleaseTheHandler() {
    std::lock_guard<std::mutex> guard(seen_.lock);
    seen_.release = true;
    seen_.changed.notify_all();
  }

  std::vector<P9050_IntResult> Results() {
    std::lock_guard<std::mutex> guard(seen_.lock);
    return seen_.results;
  }

  Seen seen_;
  sim::Simulator sim_;
  sim::ScopedInstall install_{sim_};
  std::vector<sim::SimBoard> boards_;
};

class ServiceSpaceTest : public ServiceTest, public ::testing::WithParamInterface<sim::BarKind> {};

// Each pulse is one interrupt: the handler sees the count so far and INTCSR as command 0 fetched it
// (enabled, LINTi1 active); while it runs the card is masked, and afterwards it is armed again.
TEST_P(ServiceSpaceTest, CountsOncePerInterruptAndReArmsAfterTheHandler) {
  P9050_Handle* h = AddAndOpen(GetParam());
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  EXPECT_TRUE(P9050_IntIsEnabled(h));
  EXPECT_EQ(WdHosted_OpenHandles(), 2);  // the card's and the service's own
  Settle(h);
  for (int i = 0; i < 3; ++i) Pulse(h);
  const std::vector<P9050_IntResult> results = Results();
  ASSERT_EQ(results.size(), 3u);
  const uint32_t fetched = kLint1Enable | kLint1Status | P9050_INTCSR_PCI_INT_ENABLE;
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i].counter, i + 1);
    EXPECT_EQ(results[i].lost, 0u);
    EXPECT_EQ(results[i].stopped, 0u);
    EXPECT_EQ(results[i].status, fetched);
    EXPECT_EQ(seen_.intcsrAtCall[i] & P9050_INTCSR_PCI_INT_ENABLE, 0u) << "masked in the handler";
  }
  EXPECT_EQ(boards_[0].bridge->Peek(P9050_INTCSR), kLint1Enable | P9050_INTCSR_PCI_INT_ENABLE);
  EXPECT_EQ(sim_.interrupt_state(h->intHandle).counter, 3u);
}

INSTANTIATE_TEST_SUITE_P(Spaces, ServiceSpaceTest,
                         ::testing::Values(sim::BarKind::kMemory, sim::BarKind::kIo),
                         [](const ::testing::TestParamInfo<sim::BarKind>& info) {
                           return info.param == sim::BarKind::kMemory ? "Memory" : "Io";
                         });

// Level-triggered: a source the handler leaves active interrupts again as soon as the service
// re-arms; once the handler clears it (here at the third call) the interrupts stop.
TEST_F(ServiceTest, SourceLeftActiveRepeatsUntilTheHandlerClearsIt) {
  P9050_Handle* h = AddAndOpen();
  seen_.ackAfter = 3;
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  boards_[0].bridge->SetLocalInterrupt(1, false);  // one assertion, never released by the test
  Settle(h);
  std::this_thread::sleep_for(20ms);  // room for any further interrupt to show
  Settle(h);
  const std::vector<P9050_IntResult> results = Results();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[2].counter, 3u);
  EXPECT_EQ(results[2].lost, 0u);
}

// While the handler runs, requests of the source are not seen by the masked card: they are lost,
// and the next interrupt reports them.
TEST_F(ServiceTest, SlowHandlerMakesLostCount) {
  P9050_Handle* h = AddAndOpen();
  seen_.blockFirst = true;
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  boards_[0].bridge->SetLocalInterrupt(1, false);
  WaitUntilTheHandlerRuns();
  for (int i = 0; i < 3; ++i) {
    boards_[0].bridge->SetLocalInterrupt(1, true);
    boards_[0].bridge->SetLocalInterrupt(1, false);
  }
  boards_[0].bridge->SetLocalInterrupt(1, true);
  ReleaseTheHandler();
  Settle(h);
  Pulse(h);
  const std::vector<P9050_IntResult> results = Results();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].lost, 0u);
  EXPECT_EQ(results[1].counter, 2u);
  EXPECT_EQ(results[1].lost, 3u);
}

// Disable wakes the waiting service and joins it: stopped, inactive, the service's device handle
// closed, the card masked, and a later pulse calls nothing.
TEST_F(ServiceTest, DisableWakesTheWaiterAndJoins) {
  P9050_Handle* h = AddAndOpen();
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  Settle(h);
  P9050_IntDisable(h);
  EXPECT_FALSE(P9050_IntIsEnabled(h));
  EXPECT_EQ(h->stopped, 1u);
  EXPECT_EQ(h->service, nullptr);
  EXPECT_EQ(WdHosted_OpenHandles(), 1);
  EXPECT_EQ(sim_.interrupt_state(h->intHandle).waiters, 0);
  EXPECT_FALSE(sim_.interrupt_state(h->intHandle).enabled);
  (void)P9050_ReadPciReg(h, 0);  // a request: the window's store reaches the bridge
  EXPECT_EQ(boards_[0].bridge->Peek(P9050_INTCSR), kLint1Enable);
  Pulse(h);
  EXPECT_TRUE(Results().empty());
  // Enabling again starts a new service with a new count.
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  Pulse(h);
  ASSERT_EQ(Results().size(), 1u);
  EXPECT_EQ(Results()[0].counter, 1u);
}

// Close while the handler runs: the handle is freed only after the handler has returned.
TEST_F(ServiceTest, CloseWhileTheHandlerRunsWaitsForIt) {
  P9050_Handle* h = AddAndOpen();
  seen_.blockFirst = true;
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  boards_[0].bridge->SetLocalInterrupt(1, false);
  WaitUntilTheHandlerRuns();
  std::thread releaser([&] {
    std::this_thread::sleep_for(20ms);
    ReleaseTheHandler();
  });
  P9050_Close(h);
  seen_.handles.clear();
  EXPECT_TRUE(seen_.returned);
  releaser.join();
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

// Two boards interrupt independently, each handler call with its own handle and count.
TEST_F(ServiceTest, TwoBoardsAtOnce) {
  P9050_Handle* a = AddAndOpen();
  P9050_Handle* b = AddAndOpen(sim::BarKind::kIo);
  ASSERT_TRUE(P9050_IntEnable(a, Handler));
  ASSERT_TRUE(P9050_IntEnable(b, Handler));
  EXPECT_EQ(WdHosted_OpenHandles(), 4);
  std::thread other([&] {
    for (int i = 0; i < 5; ++i) Pulse(b, 1);
  });
  for (int i = 0; i < 3; ++i) Pulse(a, 0);
  other.join();
  std::lock_guard<std::mutex> guard(seen_.lock);
  ASSERT_EQ(seen_.results.size(), 8u);
  uint32_t count[2] = {};
  for (size_t i = 0; i < seen_.results.size(); ++i) {
    const int board = seen_.calledWith[i] == a ? 0 : 1;
    EXPECT_EQ(seen_.results[i].counter, ++count[board]) << "in order, per board";
  }
  EXPECT_EQ(count[0], 3u);
  EXPECT_EQ(sim_.interrupt_state(a->intHandle).counter, 3u);
  EXPECT_EQ(sim_.interrupt_state(b->intHandle).counter, 5u);
}

// A driver that does not service interrupts: enabling does what it always did and nothing more.
struct Refusal {
  const char* name;
  void (*apply)(sim::Simulator& s);
};
void PrintTo(const Refusal& r, std::ostream* os) {
  *os << r.name;
}

class RefusalTest : public ServiceTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, NothingRunsAndNothingChanges) {
  P9050_Handle* h = AddAndOpen();
  GetParam().apply(sim_);
  sim_.ClearLog();
  ASSERT_TRUE(P9050_IntEnable(h, Handler));
  EXPECT_FALSE(P9050_IntIsEnabled(h));
  EXPECT_EQ(h->service, nullptr);
  EXPECT_EQ(WdHosted_OpenHandles(), 1);
  EXPECT_EQ(sim_.Count(WD_CODE_INT_ENABLE), 1u);
  EXPECT_EQ(sim_.log().back().code, WD_CODE_INT_ENABLE);
  Pulse(h);
  EXPECT_TRUE(Results().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, RefusalTest,
    ::testing::Values(
        Refusal{"ServiceOff", [](sim::Simulator& s) { s.set_interrupt_service(false); }},
        Refusal{"ErrorStatus",
                [](sim::Simulator& s) {
                  s.FailRequests(WD_CODE_INT_ENABLE, sim::kStatusResourceBusy);
                }},
        Refusal{"NoStatus", [](sim::Simulator& s) { s.SilenceRequests(WD_CODE_INT_ENABLE); }}),
    testsupport::ByNameMember());

// The console's interrupt menu with a service: "Disable" is offered while it runs, and the sample
// handler prints each interrupt's number between the menu's own lines.
class ConsoleInterruptTest : public diag_test::DiagTest {};

TEST_F(ConsoleInterruptTest, MenuOffersDisableAndTheHandlerPrints) {
  simulator_.set_interrupt_service(true);
  sim::Plx9050& card = AddCard();
  card.Poke(P9050_INTCSR, kLint1Enable);
  P9050_Handle* h = Open();
  const std::string warning =
      "WARNING!!!\n----------\nYour hardware has level sensitive interrupts.\n"
      "You must modify the source code of P9050_IntEnable(), in the file p9050_lib,\n"
      "to acknowledge the interrupt before enabling interrupts.\n"
      "Without this modification, your PC will HANG upon interrupt!\n";
  auto menu = [](const char* word) {
    return std::string("Enable / Disable interrupts\n---------------------------\n1. ") + word +
           " interrupts\n99. Back to main menu\n\nEnter option: ";
  };
  ExpectSession(warning + menu("Enable") + "«1»\nEnabling interrupts\n" + menu("Disable") +
                    "«99»\nGot interrupt number 1\nGot interrupt number 2\n" + warning +
                    menu("Disable") + "«1»\nDisabling interrupt Int\n" + menu("Enable") + "«99»\n",
                [&] {
                  P9050Diag_Interrupts(h);
                  for (int i = 0; i < 2; ++i) {
                    card.PulseLocalInterrupt(1);
                    ASSERT_TRUE(simulator_.WaitInterruptSettled(h->intHandle, 5s));
                  }
                  P9050Diag_Interrupts(h);
                });
  EXPECT_FALSE(P9050_IntIsEnabled(h));
}

}  // namespace
