// The board I/O exports against the simulated board: the exact port transfers of each, where the
// access delays fall between them, and the counts the counters give.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "board_fixture.h"
#include "p9050_lib.h"

namespace board_test {
namespace {

constexpr uint32_t kSlot = 5;
constexpr uint32_t R = WD_RP_BYTE;
constexpr uint32_t W = WD_WP_BYTE;

class PortIo : public BoardFixture {
 protected:
  void SetUp() override {
    board_ = AddBoard(kSlot);
    card_ = tamrelcheck(0, 0, 0, 1);
    ASSERT_NE(card_, nullptr);
    ClearLogs();
    delaysAtStart_ = Board_AccessDelays();
  }
  void TearDown() override {
    EXPECT_EQ(tamrelclose(card_), 1);
    EXPECT_EQ(simulator_.registrations(), 0);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }

  // The port accesses since SetUp, with delay stamps made relative to it.
  std::vector<PortAccess> Accesses() {
    std::vector<PortAccess> out = PortAccesses(kSlot);
    for (PortAccess& a : out) a.delaysBefore -= delaysAtStart_;
    return out;
  }
  uint32_t DelaysRun() const { return Board_AccessDelays() - delaysAtStart_; }

  sim::SimBoard board_;
  ZarereraCard card_ = nullptr;
  uint32_t delaysAtStart_ = 0;
};

// One call, and the transfers that must reach the board, each stamped with the delays before it.
struct SequenceCase {
  std::string name;
  std::function<void(ZarereraCard)> call;
  std::vector<PortAccess> accesses;
  uint32_t delays;  // in all
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
  *os << c.name;
}

class Sequence : public PortIo, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(Sequence, TransfersAndDelaysInOrder) {
  const SequenceCase& c = GetParam();
  c.call(card_);
  EXPECT_EQ(Accesses(), c.accesses);
  EXPECT_EQ(DelaysRun(), c.delays);
  EXPECT_EQ(simulator_.log().size(), c.accesses.size());  // nothing but those transfers
}

const uint8_t kControls[3] = {0x34, 0x72, 0xB6};
uint32_t g_values[24];  // room for the last group the window holds, group 7

INSTANTIATE_TEST_SUITE_P(
    Exports, Sequence,
    ::testing::Values(
        SequenceCase{"DigitalIn", [](ZarereraCard c) { tamreldi(c); }, {{0x10, R, 0, 0}}, 1},
        SequenceCase{"DigitalOutKeepsLowByte",
                     [](ZarereraCard c) { tamreldo(c, 0, 0x1FF); },
                     {{0x14, W, 0xFF, 0}},
                     1},
        SequenceCase{
            "ReadHasNoDelay", [](ZarereraCard c) { tamrelread(c, 0, 0x10); }, {{0x10, R, 0, 0}}, 0},
        SequenceCase{"WriteHasNoDelay",
                     [](ZarereraCard c) { tamrelwrite(c, 0, 0x07, 0x3A5); },
                     {{0x07, W, 0xA5, 0}},
                     0},
        SequenceCase{"CounterSetGroup0",
                     [](ZarereraCard c) { tamreljsset(c, 0, kControls, 0); },
                     {{3, W, 0x34, 0},
                      {0, W, 0, 1},
                      {0, W, 0, 2},
                      {3, W, 0x72, 3},
                      {1, W, 0, 4},
                      {1, W, 0, 5},
                      {3, W, 0xB6, 6},
                      {2, W, 0, 7},
                      {2, W, 0, 8}},
                     9},
        SequenceCase{"CounterSetGroup2",
                     [](ZarereraCard c) { tamreljsset(c, 0, kControls, 2); },
                     {{11, W, 0x34, 0},
                      {8, W, 0, 1},
                      {8, W, 0, 2},
                      {11, W, 0x72, 3},
                      {9, W, 0, 4},
                      {9, W, 0, 5},
                      {11, W, 0xB6, 6},
                      {10, W, 0, 7},
                      {10, W, 0, 8}},
                     9},
        SequenceCase{
            "CounterReadGroup1",
            [](ZarereraCard c) { tamreljs(c, 0, g_values, 1); },
            {{4, R, 0, 1}, {4, R, 0, 2}, {5, R, 0, 4}, {5, R, 0, 5}, {6, R, 0, 7}, {6, R, 0, 8}},
            9},
        // The window's last byte and its last group are reachable.
        SequenceCase{
            "ReadLastByte", [](ZarereraCard c) { tamrelread(c, 0, 0x1F); }, {{0x1F, R, 0, 0}}, 0},
        SequenceCase{"WriteLastByte",
                     [](ZarereraCard c) { tamrelwrite(c, 0, 0x1F, 0x66); },
                     {{0x1F, W, 0x66, 0}},
                     0},
        SequenceCase{"CounterReadGroup7",
                     [](ZarereraCard c) { tamreljs(c, 0, g_values, 7); },
                     {{28, R, 0, 1},
                      {28, R, 0, 2},
                      {29, R, 0, 4},
                      {29, R, 0, 5},
                      {30, R, 0, 7},
                      {30, R, 0, 8}},
                     9},
        SequenceCase{"CounterReadGroup3",
                     [](ZarereraCard c) { tamreljs(c, 0, g_values, 3); },
                     {{12, R, 0, 1},
                      {12, R, 0, 2},
                      {13, R, 0, 4},
                      {13, R, 0, 5},
                      {14, R, 0, 7},
                      {14, R, 0, 8}},
                     9}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

TEST_F(PortIo, DigitalPortsReachTheBoard) {
  board_.ports->set_digital_in(0xA5);
  EXPECT_EQ(tamreldi(card_), 0xA5);
  EXPECT_EQ(tamrelread(card_, 0, 0x10), 0xA5);
  board_.ports->set_digital_in(0x00);
  EXPECT_EQ(tamreldi(card_), 0x00);
  tamreldo(card_, 0, 0x1FF);
  EXPECT_EQ(board_.ports->digital_out(), 0xFF);
  tamreldo(card_, 0, 0x100);
  EXPECT_EQ(board_.ports->digital_out(), 0x00);
  tamrelwrite(card_, 0, 0x14, 0x5A);
  EXPECT_EQ(board_.ports->digital_out(), 0x5A);
  EXPECT_EQ(board_.ports->digital_out_writes(), 3u);
  EXPECT_EQ(tamrelread(card_, 0, 0x1F), 0xFF);  // nothing drives it
}

TEST_F(PortIo, CounterReadFillsOnlyItsGroupsEntries) {
  std::array<uint32_t, 12> values;
  values.fill(0xDEADBEEF);
  tamreljs(card_, 0, values.data(), 1);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i >= 3 && i <= 5) {
      EXPECT_LE(values[i], 0xFFFFu) << i;
    } else {
      EXPECT_EQ(values[i], 0xDEADBEEFu) << i;
    }
  }
}

// Counters programmed by tamreljsset (control byte, then a count of 0 = 65536, or 10000 in BCD)
// and read by tamreljs after the clock (1 MHz) ran: the counts of a real 8254.
struct CountCase {
  std::string name;
  uint32_t group;
  std::array<uint8_t, 3> controls;
  uint64_t microseconds;
  std::array<uint32_t, 3> counts;
};

void PrintTo(const CountCase& c, std::ostream* os) {
  *os << c.name;
}

class Counts : public PortIo, public ::testing::WithParamInterface<CountCase> {};

TEST_P(Counts, AsARealCounterWould) {
  const CountCase& c = GetParam();
  tamreljsset(card_, 0, c.controls.data(), c.group);
  simulator_.clock().Advance(c.microseconds * 1000);
  std::array<uint32_t, 12> values{};
  tamreljs(card_, 0, values.data(), c.group);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(values[3 * c.group + i], c.counts[i]) << i;
}

// The first clock pulse loads the count; 1000 us give the load and 999 counts.
INSTANTIATE_TEST_SUITE_P(
    Modes, Counts,
    ::testing::Values(
        // Counter 0 mode 0, counter 1 mode 2, counter 2 mode 3 (counts down by two).
        CountCase{"Group0After1ms", 0, {0x30, 0x74, 0xB6}, 1000, {64537, 64537, 63538}},
        CountCase{"Group3After1ms", 3, {0x30, 0x74, 0xB6}, 1000, {64537, 64537, 63538}},
        // 70000 pulses: modes 0 and 2 have wrapped once; mode 3 is in its second period's high
        // half.
        CountCase{"Group1After70ms", 1, {0x30, 0x74, 0xB6}, 70000, {61073, 61073, 56610}},
        // BCD: 0 loads as 10000; the value is read as four BCD digits.
        CountCase{"Group2Bcd", 2, {0x31, 0x75, 0xB7}, 1000, {0x9001, 0x9001, 0x8002}},
        CountCase{"Group2BcdWrapped", 2, {0x31, 0x75, 0xB7}, 70000, {0x0001, 0x0001, 0x0002}}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

TEST_F(PortIo, NullCardOrArrayTouchesNothing) {
  uint32_t values[12] = {};
  EXPECT_EQ(tamreldi(nullptr), 0);
  EXPECT_EQ(tamrelread(nullptr, 0, 0x10), 0);
  tamreldo(nullptr, 0, 1);
  tamrelwrite(nullptr, 0, 0x14, 1);
  tamreljsset(nullptr, 0, kControls, 0);
  tamreljs(nullptr, 0, values, 0);
  tamreljsset(card_, 0, nullptr, 0);
  tamreljs(card_, 0, nullptr, 0);
  EXPECT_TRUE(simulator_.log().empty());
  EXPECT_EQ(DelaysRun(), 0u);
}

// Calls whose ports lie outside the board's 32-byte window, where offsets and group numbers summed
// in 32 bits would wrap onto the bridge's registers (through BAR1, next to the window's ports), the
// digital ports or another group: nothing is sent, no delay runs, the caller's array is left as it
// was, and the board keeps working.
struct OutsideCase {
  std::string name;
  std::function<void(ZarereraCard, uint32_t*)> call;
};

void PrintTo(const OutsideCase& c, std::ostream* os) {
  *os << c.name;
}

class OutsideWindow : public PortIo, public ::testing::WithParamInterface<OutsideCase> {};

TEST_P(OutsideWindow, TouchesNothing) {
  tamreldo(card_, 0, 0xA5);
  board_.ports->set_digital_in(0x3C);
  const uint32_t las1ba = board_.bridge->Peek(P9050_LAS1BA);
  board_.bridge->ClearRegisterWrites();
  ClearLogs();
  delaysAtStart_ = Board_AccessDelays();
  const uint64_t outWrites = board_.ports->digital_out_writes();
  std::array<uint32_t, 12> values;
  values.fill(0xDEADBEEF);

  GetParam().call(card_, values.data());

  EXPECT_TRUE(simulator_.log().empty());
  EXPECT_EQ(DelaysRun(), 0u);
  for (uint32_t v : values) EXPECT_EQ(v, 0xDEADBEEFu);
  EXPECT_TRUE(board_.bridge->register_writes().empty());
  EXPECT_EQ(board_.bridge->Peek(P9050_LAS1BA), las1ba);
  EXPECT_EQ(board_.ports->digital_out(), 0xA5);
  EXPECT_EQ(board_.ports->digital_out_writes(), outWrites);
  EXPECT_EQ(tamreldi(card_), 0x3C);  // the window still answers
}

INSTANTIATE_TEST_SUITE_P(
    Calls, OutsideWindow,
    ::testing::Values(
        // 0xffffff98 added to the window's port in 32 bits is LAS1BA's port behind BAR1.
        OutsideCase{"WriteWrappingOntoTheBridge",
                    [](ZarereraCard c, uint32_t*) { tamrelwrite(c, 0, 0xFFFFFF98u, 0); }},
        OutsideCase{"WriteOnePastTheWindow",
                    [](ZarereraCard c, uint32_t*) { tamrelwrite(c, 0, 0x20, 0x5A); }},
        OutsideCase{"ReadOnePastTheWindow",
                    [](ZarereraCard c, uint32_t*) { EXPECT_EQ(tamrelread(c, 0, 0x20), 0); }},
        OutsideCase{"ReadWrapping",
                    [](ZarereraCard c, uint32_t*) { EXPECT_EQ(tamrelread(c, 0, 0xFFFFFFFFu), 0); }},
        OutsideCase{"CounterSetGroup8",
                    [](ZarereraCard c, uint32_t*) { tamreljsset(c, 0, kControls, 8); }},
        // 4 * 0x40000005 is 0x14, the digital-output latch, in 32 bits.
        OutsideCase{"CounterSetWrappingOntoDigitalOut",
                    [](ZarereraCard c, uint32_t*) { tamreljsset(c, 0, kControls, 0x40000005u); }},
        OutsideCase{"CounterSetWrappingOntoGroup0",
                    [](ZarereraCard c, uint32_t*) { tamreljsset(c, 0, kControls, 0x40000000u); }},
        OutsideCase{"CounterReadGroup8", [](ZarereraCard c, uint32_t* v) { tamreljs(c, 0, v, 8); }},
        // Its entries would lie 12 GB past the array.
        OutsideCase{"CounterReadGroup0x40000000",
                    [](ZarereraCard c, uint32_t* v) { tamreljs(c, 0, v, 0x40000000u); }},
        // 3 * 0x55555556 is 2 in 32 bits: entries 2-4 of the caller's array.
        OutsideCase{"CounterReadGroup0x55555556",
                    [](ZarereraCard c, uint32_t* v) { tamreljs(c, 0, v, 0x55555556u); }}),
    [](const ::testing::TestParamInfo<OutsideCase>& info) { return info.param.name; });

class MemoryWindow : public BoardFixture {};

// With space 3 a memory range the digital ports are plain loads and stores in the mapping: no
// request for either, and the store reaches the board at the next request.
TEST_F(MemoryWindow, DigitalPortsWorkWithoutRequests) {
  sim::BoardConfig cfg;
  cfg.ports_in_memory = true;
  sim::SimBoard board = AddBoard(kSlot, cfg);
  board.ports->set_digital_in(0x3C);
  ZarereraCard card = tamrelcheck(0, 0, 0, 1);
  ASSERT_NE(card, nullptr);
  ClearLogs();
  EXPECT_EQ(tamreldi(card), 0x3C);
  tamreldo(card, 0, 0x15A);
  EXPECT_TRUE(simulator_.log().empty());
  EXPECT_EQ(board.ports->digital_out_writes(), 0u);
  EXPECT_EQ(tamrelclose(card), 1);
  EXPECT_EQ(board.ports->digital_out(), 0x5A);
  EXPECT_EQ(board.ports->digital_out_writes(), 1u);
  EXPECT_EQ(simulator_.registrations(), 0);
}

}  // namespace
}  // namespace board_test
