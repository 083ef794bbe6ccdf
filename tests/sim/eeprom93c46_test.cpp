// The 93C46 model driven directly at its pins, stepping virtual time as the bridge library does
// (500 us per pin change).
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/clock.h"
#include "sim/eeprom93c46.h"

namespace {

using sim::Eeprom93C46;

constexpr uint64_t kStepNs = 500'000;

class Pins {
 public:
  explicit Pins(Eeprom93C46& part, sim::Clock& clock) : part_(part), clock_(clock) {}

  void Set(bool cs, bool sk, bool di) {
    cs_ = cs;
    sk_ = sk;
    di_ = di;
    part_.Drive(cs, sk, di);
    clock_.Advance(kStepNs);
  }
  void Select(bool on) { Set(on, false, di_); }
  // One clock cycle with `bit` on DI; returns DO sampled with the clock low afterwards.
  bool Clock(bool bit) {
    Set(cs_, false, bit);
    Set(cs_, true, bit);
    Set(cs_, false, bit);
    return part_.DataOut();
  }
  void Bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) Clock(((value >> i) & 1u) != 0);
  }
  // A whole frame: chip select, start bit, opcode, address field, optional data, deselect.
  void Frame(uint32_t opcode, uint32_t address, int dataBits = 0, uint32_t data = 0) {
    Select(true);
    Bits(1, 1);
    Bits(opcode, 2);
    Bits(address, 6);
    Bits(data, dataBits);
    Select(false);
  }
  void Ewen() { Frame(0, 0x30); }
  void Ewds() { Frame(0, 0x00); }
  // Reads `count` words in one selection (sequential read).
  std::vector<uint16_t> Read(uint32_t address, int count) {
    Select(true);
    Bits(1, 1);
    Bits(2, 2);
    Bits(address, 6);
    dummy = part_.DataOut();
    std::vector<uint16_t> words;
    for (int w = 0; w < count; ++w) {
      uint16_t word = 0;
      for (int b = 0; b < 16; ++b) word = static_cast<uint16_t>((word << 1) | Clock(false));
      words.push_back(word);
    }
    Select(false);
    return words;
  }
  bool dummy = true;

 private:
  Eeprom93C46& part_;
  sim::Clock& clock_;
  bool cs_ = false, sk_ = false, di_ = false;
};

class Eeprom93C46Test : public ::testing::Test {
 protected:
  Eeprom93C46Test() {
    for (unsigned i = 0; i < Eeprom93C46::kWords; ++i) {
      image_[i] = static_cast<uint16_t>(0x1000 + i * 0x0101);
    }
    part_.set_image(image_);
  }
  sim::Clock clock_{sim::Clock::Mode::kVirtual};
  Eeprom93C46 part_{clock_};
  Pins pins_{part_, clock_};
  Eeprom93C46::Image image_{};
};

TEST_F(Eeprom93C46Test, ReadShiftsDummyZeroThenMsbFirstAndRunsOnSequentially) {
  part_.set_word(5, 0xA5C3);
  const std::vector<uint16_t> words = pins_.Read(5, 2);
  EXPECT_FALSE(pins_.dummy);
  EXPECT_EQ(words[0], 0xA5C3);
  EXPECT_EQ(words[1], image_[6]);
  // The sequential read wraps from the last word to the first.
  EXPECT_EQ(pins_.Read(63, 2), (std::vector<uint16_t>{image_[63], image_[0]}));
  EXPECT_EQ(part_.counters().reads, 2u);
}

TEST_F(Eeprom93C46Test, LeadingZerosBeforeTheStartBitAreIgnored) {
  part_.set_word(9, 0x1234);
  pins_.Select(true);
  pins_.Bits(0, 3);
  pins_.Bits(1, 1);
  pins_.Bits(2, 2);
  pins_.Bits(9, 6);
  uint16_t word = 0;
  for (int b = 0; b < 16; ++b) word = static_cast<uint16_t>((word << 1) | pins_.Clock(false));
  EXPECT_EQ(word, 0x1234);
}

TEST_F(Eeprom93C46Test, DataOutFloatsHighWhenDeselectedOrTakingACommand) {
  EXPECT_TRUE(part_.DataOut());  // deselected
  part_.set_word(0, 0x0000);
  pins_.Select(true);
  EXPECT_TRUE(part_.DataOut());  // selected, idle, ready
  pins_.Bits(1, 1);
  pins_.Bits(2, 2);
  EXPECT_TRUE(part_.DataOut());  // shifting in the address
  pins_.Bits(0, 6);
  EXPECT_FALSE(part_.DataOut());  // the dummy bit
  pins_.Select(false);
  EXPECT_TRUE(part_.DataOut());
}

TEST_F(Eeprom93C46Test, PowersUpWriteDisabledAndRefusesWrites) {
  EXPECT_FALSE(part_.write_enabled());
  pins_.Frame(1, 3, 16, 0xBEEF);
  clock_.Advance(10 * kStepNs);
  EXPECT_EQ(part_.image(), image_);
  EXPECT_EQ(part_.counters().refused_while_disabled, 1u);
  EXPECT_FALSE(part_.busy());
}

// Each programming command, after EWEN, and the image it leaves once the write time has passed.
struct ProgramCase {
  const char* name;
  uint32_t opcode;
  uint32_t address;
  int dataBits;
  uint32_t data;
  void (*expect)(Eeprom93C46::Image& image);
};

void PrintTo(const ProgramCase& c, std::ostream* os) {
  *os << c.name;
}

class Eeprom93C46ProgramTest : public Eeprom93C46Test,
                               public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(Eeprom93C46ProgramTest, ProgramsAfterChipSelectFallsAndIsBusyForTheWriteTime) {
  const ProgramCase& c = GetParam();
  pins_.Ewen();
  pins_.Select(true);
  pins_.Bits(1, 1);
  pins_.Bits(c.opcode, 2);
  pins_.Bits(c.address, 6);
  pins_.Bits(c.data, c.dataBits);
  pins_.Set(true, false, false);
  EXPECT_FALSE(part_.busy()) << "programming starts only when chip select falls";
  part_.Drive(false, false, false);
  EXPECT_TRUE(part_.busy());
  EXPECT_EQ(part_.image(), image_) << "cells change when programming ends";

  // Polling: selected with no command, DO shows busy until the write time is over.
  part_.Drive(true, false, false);
  clock_.Advance(Eeprom93C46::kDefaultWriteTimeNs - 1);
  EXPECT_FALSE(part_.DataOut());
  clock_.Advance(1);
  EXPECT_TRUE(part_.DataOut());
  part_.Drive(false, false, false);

  Eeprom93C46::Image expected = image_;
  c.expect(expected);
  EXPECT_EQ(part_.image(), expected);
  EXPECT_EQ(part_.counters().writes, 1u);
  EXPECT_TRUE(part_.write_enabled()) << "EWEN holds until EWDS";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Eeprom93C46ProgramTest,
    ::testing::Values(
        ProgramCase{"Write", 1, 0x2A, 16, 0xC0DE, [](Eeprom93C46::Image& i) { i[0x2A] = 0xC0DE; }},
        ProgramCase{"Erase", 3, 0x07, 0, 0, [](Eeprom93C46::Image& i) { i[7] = 0xFFFF; }},
        ProgramCase{"EraseAll", 0, 0x20, 0, 0, [](Eeprom93C46::Image& i) { i.fill(0xFFFF); }},
        ProgramCase{"WriteAll", 0, 0x10, 16, 0x5AA5,
                    [](Eeprom93C46::Image& i) { i.fill(0x5AA5); }}),
    [](const ::testing::TestParamInfo<ProgramCase>& info) { return info.param.name; });

TEST_F(Eeprom93C46Test, CommandsWhileBusyAreIgnoredWholeFrame) {
  pins_.Ewen();
  pins_.Frame(1, 0, 16, 0x0001);
  part_.set_write_time_ns(100 * kStepNs);
  pins_.Frame(1, 1, 16, 0x0002);  // programming word 1 now runs for 50 ms
  ASSERT_TRUE(part_.busy());
  pins_.Ewds();  // start bit while busy: the whole frame is ignored
  EXPECT_TRUE(part_.write_enabled());
  EXPECT_EQ(part_.counters().ignored_while_busy, 1u);
  EXPECT_EQ(part_.counters().ewds, 0u);
  clock_.Advance(100 * kStepNs);
  EXPECT_EQ(part_.word(1), 0x0002);
  pins_.Ewds();
  EXPECT_FALSE(part_.write_enabled());
}

TEST_F(Eeprom93C46Test, DeselectBeforeTheLastDataBitAbortsTheWrite) {
  pins_.Ewen();
  pins_.Select(true);
  pins_.Bits(1, 1);
  pins_.Bits(1, 2);
  pins_.Bits(4, 6);
  pins_.Bits(0x7F, 15);
  pins_.Select(false);
  EXPECT_FALSE(part_.busy());
  clock_.Advance(Eeprom93C46::kDefaultWriteTimeNs);
  EXPECT_EQ(part_.image(), image_);
}

// A worn-out cell keeps its value through WRITE and ERAL while its neighbours take theirs, and
// the part still goes busy and ready as for any write.
TEST_F(Eeprom93C46Test, WornOutCellKeepsItsValueThroughProgramming) {
  part_.set_worn_out(7, true);
  EXPECT_TRUE(part_.worn_out(7));
  EXPECT_FALSE(part_.worn_out(6));
  pins_.Ewen();
  pins_.Frame(1, 7, 16, 0xBEEF);
  EXPECT_TRUE(part_.busy());
  clock_.Advance(Eeprom93C46::kDefaultWriteTimeNs);
  pins_.Frame(1, 6, 16, 0xCAFE);
  clock_.Advance(Eeprom93C46::kDefaultWriteTimeNs);
  EXPECT_EQ(part_.word(7), image_[7]);
  EXPECT_EQ(part_.word(6), 0xCAFE);
  EXPECT_EQ(pins_.Read(7, 1)[0], image_[7]);
  pins_.Frame(0, 0x20);  // ERAL
  clock_.Advance(Eeprom93C46::kDefaultWriteTimeNs);
  EXPECT_EQ(part_.word(7), image_[7]);
  EXPECT_EQ(part_.word(8), 0xFFFF);
  part_.set_worn_out(7, false);
  pins_.Frame(1, 7, 16, 0x1234);
  clock_.Advance(Eeprom93C46::kDefaultWriteTimeNs);
  EXPECT_EQ(part_.word(7), 0x1234);
  EXPECT_THROW(part_.set_worn_out(64, true), std::out_of_range);
}

TEST_F(Eeprom93C46Test, DataInIsIgnoredDuringASequentialRead) {
  pins_.Ewen();
  pins_.Select(true);
  pins_.Bits(1, 1);
  pins_.Bits(2, 2);
  pins_.Bits(0, 6);
  pins_.Bits(0x100, 9);  // an EWDS frame inside the read's selection
  pins_.Select(false);
  EXPECT_TRUE(part_.write_enabled());
  EXPECT_EQ(part_.counters().ewds, 0u);
}

TEST_F(Eeprom93C46Test, ABoardsPartCarriesTheBridgeConfigurationALonePartComesErased) {
  const Eeprom93C46::Image image = sim::DefaultEepromImage();
  EXPECT_EQ(image[0], 0x10B5);  // device ID
  EXPECT_EQ(image[1], 0x9050);  // vendor ID
  EXPECT_EQ(image[9], 0xFFFF);  // LAS1RR, high half first: 32 bytes of I/O
  EXPECT_EQ(image[10], 0xFFE1);
  EXPECT_EQ(image[19], 0x0000);  // LAS1BA: enabled at local address 0
  EXPECT_EQ(image[20], 0x0001);
  EXPECT_EQ(image[46], 0x0003);  // INTCSR low half: local interrupt 1 enabled, active high
  sim::Simulator simulator;
  EXPECT_EQ(sim::AddBoard(simulator).eeprom->image(), image);
  Eeprom93C46 fresh(simulator.clock());
  EXPECT_EQ(fresh.image(), Eeprom93C46::ErasedImage());
}

TEST_F(Eeprom93C46Test, TraceRecordsEveryPinChangeAsVcd) {
  pins_.Select(false);
  part_.StartTrace();  // at 0.5 ms, every pin low but DO (floating high)
  pins_.Select(true);
  pins_.Clock(true);
  part_.StopTrace();
  pins_.Select(false);
  const std::string expected =
      "$version zarerera 93C46 model $end\n"
      "$timescale 1ns $end\n"
      "$scope module eeprom93c46 $end\n"
      "$var wire 1 c cs $end\n"
      "$var wire 1 k sk $end\n"
      "$var wire 1 i di $end\n"
      "$var wire 1 o do $end\n"
      "$upscope $end\n"
      "$enddefinitions $end\n"
      "#500000\n$dumpvars\n0c\n0k\n0i\n1o\n$end\n"
      "1c\n"  // chip select rises at the same time
      "#1000000\n1i\n"
      "#1500000\n1k\n"
      "#2000000\n0k\n";
  EXPECT_EQ(part_.TraceVcd(), expected);
  const std::string path = ::testing::TempDir() + "eeprom93c46_trace.vcd";
  ASSERT_TRUE(part_.WriteTraceVcd(path));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string read(expected.size() + 16, '\0');
  read.resize(std::fread(read.data(), 1, read.size(), f));
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_EQ(read, expected);
}

}  // namespace
