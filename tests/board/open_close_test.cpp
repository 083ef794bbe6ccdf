// tamrelcheck and tamrelclose on the simulated bus: which IDs are searched, the card prompt with
// two boards, which board opens, and that closing gives everything back.
#include <cstring>
#include <string>

#include "board_fixture.h"
#include "p9050_lib.h"
#include "support/param_name.h"

namespace board_test {
namespace {

constexpr uint32_t kFirstSlot = 5;
constexpr uint32_t kSecondSlot = 6;
constexpr uint32_t kOtherSlot = 9;  // a 9050 card with another device ID
constexpr char kPrompt[] = "Found 2 matching PCI cards\nSelect card (1-2): ";
constexpr char kCardOutOfRange[] = "Card out of range of available cards\n";

uint32_t OpenedSlot(ZarereraCard card) {
  WdPciSlot slot{};
  P9050_GetPciSlot(card, &slot);
  return slot.slot;
}

class OpenClose : public BoardFixture {};

class DefaultIds : public BoardFixture, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(DefaultIds, VendorZeroSearchesTheBoardIdsWhateverTheDeviceId) {
  sim::BoardConfig other;
  other.bridge.device_id = 0x1234;
  AddBoard(kOtherSlot, other);
  AddBoard(kFirstSlot);
  SetConsole("");
  ZarereraCard card = tamrelcheck(0, GetParam(), 0, 1);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(OpenedSlot(card), kFirstSlot);
  EXPECT_EQ(ConsoleOutput(), "");
  size_t scans = 0;
  for (const auto& r : simulator_.log()) {
    if (r.code != WD_CODE_PCI_SCAN) continue;
    ++scans;
    const auto scan = r.As<WdPciScan>();
    EXPECT_EQ(scan.vendorId, 0x9050u);
    EXPECT_EQ(scan.deviceId, 0x10B5u);
  }
  EXPECT_GT(scans, 0u);
  EXPECT_EQ(tamrelclose(card), 1);
}

INSTANTIATE_TEST_SUITE_P(DeviceIds, DefaultIds, ::testing::Values(0u, 0x1234u, 0x10B5u, 0x9050u),
                         testsupport::ByHex());

TEST_F(OpenClose, OtherIdsAreSearchedAsGiven) {
  sim::BoardConfig other;
  other.bridge.device_id = 0x1234;
  AddBoard(kOtherSlot, other);
  AddBoard(kFirstSlot);
  ZarereraCard card = tamrelcheck(0x9050, 0x1234, 0, 1);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(OpenedSlot(card), kOtherSlot);
  tamrelclose(card);
  EXPECT_EQ(tamrelcheck(0x10B5, 0x9050, 0, 1), nullptr);  // the bridge chip's own pair: no board
}

TEST_F(OpenClose, NoBoardGivesNullWithoutPrompt) {
  SetConsole("1\n");
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  EXPECT_EQ(ConsoleOutput(), "");
  EXPECT_EQ(simulator_.Count(WD_CODE_CARD_REGISTER), 0u);
}

class OneBoard : public BoardFixture, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(OneBoard, OpensWithoutPromptWhateverTheCardNumber) {
  AddBoard(kFirstSlot);
  SetConsole("5\n");
  ZarereraCard card = tamrelcheck(0, 0, 0, GetParam());
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(OpenedSlot(card), kFirstSlot);
  EXPECT_EQ(ConsoleOutput(), "");
  EXPECT_EQ(UnreadInput(), 2u);  // the console was not read
  EXPECT_EQ(tamrelclose(card), 1);
}

INSTANTIATE_TEST_SUITE_P(CardNumbers, OneBoard, ::testing::Values(0u, 1u, 2u, 0xFFFFFFFFu),
                         ::testing::PrintToStringParamName());

// Two boards: the prompt, the typed choice, and the caller's card number.
struct PromptCase {
  std::string name;
  std::string input;
  uint32_t cardNumber;
  std::string output;  // after the prompt
  int openedSlot;      // 0: NULL returned
  const char* errorText;
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << c.name;
}

class TwoBoards : public BoardFixture, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(TwoBoards, PromptDecidesOnlyWhetherToGoOn) {
  const PromptCase& c = GetParam();
  AddBoard(kFirstSlot);
  AddBoard(kSecondSlot);
  SetConsole(c.input);
  P9050_ErrorText[0] = '\0';
  ZarereraCard card = tamrelcheck(0, 0, 0, c.cardNumber);
  EXPECT_EQ(ConsoleOutput(), kPrompt + c.output);
  if (c.openedSlot == 0) {
    EXPECT_EQ(card, nullptr);
    if (card != nullptr) tamrelclose(card);
    EXPECT_EQ(simulator_.registrations(), 0);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  } else {
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(OpenedSlot(card), static_cast<uint32_t>(c.openedSlot));
    EXPECT_EQ(tamrelclose(card), 1);
  }
  if (c.errorText != nullptr) {
    EXPECT_STREQ(P9050_ErrorText, c.errorText);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TwoBoards,
    ::testing::Values(
        // No input on the first prompt: the preset choice 2 passes, the card number decides.
        PromptCase{"NoInputOpensCardNumber1", "", 1, "", kFirstSlot, nullptr},
        PromptCase{"NoInputOpensCardNumber2", "", 2, "", kSecondSlot, nullptr},
        PromptCase{"ChoiceOneOpensCardNumber2", "1\n", 2, "", kSecondSlot, nullptr},
        PromptCase{"ChoiceTwoOpensCardNumber1", "2\n", 1, "", kFirstSlot, nullptr},
        PromptCase{"LineWithoutNumberKeepsPreset", "abc\n", 2, "", kSecondSlot, nullptr},
        PromptCase{"LastLineWithoutNewline", "1", 1, "", kFirstSlot, nullptr},
        PromptCase{"ChoiceFive", "5\n", 1, "Choice out of range\n", 0, nullptr},
        PromptCase{"ChoiceThree", "3\n", 1, "Choice out of range\n", 0, nullptr},
        PromptCase{"ChoiceZero", "0\n", 1, "Choice out of range\n", 0, nullptr},
        PromptCase{"ChoiceMinusOne", "-1\n", 1, "Choice out of range\n", 0, nullptr},
        // Beyond 32 bits is no number: the preset 2 stays (msvcrt's "%d" would wrap these to 1
        // and 3, glibc's saturate).
        PromptCase{"ChoicePastInt", "4294967297\n", 1, "", kFirstSlot, nullptr},
        PromptCase{"ChoiceWrappingOntoThree", "4294967299\n", 2, "", kSecondSlot, nullptr},
        PromptCase{"ChoiceBelowInt", "-2147483649\n", 1, "", kFirstSlot, nullptr},
        PromptCase{"ChoiceJustPastInt", "2147483648\n", 2, "", kSecondSlot, nullptr},
        PromptCase{"ChoiceMostNegative", "-2147483648\n", 1, "Choice out of range\n", 0, nullptr},
        PromptCase{"CardNumberZero", "", 0, "", 0, kCardOutOfRange},
        PromptCase{"CardNumberTooLarge", "", 3, "", 0, kCardOutOfRange},
        PromptCase{"CardNumberHuge", "1\n", 0xFFFFFFFF, "", 0, kCardOutOfRange}),
    [](const ::testing::TestParamInfo<PromptCase>& info) { return info.param.name; });

TEST_F(OpenClose, EndOfInputReusesThePreviousLine) {
  AddBoard(kFirstSlot);
  AddBoard(kSecondSlot);
  SetConsole("5\n");
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);  // nothing more to read: "5" again
  EXPECT_EQ(ConsoleOutput(),
            std::string(kPrompt) + "Choice out of range\n" + kPrompt + "Choice out of range\n");
  EXPECT_STREQ(P9050_LineBuf, "5");
}

TEST_F(OpenClose, LongLineIsConsumedWholeAndCut) {
  AddBoard(kFirstSlot);
  AddBoard(kSecondSlot);
  SetConsole("1" + std::string(299, 'x') + "\n7\n");
  ZarereraCard card = tamrelcheck(0, 0, 0, 2);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(std::strlen(P9050_LineBuf), 255u);
  EXPECT_EQ(OpenedSlot(card), kSecondSlot);
  tamrelclose(card);
  EXPECT_EQ(tamrelcheck(0, 0, 0, 2), nullptr);  // the next line is "7", not the rest of the first
  EXPECT_STREQ(P9050_LineBuf, "7");
}

TEST_F(OpenClose, CloseReturnsOneAndGivesEverythingBack) {
  AddBoard(kFirstSlot);
  AddBoard(kSecondSlot);
  SetConsole("");
  ZarereraCard first = tamrelcheck(0, 0, 0, 1);
  ZarereraCard second = tamrelcheck(0, 0, 0, 2);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(simulator_.registrations(), 2);
  EXPECT_EQ(WdHosted_OpenHandles(), 2);
  EXPECT_EQ(tamrelclose(first), 1);
  EXPECT_EQ(simulator_.registrations(), 1);
  EXPECT_EQ(tamrelclose(second), 1);
  EXPECT_EQ(simulator_.registrations(), 0);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

TEST_F(OpenClose, CloseOfNullDoesNothing) {
  AddBoard(kFirstSlot);
  EXPECT_EQ(tamrelclose(nullptr), 1);
  EXPECT_TRUE(simulator_.log().empty());
}

}  // namespace
}  // namespace board_test
