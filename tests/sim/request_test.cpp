// The simulated driver's requests: transfers, registration and memory windows, version, sleep.
#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "support/param_name.h"

namespace {

using simtest::BoardLikeConfig;
using simtest::BytesOf;
using Access = sim::RegisterFileCard::Access;

// Board-like card at 0/1/0: BAR0 memory 0xFE000000 (128), BAR1 I/O 0xC000 (128),
// BAR2 memory 0xFE001000 (4096), BAR3 I/O 0xC080 (32).
class RequestTest : public simtest::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    card_ = AddCard(0, 1, 0, BoardLikeConfig());
  }
  std::shared_ptr<sim::RegisterFileCard> card_;
};

struct SingleCase {
  uint32_t command;
  uint32_t address;
  int bar;
  uint32_t offset;
  unsigned width;
  bool write;
};

void PrintTo(const SingleCase& c, std::ostream* os) {
  *os << "command " << c.command << " at " << std::hex << c.address;
}

class SingleTransferTest : public RequestTest, public ::testing::WithParamInterface<SingleCase> {};

TEST_P(SingleTransferTest, ReachesTheDecodedBarWithItsWidth) {
  const SingleCase& c = GetParam();
  const uint32_t value = 0x89ABCDEFu & (c.width == 4 ? 0xFFFFFFFFu : (1u << (8 * c.width)) - 1);
  if (!c.write) card_->Poke(c.bar, c.offset, value, c.width);
  card_->ClearAccesses();

  WdTransfer t{};
  t.command = c.command;
  t.address = c.address;
  t.data.qword = c.write ? 0x1122334489ABCDEFull : 0x5A5A5A5A5A5A5A5Aull;
  ASSERT_EQ(Send(WD_CODE_TRANSFER, t), 0u);

  // Only the access itself reaches the card (no window is registered).
  ASSERT_EQ(card_->accesses().size(), 1u);
  EXPECT_EQ(card_->accesses()[0], (Access{c.bar, c.offset, value, c.width, c.write}));
  if (c.write) {
    EXPECT_EQ(card_->Peek(c.bar, c.offset, c.width), value);
    EXPECT_EQ(t.data.qword, 0x1122334489ABCDEFull);
  } else {
    // The value lands in the low bytes of `data`; the bytes above the width are not touched.
    uint64_t expected = 0x5A5A5A5A5A5A5A5Aull;
    std::memcpy(&expected, &value, c.width);
    EXPECT_EQ(t.data.qword, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, SingleTransferTest,
                         ::testing::Values(SingleCase{WD_RP_BYTE, 0xC003, 1, 3, 1, false},
                                           SingleCase{WD_RP_WORD, 0xC082, 3, 2, 2, false},
                                           SingleCase{WD_RP_DWORD, 0xC07C, 1, 0x7C, 4, false},
                                           SingleCase{WD_WP_BYTE, 0xC09F, 3, 0x1F, 1, true},
                                           SingleCase{WD_WP_WORD, 0xC010, 1, 0x10, 2, true},
                                           SingleCase{WD_WP_DWORD, 0xC050, 1, 0x50, 4, true},
                                           SingleCase{WD_RM_BYTE, 0xFE000001, 0, 1, 1, false},
                                           SingleCase{WD_RM_WORD, 0xFE001FFE, 2, 0xFFE, 2, false},
                                           SingleCase{WD_RM_DWORD, 0xFE00007C, 0, 0x7C, 4, false},
                                           SingleCase{WD_WM_BYTE, 0xFE000040, 0, 0x40, 1, true},
                                           SingleCase{WD_WM_WORD, 0xFE001002, 2, 2, 2, true},
                                           SingleCase{WD_WM_DWORD, 0xFE000050, 0, 0x50, 4, true}),
                         testsupport::ByPrinted());

struct UnclaimedCase {
  uint32_t command;
  uint32_t address;
  uint64_t data_after;  // a read of nothing: all ones of the width over the preset 0
};

void PrintTo(const UnclaimedCase& c, std::ostream* os) {
  *os << "command " << c.command << " at " << std::hex << c.address;
}

class UnclaimedTest : public RequestTest, public ::testing::WithParamInterface<UnclaimedCase> {};

TEST_P(UnclaimedTest, ReadsAllOnesAndDropsWrites) {
  card_->ClearAccesses();
  WdTransfer t{};
  t.command = GetParam().command;
  t.address = GetParam().address;
  t.data.dword = 0x12345678;
  ASSERT_EQ(Send(WD_CODE_TRANSFER, t), 0u);
  EXPECT_EQ(t.data.qword, GetParam().data_after);
  EXPECT_TRUE(card_->accesses().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, UnclaimedTest,
    ::testing::Values(UnclaimedCase{WD_RP_BYTE, 0xBFFF, 0x123456FF},   // just below BAR1
                      UnclaimedCase{WD_RP_WORD, 0xC0A0, 0x1234FFFF},   // just past BAR3
                      UnclaimedCase{WD_RP_DWORD, 0xC07E, 0xFFFFFFFF},  // straddles BAR1's end
                      UnclaimedCase{WD_RM_DWORD, 0xFE000080, 0xFFFFFFFF},
                      UnclaimedCase{WD_RM_BYTE, 0x1000, 0x123456FF},
                      UnclaimedCase{WD_WP_DWORD, 0xC07E, 0x12345678},
                      UnclaimedCase{WD_WM_DWORD, 0xFE002000, 0x12345678},
                      UnclaimedCase{WD_WP_BYTE, 0x80, 0x12345678}),
    testsupport::ByPrinted());

struct BlockCase {
  uint32_t command;
  uint32_t address;
  int bar;
  uint32_t offset;
  unsigned width;
  bool write;
  uint32_t autoIncrement;
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << "command " << c.command << " at " << std::hex << c.address
      << (c.autoIncrement ? "" : " fixed");
}

class BlockTransferTest : public RequestTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockTransferTest, MovesEveryElementInOrder) {
  const BlockCase& c = GetParam();
  constexpr uint32_t kBytes = 12;
  uint8_t buffer[kBytes + 4];
  for (uint32_t i = 0; i < sizeof buffer; ++i) buffer[i] = static_cast<uint8_t>(0x10 + i);
  for (uint32_t i = 0; i < 16; ++i) card_->Poke(c.bar, c.offset + i, 0xA0 + i, 1);
  card_->ClearAccesses();

  WdTransfer t{};
  t.command = c.command;
  t.address = c.address;
  t.bytes = kBytes;
  t.autoIncrement = c.autoIncrement;
  t.data.ptr = WD_TO_UPTR(buffer);
  ASSERT_EQ(Send(WD_CODE_TRANSFER, t), 0u);

  std::vector<Access> expected;
  for (uint32_t i = 0; i < kBytes / c.width; ++i) {
    const uint32_t at = c.offset + (c.autoIncrement ? i * c.width : 0);
    const uint32_t from = c.write ? i * c.width : at - c.offset;
    uint32_t value = 0;
    for (unsigned b = 0; b < c.width; ++b) {
      value |= uint32_t(c.write ? 0x10 + from + b : 0xA0 + from + b) << (8 * b);
    }
    expected.push_back({c.bar, at, value, c.width, c.write});
  }
  EXPECT_EQ(card_->accesses(), expected);
  if (!c.write) {
    for (uint32_t i = 0; i < kBytes; ++i) {
      const uint32_t at = c.autoIncrement ? i : i % c.width;
      EXPECT_EQ(buffer[i], 0xA0 + at) << i;
    }
  }
  EXPECT_EQ(buffer[kBytes], 0x10 + kBytes);  // nothing past the length
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BlockTransferTest,
    ::testing::Values(BlockCase{WD_RP_SBYTE, 0xC084, 3, 4, 1, false, 1},
                      BlockCase{WD_RP_SWORD, 0xC010, 1, 0x10, 2, false, 1},
                      BlockCase{WD_RP_SDWORD, 0xC020, 1, 0x20, 4, false, 1},
                      BlockCase{WD_WP_SBYTE, 0xC084, 3, 4, 1, true, 1},
                      BlockCase{WD_WP_SWORD, 0xC010, 1, 0x10, 2, true, 1},
                      BlockCase{WD_WP_SDWORD, 0xC020, 1, 0x20, 4, true, 1},
                      BlockCase{WD_RM_SBYTE, 0xFE001010, 2, 0x10, 1, false, 1},
                      BlockCase{WD_RM_SWORD, 0xFE000020, 0, 0x20, 2, false, 1},
                      BlockCase{WD_RM_SDWORD, 0xFE001100, 2, 0x100, 4, false, 1},
                      BlockCase{WD_WM_SBYTE, 0xFE001010, 2, 0x10, 1, true, 1},
                      BlockCase{WD_WM_SWORD, 0xFE000020, 0, 0x20, 2, true, 1},
                      BlockCase{WD_WM_SDWORD, 0xFE001100, 2, 0x100, 4, true, 1},
                      BlockCase{WD_RP_SBYTE, 0xC084, 3, 4, 1, false, 0},  // one port, a FIFO
                      BlockCase{WD_WP_SWORD, 0xC010, 1, 0x10, 2, true, 0},
                      BlockCase{WD_RM_SDWORD, 0xFE001100, 2, 0x100, 4, false, 0}),
    testsupport::ByPrinted());

TEST_F(RequestTest, BadTransfersAreRefusedAndWriteNothing) {
  uint8_t buffer[8] = {};
  struct Case {
    uint32_t command, bytes;
    bool with_buffer;
  };
  const Case cases[] = {{0, 0, false},           {9, 0, false},          {16, 0, false},
                        {26, 4, true},           {29, 0, false},         {46, 4, true},
                        {0xFFFFFFFF, 0, false},  {WD_RP_SWORD, 3, true},    // not whole words
                        {WD_WM_SDWORD, 6, true}, {WD_RP_SBYTE, 4, false}};  // no buffer
  card_->ClearAccesses();
  for (const Case& c : cases) {
    WdTransfer t{};
    t.command = c.command;
    t.address = 0xC000;
    t.bytes = c.bytes;
    t.autoIncrement = 1;
    if (c.with_buffer) t.data.ptr = WD_TO_UPTR(buffer);
    const auto before = BytesOf(t);
    EXPECT_EQ(Send(WD_CODE_TRANSFER, t), sim::kStatusInvalidParameter) << c.command;
    EXPECT_EQ(BytesOf(t), before);
  }
  EXPECT_TRUE(card_->accesses().empty());
}

// --- Registration and memory windows

TEST_F(RequestTest, RegistrationMapsMemoryBarsAndHandsOutHandles) {
  card_->Poke(0, 0x4C, 0x00000043, 4);
  card_->Poke(2, 0xFFC, 0xCAFEF00D, 4);
  WdCardRegister first = Register(0, 1, 0);
  WdCardRegister second = Register(0, 1, 0);
  EXPECT_NE(first.cardHandle, 0u);
  EXPECT_NE(second.cardHandle, 0u);
  EXPECT_NE(first.cardHandle, second.cardHandle);
  EXPECT_EQ(sim_.registrations(), 2);
  EXPECT_EQ(sim_.mapped_windows(), 4);

  const WdCard& card = first.card;
  ASSERT_EQ(card.itemCount, 5u);
  for (uint32_t i = 0; i < card.itemCount; ++i) {
    const WdItem& item = card.items[i];
    if (item.kind == WD_ITEM_MEMORY) {
      EXPECT_NE(item.u.mem.userAddress, 0u);
      EXPECT_EQ(item.u.mem.userAddress % 4096, 0u) << "window not page aligned";
      EXPECT_NE(item.u.mem.userAddress, second.card.items[i].u.mem.userAddress);
    }
  }
  EXPECT_NE(card.items[4].u.interrupt.intHandle, 0u);
  EXPECT_NE(card.items[4].u.interrupt.intHandle, second.card.items[4].u.interrupt.intHandle);

  // Windows start out with the card's contents.
  const auto* bar0 = WD_FROM_UPTR(const uint32_t*, card.items[0].u.mem.userAddress);
  const auto* bar2 = WD_FROM_UPTR(const uint32_t*, card.items[2].u.mem.userAddress);
  EXPECT_EQ(bar0[0x4C / 4], 0x43u);
  EXPECT_EQ(bar2[0xFFC / 4], 0xCAFEF00Du);

  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, first), 0u);
  EXPECT_EQ(sim_.registrations(), 1);
  EXPECT_EQ(sim_.mapped_windows(), 2);
  // The same handle a second time is unknown by now.
  const auto before = BytesOf(first);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, first), sim::kStatusNoSuchCard);
  EXPECT_EQ(BytesOf(first), before);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, second), 0u);
  EXPECT_EQ(sim_.registrations(), 0);
  EXPECT_EQ(sim_.mapped_windows(), 0);
}

TEST_F(RequestTest, UnregisterWithUnknownHandlesFails) {
  WdCardRegister reg = Register(0, 1, 0);
  for (uint32_t handle : {0u, reg.cardHandle + 1, 0xFFFFFFFFu}) {
    WdCardRegister other = reg;
    other.cardHandle = handle;
    EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, other), sim::kStatusNoSuchCard) << handle;
  }
  EXPECT_EQ(sim_.registrations(), 1);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

TEST_F(RequestTest, WindowStoresReachTheModelAtTheNextRequestLowestAddressFirst) {
  WdCardRegister reg = Register(0, 1, 0);
  auto* bar0 = WD_FROM_UPTR(uint32_t*, reg.card.items[0].u.mem.userAddress);
  auto* bar2 = WD_FROM_UPTR(volatile uint8_t*, reg.card.items[2].u.mem.userAddress);
  card_->ClearAccesses();

  bar0[0x50 / 4] = 0x04000000;  // stored in descending order ...
  bar0[0x14 / 4] = 0x00000010;
  bar2[0x203] = 0x7E;                      // a byte store reaches the card as its whole dword
  EXPECT_TRUE(card_->accesses().empty());  // nothing until the next request
  Sleep();
  const std::vector<Access> expected = {{0, 0x14, 0x00000010, 4, true},  // ... handed on ascending
                                        {0, 0x50, 0x04000000, 4, true},
                                        {2, 0x200, 0x7E000000, 4, true}};
  EXPECT_EQ(card_->accesses(), expected);

  // Unchanged windows hand nothing on.
  card_->ClearAccesses();
  Sleep();
  EXPECT_TRUE(card_->accesses().empty());

  // The same value stored again is no change either.
  bar0[0x14 / 4] = 0x00000010;
  Sleep();
  EXPECT_TRUE(card_->accesses().empty());
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

TEST_F(RequestTest, ModelValuesAreWrittenBackAfterEveryRequest) {
  WdCardRegister reg = Register(0, 1, 0);
  const auto* bar0 = WD_FROM_UPTR(const volatile uint32_t*, reg.card.items[0].u.mem.userAddress);
  // A port write to BAR1 changes the card; BAR0's window shows it once the request returns.
  card_->Poke(0, 0x4C, 0x11, 4);
  EXPECT_EQ(bar0[0x4C / 4], 0u);
  Transfer(WD_WM_DWORD, 0xFE000010, 0xDEADBEEF);  // a memory transfer at the mapped range
  EXPECT_EQ(bar0[0x4C / 4], 0x11u);
  EXPECT_EQ(bar0[0x10 / 4], 0xDEADBEEFu);
  // A store followed by a memory read at the same address: the read sees the store.
  const_cast<uint32_t*>(const_cast<const uint32_t*>(&bar0[0]))[0] = 0x600DF00D;
  EXPECT_EQ(Transfer(WD_RM_DWORD, 0xFE000000).data.dword, 0x600DF00Du);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

TEST_F(RequestTest, RefusedRegistrationLeavesCardHandleZero) {
  sim_.RefuseRegistration(true);
  WdCardRegister reg{};
  reg.card = CardInfo(0, 1, 0);
  const auto before = BytesOf(reg);
  EXPECT_EQ(Send(WD_CODE_CARD_REGISTER, reg), sim::kStatusResourceBusy);
  EXPECT_EQ(BytesOf(reg), before);
  EXPECT_EQ(reg.cardHandle, 0u);
  EXPECT_EQ(sim_.registrations(), 0);
  sim_.RefuseRegistration(false);
  EXPECT_EQ(Send(WD_CODE_CARD_REGISTER, reg), 0u);
  EXPECT_NE(reg.cardHandle, 0u);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

TEST_F(RequestTest, CheckLockOnlyRegistersNothing) {
  WdCardRegister reg{};
  reg.card = CardInfo(0, 1, 0);
  reg.checkLockOnly = 1;
  const auto before = BytesOf(reg);
  EXPECT_EQ(Send(WD_CODE_CARD_REGISTER, reg), 0u);
  EXPECT_EQ(BytesOf(reg), before);  // no handle, no user addresses
  EXPECT_EQ(sim_.registrations(), 0);
  EXPECT_EQ(sim_.mapped_windows(), 0);
}

TEST_F(RequestTest, DestroyingTheSimulatorReleasesWindowsStillRegistered) {
  // Leak checking (asan) proves the windows go with the simulator.
  Register(0, 1, 0);
  EXPECT_EQ(sim_.mapped_windows(), 2);
}

// --- Version and sleep

TEST_F(RequestTest, VersionIsSettable) {
  for (uint32_t version : {sim::kDefaultVersion, 621u, 622u}) {
    sim_.SetVersion(version);
    WdVersion v{};
    EXPECT_EQ(Send(WD_CODE_VERSION, v), 0u);
    EXPECT_EQ(v.version, version);
  }
  EXPECT_GE(sim::kDefaultVersion, WD_MIN_VERSION);
}

TEST_F(RequestTest, SleepAdvancesVirtualTimeOnly) {
  Sleep(500);
  Sleep(1500);
  EXPECT_EQ(sim_.clock().sleep_count(), 2u);
  EXPECT_EQ(sim_.clock().slept_us(), 2000u);
  EXPECT_EQ(sim_.clock().NowNs(), 2000000u);
}

}  // namespace
