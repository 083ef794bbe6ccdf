// The VFIO driver's interrupt service against a fake kernel that signals an eventfd and masks the
// line at each interrupt, as vfio-pci does: what ran at each interrupt, when the line was
// unmasked, what the waiter was handed, and that everything is released.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "driver/int_requests.h"
#include "driver/wd_status.h"
#include "vfio/fake_kernel.h"
#include "vfio/vfio_driver.h"

namespace {

using vfio_test::FakeKernel;
using vfio_test::kDev;
using vfio_test::kSys;
using namespace std::chrono_literals;

constexpr char kBridge[] = "0000:00:05.0";
constexpr uint32_t kIntcsr = 0xc04c;  // the bridge's interrupt control register, on BAR1

class VfioInterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_.AddFunction(kBridge, "vfio-pci", "12",
                        "0x000000000000c000 0x000000000000c07f 0x0000000000040101\n");
    kernel_.AddRegion(kBridge, 0, 128, false);
    // Writing INTCSR masks the card: its line drops.
    kernel_.device(kBridge).ack_region = 0;
    kernel_.device(kBridge).ack_offset = 0x4c;
    driver_ = std::make_unique<vfio::VfioDriver>(kSys, kDev, &kernel_);
    WdPciCardInfo info{};
    info.pciSlot = WdPciSlot{0, 5, 0};
    ASSERT_EQ(Request(WD_CODE_PCI_CARD_INFO, info), 0u) << driver_->LastError();
    reg_.card = info.card;
    ASSERT_EQ(Request(WD_CODE_CARD_REGISTER, reg_), 0u) << driver_->LastError();
    for (uint32_t i = 0; i < reg_.card.itemCount; ++i) {
      if (reg_.card.items[i].kind == WD_ITEM_INTERRUPT) {
        int_handle_ = reg_.card.items[i].u.interrupt.intHandle;
      }
    }
    ASSERT_NE(int_handle_, 0u);
    // The library's commands: read INTCSR, then write it with the PCI interrupt enable cleared.
    commands_[0].address = kIntcsr;
    commands_[0].command = WD_RP_DWORD;
    commands_[1].address = kIntcsr;
    commands_[1].command = WD_WP_DWORD;
    commands_[1].data.dword = 0x00;
    kernel_.bytes(kBridge, 0)[0x4c] = 0x41;
    kernel_.ClearLog();
  }

  template <class T>
  uint32_t Request(uint32_t code, T& record) {
    uint32_t status = WD_STATUS_NONE;
    EXPECT_TRUE(driver_->Control(code, &record, sizeof record, &status));
    return status;
  }

  uint32_t Enable(uint32_t commandCount = 2, uint32_t options = WD_INT_OPTION_COPY_DATA) {
    WdIntRequest r{};
    r.intHandle = int_handle_;
    r.options = options;
    r.commandCount = commandCount;
    r.commands = WD_TO_UPTR(commands_);
    return Request(WD_CODE_INT_ENABLE, r);
  }

  WdIntRequest WaitOnce() {
    WdIntRequest r{};
    r.intHandle = int_handle_;
    r.commandCount = 2;
    r.commands = WD_TO_UPTR(results_);
    EXPECT_EQ(Request(WD_CODE_INT_WAIT, r), 0u) << driver_->LastError();
    return r;
  }

  std::future<WdIntRequest> WaitAsync() {
    return std::async(std::launch::async, [this] { return WaitOnce(); });
  }

  // Whether `waiter` returns within 5 s; when it does not, the interrupt is disabled so that it
  // ends (and the test, failing, does not hang).
  bool Ready(std::future<WdIntRequest>& waiter) {
    if (waiter.wait_for(5s) == std::future_status::ready) return true;
    Disable();
    driver_.reset();
    return false;
  }

  // A wait that is expected to return: one that does not within 5 s fails the test (the interrupt
  // is disabled then, so that the waiter ends).
  WdIntRequest Wait() {
    auto waiter = WaitAsync();
    if (waiter.wait_for(5s) != std::future_status::ready) {
      ADD_FAILURE() << "the wait did not return";
      Disable();
    }
    return waiter.get();
  }

  uint32_t Disable() {
    WdIntRequest r{};
    r.intHandle = int_handle_;
    return Request(WD_CODE_INT_DISABLE, r);
  }

  std::vector<std::string> Log() { return kernel_.log(); }

  FakeKernel kernel_;
  std::unique_ptr<vfio::VfioDriver> driver_;
  WdCardRegister reg_{};
  uint32_t int_handle_ = 0;
  WdTransfer commands_[2] = {};
  WdTransfer results_[2] = {};
};

TEST_F(VfioInterruptTest, EachInterruptRunsTheCommandsAndTheLineIsUnmaskedWhenTheServiceWaits) {
  ASSERT_EQ(Enable(), 0u);
  EXPECT_EQ(Log(), std::vector<std::string>{"arm 0000:00:05.0"});
  kernel_.Raise(kBridge);
  const WdIntRequest first = Wait();
  EXPECT_EQ(first.stopped, 0u);
  EXPECT_EQ(first.counter, 1u);
  EXPECT_EQ(first.lost, 0u);
  EXPECT_EQ(results_[0].data.dword, 0x41u) << "what the read command fetched, copied back";
  EXPECT_EQ(Log(), (std::vector<std::string>{"arm 0000:00:05.0", "interrupt 0000:00:05.0",
                                             "read32 0000:00:05.0 region 0 0x4c = 0x41",
                                             "write32 0000:00:05.0 region 0 0x4c = 0x0"}));
  EXPECT_TRUE(kernel_.device(kBridge).masked) << "masked until the service is back";

  // The service re-arms the card and waits again: the line is unmasked first.
  kernel_.ClearLog();
  auto next = WaitAsync();
  EXPECT_EQ(next.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(Log(), std::vector<std::string>{"unmask 0000:00:05.0"});
  kernel_.Raise(kBridge);
  ASSERT_TRUE(Ready(next));
  EXPECT_EQ(next.get().counter, 2u);
  EXPECT_EQ(Disable(), 0u);
}

TEST_F(VfioInterruptTest, InterruptsOneAtATimeAreCountedOneByOneWithNoneLost) {
  ASSERT_EQ(Enable(), 0u);
  constexpr uint32_t kTimes = 20;
  for (uint32_t i = 1; i <= kTimes; ++i) {
    kernel_.Raise(kBridge);  // while masked after the first: it fires at the unmask
    const WdIntRequest r = Wait();
    ASSERT_EQ(r.stopped, 0u);
    EXPECT_EQ(r.counter, i);
    EXPECT_EQ(r.lost, 0u);
  }
  const auto log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "interrupt 0000:00:05.0"), kTimes);
  EXPECT_EQ(std::count(log.begin(), log.end(), "unmask 0000:00:05.0"), kTimes - 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "write32 0000:00:05.0 region 0 0x4c = 0x0"), kTimes);
}

TEST_F(VfioInterruptTest, ALineTheCommandsLeaveAssertedFiresAgainAtTheUnmask) {
  ASSERT_EQ(Enable(0, 0), 0u);  // no commands: nothing acknowledges the card
  kernel_.Raise(kBridge);
  EXPECT_EQ(Wait().counter, 1u);
  EXPECT_EQ(Wait().counter, 2u);
  kernel_.device(kBridge).asserted = false;  // the handler acknowledged it at last
  auto next = WaitAsync();
  EXPECT_EQ(next.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(Disable(), 0u);
  ASSERT_TRUE(Ready(next));
  EXPECT_EQ(next.get().stopped, 1u);
}

TEST_F(VfioInterruptTest, SignalsNotSeenOneByOneCountAsLost) {
  ASSERT_EQ(Enable(), 0u);
  kernel_.SignalTimes(kBridge, 3);
  const WdIntRequest r = Wait();
  EXPECT_EQ(r.counter, 1u);
  EXPECT_EQ(r.lost, 2u);
  kernel_.Raise(kBridge);
  const WdIntRequest s = Wait();
  EXPECT_EQ(s.counter, 2u);
  EXPECT_EQ(s.lost, 2u);
}

TEST_F(VfioInterruptTest, DisableDisarmsAndWakesTheWaiterAndReleasesTheEventfds) {
  ASSERT_EQ(Enable(), 0u);
  EXPECT_EQ(driver_->open_eventfds(), 2);
  auto waiter = WaitAsync();
  auto other = WaitAsync();  // two waiters on one interrupt both wake
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Disable(), 0u);
  ASSERT_TRUE(Ready(waiter));
  ASSERT_TRUE(Ready(other));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(waiter.get().stopped, 1u);
  EXPECT_EQ(other.get().stopped, 1u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"arm 0000:00:05.0", "disarm 0000:00:05.0"}));
  EXPECT_EQ(driver_->open_eventfds(), 0);
  // After the disable: a wait returns at once, a second disable is refused, and an enable
  // starts over.
  EXPECT_EQ(Wait().stopped, 1u);
  EXPECT_EQ(Disable(), WD_STATUS_NO_SUCH_CARD);
  ASSERT_EQ(Enable(), 0u);
  kernel_.Raise(kBridge);
  EXPECT_EQ(Wait().counter, 1u);
}

TEST_F(VfioInterruptTest, UnregisteringWithTheInterruptOnWakesTheWaiterAndClosesEverything) {
  ASSERT_EQ(Enable(), 0u);
  auto waiter = WaitAsync();
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  ASSERT_EQ(Request(WD_CODE_CARD_UNREGISTER, reg_), 0u);
  ASSERT_TRUE(Ready(waiter));
  EXPECT_EQ(waiter.get().stopped, 1u);
  EXPECT_EQ(driver_->open_eventfds(), 0);
  EXPECT_EQ(kernel_.open_fds(), 0) << "eventfds, device, group and container";
  const auto log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "disarm 0000:00:05.0"), 1);
}

TEST_F(VfioInterruptTest, TheDriversEndWithTheInterruptOnWakesTheWaiterAndClosesEverything) {
  ASSERT_EQ(Enable(), 0u);
  auto waiter = WaitAsync();
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  driver_.reset();
  ASSERT_TRUE(Ready(waiter));
  EXPECT_EQ(waiter.get().stopped, 1u);
  EXPECT_EQ(kernel_.open_fds(), 0);
  EXPECT_EQ(kernel_.mappings(), 0);
}

TEST_F(VfioInterruptTest, EnableRefusesWhatItCannotServeAndArmsNothing) {
  WdIntRequest r{};
  r.intHandle = int_handle_ + 1;
  EXPECT_EQ(Request(WD_CODE_INT_ENABLE, r), WD_STATUS_NO_SUCH_CARD);
  commands_[1].command = WD_WP_SDWORD;  // a block at interrupt time
  EXPECT_EQ(Enable(), WD_STATUS_INVALID_PARAMETER);
  commands_[1].command = WD_WP_DWORD;
  EXPECT_EQ(Enable(vfio::kMaxCommands + 1), WD_STATUS_INVALID_PARAMETER);
  r.intHandle = int_handle_;
  r.commandCount = 1;  // commands without a place
  EXPECT_EQ(Request(WD_CODE_INT_ENABLE, r), WD_STATUS_INVALID_PARAMETER);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(driver_->open_eventfds(), 0);
  ASSERT_EQ(Enable(), 0u);
  EXPECT_EQ(Enable(), WD_STATUS_RESOURCE_BUSY);
  uint32_t status = 0;
  EXPECT_TRUE(driver_->Control(WD_CODE_INT_WAIT, &r, sizeof r - 1, &status));
  EXPECT_EQ(status, WD_STATUS_RECORD_TOO_SHORT);
  EXPECT_EQ(Disable(), 0u);
}

}  // namespace
