// The in-process drivers' base: which handler each request reaches, the size checks before it, the
// copy that goes back only on success, and the card item builders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/int_requests.h"
#include "driver/request_driver.h"
#include "driver/wd_status.h"
#include "support/param_name.h"

namespace request_driver_test {

constexpr uint32_t kMark = 0xA5;  // what a handler writes into every byte of its record
constexpr uintptr_t kDevice = 0x1234;

// Records the handler each request reaches and answers with `status`, after filling its copy of
// the record with kMark (so a copy that goes back shows).
class Recorder : public wd::RequestDriver {
 public:
  uint32_t status = 0;
  bool interrupts = false;
  std::vector<std::string> calls;
  std::vector<uint32_t> refused;  // statuses Refuse saw
  uintptr_t registered_on = 0;
  const void* transfer_at = nullptr;

 protected:
  template <class T>
  uint32_t Answer(const char* name, T& r) {
    calls.push_back(name);
    std::memset(&r, kMark, sizeof r);
    return status;
  }
  uint32_t Version(WdVersion& r) override { return Answer("Version", r); }
  uint32_t Scan(WdPciScan& r) override { return Answer("Scan", r); }
  uint32_t CardInfo(WdPciCardInfo& r) override { return Answer("CardInfo", r); }
  uint32_t Register(WdCardRegister& r, uintptr_t device) override {
    registered_on = device;
    return Answer("Register", r);
  }
  uint32_t Unregister(WdCardRegister& r) override { return Answer("Unregister", r); }
  uint32_t Config(WdPciConfigDump& r) override { return Answer("Config", r); }
  uint32_t Transfer(WdTransfer& r) override {
    transfer_at = &r;
    return Answer("Transfer", r);
  }
  uint32_t Sleep(WdSleep& r) override { return Answer("Sleep", r); }
  bool ServesInterrupts() const override { return interrupts; }
  uint32_t IntEnable(WdIntRequest& r) override { return Answer("IntEnable", r); }
  uint32_t IntWait(WdIntRequest& r) override { return Answer("IntWait", r); }
  uint32_t IntDisable(WdIntRequest& r) override { return Answer("IntDisable", r); }
  uint32_t Refuse(uint32_t code, uint32_t refusal) override {
    (void)code;
    refused.push_back(refusal);
    return refusal;
  }
};

struct Route {
  const char* name;  // the handler's
  uint32_t code;
  uint32_t size;  // of the code's record
};

void PrintTo(const Route& r, std::ostream* os) {
  *os << r.name;
}

const Route kRoutes[] = {
    {"Version", WD_CODE_VERSION, sizeof(WdVersion)},
    {"Scan", WD_CODE_PCI_SCAN, sizeof(WdPciScan)},
    {"CardInfo", WD_CODE_PCI_CARD_INFO, sizeof(WdPciCardInfo)},
    {"Register", WD_CODE_CARD_REGISTER, sizeof(WdCardRegister)},
    {"Unregister", WD_CODE_CARD_UNREGISTER, sizeof(WdCardRegister)},
    {"Config", WD_CODE_PCI_CONFIG, sizeof(WdPciConfigDump)},
    {"Transfer", WD_CODE_TRANSFER, sizeof(WdTransfer)},
    {"Sleep", WD_CODE_SLEEP, sizeof(WdSleep)},
    {"IntEnable", WD_CODE_INT_ENABLE, sizeof(WdIntRequest)},
    {"IntWait", WD_CODE_INT_WAIT, sizeof(WdIntRequest)},
    {"IntDisable", WD_CODE_INT_DISABLE, sizeof(WdIntRequest)},
};

class RouteTest : public ::testing::TestWithParam<Route> {
 protected:
  RouteTest() { driver_.interrupts = true; }
  // Sends the request on a record of `size` bytes (aligned, zeroed, with one spare byte past it
  // that no handler may write); returns the status.
  uint32_t Send(uint32_t size) {
    record_.assign(size / 8 + 2, 0);
    uint32_t status = WD_STATUS_NONE;
    EXPECT_TRUE(driver_.ControlOn(kDevice, GetParam().code, record_.data(), size, &status));
    return status;
  }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(record_.data()); }
  bool Untouched(uint32_t from, uint32_t to) const {
    for (uint32_t i = from; i < to; ++i) {
      if (Bytes()[i] != 0) return false;
    }
    return true;
  }
  Recorder driver_;
  std::vector<uint64_t> record_;  // 8-byte aligned storage
};

// A record of its code's size reaches exactly its handler, and what the handler wrote goes back.
TEST_P(RouteTest, ReachesItsHandlerAndCopiesTheAnswerBack) {
  const Route& r = GetParam();
  EXPECT_EQ(Send(r.size), 0u);
  EXPECT_EQ(driver_.calls, std::vector<std::string>{r.name});
  EXPECT_TRUE(driver_.refused.empty());
  for (uint32_t i = 0; i < r.size; ++i) ASSERT_EQ(Bytes()[i], kMark) << "byte " << i;
  EXPECT_TRUE(Untouched(r.size, r.size + 1));  // nothing past the code's record
}

// A failing handler's copy is thrown away: the record stays as it came.
TEST_P(RouteTest, FailureLeavesTheRecordAsItCame) {
  const Route& r = GetParam();
  driver_.status = WD_STATUS_INVALID_PARAMETER;
  EXPECT_EQ(Send(r.size), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(driver_.calls.size(), 1u);
  // A transfer is served in place; every other record is served on a copy.
  if (r.code != WD_CODE_TRANSFER) {
    EXPECT_TRUE(Untouched(0, r.size + 1));
  }
}

// One byte short (and no record at all) reaches no handler and writes nothing.
TEST_P(RouteTest, ShortOrMissingRecordIsRefusedUntouched) {
  const Route& r = GetParam();
  EXPECT_EQ(Send(r.size - 1), WD_STATUS_RECORD_TOO_SHORT);
  EXPECT_TRUE(Untouched(0, r.size + 1));
  uint32_t status = 0;
  EXPECT_TRUE(driver_.ControlOn(kDevice, r.code, nullptr, r.size, &status));
  EXPECT_EQ(status, WD_STATUS_RECORD_TOO_SHORT);
  EXPECT_TRUE(driver_.calls.empty());
  EXPECT_EQ(driver_.refused,
            (std::vector<uint32_t>{WD_STATUS_RECORD_TOO_SHORT, WD_STATUS_RECORD_TOO_SHORT}));
}

INSTANTIATE_TEST_SUITE_P(Codes, RouteTest, ::testing::ValuesIn(kRoutes),
                         testsupport::ByNameMember());

TEST(RequestDriver, RegistrationIsToldTheHandleItCameOn) {
  Recorder driver;
  WdCardRegister r{};
  uint32_t status = 1;
  EXPECT_TRUE(driver.ControlOn(kDevice, WD_CODE_CARD_REGISTER, &r, sizeof r, &status));
  EXPECT_EQ(driver.registered_on, kDevice);
  EXPECT_TRUE(driver.Control(WD_CODE_CARD_REGISTER, &r, sizeof r, &status));
  EXPECT_EQ(driver.registered_on, wd::kNoDevice);
}

// Without the interrupt service its codes are unknown, whatever their records (even none).
TEST(RequestDriver, InterruptRequestsAreUnknownWithoutTheService) {
  Recorder driver;
  for (uint32_t code : {WD_CODE_INT_ENABLE, WD_CODE_INT_WAIT, WD_CODE_INT_DISABLE}) {
    WdIntRequest r{};
    uint32_t status = 0;
    EXPECT_TRUE(driver.ControlOn(kDevice, code, &r, sizeof r, &status));
    EXPECT_EQ(status, WD_STATUS_UNKNOWN_REQUEST);
    EXPECT_TRUE(driver.ControlOn(kDevice, code, nullptr, 0, &status));
    EXPECT_EQ(status, WD_STATUS_UNKNOWN_REQUEST);
  }
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(driver.refused.size(), 6u);
}

TEST(RequestDriver, UnknownCodeIsRefused) {
  Recorder driver;
  uint8_t record[64] = {};
  uint32_t status = 0;
  for (uint32_t code : {0u, WD_CODE_VERSION + 4, 0xFFFFFFFFu}) {
    EXPECT_TRUE(driver.ControlOn(kDevice, code, record, sizeof record, &status));
    EXPECT_EQ(status, WD_STATUS_UNKNOWN_REQUEST);
  }
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(record[0], 0u);
}

// An aligned transfer is served in place; a misaligned one on an aligned copy, copied back whole.
TEST(RequestDriver, TransferInPlaceWhenAlignedOtherwiseOnACopy) {
  Recorder driver;
  alignas(8) uint8_t buffer[sizeof(WdTransfer) + 1] = {};
  uint32_t status = 1;
  EXPECT_TRUE(driver.Control(WD_CODE_TRANSFER, buffer, sizeof(WdTransfer), &status));
  EXPECT_EQ(driver.transfer_at, buffer);
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_TRUE(driver.Control(WD_CODE_TRANSFER, buffer + 1, sizeof(WdTransfer), &status));
  EXPECT_NE(driver.transfer_at, buffer + 1);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(buffer[0], 0u);
  for (size_t i = 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], kMark) << "byte " << i;
}

TEST(CardItems, EachBuilderFillsItsKindsFields) {
  WdCard card;
  std::memset(&card, 0xEE, sizeof card);  // builders zero what they append
  card.itemCount = 0;
  ASSERT_NE(wd::AddMemoryItem(card, 2, 0xFE001000u, 0x100), nullptr);
  ASSERT_NE(wd::AddIoItem(card, 3, 0xC100, 0x80), nullptr);
  ASSERT_NE(wd::AddInterruptItem(card, 10), nullptr);
  ASSERT_NE(wd::AddBusItem(card, WdPciSlot{1, 5, 2}), nullptr);
  ASSERT_EQ(card.itemCount, 4u);

  WdItem memory{};
  memory.kind = WD_ITEM_MEMORY;
  memory.u.mem.physAddress = 0xFE001000u;
  memory.u.mem.bytes = 0x100;
  memory.u.mem.transferAddress = 0xFE001000u;
  memory.u.mem.bar = 2;
  WdItem io{};
  io.kind = WD_ITEM_IO;
  io.u.io.port = 0xC100;
  io.u.io.bytes = 0x80;
  io.u.io.bar = 3;
  WdItem irq{};
  irq.kind = WD_ITEM_INTERRUPT;
  irq.u.interrupt.irq = 10;
  WdItem bus{};
  bus.kind = WD_ITEM_BUS;
  bus.u.bus.busType = 5;
  bus.u.bus.busNumber = 1;
  bus.u.bus.slotFunction = 5 << 3 | 2;
  const WdItem expected[] = {memory, io, irq, bus};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::memcmp(&card.items[i], &expected[i], sizeof(WdItem)), 0) << "item " << i;
  }
}

TEST(CardItems, AFullListTakesNoMore) {
  WdCard card{};
  for (uint32_t i = 0; i < WD_CARD_ITEMS; ++i) ASSERT_NE(wd::AddInterruptItem(card, i), nullptr);
  const WdCard before = card;
  EXPECT_EQ(wd::AddMemoryItem(card, 0, 1, 16), nullptr);
  EXPECT_EQ(wd::AddIoItem(card, 0, 1, 4), nullptr);
  EXPECT_EQ(wd::AddInterruptItem(card, 1), nullptr);
  EXPECT_EQ(wd::AddBusItem(card, WdPciSlot{}), nullptr);
  EXPECT_EQ(std::memcmp(&card, &before, sizeof card), 0);
}

}  // namespace request_driver_test
