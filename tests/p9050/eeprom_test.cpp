// The serial EEPROM operations against the simulated bridge and 93C46: the CNTRL values and sleeps
// each step sends, the frames on the wire, the words that land in the part, and the failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "p9050/eeprom_fixture.h"

namespace {

using eepromtest::EepromCard;
using eepromtest::kClock;
using eepromtest::kDataIn;
using eepromtest::kSelect;

constexpr uint64_t kDelayNs = 500'000;

// One request as a short token: "R" a CNTRL read, "W<hex>" a CNTRL write, "S" a 500 us sleep
// with options 0; anything else spelled out so that it shows in a failure.
std::string Token(const sim::Simulator::Request& r, uint32_t cntrlAddress) {
  char text[64];
  if (r.code == WD_CODE_SLEEP) {
    const WdSleep s = r.As<WdSleep>();
    if (s.microseconds == 500 && s.options == 0) return "S";
    snprintf(text, sizeof text, "S%u/%u", s.microseconds, s.options);
    return text;
  }
  if (r.code == WD_CODE_TRANSFER) {
    const WdTransfer t = r.As<WdTransfer>();
    if (t.address == cntrlAddress && t.command == WD_RP_DWORD) return "R";
    if (t.address == cntrlAddress && t.command == WD_WP_DWORD) {
      snprintf(text, sizeof text, "W%08x", t.data.dword);
      return text;
    }
    snprintf(text, sizeof text, "T%u@%x", t.command, t.address);
    return text;
  }
  snprintf(text, sizeof text, "C%x", r.code);
  return text;
}

// The pin steps with space 0 an I/O range, so that every CNTRL access is a request: each step reads
// CNTRL once, derives all of its writes from that reading and sleeps after every write. No part is
// fitted, so data out (bit 27) reads 1, as the pulled-up pin does, and is carried through like
// every bit outside 24-26.
struct StepCase {
  const char* name;
  uint32_t before;  // CNTRL before the step
  std::function<void(P9050_Handle*)> step;
  std::vector<std::string> requests;
};

void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.name;
}

class EepromStepTest : public EepromCard, public ::testing::WithParamInterface<StepCase> {};

TEST_P(EepromStepTest, SendsExactlyTheseRequests) {
  Open(sim::BarKind::kIo, /*with_eeprom=*/false);
  bridge_->Poke(P9050_CNTRL, GetParam().before);
  GetParam().step(handle_);
  const uint32_t cntrl = handle_->addrDesc[0].transferAddress + P9050_CNTRL;
  std::vector<std::string> got;
  for (const auto& r : sim_.log()) got.push_back(Token(r, cntrl));
  EXPECT_EQ(got, GetParam().requests);
}

// Foreign bits: a user I/O pattern in the low bits and bit 29 survive every step.
constexpr uint32_t kForeign = 0x2055AA0Fu;

INSTANTIATE_TEST_SUITE_P(
    Steps, EepromStepTest,
    ::testing::Values(
        StepCase{"BitOneThenBitZero",
                 kSelect,
                 [](P9050_Handle* h) {
                   P9050_EEPROMWriteBit(h, TRUE);
                   P9050_EEPROMWriteBit(h, FALSE);
                 },
                 {"R", "W0e000000", "S", "W0f000000", "S", "W0e000000", "S",  //
                  "R", "W0a000000", "S", "W0b000000", "S", "W0a000000", "S"}},
        StepCase{"WriteBitKeepsForeignBits",
                 kForeign | kSelect | kClock,
                 [](P9050_Handle* h) { P9050_EEPROMWriteBit(h, 7); },
                 {"R", "W2e55aa0f", "S", "W2f55aa0f", "S", "W2e55aa0f", "S"}},
        StepCase{"ReadBitKeepsDataInAndForeignBits",
                 kForeign | kSelect | kDataIn,
                 [](P9050_Handle* h) { P9050_EEPROMReadBit(h); },
                 {"R", "W2e55aa0f", "S", "W2f55aa0f", "S", "W2e55aa0f", "S", "R"}},
        StepCase{"ChipSelectOn",
                 kForeign,
                 [](P9050_Handle* h) { P9050_EEPROMChipSelect(h, 2); },
                 {"R", "W2a55aa0f", "S"}},
        StepCase{"ChipSelectOff",
                 kForeign | kSelect | kDataIn,
                 [](P9050_Handle* h) { P9050_EEPROMChipSelect(h, FALSE); },
                 {"R", "W2c55aa0f", "S"}},
        StepCase{"ValidReadsOnly", kForeign, [](P9050_Handle* h) { P9050_EEPROMValid(h); }, {"R"}},
        StepCase{"Delay", 0, [](P9050_Handle* h) { P9050_EEPROMDelay(h); }, {"S"}}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return info.param.name; });

// Frames on the wire: start bit, opcode, six address bits, data, and where chip select changes.
TEST_F(EepromCard, WordReadSendsTheWriteDisableFrameInsideItsSelection) {
  Open();
  uint16_t word = 0x5555;
  ASSERT_TRUE(P9050_EEPROMReadWord(handle_, 5, &word));  // odd: word 2
  EXPECT_EQ(word, image_[2]);
  EXPECT_EQ(Wire(),
            "[1"
            "10"
            "000010"
            "0000000000000000"
            "1"
            "00"
            "000000]");
}

TEST_F(EepromCard, WordWriteIsBracketedByEnableAndDisableThenReadBack) {
  Open();
  ASSERT_TRUE(P9050_EEPROMWriteWord(handle_, 0x7F, 0xC3A5));  // word 63
  EXPECT_EQ(Wire(),
            "[1"
            "00"
            "110000]"  // EWEN
            "[1"
            "01"
            "111111"
            "1100001110100101]"  // WRITE 63
            "[1"
            "00"
            "000000]"  // EWDS
            "[1"
            "10"
            "111111"
            "1111111111111111"
            "100000000]");  // READ (DI held), EWDS
  EXPECT_EQ(eeprom_->word(63), 0xC3A5);
}

TEST_F(EepromCard, ValidReportsBit28AndOperationsIgnoreIt) {
  Open();
  for (bool present : {true, false}) {
    bridge_->SetEepromPresent(present);
    Sync();
    EXPECT_EQ(P9050_EEPROMValid(handle_), present ? TRUE : FALSE);
    uint32_t dword = 0;
    EXPECT_TRUE(P9050_EEPROMReadDword(handle_, 0x40, &dword));
    EXPECT_EQ(dword, (uint32_t{image_[32]} << 16) | image_[33]);
  }
}

// Dword offsets: misaligned ones are refused before any register access; the word address keeps
// six bits, so offsets from 0x80 read the words from 0 again.
TEST_F(EepromCard, MisalignedDwordOffsetsAreRefusedWithoutBusActivity) {
  Open();
  for (uint32_t offset : {1u, 2u, 3u, 0x7Eu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(offset);
    snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "untouched");
    uint32_t dword = 0xDEADBEEF;
    EXPECT_FALSE(P9050_EEPROMReadDword(handle_, offset, &dword));
    EXPECT_EQ(dword, 0xDEADBEEFu);
    EXPECT_STREQ(P9050_ErrorText, "The offset is not a multiple of 4\n");
    snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "untouched");
    EXPECT_FALSE(P9050_EEPROMWriteDword(handle_, offset, 0x12345678));
    EXPECT_STREQ(P9050_ErrorText, "The offset is not a multiple of 4\n");
  }
  EXPECT_TRUE(sim_.log().empty());
  EXPECT_EQ(eeprom_->image(), image_);
}

TEST_F(EepromCard, DwordOffsetsSelectTheseWords) {
  Open();
  const struct {
    uint32_t offset;
    unsigned high;
  } cases[] = {{0x00, 0}, {0x04, 2}, {0x7C, 62}, {0x80, 0}, {0xFC, 62}, {0x1004, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    uint32_t dword = 0;
    EXPECT_TRUE(P9050_EEPROMReadDword(handle_, c.offset, &dword));
    EXPECT_EQ(dword, (uint32_t{image_[c.high]} << 16) | image_[c.high + 1]);
  }
  EXPECT_STREQ(P9050_ErrorText, "untouched");
}

TEST_F(EepromCard, DwordWriteAt0x10LandsInWords8And9AndReadsBack) {
  Open();
  ASSERT_TRUE(P9050_EEPROMWriteDword(handle_, 0x10, 0x8BAD4F00));
  sim::Eeprom93C46::Image expected = image_;
  expected[8] = 0x8BAD;
  expected[9] = 0x4F00;
  EXPECT_EQ(eeprom_->image(), expected);
  uint32_t dword = 0;
  ASSERT_TRUE(P9050_EEPROMReadDword(handle_, 0x10, &dword));
  EXPECT_EQ(dword, 0x8BAD4F00u);
  EXPECT_STREQ(P9050_ErrorText, "untouched");
}

TEST_F(EepromCard, AllThirtyTwoDwordsWriteAndReadBackWithTheDefaultWriteTime) {
  Open();
  ASSERT_EQ(eeprom_->write_time_ns(), sim::Eeprom93C46::kDefaultWriteTimeNs);
  for (uint32_t offset = 0; offset < 0x80; offset += 4) {
    ASSERT_TRUE(P9050_EEPROMWriteDword(handle_, offset, 0x01020304u * (offset + 1))) << offset;
  }
  for (uint32_t offset = 0; offset < 0x80; offset += 4) {
    uint32_t dword = 0;
    ASSERT_TRUE(P9050_EEPROMReadDword(handle_, offset, &dword));
    EXPECT_EQ(dword, 0x01020304u * (offset + 1)) << offset;
    EXPECT_EQ(eeprom_->word(offset / 2), static_cast<uint16_t>(dword >> 16));
  }
  EXPECT_EQ(eeprom_->counters().writes, 64u);
  EXPECT_EQ(eeprom_->counters().ignored_while_busy, 0u);
  EXPECT_FALSE(eeprom_->write_enabled());
  EXPECT_STREQ(P9050_ErrorText, "untouched");
}

// Pacing: one sleep per CNTRL write, counted at the simulated driver (space 0 an I/O range, so the
// bridge sees every write), and the part left deselected, clock low and write-disabled after
// every operation.
struct PaceCase {
  const char* name;
  std::function<BOOL(P9050_Handle*)> op;
  size_t sleeps;
};

void PrintTo(const PaceCase& c, std::ostream* os) {
  *os << c.name;
}

class EepromPaceTest : public EepromCard, public ::testing::WithParamInterface<PaceCase> {};

TEST_P(EepromPaceTest, SleepsOncePerCntrlWriteAndEndsIdleAndWriteDisabled) {
  Open(sim::BarKind::kIo);
  const uint64_t start = sim_.clock().NowNs();
  EXPECT_TRUE(GetParam().op(handle_));
  EXPECT_EQ(sim_.Count(WD_CODE_SLEEP), GetParam().sleeps);
  EXPECT_EQ(CntrlWrites().size(), GetParam().sleeps);
  EXPECT_EQ(sim_.clock().NowNs() - start, GetParam().sleeps * kDelayNs);
  EXPECT_EQ(bridge_->Peek(P9050_CNTRL) & (kSelect | kClock), 0u);
  EXPECT_FALSE(eeprom_->write_enabled());
  EXPECT_STREQ(P9050_ErrorText, "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Operations, EepromPaceTest,
    ::testing::Values(
        PaceCase{"WordRead",
                 [](P9050_Handle* h) {
                   uint16_t w;
                   return P9050_EEPROMReadWord(h, 0x22, &w);
                 },
                 105},
        PaceCase{"WordWrite",
                 [](P9050_Handle* h) { return P9050_EEPROMWriteWord(h, 0x22, 0x1234); }, 240},
        PaceCase{"DwordRead",
                 [](P9050_Handle* h) {
                   uint32_t d;
                   return P9050_EEPROMReadDword(h, 0x24, &d);
                 },
                 210},
        PaceCase{"DwordWrite",
                 [](P9050_Handle* h) { return P9050_EEPROMWriteDword(h, 0x24, 0xCAFEF00D); }, 480}),
    [](const ::testing::TestParamInfo<PaceCase>& info) { return info.param.name; });

// Read-back mismatches: the text names the written word, then the word read; a failed high half
// stops the dword write before the low half.
TEST_F(EepromCard, WithoutAnEepromTheReadBackMismatchesAndTheLowHalfIsNotWritten) {
  Open(sim::BarKind::kMemory, /*with_eeprom=*/false);
  EXPECT_FALSE(P9050_EEPROMWriteDword(handle_, 0x10, 0x12345678));
  EXPECT_STREQ(P9050_ErrorText, "Write 0x1234, Read 0xffff\n");
  EXPECT_EQ(sim_.Count(WD_CODE_SLEEP), 240u);
  uint32_t dword = 0;
  EXPECT_TRUE(P9050_EEPROMReadDword(handle_, 0x10, &dword));  // nothing detects the absence
  EXPECT_EQ(dword, 0xFFFFFFFFu);
}

TEST_F(EepromCard, WithoutAnEepromAnAllOnesHalfPassesAndTheLowHalfFails) {
  Open(sim::BarKind::kMemory, /*with_eeprom=*/false);
  EXPECT_FALSE(P9050_EEPROMWriteDword(handle_, 0x10, 0xFFFF00ab));
  EXPECT_STREQ(P9050_ErrorText, "Write 0x00ab, Read 0xffff\n");
  EXPECT_EQ(sim_.Count(WD_CODE_SLEEP), 480u);
}

TEST_F(EepromCard, AWordThePartDoesNotTakeFailsTheReadBack) {
  Open();
  // A part still programming ignores the read and shows busy (0) on data out.
  eeprom_->set_write_time_ns(1'000'000'000);
  EXPECT_FALSE(P9050_EEPROMWriteDword(handle_, 0x10, 0xBEEF1234));
  EXPECT_STREQ(P9050_ErrorText, "Write 0xbeef, Read 0x0000\n");
  EXPECT_EQ(sim_.Count(WD_CODE_SLEEP), 240u);
  sim_.clock().Advance(1'000'000'000);
  EXPECT_EQ(eeprom_->word(8), 0xBEEF);
  EXPECT_EQ(eeprom_->word(9), image_[9]);
}

// The write-disable frame after a word write starts 1.5 ms after chip select fell: a part still
// programming then ignores it and stays write-enabled until the next accepted EWDS. The write
// itself succeeds as long as programming ends before the read-back.
TEST_F(EepromCard, ASlowPartMissesTheWriteDisableAfterAWordWrite) {
  Open();
  const struct {
    uint64_t writeTimeNs;
    bool enabledAfter;
  } cases[] = {{1'000'000, false}, {1'500'000, false}, {1'500'001, true}, {10'000'000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.writeTimeNs);
    eeprom_->set_write_time_ns(c.writeTimeNs);
    EXPECT_TRUE(P9050_EEPROMWriteWord(handle_, 0x30, 0x0F0F));
    EXPECT_EQ(eeprom_->word(0x18), 0x0F0F);
    EXPECT_EQ(eeprom_->write_enabled(), c.enabledAfter);
    // The word read's own write-disable frame falls inside its selection, where a read ignores
    // data in: it does not close the window either.
    uint16_t word = 0;
    EXPECT_TRUE(P9050_EEPROMReadWord(handle_, 0x30, &word));
    EXPECT_EQ(eeprom_->write_enabled(), c.enabledAfter);
    P9050_EEPROMWriteEnable(handle_, FALSE);
    EXPECT_FALSE(eeprom_->write_enabled());
  }
}

}  // namespace
