// Memory windows kept coherent at a cost that does not grow with what is mapped: a window over a
// card's local RAM is the RAM itself until the bridge decodes elsewhere, and register windows are
// read back when the model changed or ignored a store; a request synchronises only the windows of
// the cards it addresses.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/int_requests.h"

#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/ram.h"
#include "sim/sim_fixture.h"

namespace {

using sim::plx9050::kDefaultLocalBase;
using Access = sim::RegisterFileCard::Access;

constexpr uint32_t kRamBytes = 8192;  // two pages, the whole of local space 0

class WindowSyncTest : public simtest::SimFixture {
 protected:
  // A 9050 whose local space 0 (BAR2, memory) is `kRamBytes` of RAM; returns its registration.
  WdCardRegister AddBridgeWithRam(uint32_t slot) {
    sim::Plx9050Config cfg;
    cfg.bars[2] = {sim::BarKind::kMemory, kRamBytes};
    bridge_ = &sim::AddPlx9050(sim_, 0, slot, 0, cfg);
    ram_ = bridge_->AttachRam(kDefaultLocalBase[0], kRamBytes);
    return Register(0, slot, 0);
  }
  // Registers only `bytes` of BAR0 (the registers) from `offset`, of the card in `slot`.
  WdCardRegister RegisterRegisters(uint32_t slot, uint32_t offset, uint32_t bytes) {
    WdCardRegister reg{};
    reg.card = CardInfo(0, slot, 0);
    WdItemMemory& mem = reg.card.items[0].u.mem;
    mem.physAddress += offset;
    mem.transferAddress = mem.physAddress;
    mem.bytes = bytes;
    EXPECT_EQ(Send(WD_CODE_CARD_REGISTER, reg), 0u);
    return reg;
  }
  template <class T>
  static T* Window(const WdCardRegister& reg, int item) {
    return WD_FROM_UPTR(T*, reg.card.items[item].u.mem.userAddress);
  }

  sim::Plx9050* bridge_ = nullptr;
  std::shared_ptr<sim::Ram> ram_;
};

TEST_F(WindowSyncTest, AWindowOverLocalRamIsTheRamUntilTheBridgeDecodesElsewhere) {
  WdCardRegister reg = AddBridgeWithRam(1);
  ram_->Write(0x1000, 0xCAFEF00D, 4);  // after the mapping: the window is the RAM
  volatile uint32_t* local = Window<volatile uint32_t>(reg, 2);
  EXPECT_EQ(local[0x1000 / 4], 0xCAFEF00Du);
  local[0x1FFC / 4] = 0x12345678;  // the last dword of the second page, without a request
  EXPECT_EQ(ram_->Read(0x1FFC, 4), 0x12345678u);

  // A second mapping of the same card is a copy, synced at its requests as any other window.
  WdCardRegister second = Register(0, 1, 0);
  volatile uint32_t* copy = Window<volatile uint32_t>(second, 2);
  EXPECT_EQ(copy[0x1FFC / 4], 0x12345678u);
  copy[4] = 0x77;
  EXPECT_EQ(local[4], 0u);
  Sleep();
  EXPECT_EQ(local[4], 0x77u);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, second), 0u);

  // LAS0BA moved through the I/O registers: the window shows the empty local address now, stores
  // there go nowhere, and the RAM keeps what was stored before.
  const uint32_t registers = reg.card.items[1].u.io.port;
  Transfer(WD_WP_DWORD, registers + sim::plx9050::kLas0ba, 0x00400001);
  EXPECT_EQ(local[0x1000 / 4], 0xFFFFFFFFu);
  local[0] = 1;
  Sleep();
  EXPECT_EQ(local[0], 0xFFFFFFFFu);
  EXPECT_EQ(ram_->Read(0, 4), 0u);
  EXPECT_EQ(ram_->Read(0x1FFC, 4), 0x12345678u);
  EXPECT_EQ(ram_->Read(0x10, 4), 0x77u);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
  EXPECT_EQ(ram_->Read(0x1000, 4), 0xCAFEF00Du);  // the RAM has its contents back
}

TEST_F(WindowSyncTest, ARegisterWindowShowsWhatChangedTheModelAndDropsWhatItIgnored) {
  WdCardRegister reg = AddBridgeWithRam(3);
  volatile uint32_t* regs = Window<volatile uint32_t>(reg, 0);
  regs[0x60 / 4] = 0x5A;                 // reserved: the bridge takes nothing
  bridge_->SetLocalInterrupt(1, false);  // LINTi1 at its active (low) level, no request
  Sleep();
  EXPECT_EQ(regs[0x60 / 4], 0u);
  EXPECT_EQ(regs[sim::plx9050::kIntcsr / 4], sim::plx9050::kIntLint1Status);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

// A window too short to hold one whole dword of the card (the last bytes of its BAR) shows nothing
// of the model and survives every sync; the model keeps its registers.
TEST_F(WindowSyncTest, AWindowShorterThanADwordModelsNothing) {
  AddBridgeWithRam(3);
  WdCardRegister reg = RegisterRegisters(3, sim::plx9050::kRegisterBlockSize - 2, 2);
  volatile uint8_t* tail = Window<volatile uint8_t>(reg, 0);
  tail[0] = 0xA5;
  Sleep();
  EXPECT_EQ(tail[0], 0xA5);  // nothing modelled: not read back, not handed on
  EXPECT_EQ(tail[1], 0u);
  EXPECT_EQ(bridge_->register_writes().size(), 0u);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

// Every dword a window's user changed reaches the bridge once, lowest address first, however the
// window lies: over whole registers, over a few at an odd start, with a short tail.
struct StoreSpan {
  const char* name;
  uint32_t offset;  // of the window in BAR0
  uint32_t bytes;
};

void PrintTo(const StoreSpan& s, std::ostream* os) {
  *os << s.name;
}

class WindowStoreTest : public WindowSyncTest, public ::testing::WithParamInterface<StoreSpan> {};

TEST_P(WindowStoreTest, EveryChangedDwordReachesTheBridgeInOrder) {
  const StoreSpan& span = GetParam();
  AddBridgeWithRam(3);
  WdCardRegister reg = RegisterRegisters(3, span.offset, span.bytes);
  auto* window = Window<volatile uint32_t>(reg, 0);
  bridge_->ClearRegisterWrites();
  for (uint32_t i = 0; i < span.bytes / 4; ++i) window[i] = 0x01010100u * (i + 1);
  Sleep();
  const auto& writes = bridge_->register_writes();
  ASSERT_EQ(writes.size(), span.bytes / 4);
  for (uint32_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].offset, span.offset + 4 * i);
    EXPECT_EQ(writes[i].value, 0x01010100u * (i + 1));
  }
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

// The local-space registers, below INTCSR, whose stores have no side effects.
INSTANTIATE_TEST_SUITE_P(Spans, WindowStoreTest,
                         ::testing::Values(StoreSpan{"AllLocalRegisters", 0, 0x4C},
                                           StoreSpan{"TwoAtAnOddStart", 0x44, 8},
                                           StoreSpan{"OneBlockAndATail", 0x0C, 0x24}),
                         [](const ::testing::TestParamInfo<StoreSpan>& info) {
                           return std::string(info.param.name);
                         });

// A window over a local space that nothing answers is read back only when that can change: a
// device attached there, or the space decoded elsewhere; then it follows the device's contents.
TEST_F(WindowSyncTest, AWindowOverAnEmptyLocalSpaceShowsWhatComesThereLater) {
  bridge_ = &sim::AddPlx9050(sim_, 0, 2, 0);
  WdCardRegister reg = Register(0, 2, 0);
  volatile uint32_t* local = Window<volatile uint32_t>(reg, 2);
  Sleep();
  EXPECT_EQ(local[1], 0xFFFFFFFFu);
  ram_ = bridge_->AttachRam(kDefaultLocalBase[0], 256);
  ram_->Write(4, 0xCAFEF00D, 4);
  Sleep();
  EXPECT_EQ(local[1], 0xCAFEF00Du);
  const uint32_t local_space = reg.card.items[2].u.mem.physAddress;
  Transfer(WD_WM_DWORD, local_space + 8, 0x77);  // the RAM changes through a request
  EXPECT_EQ(local[2], 0x77u);
  const uint32_t registers = reg.card.items[1].u.io.port;
  Transfer(WD_WP_DWORD, registers + sim::plx9050::kLas0ba, 0x00400001);
  EXPECT_EQ(local[1], 0xFFFFFFFFu);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

// --- Which request synchronises which card's windows ---------------------------------------------

// Where a transfer or configuration request goes; which handle a request is sent on.
enum class To { kA, kB, kNoCard, kBlockFromNoCardIntoA };
enum class On { kA, kB, kBare };  // kBare: a handle no card is registered on

struct ReachCase {
  const char* name;
  uint32_t code;
  To to;
  On on;
  bool reaches_a;
  bool reaches_b;
};

void PrintTo(const ReachCase& c, std::ostream* os) {
  *os << c.name;
}

// Two generic cards registered by this thread, A on the fixture's handle and B on another; each
// has a store in its BAR0 window not yet handed on and a change its window does not show yet.
class RequestReachTest : public simtest::SimFixture,
                         public ::testing::WithParamInterface<ReachCase> {
 protected:
  struct Side {
    std::shared_ptr<sim::RegisterFileCard> model;
    WdCardRegister reg{};
    WdDeviceHandle device = WD_INVALID_HANDLE;
  };

  void SetUp() override {
    SimFixture::SetUp();
    handles_[0] = device_;
    for (int i = 1; i < 3; ++i) {
      handles_[i] = WdChannel_Open();
      ASSERT_NE(handles_[i], WD_INVALID_HANDLE);
    }
    for (uint32_t i = 0; i < 2; ++i) {
      Side& s = side_[i];
      s.model = AddCard(0, 1 + i, 0, simtest::BoardLikeConfig());
      s.device = handles_[i];
      s.reg.card = CardInfo(0, 1 + i, 0);
      ASSERT_EQ(DriverRequest(WD_CODE_CARD_REGISTER, s.device, &s.reg, sizeof s.reg, 0), 0u);
    }
    for (uint32_t i = 0; i < 2; ++i) {
      Side& s = side_[i];
      Bar0(s)[0x14 / 4] = 0x10 + i;
      s.model->Poke(0, 0x4C, 0x20 + i, 4);
      s.model->ClearAccesses();
    }
  }
  void TearDown() override {
    for (Side& s : side_) {
      EXPECT_EQ(DriverRequest(WD_CODE_CARD_UNREGISTER, s.device, &s.reg, sizeof s.reg, 0), 0u);
    }
    for (int i = 1; i < 3; ++i) WdChannel_Close(handles_[i]);
    SimFixture::TearDown();
  }

  static volatile uint32_t* Bar0(const Side& s) {
    return WD_FROM_UPTR(volatile uint32_t*, s.reg.card.items[0].u.mem.userAddress);
  }
  // Whether the model got the window store, and whether the window shows the model's change.
  static std::pair<bool, bool> Synced(const Side& s) {
    bool flushed = false;
    for (const Access& a : s.model->accesses()) flushed |= a.bar == 0 && a.write;
    return {flushed, Bar0(s)[0x4C / 4] != 0};
  }

  WdDeviceHandle handles_[3] = {};
  Side side_[2];
};

TEST_P(RequestReachTest, SynchronisesOnlyTheCardsItAddresses) {
  const ReachCase& c = GetParam();
  union {
    WdTransfer transfer;
    WdPciConfigDump config;
    WdSleep sleep;
    WdVersion version;
    WdPciScan scan;
    WdIntRequest interrupt;
  } record;
  std::memset(&record, 0, sizeof record);
  uint32_t data[2] = {};
  const sim::PciFunction* card = c.to == To::kA   ? sim_.Find(0, 1, 0)
                                 : c.to == To::kB ? sim_.Find(0, 2, 0)
                                                  : nullptr;
  if (c.code == WD_CODE_PCI_CONFIG) {
    record.config.pciSlot = card->slot();
    record.config.buffer = WD_TO_UPTR(data);
    record.config.bytes = 4;
    record.config.isRead = 1;
  } else if (c.code == WD_CODE_TRANSFER && c.to == To::kBlockFromNoCardIntoA) {
    record.transfer.command = WD_RP_SDWORD;
    record.transfer.address = 0xBFFC;  // the last dword is A's BAR1 at 0xC000
    record.transfer.bytes = sizeof data;
    record.transfer.autoIncrement = 1;
    record.transfer.data.ptr = WD_TO_UPTR(data);
  } else if (WD_IS_INT_REQUEST(c.code)) {
    const WdCard& items = side_[c.to == To::kA ? 0 : 1].reg.card;
    for (uint32_t i = 0; i < items.itemCount; ++i) {
      if (items.items[i].kind == WD_ITEM_INTERRUPT) {
        record.interrupt.intHandle = items.items[i].u.interrupt.intHandle;
      }
    }
    ASSERT_NE(record.interrupt.intHandle, 0u);
  } else if (c.code == WD_CODE_TRANSFER) {
    record.transfer.command = WD_RP_BYTE;
    record.transfer.address = card != nullptr ? card->bar_address(3) : 0xBFFF;
  }
  (void)DriverRequest(c.code, handles_[static_cast<int>(c.on)], &record, sizeof record, 0);
  EXPECT_EQ(Synced(side_[0]), std::make_pair(c.reaches_a, c.reaches_a)) << "card A";
  EXPECT_EQ(Synced(side_[1]), std::make_pair(c.reaches_b, c.reaches_b)) << "card B";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestReachTest,
    ::testing::Values(
        ReachCase{"PortReadOfAOnBsHandle", WD_CODE_TRANSFER, To::kA, On::kB, true, false},
        ReachCase{"PortReadOfBOnAsHandle", WD_CODE_TRANSFER, To::kB, On::kA, false, true},
        ReachCase{"PortReadNoCardDecodes", WD_CODE_TRANSFER, To::kNoCard, On::kA, false, false},
        ReachCase{"BlockEndingInA", WD_CODE_TRANSFER, To::kBlockFromNoCardIntoA, On::kBare, true,
                  false},
        ReachCase{"ConfigReadOfBOnAsHandle", WD_CODE_PCI_CONFIG, To::kB, On::kA, false, true},
        ReachCase{"SleepOnBsHandle", WD_CODE_SLEEP, To::kNoCard, On::kB, true, true},
        ReachCase{"SleepOnABareHandle", WD_CODE_SLEEP, To::kNoCard, On::kBare, true, true},
        ReachCase{"VersionOnAsHandle", WD_CODE_VERSION, To::kNoCard, On::kA, true, false},
        ReachCase{"VersionOnABareHandle", WD_CODE_VERSION, To::kNoCard, On::kBare, false, false},
        ReachCase{"ScanOnABareHandle", WD_CODE_PCI_SCAN, To::kNoCard, On::kBare, false, false},
        ReachCase{"InterruptEnableOfBOnAsHandle", WD_CODE_INT_ENABLE, To::kB, On::kA, false, true}),
    [](const ::testing::TestParamInfo<ReachCase>& info) { return std::string(info.param.name); });

// --- A register window rewrites what changed and nothing else ------------------------------------

// A bridge that logs which register dwords its windows read back.
class PeekLoggingBridge : public sim::Plx9050 {
 public:
  using Plx9050::Plx9050;
  void BarPeekDwords(int bar, uint32_t offset, uint32_t* out, uint32_t count) override {
    for (uint32_t i = 0; i < count && bar == 0; ++i) read_back.push_back(offset + 4 * i);
    Plx9050::BarPeekDwords(bar, offset, out, count);
  }
  std::vector<uint32_t> read_back;
};

// An EEPROM whose data-out pin the test sets.
struct PinEeprom : sim::SerialEeprom {
  void Drive(bool, bool, bool) override {}
  bool DataOut() override { return data_out; }
  bool data_out = true;
};

// What a case may change: the bridge, its EEPROM's pin, a board source on LINTi1, the window, and
// a register written by an I/O transfer request.
struct ChangeTarget {
  sim::Plx9050& bridge;
  PinEeprom& eeprom;
  bool& source_low;
  volatile uint32_t* window;
  std::function<void(uint32_t offset, uint32_t value)> write_register;
};

struct ChangeCase {
  const char* name;
  uint32_t offset;  // the register whose dword alone is read back
  void (*change)(ChangeTarget& t);
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
  *os << c.name;
}

class RegisterWindowChangeTest : public simtest::SimFixture,
                                 public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(RegisterWindowChangeTest, RewritesOnlyTheChangedDword) {
  const ChangeCase& c = GetParam();
  const sim::Plx9050Config cfg;
  auto bridge = std::make_shared<PeekLoggingBridge>(cfg);
  sim::AddPlx9050(sim_, 0, 4, 0, cfg, bridge);
  auto eeprom = std::make_shared<PinEeprom>();
  bridge->AttachEeprom(eeprom);
  bool source_low = false;
  bridge->DriveLocalInterrupt(1, [&source_low] { return source_low; });
  WdCardRegister reg = Register(0, 4, 0);
  auto* window = WD_FROM_UPTR(volatile uint32_t*, reg.card.items[0].u.mem.userAddress);
  Sleep();
  bridge->read_back.clear();

  const uint32_t io = reg.card.items[1].u.io.port;
  ChangeTarget target{*bridge, *eeprom, source_low, window, [&](uint32_t offset, uint32_t value) {
                        Transfer(WD_WP_DWORD, io + offset, value);
                      }};
  c.change(target);
  Sleep();
  EXPECT_EQ(bridge->read_back, std::vector<uint32_t>{c.offset});
  for (uint32_t off = 0; off < sim::plx9050::kRegisterBlockSize; off += 4) {
    EXPECT_EQ(window[off / 4], bridge->BarPeek(0, off, 4)) << "offset " << off;
  }
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
}

using namespace sim::plx9050;

INSTANTIATE_TEST_SUITE_P(
    Changes, RegisterWindowChangeTest,
    ::testing::Values(
        ChangeCase{"EepromDataOut", kCntrl, [](ChangeTarget& t) { t.eeprom.data_out = false; }},
        ChangeCase{"PinLevel", kIntcsr,
                   [](ChangeTarget& t) { t.bridge.SetLocalInterrupt(2, false); }},
        ChangeCase{"BoardSourcePullsAPin", kIntcsr, [](ChangeTarget& t) { t.source_low = true; }},
        ChangeCase{"RegisterWrittenByARequest", kLas0ba + 8,
                   [](ChangeTarget& t) { t.write_register(kLas0ba + 8, 0x00500001); }},
        ChangeCase{"StoreTheBridgeIgnores", 0x60,
                   [](ChangeTarget& t) { t.window[0x60 / 4] = 0x5A; }},
        ChangeCase{
            "StoreKeepingReadOnlyBits", kCntrl,
            [](ChangeTarget& t) { t.window[kCntrl / 4] = kCntrlEeClock | kCntrlEeDataOut; }}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

}  // namespace
