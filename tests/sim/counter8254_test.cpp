// The 8254-style counter group driven through its ports, as a program on the bus would drive it,
// with CLK pulses given directly or derived from the simulator's clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sim/clock.h"
#include "sim/counter8254.h"

namespace {

using sim::CounterGroup8254;

constexpr uint32_t kControl = 3;

// Control words for counter 0 (select 00).
constexpr uint8_t Control(int mode, uint8_t access = 0x30, bool bcd = false) {
  return static_cast<uint8_t>(access | (mode << 1) | (bcd ? 1 : 0));
}

void WriteByte(CounterGroup8254& g, uint32_t port, uint8_t value) {
  g.Write(port, value, 1);
}
uint8_t ReadByte(CounterGroup8254& g, uint32_t port) {
  return static_cast<uint8_t>(g.Read(port, 1));
}
void WriteCount16(CounterGroup8254& g, uint32_t port, uint16_t count) {
  WriteByte(g, port, static_cast<uint8_t>(count));
  WriteByte(g, port, static_cast<uint8_t>(count >> 8));
}
uint16_t ReadCount16(CounterGroup8254& g, uint32_t port) {
  const uint8_t low = ReadByte(g, port);
  return static_cast<uint16_t>(ReadByte(g, port) << 8 | low);
}

// One counter programmed with a control word and a two-byte count, then `pulses` CLK pulses.
struct CountCase {
  std::string name;
  uint8_t control;
  uint16_t count;
  uint64_t pulses;
  uint16_t expected;
  bool out;
};

void PrintTo(const CountCase& c, std::ostream* os) {
  *os << c.name;
}

class CountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountTest, CountsAsThePartDoes) {
  const CountCase& c = GetParam();
  CounterGroup8254 g;
  WriteByte(g, kControl, c.control);
  WriteCount16(g, 0, c.count);
  g.Pulse(c.pulses);
  EXPECT_EQ(ReadCount16(g, 0), c.expected);
  EXPECT_EQ(g.counter(0).out(), c.out);
}

// The first pulse after the count is written loads it; each later one counts.
INSTANTIATE_TEST_SUITE_P(
    Modes, CountTest,
    ::testing::Values(
        CountCase{"Mode0Loaded", Control(0), 100, 1, 100, false},
        CountCase{"Mode0Counting", Control(0), 100, 50, 51, false},
        CountCase{"Mode0LastBeforeZero", Control(0), 100, 100, 1, false},
        CountCase{"Mode0TerminalCount", Control(0), 100, 101, 0, true},
        CountCase{"Mode0WrapsOutStaysHigh", Control(0), 100, 102, 0xFFFF, true},
        CountCase{"Mode0ZeroIs65536", Control(0), 0, 2, 0xFFFF, false},
        CountCase{"Mode0ZeroExpiresAfter65536", Control(0), 0, 65537, 0, true},
        CountCase{"Mode0Bcd", Control(0, 0x30, true), 0x0100, 51, 0x0050, false},
        CountCase{"Mode0BcdWraps", Control(0, 0x30, true), 0x0100, 102, 0x9999, true},
        CountCase{"Mode0BcdZeroIs10000", Control(0, 0x30, true), 0, 1001, 0x9000, false},
        CountCase{"Mode2Loaded", Control(2), 5, 1, 5, true},
        CountCase{"Mode2OutLowAtOne", Control(2), 5, 5, 1, false},
        CountCase{"Mode2Reloads", Control(2), 5, 6, 5, true},
        CountCase{"Mode2ManyPeriods", Control(2), 5, 5003, 3, true},
        CountCase{"Mode2ZeroIs65536", Control(2), 0, 2, 0xFFFF, true},
        CountCase{"Mode2BcdZeroIs10000", Control(2, 0x30, true), 0, 1000, 0x9001, true},
        CountCase{"Mode6IsMode2", Control(6), 5, 5, 1, false},
        CountCase{"Mode3EvenHighHalf", Control(3), 6, 3, 2, true},
        CountCase{"Mode3EvenLowHalf", Control(3), 6, 4, 6, false},
        CountCase{"Mode3EvenLowHalfCounts", Control(3), 6, 6, 2, false},
        CountCase{"Mode3EvenNextPeriod", Control(3), 6, 7, 6, true},
        CountCase{"Mode3EvenManyPeriods", Control(3), 6, 605, 4, false},
        CountCase{"Mode3OddLoadsNMinus1", Control(3), 5, 1, 4, true},
        CountCase{"Mode3OddHighHalfReachesZero", Control(3), 5, 3, 0, true},
        CountCase{"Mode3OddLowHalf", Control(3), 5, 5, 2, false},
        CountCase{"Mode3OddNextPeriod", Control(3), 5, 6, 4, true},
        CountCase{"Mode7IsMode3", Control(7), 6, 4, 6, false},
        CountCase{"Mode3ZeroIs65536", Control(3), 0, 2, 0xFFFE, true},
        CountCase{"Mode4BeforeStrobe", Control(4), 3, 3, 1, true},
        CountCase{"Mode4StrobeOnePulse", Control(4), 3, 4, 0, false},
        CountCase{"Mode4AfterStrobe", Control(4), 3, 5, 0xFFFF, true},
        CountCase{"Mode4NoSecondStrobeAfterWrap", Control(4), 3, 4 + 65536, 0, true},
        // Modes 1 and 5 wait for a GATE rising edge: with GATE held high the count never loads.
        CountCase{"Mode1WaitsForTrigger", Control(1), 3, 10, 0, true},
        CountCase{"Mode5WaitsForTrigger", Control(5), 3, 10, 0, true}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

struct TriggerCase {
  std::string name;
  int mode;
  uint64_t pulses;
  uint16_t expected;
  bool out;
};

void PrintTo(const TriggerCase& c, std::ostream* os) {
  *os << c.name;
}

class TriggerTest : public ::testing::TestWithParam<TriggerCase> {};

TEST_P(TriggerTest, GateRisingEdgeStartsTheOneShot) {
  const TriggerCase& c = GetParam();
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(c.mode));
  WriteCount16(g, 0, 3);
  g.Pulse(5);
  g.SetGate(0, false);
  g.SetGate(0, true);
  g.Pulse(c.pulses);
  EXPECT_EQ(ReadCount16(g, 0), c.expected);
  EXPECT_EQ(g.counter(0).out(), c.out);
}

INSTANTIATE_TEST_SUITE_P(Modes, TriggerTest,
                         ::testing::Values(TriggerCase{"Mode1Loads", 1, 1, 3, false},
                                           TriggerCase{"Mode1Counts", 1, 3, 1, false},
                                           TriggerCase{"Mode1Ends", 1, 4, 0, true},
                                           TriggerCase{"Mode5Counts", 5, 3, 1, true},
                                           TriggerCase{"Mode5Strobe", 5, 4, 0, false},
                                           TriggerCase{"Mode5AfterStrobe", 5, 5, 0xFFFF, true}),
                         [](const ::testing::TestParamInfo<TriggerCase>& info) {
                           return info.param.name;
                         });

TEST(Counter8254, SingleByteAccessModes) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(0, 0x10));  // LSB only
  WriteByte(g, 0, 0x20);
  g.Pulse(1);
  EXPECT_EQ(ReadByte(g, 0), 0x20);
  EXPECT_EQ(ReadByte(g, 0), 0x20);                  // no flip-flop: every read is the low byte
  WriteByte(g, kControl, 0x40 | Control(0, 0x20));  // counter 1, MSB only
  WriteByte(g, 1, 0x01);                            // count 0x0100
  g.Pulse(1);
  EXPECT_EQ(ReadByte(g, 1), 0x01);
  g.Pulse(1);
  EXPECT_EQ(ReadByte(g, 1), 0x00);  // 0x00FF
}

TEST(Counter8254, CountersAreSelectedByTheControlWord) {
  CounterGroup8254 g;
  for (uint8_t c = 0; c < 3; ++c) {
    WriteByte(g, kControl, static_cast<uint8_t>(c << 6 | Control(2)));
    WriteCount16(g, c, static_cast<uint16_t>(100 * (c + 1)));
  }
  g.Pulse(11);
  EXPECT_EQ(ReadCount16(g, 0), 90);
  EXPECT_EQ(ReadCount16(g, 1), 190);
  EXPECT_EQ(ReadCount16(g, 2), 290);
  EXPECT_EQ(ReadByte(g, kControl), 0xFF);  // the control port is write-only
}

TEST(Counter8254, LatchHoldsTheCountUntilRead) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(2));
  WriteCount16(g, 0, 1000);
  g.Pulse(1);
  WriteByte(g, kControl, 0x00);  // latch counter 0
  g.Pulse(100);
  WriteByte(g, kControl, 0x00);  // a second latch before the first is read is ignored
  EXPECT_EQ(ReadCount16(g, 0), 1000);
  EXPECT_EQ(ReadCount16(g, 0), 900);  // unlatched again: the live count
}

TEST(Counter8254, ReadAndWriteFlipFlopsAreSeparate) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(2));
  WriteCount16(g, 0, 0x1234);
  g.Pulse(1);
  EXPECT_EQ(ReadByte(g, 0), 0x34);
  WriteByte(g, 0, 0x00);  // new count, low byte
  EXPECT_EQ(ReadByte(g, 0), 0x12);
  WriteByte(g, 0, 0x20);  // high byte: 0x2000 from the next reload
  g.Pulse(0x1234);
  EXPECT_EQ(ReadCount16(g, 0), 0x2000);
}

TEST(Counter8254, ControlWordResetsTheByteFlipFlops) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(2));
  WriteByte(g, 0, 0x99);  // a lone low byte...
  WriteByte(g, kControl, Control(2));
  WriteCount16(g, 0, 0x0010);  // ...is forgotten: this count starts with its low byte
  g.Pulse(1);
  EXPECT_EQ(ReadByte(g, 0), 0x10);
  WriteByte(g, kControl, Control(2));
  EXPECT_EQ(ReadByte(g, 0), 0x10);  // the read flip-flop is back on the low byte too
}

TEST(Counter8254, Mode0FirstByteStopsTheCount) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(0));
  WriteCount16(g, 0, 100);
  g.Pulse(11);
  WriteByte(g, 0, 50);
  g.Pulse(5);
  EXPECT_EQ(ReadCount16(g, 0), 90);
  EXPECT_FALSE(g.counter(0).out());
  WriteByte(g, 0, 0);
  g.Pulse(1);
  EXPECT_EQ(ReadCount16(g, 0), 50);
}

TEST(Counter8254, Mode2NewCountWaitsForTheReload) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(2));
  WriteCount16(g, 0, 5);
  g.Pulse(2);
  WriteCount16(g, 0, 10);
  g.Pulse(3);
  EXPECT_EQ(ReadCount16(g, 0), 1);
  g.Pulse(1);
  EXPECT_EQ(ReadCount16(g, 0), 10);
}

TEST(Counter8254, ReadBackLatchesStatusThenCount) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(2));
  WriteCount16(g, 0, 300);
  WriteByte(g, kControl, 0xE2);                         // read-back: status only, counter 0
  EXPECT_EQ(ReadByte(g, 0), 0x80 | 0x40 | Control(2));  // OUT high, null count, mode bits
  g.Pulse(1);
  WriteByte(g, kControl, 0xC2);  // status and count
  g.Pulse(50);
  EXPECT_EQ(ReadByte(g, 0), 0x80 | Control(2));  // the count is loaded: no null count
  EXPECT_EQ(ReadCount16(g, 0), 300);
  EXPECT_EQ(ReadCount16(g, 0), 250);
}

TEST(Counter8254, GateLowHoldsModes0And2) {
  CounterGroup8254 g;
  WriteByte(g, kControl, Control(0));
  WriteCount16(g, 0, 100);
  WriteByte(g, kControl, 0x40 | Control(2));
  WriteCount16(g, 1, 5);
  g.Pulse(4);
  g.SetGate(0, false);
  g.SetGate(1, false);
  g.Pulse(50);
  EXPECT_EQ(ReadCount16(g, 0), 97);
  EXPECT_EQ(ReadCount16(g, 1), 2);
  EXPECT_TRUE(g.counter(1).out());
  g.SetGate(0, true);
  g.SetGate(1, true);
  g.Pulse(1);
  EXPECT_EQ(ReadCount16(g, 0), 96);
  EXPECT_EQ(ReadCount16(g, 1), 5);  // mode 2 reloads after the rising edge
}

TEST(Counter8254, ClockDrivesThePulses) {
  sim::Clock clock;
  CounterGroup8254 g(&clock, 1000000);
  WriteByte(g, kControl, Control(2));
  WriteCount16(g, 0, 0);
  clock.Advance(1000 * 1000);  // 1 ms at 1 MHz: the load and 999 counts
  EXPECT_EQ(ReadCount16(g, 0), 65536 - 999);
  g.SetClockRate(2000000);
  clock.Advance(500 * 1000);  // 1000 more
  EXPECT_EQ(ReadCount16(g, 0), 65536 - 1999);
  g.SetClockRate(10000000);
  clock.Advance(3600ull * 1000000000ull);  // an hour at 10 MHz costs nothing
  const uint64_t counted = 1999 + 36000000000ull;
  EXPECT_EQ(ReadCount16(g, 0), static_cast<uint16_t>(65536 - counted % 65536));
}

}  // namespace
