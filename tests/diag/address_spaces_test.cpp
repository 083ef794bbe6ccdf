// The address-space menu against a simulated 9050 with RAM on its local bus: the starting space
// and width, the space chooser, reads and writes of each width by offset and by local address,
// the values kept between passes, and the end of input at every prompt.
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "diag_fixture.h"

namespace diag_test {
namespace {

using Write = sim::Plx9050::RegisterWrite;

constexpr uint32_t kSpace0Local = sim::plx9050::kDefaultLocalBase[0];  // BAR2, memory
constexpr uint32_t kSpace1Local = sim::plx9050::kDefaultLocalBase[1];  // BAR3, I/O

std::string Menu(const std::string& mode, const std::string& space, const std::string& width) {
  return "Access the board's " + mode +
         " ranges\n"
         "-------------------------------------------\n"
         "(Access to invalid " +
         mode +
         " may hang the computer!)\n"
         "1. Change active memory space: " +
         space +
         "\n"
         "2. Toggle active mode: " +
         width +
         "\n"
         "3. Read from board\n"
         "4. Write to board\n"
         "99. Back to main menu\n"
         "\n"
         "Enter option: ";
}

const std::string kSpace0 = "Addr Space 0 - (BAR2)";
const std::string kSpace1 = "Addr Space 1 - (BAR3)";
const std::string kDword = "DWORD (32 bit)";
const std::string kByte = "BYTE (8 bit)";
const std::string kWord = "WORD (16 bit)";

std::string OffsetMenu(const std::string& space, const std::string& width) {
  return Menu("offset", space, width);
}
std::string LocalMenu(const std::string& space, const std::string& width) {
  return Menu("local address", space, width);
}

// The chooser of a card with spaces 0 and 1 (BAR2, BAR3) only.
const std::string kChooser =
    "Choose memory space:\n"
    "--------------------\n"
    "2. Addr Space 0 - (BAR2)\n"
    "3. Addr Space 1 - (BAR3)\n"
    "4. Addr Space 2 - (BAR4) - space not active\n"
    "5. Addr Space 3 - (BAR5) - space not active\n"
    "Enter option: ";

class AddressSpacesTest : public DiagTest {
 protected:
  // RAM behind both spaces: byte i of space 0's RAM holds i, of space 1's RAM 0x80 + i, so every
  // value read names where it came from. Space 0's RAM is 512 bytes: its upper half (bytes i ^
  // 0x80) is only reachable by moving the window.
  void Build(const sim::Plx9050Config& cfg = {}) {
    card_ = &AddCard(cfg);
    ram0_ = card_->AttachRam(kSpace0Local, 512);
    for (uint32_t i = 0; i < 512; ++i) {
      ram0_->bytes()[i] = static_cast<uint8_t>(i < 256 ? i : (i ^ 0x80));
    }
    ram1_ = card_->AttachRam(kSpace1Local, 256);
    for (uint32_t i = 0; i < 256; ++i) ram1_->bytes()[i] = static_cast<uint8_t>(0x80 + i);
    handle_ = Open();
    card_->ClearRegisterWrites();
  }

  sim::Plx9050* card_ = nullptr;
  std::shared_ptr<sim::Ram> ram0_;
  std::shared_ptr<sim::Ram> ram1_;
  P9050_Handle* handle_ = nullptr;
};

TEST_F(AddressSpacesTest, ReadsAndWritesEachWidthByOffset) {
  Build();
  ExpectSession(
      // Starts on the first active space, in dwords.
      OffsetMenu(kSpace0, kDword) + "«3»\n" +
          "Enter offset to read from: «10»\n"
          "Value read: 13121110\n" +
          // The width cycles byte, word, dword. Reads show no leading zeros.
          OffsetMenu(kSpace0, kDword) + "«2»\n" + OffsetMenu(kSpace0, kByte) + "«3»\n" +
          "Enter offset to read from: «5»\n"
          "Value read: 5\n" +
          OffsetMenu(kSpace0, kByte) + "«2»\n" + OffsetMenu(kSpace0, kWord) + "«3»\n" +
          "Enter offset to read from: «a»\n"
          "Value read: b0a\n" +
          // An empty line reads again where the last read was.
          OffsetMenu(kSpace0, kWord) + "«3»\n" +
          "Enter offset to read from: «»\n"
          "Value read: b0a\n" +
          OffsetMenu(kSpace0, kWord) + "«2»\n" + OffsetMenu(kSpace0, kDword) + "«4»\n" +
          "Enter offset to write to: «20»\n"
          "Enter data to write DWORD (32 bit): «cafef00d»\n" +
          OffsetMenu(kSpace0, kDword) + "«3»\n" +
          "Enter offset to read from: «20»\n"
          "Value read: cafef00d\n" +
          OffsetMenu(kSpace0, kDword) + "«2»\n" + OffsetMenu(kSpace0, kByte) + "«4»\n" +
          // A byte write writes one byte.
          "Enter offset to write to: «30»\n"
          "Enter data to write BYTE (8 bit): «34»\n" +
          // Numbers the menu does not offer redraw it silently.
          OffsetMenu(kSpace0, kByte) + "«5»\n" + OffsetMenu(kSpace0, kByte) + "«0»\n" +
          OffsetMenu(kSpace0, kByte) + "«-3»\n" + OffsetMenu(kSpace0, kByte) + "«99»\n",
      [&] { P9050Diag_AccessSpaces(handle_, FALSE); });
  Settle();
  const std::span<uint8_t> ram = ram0_->bytes();
  EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 0x20, ram.begin() + 0x24),
            (std::vector<uint8_t>{0x0d, 0xf0, 0xfe, 0xca}));
  EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 0x2F, ram.begin() + 0x33),
            (std::vector<uint8_t>{0x2F, 0x34, 0x31, 0x32}));
  // Offset mode never touches the local base registers.
  EXPECT_TRUE(card_->register_writes().empty());
}

TEST_F(AddressSpacesTest, SpaceChooserTakesOnlyActiveSpaces) {
  Build();
  ExpectSession(OffsetMenu(kSpace0, kDword) + "«1»\n" + kChooser +
                    // An empty line and 6 change nothing and print nothing.
                    "«»\n" + OffsetMenu(kSpace0, kDword) + "«1»\n" + kChooser + "«6»\n" +
                    OffsetMenu(kSpace0, kDword) + "«1»\n" + kChooser + "«4»\n" +
                    "Chosen space not active!\n" + OffsetMenu(kSpace0, kDword) + "«1»\n" +
                    kChooser + "«3»\n" + OffsetMenu(kSpace1, kDword) + "«3»\n" +
                    "Enter offset to read from: «14»\n"
                    "Value read: 97969594\n" +
                    OffsetMenu(kSpace1, kDword) + "«2»\n" + OffsetMenu(kSpace1, kByte) + "«4»\n" +
                    "Enter offset to write to: «ff»\n"
                    "Enter data to write BYTE (8 bit): «a5»\n" +
                    OffsetMenu(kSpace1, kByte) + "«99»\n",
                [&] { P9050Diag_AccessSpaces(handle_, FALSE); });
  EXPECT_EQ(ram1_->bytes()[0xFF], 0xA5);
}

TEST_F(AddressSpacesTest, SpaceChooserTakesTheLastSpace) {
  sim::Plx9050Config cfg;
  cfg.bars[5] = {sim::BarKind::kMemory, 256};
  Build(cfg);
  const std::string chooser =
      "Choose memory space:\n"
      "--------------------\n"
      "2. Addr Space 0 - (BAR2)\n"
      "3. Addr Space 1 - (BAR3)\n"
      "4. Addr Space 2 - (BAR4) - space not active\n"
      "5. Addr Space 3 - (BAR5)\n"
      "Enter option: ";
  ExpectSession(OffsetMenu(kSpace0, kDword) + "«1»\n" + chooser + "«5»\n" +
                    OffsetMenu("Addr Space 3 - (BAR5)", kDword) + "«99»\n",
                [&] { P9050Diag_AccessSpaces(handle_, FALSE); });
}

TEST_F(AddressSpacesTest, StartsOnTheFirstActiveSpace) {
  sim::Plx9050Config cfg;
  cfg.bars[2] = {};
  cfg.bars[3] = {};
  cfg.bars[4] = {sim::BarKind::kMemory, 256};
  Build(cfg);
  ExpectSession(OffsetMenu("Addr Space 2 - (BAR4)", kDword) + "«99»\n",
                [&] { P9050Diag_AccessSpaces(handle_, FALSE); });
}

TEST_F(AddressSpacesTest, NoActiveSpaceReturnsAtOnce) {
  sim::Plx9050Config cfg;
  cfg.bars[2] = {};
  cfg.bars[3] = {};
  Build(cfg);
  for (BOOL local : {FALSE, TRUE}) {
    // Nothing is read: the line is still there afterwards.
    testsupport::ConsoleFiles console("99\n");
    P9050Diag_AccessSpaces(handle_, local);
    EXPECT_EQ(console.Output(), "No active memory spaces on board!\n");
    EXPECT_EQ(console.RemainingInput(), "99\n");
  }
}

TEST_F(AddressSpacesTest, LocalAddressesMoveTheWindowBeforeEachAccess) {
  Build(IoRegisters());
  ExpectSession(LocalMenu(kSpace0, kDword) + "«3»\n" +
                    "Enter local address to read from: «10110»\n"
                    "Value read: 93929190\n" +
                    LocalMenu(kSpace0, kDword) + "«2»\n" + LocalMenu(kSpace0, kByte) + "«2»\n" +
                    LocalMenu(kSpace0, kWord) + "«4»\n" +
                    "Enter local address to write to: «10004»\n"
                    "Enter data to write WORD (16 bit): «beef»\n" +
                    LocalMenu(kSpace0, kWord) + "«99»\n",
                [&] { P9050Diag_AccessSpaces(handle_, TRUE); });
  Settle();
  EXPECT_EQ(ram0_->bytes()[4], 0xEF);
  EXPECT_EQ(ram0_->bytes()[5], 0xBE);
  EXPECT_EQ(ram0_->bytes()[6], 0x06);
  // The window was moved to 0x10100 for the read, back to 0x10000 for the write.
  EXPECT_EQ(card_->register_writes(),
            (std::vector<Write>{{0, P9050_LAS0BA, 0x10101}, {0, P9050_LAS0BA, 0x10001}}));
}

// The register editor shows where the local-address menu left the window.
TEST_F(AddressSpacesTest, RegisterEditorShowsTheMovedWindow) {
  Build(IoRegisters());
  Run("3\n10180\n99\n", [&] { P9050Diag_AccessSpaces(handle_, TRUE); });
  const std::string screen = Run("99\n", [&] { P9050Diag_EditRegisters(handle_); });
  EXPECT_NE(screen.find(" 6.  LAS0BA : 00010101     17. CS1BASE : 00000000     \n"),
            std::string::npos)
      << screen;
}

// A write's offset or data that is no number, or that does not fit (the offset 32 bits, the data
// the access width), writes nothing: one line says so and the menu goes on. Nothing reaches the
// card: no transfer, no store in a window, no move of the local window.
struct RefusedWrite {
  const char* name;
  BOOL local;
  const char* widthToggles;  // menu choices of 2 before the write: "" dword, "2" byte, "22" word
  const char* offset;
  const char* data;  // nullptr: refused at the offset
  const char* refusal;
};

void PrintTo(const RefusedWrite& c, std::ostream* os) {
  *os << c.name;
}

class RefusedWriteTest : public AddressSpacesTest,
                         public ::testing::WithParamInterface<RefusedWrite> {};

TEST_P(RefusedWriteTest, WritesNothingAndGoesOn) {
  const RefusedWrite& c = GetParam();
  Build(IoRegisters());
  const std::string mode = c.local ? "local address" : "offset";
  const char* const widths[] = {kDword.c_str(), kByte.c_str(), kWord.c_str()};
  const std::string toggles = c.widthToggles;
  std::string session = Menu(mode, kSpace0, kDword);
  for (size_t i = 0; i < toggles.size(); ++i) {
    session += "«2»\n" + Menu(mode, kSpace0, widths[i + 1]);
  }
  const std::string width = widths[toggles.size()];
  session += "«4»\nEnter " + mode + " to write to: «" + c.offset + "»\n";
  if (c.data != nullptr) {
    session += "Enter data to write " + width + ": «" + c.data + "»\n";
  }
  session += std::string(c.refusal) + Menu(mode, kSpace0, width) + "«99»\n";
  const std::vector<uint8_t> before(ram0_->bytes().begin(), ram0_->bytes().end());
  ExpectSession(session, [&] { P9050Diag_AccessSpaces(handle_, c.local); });
  Settle();
  EXPECT_EQ(std::vector<uint8_t>(ram0_->bytes().begin(), ram0_->bytes().end()), before);
  EXPECT_EQ(simulator_.Count(WD_CODE_TRANSFER), 0u);
  EXPECT_TRUE(card_->register_writes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedWriteTest,
    ::testing::Values(RefusedWrite{"EmptyOffset", FALSE, "", "", nullptr,
                                   "Error: no hexadecimal offset given; nothing written\n"},
                      RefusedWrite{"WordAsOffset", FALSE, "", "zz", nullptr,
                                   "Error: no hexadecimal offset given; nothing written\n"},
                      RefusedWrite{"OffsetBeyond32Bits", FALSE, "", "100000010", nullptr,
                                   "Error: offset too big for 32 bits\n"},
                      RefusedWrite{"EmptyData", FALSE, "", "20", "",
                                   "Error: no hexadecimal data given; nothing written\n"},
                      RefusedWrite{"WordAsData", FALSE, "", "20", "zz",
                                   "Error: no hexadecimal data given; nothing written\n"},
                      RefusedWrite{"DataBeyond32Bits", FALSE, "", "20", "1ffffffff",
                                   "Error: data too big for DWORD (32 bit)\n"},
                      RefusedWrite{"DataBeyondAByte", FALSE, "2", "20", "100",
                                   "Error: data too big for BYTE (8 bit)\n"},
                      RefusedWrite{"DataBeyondAWord", FALSE, "22", "20", "10000",
                                   "Error: data too big for WORD (16 bit)\n"},
                      RefusedWrite{"EmptyLocalAddress", TRUE, "", "", nullptr,
                                   "Error: no hexadecimal local address given; nothing written\n"},
                      RefusedWrite{"LocalAddressBeyond32Bits", TRUE, "", "-100000000", nullptr,
                                   "Error: local address too big for 32 bits\n"},
                      RefusedWrite{"WordAsDataByLocalAddress", TRUE, "2", "10004", "x1",
                                   "Error: no hexadecimal data given; nothing written\n"}),
    [](const ::testing::TestParamInfo<RefusedWrite>& info) {
      return std::string(info.param.name);
    });

// After a refusal the next write goes through, and a read's empty address reads where the last
// write went.
TEST_F(AddressSpacesTest, WritesAfterARefusedOne) {
  Build();
  ExpectSession(OffsetMenu(kSpace0, kDword) + "«4»\n" + "Enter offset to write to: «24»\n" +
                    "Enter data to write DWORD (32 bit): «»\n" +
                    "Error: no hexadecimal data given; nothing written\n" +
                    OffsetMenu(kSpace0, kDword) + "«4»\n" + "Enter offset to write to: «20»\n" +
                    "Enter data to write DWORD (32 bit): «cafef00d»\n" +
                    OffsetMenu(kSpace0, kDword) + "«3»\n" + "Enter offset to read from: «»\n" +
                    "Value read: cafef00d\n" + OffsetMenu(kSpace0, kDword) + "«99»\n",
                [&] { P9050Diag_AccessSpaces(handle_, FALSE); });
  Settle();
  const std::span<uint8_t> ram = ram0_->bytes();
  EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 0x20, ram.begin() + 0x28),
            (std::vector<uint8_t>{0x0d, 0xf0, 0xfe, 0xca, 0x24, 0x25, 0x26, 0x27}));
}

// The end of input leaves the menu as 99 does, at every prompt, and nothing more is accessed.
class AddressSpacesEndTest : public AddressSpacesTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(AddressSpacesEndTest, EndOfInputReturns) {
  Build(IoRegisters());
  const size_t requests = simulator_.log().size();
  Run(GetParam(), [&] { P9050Diag_AccessSpaces(handle_, TRUE); });
  // Redraws ask only whether the spaces are active: no transfer reached the card.
  EXPECT_EQ(simulator_.Count(WD_CODE_TRANSFER), 0u);
  EXPECT_EQ(simulator_.log().size(), requests);
  EXPECT_TRUE(card_->register_writes().empty());
}

INSTANTIATE_TEST_SUITE_P(Prompts, AddressSpacesEndTest,
                         ::testing::Values("", "1\n", "2\n", "3\n", "4\n", "4\n10\n"),
                         testsupport::ByText());

}  // namespace
}  // namespace diag_test
