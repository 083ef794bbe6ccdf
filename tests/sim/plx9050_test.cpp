// The PLX 9050 model driven directly through its BARs: reset state, read-only bits, partial
// register writes, local address decoding, the EEPROM pins and the BAR0 erratum.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/board.h"
#include "sim/pci_config.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"
#include "support/param_name.h"

namespace {

using sim::Plx9050;
namespace plx = sim::plx9050;

constexpr int kBar0 = 0;
constexpr int kBar1 = 1;

struct RegisterCase {
  uint32_t offset;
  uint32_t reset;
  uint32_t afterAllOnes;  // what reads back after writing 0xFFFFFFFF
  uint32_t afterZero;     // what reads back after writing 0
};

void PrintTo(const RegisterCase& c, std::ostream* os) {
  *os << "register " << c.offset;
}

class RegisterTest : public ::testing::TestWithParam<RegisterCase> {};

// The default card: space 0 memory 256 bytes at local 0x10000, space 1 I/O 256 bytes at local 0;
// no EEPROM attached (data out floats high, not present).
TEST_P(RegisterTest, ResetValueAndWritableBits) {
  const RegisterCase& c = GetParam();
  Plx9050 card;
  EXPECT_EQ(card.BarRead(kBar1, c.offset, 4), c.reset);
  card.BarWrite(kBar1, c.offset, 0xFFFFFFFFu, 4);
  EXPECT_EQ(card.BarRead(kBar1, c.offset, 4), c.afterAllOnes);
  card.BarWrite(kBar0, c.offset, 0, 4);
  EXPECT_EQ(card.BarRead(kBar0, c.offset, 4), c.afterZero);
  // Writes past CNTRL reach no register.
  const std::vector<Plx9050::RegisterWrite> logged{{kBar1, c.offset, 0xFFFFFFFFu},
                                                   {kBar0, c.offset, 0}};
  EXPECT_EQ(card.register_writes(),
            c.offset <= plx::kCntrl ? logged : std::vector<Plx9050::RegisterWrite>{});
}

INSTANTIATE_TEST_SUITE_P(
    Registers, RegisterTest,
    ::testing::Values(
        RegisterCase{plx::kLas0rr, 0x0FFFFF00u, 0x0FFFFFFFu, 0},
        RegisterCase{0x04, 0x0FFFFF01u, 0x0FFFFFFFu, 0}, RegisterCase{0x08, 0, 0x0FFFFFFFu, 0},
        RegisterCase{plx::kEromrr, 0, 0x0FFFF800u, 0},
        RegisterCase{plx::kLas0ba, 0x00010001u, 0x0FFFFFFDu, 0},
        RegisterCase{0x18, 0x00000001u, 0x0FFFFFFDu, 0}, RegisterCase{0x20, 0, 0x0FFFFFFDu, 0},
        RegisterCase{plx::kEromba, 0, 0x0FFFF800u, 0},
        RegisterCase{plx::kLas0brd, 0, 0xFFFFFFFFu, 0},
        RegisterCase{plx::kErombrd, 0, 0xFFFFFFFFu, 0},
        RegisterCase{plx::kCs0base, 0, 0x0FFFFFFFu, 0},
        // Local interrupt status bits 2 and 5 are the bridge's own: the inputs rest high, so they
        // read active once the polarities say active high.
        RegisterCase{plx::kIntcsr, 0, 0xFFu, 0},
        // EEPROM data out (27) follows the pin, present (28) the setting.
        RegisterCase{plx::kCntrl, plx::kCntrlEeDataOut, 0x6FFFFFFFu, plx::kCntrlEeDataOut},
        // Past CNTRL: reserved.
        RegisterCase{0x54, 0, 0, 0}, RegisterCase{0x7C, 0, 0, 0}),
    testsupport::ByPrinted());

TEST(Plx9050Test, PartialWritesMergeIntoTheRegisterTheyCover) {
  Plx9050 card;
  card.BarWrite(kBar1, plx::kCs0base, 0x01020304u, 4);
  card.BarWrite(kBar1, plx::kCs0base + 1, 0xAA, 1);
  EXPECT_EQ(card.Peek(plx::kCs0base), 0x0102AA04u);
  card.BarWrite(kBar1, plx::kCs0base + 2, 0xBBCC, 2);
  EXPECT_EQ(card.BarRead(kBar1, plx::kCs0base, 4), 0x0BCCAA04u);
  // A word across two registers changes the top byte of one and the bottom byte of the next.
  card.BarWrite(kBar1, plx::kCs0base + 3, 0x5566, 2);
  EXPECT_EQ(card.Peek(0x40) & 0xFFu, 0x55u);
  EXPECT_EQ(card.Peek(plx::kCs0base) >> 24, 0x06u);  // bits 31:28 reserved
  EXPECT_EQ(card.BarRead(kBar1, plx::kCs0base + 3, 2), 0x5506u);
}

struct DecodeCase {
  uint32_t rr;
  uint32_t ba;
  uint32_t offset;
  uint32_t local;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << "offset " << c.offset;
}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

// An access at offset o of a space reaches (base & ~mask) | (o & mask).
TEST_P(DecodeTest, OffsetReachesTheLocalAddress) {
  const DecodeCase& c = GetParam();
  Plx9050 card;
  card.Poke(plx::kLas0rr, c.rr);
  card.Poke(plx::kLas0ba, c.ba);
  EXPECT_EQ(card.LocalAddress(0, c.offset), c.local);
  auto ram = card.AttachRam(c.local & ~0xFFu, 0x100);
  card.BarWrite(2, c.offset, 0xA5, 1);
  EXPECT_EQ(ram->bytes()[c.local & 0xFF], 0xA5);
  EXPECT_EQ(card.BarRead(2, c.offset, 1), 0xA5u);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, DecodeTest,
    ::testing::Values(DecodeCase{0x0FFFFF00u, 0x00000201u, 0x34, 0x234},
                      DecodeCase{0x0FFFFF00u, 0x00000201u, 0x1034, 0x234},  // aliases in range
                      DecodeCase{0x0FFFFF01u, 0x00123401u, 0xFF, 0x1234FF},
                      DecodeCase{0x0FFFF000u, 0x00345671u, 0x0ABC, 0x345ABC},
                      DecodeCase{0x0FFFFFFDu, 0x00000009u, 0x0B, 0x0B},  // I/O: 4 bytes
                      DecodeCase{0x0FFFFFF0u, 0x0ABCDEF1u, 0x05, 0x0ABCDEF5u}),
    testsupport::ByPrinted());

TEST(Plx9050Test, DisabledSpaceAndMissingDeviceReadAllOnes) {
  Plx9050 card;
  auto ram = card.AttachRam(0, 0x100);
  ram->bytes()[0x10] = 0x12;
  EXPECT_EQ(card.BarRead(3, 0x10, 1), 0x12u);
  card.BarWrite(kBar1, 0x18, 0x0, 4);  // LAS1BA: disable space 1
  EXPECT_FALSE(card.LocalSpaceEnabled(1));
  EXPECT_EQ(card.BarRead(3, 0x10, 1), 0xFFu);
  card.BarWrite(3, 0x10, 0x34, 1);
  EXPECT_EQ(ram->bytes()[0x10], 0x12);
  card.BarWrite(kBar1, 0x18, 0x1, 4);
  EXPECT_EQ(card.BarRead(3, 0x10, 2), 0x0012u);
  EXPECT_EQ(card.BarRead(2, 0x10, 4), 0xFFFFFFFFu);  // nothing at local 0x10010
}

class FakeEeprom : public sim::SerialEeprom {
 public:
  struct Pins {
    bool cs, sk, di;
    bool operator==(const Pins&) const = default;
  };
  void Drive(bool chip_select, bool clock, bool data_in) override {
    driven.push_back({chip_select, clock, data_in});
  }
  bool DataOut() override { return out; }
  std::vector<Pins> driven;
  bool out = false;
};

TEST(Plx9050Test, CntrlDrivesTheEepromAndShowsItsDataOut) {
  Plx9050 card;
  auto eeprom = std::make_shared<FakeEeprom>();
  card.AttachEeprom(eeprom);
  EXPECT_EQ(card.BarRead(kBar0, plx::kCntrl, 4), plx::kCntrlEePresent);
  card.BarWrite(kBar0, plx::kCntrl, plx::kCntrlEeSelect, 4);
  card.BarWrite(kBar0, plx::kCntrl, plx::kCntrlEeSelect | plx::kCntrlEeClock, 4);
  card.BarWrite(kBar1, plx::kCntrl + 3, 0x04, 1);  // the top byte alone: data in, clock low
  card.BarWrite(kBar0, plx::kCntrl, 0x0000FFFFu, 4);
  EXPECT_EQ(
      eeprom->driven,
      (std::vector<FakeEeprom::Pins>{
          {true, false, false}, {true, true, false}, {false, false, true}, {false, false, false}}));
  eeprom->out = true;
  EXPECT_EQ(card.BarRead(kBar1, plx::kCntrl, 4),
            0x0000FFFFu | plx::kCntrlEeDataOut | plx::kCntrlEePresent);
  card.SetEepromPresent(false);
  EXPECT_EQ(card.BarRead(kBar1, plx::kCntrl + 3, 1), plx::kCntrlEeDataOut >> 24);
}

TEST(Plx9050Test, Bar0WithBit7SetLosesTheRegistersOnlyWithTheErratum) {
  for (bool erratum : {false, true}) {
    sim::Plx9050Config cfg;
    cfg.bar0_bit7_erratum = erratum;
    Plx9050 card(cfg);
    sim::ConfigSpace config{};
    config[sim::pci::kBar0] = 0x80;
    config[sim::pci::kBar0 + 3] = 0xFD;
    card.ConfigWritten(config);
    EXPECT_EQ(card.RegistersReachableThroughBar0(), !erratum);
    card.BarWrite(kBar0, plx::kCs0base, 0x123, 4);
    EXPECT_EQ(card.Peek(plx::kCs0base), erratum ? 0u : 0x123u);
    EXPECT_EQ(card.BarRead(kBar0, plx::kLas0rr, 4), erratum ? 0xFFFFFFFFu : 0x0FFFFF00u);
    EXPECT_EQ(card.BarRead(kBar1, plx::kLas0rr, 4), 0x0FFFFF00u);  // BAR1 always answers
    config[sim::pci::kBar0] = 0x00;
    card.ConfigWritten(config);
    EXPECT_TRUE(card.RegistersReachableThroughBar0());
    EXPECT_EQ(card.BarRead(kBar0, plx::kLas0rr, 4), 0x0FFFFF00u);
  }
}

TEST(Plx9050Test, CardsOnOneBusKeepTheirOwnIdsBarsAndRegisters) {
  sim::Simulator simulator;
  sim::Plx9050Config other;
  other.vendor_id = 0x10B5;
  other.device_id = 0x9050;
  other.bars[2] = {sim::BarKind::kIo, 64};
  other.bars[4] = {sim::BarKind::kMemory, 4096};
  Plx9050& a = sim::AddPlx9050(simulator, 0, 1, 0);
  Plx9050& b = sim::AddPlx9050(simulator, 0, 2, 0, other);
  sim::PciFunction* fa = simulator.Find(0, 1, 0);
  sim::PciFunction* fb = simulator.Find(0, 2, 0);
  ASSERT_NE(fa, nullptr);
  ASSERT_NE(fb, nullptr);
  EXPECT_EQ(fa->ConfigRead(sim::pci::kVendorId, 4), 0x10B59050u);
  EXPECT_EQ(fb->ConfigRead(sim::pci::kVendorId, 4), 0x905010B5u);
  EXPECT_EQ(fa->bar_kind(0), sim::BarKind::kMemory);
  EXPECT_EQ(fa->bar_size(0), 128u);
  EXPECT_EQ(fa->bar_kind(1), sim::BarKind::kIo);
  EXPECT_EQ(fb->bar_kind(2), sim::BarKind::kIo);
  EXPECT_EQ(fb->bar_size(4), 4096u);
  // The ranges follow the BARs: space 0 I/O of 64 bytes, space 2 memory of 4 KB.
  EXPECT_EQ(b.Peek(plx::kLas0rr), 0x0FFFFFC1u);
  EXPECT_EQ(b.Peek(0x08), 0x0FFFF000u);
  EXPECT_EQ(b.Peek(0x1C), plx::kDefaultLocalBase[2] | plx::kBaseEnable);
  EXPECT_EQ(b.Peek(0x0C), 0u);
  fa->BarWrite(1, plx::kCs0base, 0x77, 4);
  EXPECT_EQ(a.Peek(plx::kCs0base), 0x77u);
  EXPECT_EQ(b.Peek(plx::kCs0base), 0u);
}

}  // namespace
