// The EEPROM menu against a simulated 9050 with a 93C46 on its CNTRL pins: the display of 64
// dwords, reads and writes that reach the part's cells, the error texts, the valid-bit note, and
// the end of input at every prompt.
#include <ostream>
#include <string>

#include "diag_fixture.h"

namespace diag_test {
namespace {

const std::string kNote = "Note: PLX EEPROM valid BIT is 0\n";

std::string EepromMenu(const std::string& note = "") {
  return "Access the board's serial EEPROM\n"
         "--------------------------------\n" +
         note +
         "1. Display EEPROM content\n"
         "2. Read dword from serial EEPROM on the board\n"
         "3. Write dword to the serial EEPROM on the board\n"
         "99. Back to main menu\n"
         "\n"
         "Enter option: ";
}

// Word i holds 0x5a00 + i; a dword is the word at its offset (high half) and the next one.
sim::Eeprom93C46::Image Pattern() {
  sim::Eeprom93C46::Image words{};
  for (unsigned i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(0x5A00 + i);
  return words;
}

// The 128-byte part answers offsets from 0x80 with the words of offsets 0x00-0x7f.
const std::string kDisplay =
    "\n"
    " 00: 5a005a01  5a025a03  5a045a05  5a065a07  \n"
    " 10: 5a085a09  5a0a5a0b  5a0c5a0d  5a0e5a0f  \n"
    " 20: 5a105a11  5a125a13  5a145a15  5a165a17  \n"
    " 30: 5a185a19  5a1a5a1b  5a1c5a1d  5a1e5a1f  \n"
    " 40: 5a205a21  5a225a23  5a245a25  5a265a27  \n"
    " 50: 5a285a29  5a2a5a2b  5a2c5a2d  5a2e5a2f  \n"
    " 60: 5a305a31  5a325a33  5a345a35  5a365a37  \n"
    " 70: 5a385a39  5a3a5a3b  5a3c5a3d  5a3e5a3f  \n"
    " 80: 5a005a01  5a025a03  5a045a05  5a065a07  \n"
    " 90: 5a085a09  5a0a5a0b  5a0c5a0d  5a0e5a0f  \n"
    " a0: 5a105a11  5a125a13  5a145a15  5a165a17  \n"
    " b0: 5a185a19  5a1a5a1b  5a1c5a1d  5a1e5a1f  \n"
    " c0: 5a205a21  5a225a23  5a245a25  5a265a27  \n"
    " d0: 5a285a29  5a2a5a2b  5a2c5a2d  5a2e5a2f  \n"
    " e0: 5a305a31  5a325a33  5a345a35  5a365a37  \n"
    " f0: 5a385a39  5a3a5a3b  5a3c5a3d  5a3e5a3f  \n";

const std::string kNotMultipleOf4 =
    "Error occurred reading serial EEPROM - The offset is not a multiple of 4\n\n";

class EepromMenuTest : public DiagTest {
 protected:
  sim::Plx9050* card_ = nullptr;
  P9050_Handle* handle_ = nullptr;
};

TEST_F(EepromMenuTest, DisplayReadWriteSession) {
  card_ = &AddCard();
  sim::Eeprom93C46& part = AddEeprom(*card_, Pattern());
  handle_ = Open();
  ExpectSession(EepromMenu() + "«1»\n" + kDisplay + EepromMenu() +
                    // The display left the address at 0x100, which addresses word 0 again.
                    "«2»\n" + "Enter address to read from (0-7f): «»\n" + "Value read: 5a005a01\n" +
                    EepromMenu() + "«2»\n" + "Enter address to read from (0-7f): «2»\n" +
                    kNotMultipleOf4 + EepromMenu() + "«3»\n" +
                    "Enter address to write to (0-7f): «10»\n" +
                    "Enter data to write: «12345678»\n" + EepromMenu() +
                    // An empty address reads where the write was.
                    "«2»\n" + "Enter address to read from (0-7f): «»\n" + "Value read: 12345678\n" +
                    EepromMenu() + "«3»\n" + "Enter address to write to (0-7f): «6»\n" +
                    "Enter data to write: «0»\n" +
                    // A failed write is reported in the words of a failed read.
                    kNotMultipleOf4 + EepromMenu() + "«4»\n" + EepromMenu() + "«0»\n" +
                    EepromMenu() + "«99»\n",
                [&] { P9050Diag_EEPROM(handle_); });
  sim::Eeprom93C46::Image expected = Pattern();
  expected[8] = 0x1234;
  expected[9] = 0x5678;
  EXPECT_EQ(part.image(), expected);
  EXPECT_FALSE(part.write_enabled());
}

TEST_F(EepromMenuTest, ValidBitClearShowsTheNote) {
  card_ = &AddCard();
  AddEeprom(*card_, Pattern());
  card_->SetEepromPresent(false);
  handle_ = Open();
  ExpectSession(EepromMenu(kNote) + "«2»\n" + "Enter address to read from (0-7f): «7c»\n" +
                    "Value read: 5a3e5a3f\n" + EepromMenu(kNote) + "«99»\n",
                [&] { P9050Diag_EEPROM(handle_); });
}

// Without a part nothing answers: reads show all ones and a write fails its read-back.
TEST_F(EepromMenuTest, MissingPartFailsTheWrite) {
  card_ = &AddCard();
  handle_ = Open();
  ExpectSession(EepromMenu(kNote) + "«3»\n" + "Enter address to write to (0-7f): «0»\n" +
                    "Enter data to write: «12345678»\n" +
                    "Error occurred reading serial EEPROM - Write 0x1234, Read 0xffff\n\n" +
                    EepromMenu(kNote) + "«99»\n",
                [&] { P9050Diag_EEPROM(handle_); });
}

// A write's address or data that is no number, or beyond 32 bits, writes nothing: one line says
// so and the menu goes on, and the part sees no write.
struct RefusedDword {
  const char* name;
  const char* address;
  const char* data;  // nullptr: refused at the address
  const char* refusal;
};

void PrintTo(const RefusedDword& c, std::ostream* os) {
  *os << c.name;
}

class RefusedDwordTest : public EepromMenuTest,
                         public ::testing::WithParamInterface<RefusedDword> {};

TEST_P(RefusedDwordTest, WritesNothingAndGoesOn) {
  const RefusedDword& c = GetParam();
  card_ = &AddCard();
  sim::Eeprom93C46& part = AddEeprom(*card_, Pattern());
  handle_ = Open();
  std::string session =
      EepromMenu() + "«3»\nEnter address to write to (0-7f): «" + c.address + "»\n";
  if (c.data != nullptr) session += std::string("Enter data to write: «") + c.data + "»\n";
  ExpectSession(session + c.refusal + EepromMenu() + "«99»\n", [&] { P9050Diag_EEPROM(handle_); });
  EXPECT_EQ(part.counters().writes, 0u);
  EXPECT_EQ(part.image(), Pattern());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedDwordTest,
    ::testing::Values(
        RefusedDword{"EmptyAddress", "", nullptr,
                     "Error: no hexadecimal address given; nothing written\n"},
        RefusedDword{"WordAsAddress", "zz", nullptr,
                     "Error: no hexadecimal address given; nothing written\n"},
        RefusedDword{"AddressBeyond32Bits", "100000010", nullptr,
                     "Error: address too big for 32 bits\n"},
        RefusedDword{"EmptyData", "10", "", "Error: no hexadecimal data given; nothing written\n"},
        RefusedDword{"WordAsData", "2c", "zz",
                     "Error: no hexadecimal data given; nothing written\n"},
        RefusedDword{"DataBeyond32Bits", "10", "1fedcba98", "Error: data too big for 32 bits\n"}),
    [](const ::testing::TestParamInfo<RefusedDword>& info) {
      return std::string(info.param.name);
    });

// After a read the next write with a word as its data writes nothing, not the value read.
TEST_F(EepromMenuTest, RefusedDataDoesNotWriteTheLastValue) {
  card_ = &AddCard();
  sim::Eeprom93C46& part = AddEeprom(*card_, Pattern());
  handle_ = Open();
  ExpectSession(EepromMenu() + "«2»\n" + "Enter address to read from (0-7f): «10»\n" +
                    "Value read: 5a085a09\n" + EepromMenu() + "«3»\n" +
                    "Enter address to write to (0-7f): «2c»\n" + "Enter data to write: «q»\n" +
                    "Error: no hexadecimal data given; nothing written\n" + EepromMenu() + "«99»\n",
                [&] { P9050Diag_EEPROM(handle_); });
  EXPECT_EQ(part.counters().writes, 0u);
  EXPECT_EQ(part.image(), Pattern());
}

class EepromEndTest : public EepromMenuTest, public ::testing::WithParamInterface<const char*> {};

// The end of input leaves the menu as 99 does, at every prompt, and nothing is written.
TEST_P(EepromEndTest, EndOfInputReturns) {
  card_ = &AddCard();
  sim::Eeprom93C46& part = AddEeprom(*card_, Pattern());
  handle_ = Open();
  Run(GetParam(), [&] { P9050Diag_EEPROM(handle_); });
  EXPECT_EQ(part.counters().writes, 0u);
  EXPECT_EQ(part.image(), Pattern());
}

INSTANTIATE_TEST_SUITE_P(Prompts, EepromEndTest, ::testing::Values("", "2\n", "3\n", "3\n10\n"),
                         testsupport::ByText());

}  // namespace
}  // namespace diag_test
