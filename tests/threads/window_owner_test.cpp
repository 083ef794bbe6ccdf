// Memory windows belong to the thread using the card: another thread's requests neither hand on
// their stores nor rewrite them, whatever handle or card those requests name; a request on the
// card's own handle moves the card to the requesting thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim/sim_fixture.h"

namespace {

using Access = sim::RegisterFileCard::Access;

class WindowOwnerTest : public simtest::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    card_ = AddCard(0, 1, 0, simtest::BoardLikeConfig());  // BAR0: memory at 0xFE000000
    other_ = WdChannel_Open();
    ASSERT_NE(other_, WD_INVALID_HANDLE);
    reg_ = Register(0, 1, 0);  // on device_, by this thread
    bar0_ = WD_FROM_UPTR(volatile uint32_t*, reg_.card.items[0].u.mem.userAddress);
    card_->ClearAccesses();
  }
  void TearDown() override {
    EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg_), 0u);
    WdChannel_Close(other_);
    SimFixture::TearDown();
  }

  // A sleep request on `device`, sent from a thread of its own.
  static void SleepFromAnotherThread(WdDeviceHandle device) {
    std::thread([device] {
      WdSleep sleep{};
      EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, device, &sleep, sizeof sleep, 0), 0u);
    }).join();
  }

  std::shared_ptr<sim::RegisterFileCard> card_;
  WdDeviceHandle other_ = WD_INVALID_HANDLE;
  WdCardRegister reg_{};
  volatile uint32_t* bar0_ = nullptr;
};

TEST_F(WindowOwnerTest, AnotherThreadsRequestsLeaveTheWindowAlone) {
  bar0_[0x14 / 4] = 0x10;         // the owner's store, not yet handed on
  card_->Poke(0, 0x4C, 0x11, 4);  // and a change the window does not show yet
  std::thread([this] {
    WdSleep sleep{};
    EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, other_, &sleep, sizeof sleep, 0), 0u);
    WdTransfer write{};  // even a request that reaches the same card
    write.command = WD_WM_DWORD;
    write.address = 0xFE000050;
    write.data.dword = 0x22;
    EXPECT_EQ(DriverRequest(WD_CODE_TRANSFER, other_, &write, sizeof write, 0), 0u);
  }).join();
  EXPECT_EQ(bar0_[0x14 / 4], 0x10u);
  EXPECT_EQ(bar0_[0x4C / 4], 0u);
  EXPECT_EQ(bar0_[0x50 / 4], 0u);
  EXPECT_EQ(card_->accesses(), (std::vector<Access>{{0, 0x50, 0x22, 4, true}}));

  // The owner's next request of any kind, here on another handle, synchronises the window.
  card_->ClearAccesses();
  WdSleep sleep{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, other_, &sleep, sizeof sleep, 0), 0u);
  EXPECT_EQ(card_->accesses(), (std::vector<Access>{{0, 0x14, 0x10, 4, true}}));
  EXPECT_EQ(bar0_[0x4C / 4], 0x11u);
  EXPECT_EQ(bar0_[0x50 / 4], 0x22u);
}

TEST_F(WindowOwnerTest, ARequestOnTheCardsHandleMovesTheCardToItsThread) {
  card_->ClearAccesses();
  bar0_[0x14 / 4] = 0x20;
  SleepFromAnotherThread(device_);  // the card's handle: the store reaches the card
  EXPECT_EQ(card_->accesses(), (std::vector<Access>{{0, 0x14, 0x20, 4, true}}));

  // The card is the other thread's now: this thread's requests on another handle leave it alone
  // until this thread sends one on the card's handle again.
  card_->ClearAccesses();
  bar0_[0x14 / 4] = 0x30;
  Sleep();  // on device_: back to this thread, store handed on
  EXPECT_EQ(card_->accesses(), (std::vector<Access>{{0, 0x14, 0x30, 4, true}}));
  SleepFromAnotherThread(device_);
  card_->ClearAccesses();
  bar0_[0x14 / 4] = 0x40;
  WdSleep sleep{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, other_, &sleep, sizeof sleep, 0), 0u);
  EXPECT_TRUE(card_->accesses().empty());
  Sleep();
  EXPECT_EQ(card_->accesses(), (std::vector<Access>{{0, 0x14, 0x40, 4, true}}));
}

}  // namespace
