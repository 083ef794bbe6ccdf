// The simulated machine's state file: a machine restored from it goes on exactly as the machine
// it was saved from, and a file that does not describe this machine is refused with its line.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "machine/sim_state.h"
#include "sim/board.h"
#include "sim/simulator.h"
#include "support/param_name.h"

namespace {

using machine::FormatSimState;
using machine::RestoreSimState;

struct Machine {
  explicit Machine(int boards = 2) {
    for (int i = 0; i < boards; ++i) {
      sim::BoardConfig cfg;
      cfg.slot = 5 + static_cast<uint32_t>(i);
      cfg.bridge.device_id = static_cast<uint16_t>(0x10B5 + i);
      this->boards.push_back(sim::AddBoard(simulator, cfg));
    }
  }
  std::string Text() { return FormatSimState(simulator, boards); }
  // Byte accesses at the ports, as the library's transfers make them.
  void Write(size_t board, uint32_t offset, uint8_t value) {
    boards[board].ports->Write(offset, value, 1);
  }
  uint8_t Read(size_t board, uint32_t offset) {
    return static_cast<uint8_t>(boards[board].ports->Read(offset, 1));
  }
  sim::Simulator simulator{sim::Clock::Mode::kVirtual};
  std::vector<sim::SimBoard> boards;
};

// A machine in the middle of everything the file keeps: counters in several modes part way
// through their counts, a latch half read, a byte flip-flop between bytes, a gate low, a group
// on its own clock, registers, ports and an EEPROM that is write-enabled.
void Busy(Machine& m) {
  m.simulator.clock().Advance(123'000);
  m.Write(0, 3, 0x36);  // group 0 counter 0: LSB-MSB, mode 3, binary
  m.Write(0, 0, 0xE9);
  m.Write(0, 0, 0x03);  // 1001, odd
  m.Write(0, 3, 0x50);  // counter 1: LSB only, mode 0
  m.Write(0, 1, 77);
  m.Write(0, 3, 0xB2);  // counter 2: LSB-MSB, mode 1 (waits for a gate edge)
  m.Write(0, 2, 0x10);
  m.Write(0, 2, 0x27);
  m.Write(0, 7, 0x75);  // group 1 counter 1: LSB-MSB, mode 2, BCD
  m.Write(0, 5, 0x00);
  m.Write(0, 5, 0x50);  // 5000
  m.boards[0].ports->group(1).SetClockRate(250000);
  m.simulator.clock().Advance(7'000'000);
  m.Write(0, 3, 0x00);  // latch counter 0 ...
  (void)m.Read(0, 0);   // ... and read its low byte only
  m.Write(0, 7, 0x74);  // group 1 counter 1 reprogrammed binary ...
  m.Write(0, 5, 0x34);  // ... and half of a new count written
  m.boards[0].ports->group(2).SetGate(0, false);
  m.boards[0].ports->set_digital_in(0x5A);
  m.Write(0, 0x14, 0xA5);
  m.boards[0].bridge->Poke(sim::plx9050::kIntcsr, 0x41);
  m.boards[1].bridge->Poke(sim::plx9050::kLas0ba + 4, 0x101);
  m.boards[1].eeprom->set_word(20, 0xBEEF);
  m.boards[1].eeprom->set_write_enabled(true);
}

TEST(SimStateTest, ARestoredMachineGoesOnAsTheOneSaved) {
  Machine saved;
  Busy(saved);
  const std::string text = saved.Text();
  Machine restored;
  std::string error;
  ASSERT_TRUE(RestoreSimState(text, restored.simulator, restored.boards, &error)) << error;
  EXPECT_EQ(restored.Text(), text) << "every item restored";
  EXPECT_EQ(restored.boards[0].ports->digital_out_writes(), 1u);

  // The same time on both, then the same accesses: the same bytes, the same state.
  for (Machine* m : {&saved, &restored}) m->simulator.clock().Advance(2'345'000);
  std::vector<uint8_t> bytes[2];
  int i = 0;
  for (Machine* m : {&saved, &restored}) {
    m->Write(0, 5, 0x12);  // the count's high byte
    m->boards[0].ports->group(0).SetGate(2, false);
    m->boards[0].ports->group(0).SetGate(2, true);  // triggers counter 2
    m->simulator.clock().Advance(500'000);
    for (uint32_t port : {0u, 0u, 1u, 2u, 2u, 5u, 5u, 0x10u}) bytes[i].push_back(m->Read(0, port));
    ++i;
  }
  EXPECT_EQ(bytes[0], bytes[1]);
  EXPECT_EQ(restored.Text(), saved.Text());
  EXPECT_TRUE(restored.boards[1].eeprom->write_enabled());
  EXPECT_EQ(restored.boards[1].eeprom->word(20), 0xBEEF);
}

struct BadState {
  const char* name;
  const char* replace;  // in the text of a busy two-board machine ...
  const char* with;     // ... this (the first occurrence)
  const char* message;  // what the error says
};

const BadState kBadStates[] = {
    {"OtherFormat", "zarerera-sim-state 1", "zarerera-sim-state 2", "line 1: format 2 is not"},
    {"NotAStateFile", "zarerera-sim-state 1", "00 11 22", "line 1: expected 'zarerera-sim-state'"},
    {"OtherBoardCount", "boards 2", "boards 3", "line 3: holds 3 board(s); the machine has 2"},
    {"OtherIds", "board 1 9050:10b6", "board 1 9050:10b5", "board 1 of the machine is 9050:10b6"},
    {"RegisterNotHex", "registers 00000000", "registers 0000000g", "registers: '0000000g' is not"},
    {"RegisterTooWide", "registers 00000000", "registers 100000000", "up to ffffffff"},
    {"ShortEeprom", "eeprom 10b5", "eeprom", "expected 'eeprom' and 64 value(s)"},
    {"DigitalInTooWide", "digital-in 5a", "digital-in 15a", "digital-in: '15a'"},
    {"GroupsOutOfOrder", "group 1 ", "group 2 ", "group 2 where group 1 belongs"},
    {"CountBeyondAnyModulus", " 65536 ", " 65537 ", "up to 65536"},
    {"CountBeyondTheBcdModulus", "counter 0 0 0 0 65536", "counter 0 1 0 0 65536",
     "a counter state no 8254 can be in"},
    {"ModeOutOfRange", "counter 0 0 0 0 65536", "counter 0 0 6 0 65536",
     "counter field: '6' is not"},
    {"Truncated", "group 3 ", "", "ends before 'group'"},
};

class BadStateTest : public ::testing::TestWithParam<BadState> {};

TEST_P(BadStateTest, IsRefusedWithItsLine) {
  const BadState& c = GetParam();
  Machine saved;
  Busy(saved);
  std::string text = saved.Text();
  const size_t at = text.find(c.replace);
  ASSERT_NE(at, std::string::npos) << c.replace;
  if (std::string(c.name) == "Truncated") {
    text.erase(at);
  } else {
    text.replace(at, std::string(c.replace).size(), c.with);
  }
  Machine target;
  std::string error;
  EXPECT_FALSE(RestoreSimState(text, target.simulator, target.boards, &error));
  EXPECT_NE(error.find(c.message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Files, BadStateTest, ::testing::ValuesIn(kBadStates),
                         testsupport::ByNameMember());

TEST(SimStateTest, SomethingAfterTheLastBoardIsRefused) {
  Machine saved(1);
  Machine target(1);
  std::string error;
  EXPECT_FALSE(RestoreSimState(saved.Text() + "board 1 9050:10b5\n", target.simulator,
                               target.boards, &error));
  EXPECT_NE(error.find("more than the machine holds"), std::string::npos) << error;
}

}  // namespace
