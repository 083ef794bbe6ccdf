// libzarerera_sim as an application's test suite meets it: the board API of zarerera.h on a
// simulated machine set up, driven and inspected through zarerera_sim.h only.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "support/param_name.h"
#include "zarerera.h"
#include "zarerera_sim.h"

namespace {

constexpr uint8_t kLsbMsb = 0x30;

// Control bytes that put the three counters of a group in `mode`, binary, low byte then high.
std::vector<uint8_t> Controls(unsigned mode) {
  std::vector<uint8_t> c;
  for (unsigned i = 0; i < 3; ++i) c.push_back(static_cast<uint8_t>(i << 6 | kLsbMsb | mode << 1));
  return c;
}

std::vector<uint8_t> History(unsigned board, uint32_t capacity = 8192) {
  std::vector<uint8_t> values(capacity);
  values.resize(ZarereraSim_DigitalOutHistory(board, values.data(), capacity));
  return values;
}

ZarereraSimCounterState State(unsigned board, unsigned group, unsigned counter) {
  ZarereraSimCounterState s{};
  EXPECT_EQ(ZarereraSim_GetCounterState(board, group, counter, &s), ZARERERA_SIM_OK);
  return s;
}

std::vector<uint32_t> Counts(ZarereraCard card, uint32_t group) {
  std::vector<uint32_t> values(3 * (group + 1), 0xDEAD);
  tamreljs(card, 0, values.data(), group);
  return {values.end() - 3, values.end()};
}

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(1, true); }
  // Every test leaves nothing open.
  void TearDown() override {
    EXPECT_EQ(ZarereraSim_Registrations(), 0);
    EXPECT_EQ(ZarereraSim_OpenHandles(), 0);
  }
  // A fresh machine of `boards` default boards.
  static void Fresh(unsigned boards, bool virtual_time) {
    ASSERT_EQ(ZarereraSim_SetBoardCount(0), ZARERERA_SIM_OK);
    ASSERT_EQ(ZarereraSim_SetBoardCount(boards), ZARERERA_SIM_OK);
    ASSERT_EQ(ZarereraSim_SetVirtualTime(virtual_time ? 1 : 0), ZARERERA_SIM_OK);
  }
  static ZarereraCard Open() {
    ZarereraCard card = tamrelcheck(0, 0, 0, 1);
    EXPECT_NE(card, nullptr);
    return card;
  }
};

// --- The machine: boards, IDs, slots, reset.

using MachineTest = SimFixture;

TEST_F(MachineTest, EachBoardOpensByItsIdsAndOwnsItsPorts) {
  ASSERT_EQ(ZarereraSim_SetBoardCount(ZARERERA_SIM_MAX_BOARDS), ZARERERA_SIM_OK);
  std::vector<ZarereraCard> cards;
  for (unsigned i = 0; i < ZARERERA_SIM_MAX_BOARDS; ++i) {
    ASSERT_EQ(ZarereraSim_SetBoardIds(i, static_cast<uint16_t>(0x1000 + i),
                                      static_cast<uint16_t>(0x2000 + i)),
              ZARERERA_SIM_OK);
  }
  for (unsigned i = 0; i < ZARERERA_SIM_MAX_BOARDS; ++i) {
    ASSERT_EQ(ZarereraSim_SetBoardDigitalIn(i, static_cast<uint8_t>(0x30 + i)), ZARERERA_SIM_OK);
  }
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr) << "no board keeps the default IDs";
  for (unsigned i = 0; i < ZARERERA_SIM_MAX_BOARDS; ++i) {
    cards.push_back(tamrelcheck(0x1000 + i, 0x2000 + i, 0, 1));
    ASSERT_NE(cards.back(), nullptr) << "board " << i;
  }
  EXPECT_EQ(ZarereraSim_Registrations(), static_cast<int>(ZARERERA_SIM_MAX_BOARDS));
  for (unsigned i = 0; i < ZARERERA_SIM_MAX_BOARDS; ++i) {
    tamreldo(cards[i], 0, 0x80 + i);
    EXPECT_EQ(tamreldi(cards[i]), static_cast<int>(0x30 + i)) << "board " << i;
  }
  for (unsigned i = 0; i < ZARERERA_SIM_MAX_BOARDS; ++i) {
    EXPECT_EQ(History(i), std::vector<uint8_t>{static_cast<uint8_t>(0x80 + i)}) << "board " << i;
    EXPECT_EQ(tamrelclose(cards[i]), 1);
  }
}

TEST_F(MachineTest, BoardsAreCountedInSlotOrder) {
  // Two boards of the same IDs: tamrelcheck asks on the console, and the caller's number picks.
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  ASSERT_EQ(ZarereraSim_SetBoardCount(2), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_SetBoardSlot(0, 0, 9), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_SetBoardSlot(1, 0, 2), ZARERERA_SIM_OK);
  for (uint32_t number : {1u, 2u}) {
    ZarereraCard card = tamrelcheck(0, 0, 0, number);
    ASSERT_NE(card, nullptr);
    tamreldo(card, 0, number);
    tamrelclose(card);
  }
  EXPECT_EQ(History(1), std::vector<uint8_t>{1}) << "the board in slot 2 is the first";
  EXPECT_EQ(History(0), std::vector<uint8_t>{2});
}

TEST_F(MachineTest, SetUpOutOfRangeIsRefusedAndChangesNothing) {
  ASSERT_EQ(ZarereraSim_SetBoardCount(2), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_SetBoardIds(1, 0x1111, 0x2222), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_SetBoardCount(ZARERERA_SIM_MAX_BOARDS + 1), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetBoardIds(2, 1, 1), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetBoardSlot(2, 0, 7), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetBoardSlot(0, 256, 7), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetBoardSlot(0, 0, 32), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetBoardSlot(0, 0, 6), ZARERERA_SIM_BAD_ARGUMENT) << "board 1's slot";
  EXPECT_EQ(ZarereraSim_SetBoardDigitalIn(2, 1), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_GetCounterState(0, 4, 0, nullptr), ZARERERA_SIM_BAD_ARGUMENT);
  ZarereraSimCounterState s{};
  EXPECT_EQ(ZarereraSim_GetCounterState(0, 0, 3, &s), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_GetCounterState(2, 0, 0, &s), ZARERERA_SIM_BAD_ARGUMENT);
  // Both boards as they were set up, each the only one of its IDs.
  ZarereraCard first = tamrelcheck(0, 0, 0, 1);
  ZarereraCard second = tamrelcheck(0x1111, 0x2222, 0, 1);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  tamrelclose(first);
  tamrelclose(second);
}

TEST_F(MachineTest, ResetStartsAFreshMachine) {
  ZarereraSim_SetDigitalIn(0x5A);
  ZarereraCard card = Open();
  tamreldo(card, 0, 0xA5);
  tamreljsset(card, 0, Controls(2).data(), 0);
  ASSERT_EQ(ZarereraSim_AdvanceMicroseconds(100), ZARERERA_SIM_OK);
  ASSERT_EQ(Counts(card, 0), (std::vector<uint32_t>{65437, 65437, 65437}));
  tamrelclose(card);

  ASSERT_EQ(ZarereraSim_Reset(), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_ElapsedMicroseconds(), 0u);
  EXPECT_EQ(ZarereraSim_DigitalOut(), 0);
  EXPECT_EQ(ZarereraSim_DigitalOutWrites(), 0u);
  EXPECT_TRUE(History(0).empty());
  const ZarereraSimCounterState s = State(0, 0, 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.status, 0);
  card = Open();
  EXPECT_EQ(tamreldi(card), 0);
  EXPECT_EQ(Counts(card, 0), (std::vector<uint32_t>{0, 0, 0})) << "never programmed";
  tamrelclose(card);
}

TEST_F(MachineTest, EveryReplacementIsRefusedWhileABoardIsOpen) {
  ZarereraCard card = Open();
  tamreldo(card, 0, 0x11);
  EXPECT_EQ(ZarereraSim_Reset(), ZARERERA_SIM_BOARD_OPEN);
  EXPECT_EQ(ZarereraSim_SetBoardCount(2), ZARERERA_SIM_BOARD_OPEN);
  EXPECT_EQ(ZarereraSim_SetBoardIds(0, 1, 2), ZARERERA_SIM_BOARD_OPEN);
  EXPECT_EQ(ZarereraSim_SetBoardSlot(0, 1, 1), ZARERERA_SIM_BOARD_OPEN);
  EXPECT_EQ(ZarereraSim_SetVirtualTime(0), ZARERERA_SIM_BOARD_OPEN);
  EXPECT_EQ(ZarereraSim_FailNextOpen(ZARERERA_SIM_OPEN_NO_DRIVER), ZARERERA_SIM_BOARD_OPEN);
  // The open board goes on working on the machine it was opened on.
  tamreldo(card, 0, 0x22);
  EXPECT_EQ(History(0), (std::vector<uint8_t>{0x11, 0x22}));
  EXPECT_EQ(ZarereraSim_AdvanceMicroseconds(1), ZARERERA_SIM_OK) << "still virtual time";
  tamrelclose(card);
  EXPECT_EQ(ZarereraSim_Reset(), ZARERERA_SIM_OK);
}

// --- Time: counters in virtual time give exact values.

struct CountCase {
  const char* name;
  unsigned mode;
  uint32_t hz;
  uint64_t advance_us;
  uint32_t pulses;    // extra clock pulses after the advance
  uint32_t expected;  // each counter of the group (programmed at the same instant)
};

// A count of 0 is 65536; the first clock pulse loads it, each further one counts.
const CountCase kCountCases[] = {
    {"RateGenerator", 2, 1000000, 1000, 0, 65536 - 999},
    {"InterruptOnTerminalCount", 0, 1000000, 1000, 0, 65536 - 999},
    {"SquareWaveCountsByTwo", 3, 1000000, 1000, 0, 65536 - 2 * 999},
    {"QuarterRate", 2, 250000, 1000, 0, 65536 - 249},
    {"RateGeneratorReloads", 2, 1000000, 65537, 0, 0},
    {"PulsedClockOnly", 2, 0, 1000, 10, 65536 - 9},
    {"PulsesAddToTheRate", 2, 1000000, 1000, 1, 65536 - 1000},
    {"NotLoadedBeforeTheFirstPulse", 2, 1000000, 0, 0, 0},
};

class CountTest : public SimFixture, public ::testing::WithParamInterface<CountCase> {};

TEST_P(CountTest, CountersReadExactlyAfterVirtualTime) {
  const CountCase& c = GetParam();
  ZarereraCard card = Open();
  for (unsigned group = 0; group < 4; ++group) {
    ASSERT_EQ(ZarereraSim_SetCounterClock(0, group, c.hz), ZARERERA_SIM_OK);
  }
  for (uint32_t group = 0; group < 4; ++group) tamreljsset(card, 0, Controls(c.mode).data(), group);
  ASSERT_EQ(ZarereraSim_AdvanceMicroseconds(c.advance_us), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_ElapsedMicroseconds(), c.advance_us);
  ASSERT_EQ(ZarereraSim_PulseCounterClock(0, 2, c.pulses), ZARERERA_SIM_OK);
  const std::vector<uint32_t> expected(3, c.expected);
  EXPECT_EQ(Counts(card, 2), expected);
  // The reads moved nothing: the same again, and the other groups without the extra pulses.
  EXPECT_EQ(Counts(card, 2), expected);
  if (c.pulses == 0) {
    EXPECT_EQ(Counts(card, 3), expected);
  }
  tamrelclose(card);
}

INSTANTIATE_TEST_SUITE_P(Modes, CountTest, ::testing::ValuesIn(kCountCases),
                         testsupport::ByNameMember());

TEST_F(SimFixture, RealTimeIsTheDefaultAndCannotBeAdvanced) {
  ASSERT_EQ(ZarereraSim_SetVirtualTime(0), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_AdvanceMicroseconds(10), ZARERERA_SIM_REAL_TIME);
}

// --- Counter inputs and state.

using CounterTest = SimFixture;

TEST_F(CounterTest, GateLowHoldsARateGeneratorAndARisingEdgeReloadsIt) {
  ZarereraCard card = Open();
  tamreljsset(card, 0, Controls(2).data(), 1);
  ZarereraSim_AdvanceMicroseconds(100);
  ASSERT_EQ(ZarereraSim_SetCounterGate(0, 1, 1, 0), ZARERERA_SIM_OK);
  EXPECT_EQ(State(0, 1, 1).gate, 0);
  EXPECT_EQ(State(0, 1, 1).out, 1) << "GATE low forces OUT high in mode 2";
  ZarereraSim_AdvanceMicroseconds(100);
  EXPECT_EQ(Counts(card, 1), (std::vector<uint32_t>{65536 - 199, 65536 - 99, 65536 - 199}));
  ASSERT_EQ(ZarereraSim_SetCounterGate(0, 1, 1, 1), ZARERERA_SIM_OK);
  ZarereraSim_AdvanceMicroseconds(10);
  EXPECT_EQ(Counts(card, 1), (std::vector<uint32_t>{65536 - 209, 65536 - 9, 65536 - 209}));
  EXPECT_EQ(ZarereraSim_SetCounterGate(0, 1, 3, 1), ZARERERA_SIM_BAD_ARGUMENT);
  tamrelclose(card);
}

TEST_F(CounterTest, PreloadedCountExpiresAndRaisesOutAndLinti1) {
  ZarereraCard card = Open();
  tamreljsset(card, 0, Controls(0).data(), 0);
  ASSERT_EQ(ZarereraSim_PreloadCount(0, 0, 0, 5), ZARERERA_SIM_OK);
  ZarereraSimCounterState s = State(0, 0, 0);
  EXPECT_EQ(s.count, 5);
  EXPECT_EQ(s.mode, 0);
  EXPECT_EQ(s.out, 0);
  EXPECT_EQ(s.status, kLsbMsb) << "OUT low, count loaded, LSB-MSB, mode 0, binary";
  EXPECT_EQ(ZarereraSim_Intcsr(0) & 0x4u, 0u) << "LINTi1 rests inactive";

  ZarereraSim_AdvanceMicroseconds(4);
  EXPECT_EQ(Counts(card, 0), (std::vector<uint32_t>{1, 65536 - 3, 65536 - 3}));
  EXPECT_EQ(State(0, 0, 0).out, 0);
  ZarereraSim_AdvanceMicroseconds(1);
  s = State(0, 0, 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.out, 1);
  EXPECT_EQ(s.status, 0x80 | kLsbMsb);
  EXPECT_EQ(ZarereraSim_Intcsr(0), 0x4u) << "OUT high pulls LINTi1 low: active at reset polarity";
  EXPECT_EQ(ZarereraSim_PreloadCount(0, 4, 0, 1), ZARERERA_SIM_BAD_ARGUMENT);
  tamrelclose(card);
}

// --- Interrupts: the bridge's inputs, INTCSR and the PCI line.

struct PinCase {
  const char* name;
  unsigned input;
  uint32_t intcsr;    // as set
  int level;          // the pin
  uint32_t expected;  // INTCSR as read
  int asserted;
};

constexpr uint32_t kL1En = 0x01, kL1Pol = 0x02, kL1St = 0x04, kL2En = 0x08, kL2Pol = 0x10,
                   kL2St = 0x20, kPciEn = 0x40, kSoft = 0x80;

const PinCase kPinCases[] = {
    {"Linti1RestsHigh", 1, 0, 1, 0, 0},
    {"Linti1LowShowsWithoutEnables", 1, 0, 0, kL1St, 0},
    {"Linti1LowAssertsWhenEnabled", 1, kL1En | kPciEn, 0, kL1En | kPciEn | kL1St, 1},
    {"Linti1NeedsThePciEnable", 1, kL1En, 0, kL1En | kL1St, 0},
    {"Linti1ActiveHigh", 1, kL1En | kL1Pol | kPciEn, 1, kL1En | kL1Pol | kPciEn | kL1St, 1},
    {"Linti2LowAssertsWhenEnabled", 2, kL2En | kPciEn, 0, kL2En | kPciEn | kL2St, 1},
    {"Linti2ActiveHigh", 2, kL2En | kL2Pol | kPciEn, 1, kL2En | kL2Pol | kPciEn | kL2St, 1},
    {"Linti2NotPassedByLinti1Enable", 2, kL1En | kPciEn, 0, kL1En | kPciEn | kL2St, 0},
    {"SoftwareInterrupt", 1, kSoft | kPciEn, 1, kSoft | kPciEn, 1},
    {"StatusBitsCannotBeSet", 1, kL1St | kL2St | 0x100, 1, 0, 0},
};

class PinTest : public SimFixture, public ::testing::WithParamInterface<PinCase> {};

TEST_P(PinTest, IntcsrAndTheLineFollowThePins) {
  const PinCase& c = GetParam();
  ASSERT_EQ(ZarereraSim_SetBoardCount(2), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_SetIntcsr(1, c.intcsr), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_SetLocalInterruptPin(1, c.input, c.level), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_Intcsr(1), c.expected);
  EXPECT_EQ(ZarereraSim_PciInterruptAsserted(1), c.asserted);
  EXPECT_EQ(ZarereraSim_Intcsr(0), 0u) << "the other board";
  EXPECT_EQ(ZarereraSim_PciInterruptAsserted(0), 0);
  ASSERT_EQ(ZarereraSim_SetLocalInterruptPin(1, c.input, 1), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_SetIntcsr(1, 0), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_PciInterruptAsserted(1), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PinTest, ::testing::ValuesIn(kPinCases),
                         testsupport::ByNameMember());

TEST_F(SimFixture, InterruptCallsRefuseUnknownInputsAndBoards) {
  EXPECT_EQ(ZarereraSim_SetLocalInterruptPin(0, 0, 0), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetLocalInterruptPin(0, 3, 0), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetIntcsr(1, kPciEn), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_Intcsr(1), 0u);
  EXPECT_EQ(ZarereraSim_Intcsr(0), 0u) << "pins untouched";
}

// --- Faults.

struct OpenFaultCase {
  const char* name;
  ZarereraSimOpenFault fault;
};

const OpenFaultCase kOpenFaults[] = {
    {"NoDriver", ZARERERA_SIM_OPEN_NO_DRIVER},
    {"NoBoard", ZARERERA_SIM_OPEN_NO_BOARD},
    {"RegistrationRefused", ZARERERA_SIM_OPEN_REGISTRATION_REFUSED},
};

class OpenFaultTest : public SimFixture, public ::testing::WithParamInterface<OpenFaultCase> {};

TEST_P(OpenFaultTest, FailsTheNextOpenOnlyAndLeaksNothing) {
  ASSERT_EQ(ZarereraSim_FailNextOpen(GetParam().fault), ZARERERA_SIM_OK);
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  EXPECT_EQ(ZarereraSim_Registrations(), 0);
  EXPECT_EQ(ZarereraSim_OpenHandles(), 0);
  ZarereraCard card = Open();
  tamreldo(card, 0, 0x5A);
  EXPECT_EQ(ZarereraSim_DigitalOut(), 0x5A);
  tamrelclose(card);
}

TEST_P(OpenFaultTest, CancelledByOpeningNormally) {
  ASSERT_EQ(ZarereraSim_FailNextOpen(GetParam().fault), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_FailNextOpen(ZARERERA_SIM_OPEN_NORMALLY), ZARERERA_SIM_OK);
  tamrelclose(Open());
}

TEST_P(OpenFaultTest, ClearedByReset) {
  ASSERT_EQ(ZarereraSim_FailNextOpen(GetParam().fault), ZARERERA_SIM_OK);
  ASSERT_EQ(ZarereraSim_Reset(), ZARERERA_SIM_OK);
  tamrelclose(Open());
}

INSTANTIATE_TEST_SUITE_P(Faults, OpenFaultTest, ::testing::ValuesIn(kOpenFaults),
                         testsupport::ByNameMember());

TEST_F(SimFixture, UnknownOpenFaultIsRefused) {
  EXPECT_EQ(ZarereraSim_FailNextOpen(static_cast<ZarereraSimOpenFault>(4)),
            ZARERERA_SIM_BAD_ARGUMENT);
  tamrelclose(Open());
}

TEST_F(SimFixture, FailedTransfersNeverReachTheBoard) {
  ZarereraSim_SetDigitalIn(0x5A);
  ZarereraCard card = Open();
  ZarereraSim_FailTransfers(2);
  EXPECT_EQ(tamreldi(card), 0) << "a failed read gives 0";
  tamreldo(card, 0, 0x11);
  EXPECT_EQ(ZarereraSim_DigitalOutWrites(), 0u) << "a failed write is lost";
  EXPECT_EQ(tamreldi(card), 0x5A);
  tamreldo(card, 0, 0x22);
  ZarereraSim_FailTransfers(5);
  ZarereraSim_FailTransfers(0);
  tamreldo(card, 0, 0x33);
  EXPECT_EQ(History(0), (std::vector<uint8_t>{0x22, 0x33}));
  tamrelclose(card);
}

TEST_F(SimFixture, EepromHoldsTheDefaultImageAndTakesWornOutMarks) {
  uint16_t word = 0;
  ASSERT_EQ(ZarereraSim_GetEepromWord(0, 0, &word), ZARERERA_SIM_OK);
  EXPECT_EQ(word, 0x10B5) << "device ID";
  ASSERT_EQ(ZarereraSim_GetEepromWord(0, 1, &word), ZARERERA_SIM_OK);
  EXPECT_EQ(word, 0x9050) << "vendor ID";
  EXPECT_EQ(ZarereraSim_GetEepromWord(0, 64, &word), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_GetEepromWord(1, 0, &word), ZARERERA_SIM_BAD_ARGUMENT);
  EXPECT_EQ(ZarereraSim_SetEepromWornOut(0, 63, 1), ZARERERA_SIM_OK);
  EXPECT_EQ(ZarereraSim_SetEepromWornOut(0, 64, 1), ZARERERA_SIM_BAD_ARGUMENT);
}

// --- The output latch's history.

TEST_F(SimFixture, LatchHistoryKeepsTheLatestWritesOldestFirst) {
  ZarereraCard card = Open();
  constexpr uint32_t kWrites = 5000;
  for (uint32_t i = 0; i < kWrites; ++i) tamreldo(card, 0, i);
  tamrelclose(card);
  EXPECT_EQ(ZarereraSim_DigitalOutWrites(), kWrites);
  EXPECT_EQ(ZarereraSim_DigitalOut(), static_cast<uint8_t>(kWrites - 1));
  const std::vector<uint8_t> all = History(0);
  ASSERT_EQ(all.size(), 4096u);
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i], static_cast<uint8_t>(kWrites - 4096 + i)) << "entry " << i;
  }
  EXPECT_EQ(History(0, 3), (std::vector<uint8_t>{static_cast<uint8_t>(kWrites - 3),
                                                 static_cast<uint8_t>(kWrites - 2),
                                                 static_cast<uint8_t>(kWrites - 1)}));
  EXPECT_EQ(ZarereraSim_DigitalOutHistory(1, nullptr, 3), 0u);
}

}  // namespace
