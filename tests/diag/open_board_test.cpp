// The card chooser: when it asks for IDs and a card number, what it opens, its range check, and
// that no device handle or registration is left behind when it returns NULL.
#include <string>

#include "diag_fixture.h"

namespace diag_test {
namespace {

class OpenBoardTest : public DiagTest {
 protected:
  // Runs the chooser; the handle it returns is closed when the test ends.
  P9050_Handle* OpenSession(const std::string& session, uint32_t vendorId, uint32_t deviceId) {
    P9050_Handle* h = nullptr;
    ExpectSession(session, [&] { h = P9050Diag_OpenBoard(vendorId, deviceId); });
    Adopt(h);
    return h;
  }
  uint32_t SlotOf(P9050_Handle* h) {
    WdPciSlot slot{};
    P9050_GetPciSlot(h, &slot);
    return slot.slot;
  }
};

TEST_F(OpenBoardTest, OneCardWithIdsOpensWithoutPrompt) {
  AddCard();
  P9050_Handle* h = OpenSession("PLX 9050 PCI card found!\n", kVendor, kDevice);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(simulator_.registrations(), 1);
}

TEST_F(OpenBoardTest, VendorZeroAsksForBothIds) {
  sim::Plx9050Config other;
  other.vendor_id = 0x1234;
  other.device_id = 0xABCD;
  AddCard();
  AddCard(other);
  // The device ID passed in is not used once the prompts ask.
  P9050_Handle* h = OpenSession(
      "Enter VendorID: «1234»\n"
      "Enter DeviceID: «AbCd»\n"
      "PLX 9050 PCI card found!\n",
      0, kDevice);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SlotOf(h), 4u);
}

TEST_F(OpenBoardTest, TwoCardsAskForTheNumber) {
  AddCard();
  AddCard();
  P9050_Handle* h = OpenSession(
      "Found 2 matching PCI cards\n"
      "Select card (1-2): «2»\n"
      "PLX 9050 PCI card found!\n",
      kVendor, kDevice);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SlotOf(h), 4u);
}

TEST_F(OpenBoardTest, NoMatchingCardPrintsTheReason) {
  AddCard();
  EXPECT_EQ(OpenSession("no cards found\n", 0x1111, 0x2222), nullptr);
  EXPECT_EQ(simulator_.registrations(), 0);
}

TEST_F(OpenBoardTest, RefusedRegistrationReturnsNull) {
  AddCard();
  simulator_.RefuseRegistration(true);
  // The library leaves its text empty after a refused registration, and the chooser prints it as
  // it is.
  EXPECT_EQ(OpenSession("", kVendor, kDevice), nullptr);
}

// Card numbers outside 1..count, compared unsigned, open nothing.
class OutOfRangeTest : public OpenBoardTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OutOfRangeTest, PrintsChoiceOutOfRange) {
  AddCard();
  AddCard();
  EXPECT_EQ(OpenSession(std::string("Found 2 matching PCI cards\n"
                                    "Select card (1-2): «") +
                            GetParam() + "»\nChoice out of range\n",
                        kVendor, kDevice),
            nullptr);
  EXPECT_EQ(simulator_.registrations(), 0);
  EXPECT_EQ(simulator_.Count(WD_CODE_CARD_REGISTER), 0u);
}

// Numbers beyond 32 bits count as no number, leaving the preset 0, with every C runtime (msvcrt's
// "%ld" would wrap "4294967297" and "-4294967295" to 1).
INSTANTIATE_TEST_SUITE_P(Answers, OutOfRangeTest,
                         ::testing::Values("0", "3", "-1", "", "two", "4294967297", "-4294967295",
                                           " 4294967298"),
                         testsupport::ByText());

// A hexadecimal ID beyond 32 bits is no number: the vendor stays 0, which matches any vendor, as
// an empty answer does; it is not cut to its low bits (a real card's ID).
TEST_F(OpenBoardTest, IdBeyond32BitsCountsAsNoNumber) {
  sim::Plx9050Config other;
  other.vendor_id = 0x1234;
  AddCard(other);
  P9050_Handle* h = OpenSession(
      "Enter VendorID: «100009050»\n"
      "Enter DeviceID: «10b5»\n"
      "PLX 9050 PCI card found!\n",
      0, kDevice);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SlotOf(h), 3u);
}

// The end of input at any of the chooser's prompts returns NULL without opening anything.
class OpenEndTest : public OpenBoardTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(OpenEndTest, EndOfInputReturnsNull) {
  AddCard();
  AddCard();
  P9050_Handle* h = nullptr;
  const std::string output =
      Run(GetParam() == 0 ? "9050\n" : "", [&] { h = P9050Diag_OpenBoard(GetParam(), kDevice); });
  Adopt(h);
  EXPECT_EQ(h, nullptr) << output;
  EXPECT_EQ(simulator_.Count(WD_CODE_CARD_REGISTER), 0u);
}

INSTANTIATE_TEST_SUITE_P(Prompts, OpenEndTest, ::testing::Values(0u, kVendor),
                         testsupport::ByHex());

}  // namespace
}  // namespace diag_test
