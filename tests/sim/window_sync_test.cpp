// Memory windows kept coherent at a cost that does not grow with what is mapped: a window over a
// card's local RAM is the RAM itself until the bridge decodes elsewhere, and register windows are
// read back when the model changed or ignored a store.
#include <gtest/gtest.h>

#include <memory>

#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/ram.h"
#include "sim/sim_fixture.h"

namespace {

using sim::plx9050::kDefaultLocalBase;

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

}  // namespace
