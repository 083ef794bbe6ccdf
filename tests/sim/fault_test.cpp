// Injected driver behaviour, bad input and the request log of the simulated driver.
#include <gtest/gtest.h>

#include <functional>

#include "sim_fixture.h"

namespace {

using simtest::BoardLikeConfig;
using simtest::BytesOf;

class FaultTest : public simtest::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    card_ = AddCard(0, 1, 0, BoardLikeConfig());
  }
  std::shared_ptr<sim::RegisterFileCard> card_;
};

// One well-formed request of each code, in a buffer large enough for any record.
struct CodeCase {
  const char* name;
  uint32_t code;
  uint32_t size;
  std::function<void(uint8_t* record, uint8_t* buffer)> fill;
};

void FillTransfer(uint8_t* record, uint8_t*) {
  WdTransfer t{};
  t.command = WD_RP_BYTE;
  t.address = 0xC000;
  std::memcpy(record, &t, sizeof t);
}

void FillConfig(uint8_t* record, uint8_t* buffer) {
  WdPciConfigDump d{};
  d.pciSlot = {0, 1, 0};
  d.buffer = WD_TO_UPTR(buffer);
  d.bytes = 4;
  d.isRead = 1;
  std::memcpy(record, &d, sizeof d);
}

void FillCardInfo(uint8_t* record, uint8_t*) {
  WdPciCardInfo info{};
  info.pciSlot = {0, 1, 0};
  std::memcpy(record, &info, sizeof info);
}

void FillSleep(uint8_t* record, uint8_t*) {
  WdSleep s{500, 0};
  std::memcpy(record, &s, sizeof s);
}

void Nothing(uint8_t*, uint8_t*) {}

const CodeCase kCodes[] = {
    {"Version", WD_CODE_VERSION, sizeof(WdVersion), Nothing},
    {"Scan", WD_CODE_PCI_SCAN, sizeof(WdPciScan), Nothing},
    {"CardInfo", WD_CODE_PCI_CARD_INFO, sizeof(WdPciCardInfo), FillCardInfo},
    {"Register", WD_CODE_CARD_REGISTER, sizeof(WdCardRegister), Nothing},
    {"Config", WD_CODE_PCI_CONFIG, sizeof(WdPciConfigDump), FillConfig},
    {"Transfer", WD_CODE_TRANSFER, sizeof(WdTransfer), FillTransfer},
    {"Sleep", WD_CODE_SLEEP, sizeof(WdSleep), FillSleep},
};

void PrintTo(const CodeCase& c, std::ostream* os) {
  *os << c.name;
}

class PerCodeTest : public FaultTest, public ::testing::WithParamInterface<CodeCase> {
 protected:
  // Sends the request; returns the status and whether the record came back as it was sent.
  uint32_t SendCase(uint32_t size, bool* untouched) {
    std::vector<uint8_t> record(sizeof(WdPciScan) + 16, 0);  // the largest record
    uint8_t buffer[4] = {0x5A, 0x5A, 0x5A, 0x5A};
    GetParam().fill(record.data(), buffer);
    const std::vector<uint8_t> before = record;
    const uint32_t status = DriverRequest(GetParam().code, device_, record.data(), size, 0);
    *untouched = record == before && buffer[0] == 0x5A;
    return status;
  }
};

TEST_P(PerCodeTest, ServesAWellFormedRequest) {
  bool untouched;
  EXPECT_EQ(SendCase(GetParam().size, &untouched), 0u);
  ASSERT_EQ(sim_.log().size(), 1u);
  EXPECT_TRUE(sim_.log()[0].answered);
}

TEST_P(PerCodeTest, FailedRequestGetsTheStatusAndLeavesTheRecord) {
  sim_.FailRequests(GetParam().code, 0x2000000Fu);
  bool untouched;
  EXPECT_EQ(SendCase(GetParam().size, &untouched), 0x2000000Fu);
  EXPECT_TRUE(untouched);
  EXPECT_EQ(sim_.registrations(), 0);
  EXPECT_EQ(sim_.clock().sleep_count(), 0u);
  ASSERT_EQ(sim_.log().size(), 1u);
  EXPECT_EQ(sim_.log()[0].status, 0x2000000Fu);
  EXPECT_TRUE(sim_.log()[0].answered);
  // Other codes are not affected, and clearing the faults restores this one.
  WdVersion v{};
  if (GetParam().code != WD_CODE_VERSION) {
    EXPECT_EQ(Send(WD_CODE_VERSION, v), 0u);
  }
  sim_.ClearFaults();
  EXPECT_EQ(SendCase(GetParam().size, &untouched), 0u);
}

TEST_P(PerCodeTest, SilencedRequestLeavesStatusAndRecord) {
  sim_.SilenceRequests(GetParam().code);
  bool untouched;
  EXPECT_EQ(SendCase(GetParam().size, &untouched), WD_STATUS_NONE);
  EXPECT_TRUE(untouched);
  ASSERT_EQ(sim_.log().size(), 1u);
  EXPECT_FALSE(sim_.log()[0].answered);
  EXPECT_EQ(sim_.log()[0].status, WD_STATUS_NONE);
  sim_.ClearFaults();
  EXPECT_EQ(SendCase(GetParam().size, &untouched), 0u);
}

TEST_P(PerCodeTest, RecordOneByteShortIsRefused) {
  bool untouched;
  EXPECT_EQ(SendCase(GetParam().size - 1, &untouched), sim::kStatusRecordTooShort);
  EXPECT_TRUE(untouched);
  EXPECT_EQ(SendCase(0, &untouched), sim::kStatusRecordTooShort);
  EXPECT_TRUE(untouched);
}

INSTANTIATE_TEST_SUITE_P(Codes, PerCodeTest, ::testing::ValuesIn(kCodes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultTest, UnregisterFaultsKeepTheRegistration) {
  WdCardRegister reg = Register(0, 1, 0);
  sim_.FailRequests(WD_CODE_CARD_UNREGISTER, 0x20000010u);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0x20000010u);
  sim_.ClearFaults();
  sim_.SilenceRequests(WD_CODE_CARD_UNREGISTER);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), WD_STATUS_NONE);
  EXPECT_EQ(sim_.registrations(), 1);
  sim_.ClearFaults();
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
  EXPECT_EQ(sim_.registrations(), 0);
}

TEST_F(FaultTest, UnknownCodesAreRefused) {
  for (uint32_t code : {0u, WD_CODE_VERSION + 4, 0x95382447u, 0xFFFFFFFFu}) {
    uint8_t record[64];
    std::memset(record, 0xA5, sizeof record);
    EXPECT_EQ(DriverRequest(code, device_, record, sizeof record, 0), sim::kStatusUnknownRequest);
    EXPECT_EQ(record[0], 0xA5);
    EXPECT_EQ(record[63], 0xA5);
  }
}

TEST_F(FaultTest, ClearFaultsRestoresVersionRegistrationAndOverrides) {
  sim_.SetVersion(621);
  sim_.RefuseRegistration(true);
  WdPciScan fake{};
  fake.cardCount = 3;
  sim_.OverrideScan(fake);
  sim_.OverrideCardItems({0, 1, 0}, WdCard{});
  sim_.ClearFaults();
  WdVersion v{};
  Send(WD_CODE_VERSION, v);
  EXPECT_EQ(v.version, sim::kDefaultVersion);
  WdPciScan scan{};
  Send(WD_CODE_PCI_SCAN, scan);
  EXPECT_EQ(scan.cardCount, 1u);
  WdCardRegister reg = Register(0, 1, 0);
  EXPECT_EQ(reg.card.itemCount, 5u);
  EXPECT_NE(reg.cardHandle, 0u);
  Send(WD_CODE_CARD_UNREGISTER, reg);
}

TEST_F(FaultTest, ScanOverrideAnswersEveryScanEvenPastOneHundred) {
  WdPciScan fake{};
  fake.cardCount = 150;
  for (uint32_t i = 0; i < WD_PCI_CARDS; ++i) {
    fake.ids[i] = {0x9050, 0x10B5};
    fake.slots[i] = {i, 0, 0};
  }
  fake.vendorId = 0x1111;  // inputs of the request are the caller's, not the override's
  sim_.OverrideScan(fake);
  for (uint32_t vendor : {0u, 0x9050u}) {
    WdPciScan scan{};
    scan.vendorId = vendor;
    ASSERT_EQ(Send(WD_CODE_PCI_SCAN, scan), 0u);
    EXPECT_EQ(scan.vendorId, vendor);
    EXPECT_EQ(scan.cardCount, 150u);
    EXPECT_EQ(scan.slots[99].bus, 99u);
  }
}

TEST_F(FaultTest, CardItemOverrideIsReportedAndRegistrationWalksTwentyItems) {
  WdCard card{};
  card.itemCount = 25;  // more than the list holds
  for (uint32_t i = 0; i < WD_CARD_ITEMS; ++i) {
    WdItem& item = card.items[i];
    if (i == 1 || i == 19) {  // two interrupt items
      item.kind = WD_ITEM_INTERRUPT;
      item.u.interrupt.irq = 9;
    } else if (i == 2) {  // a memory range behind BAR 7
      item.kind = WD_ITEM_MEMORY;
      item.u.mem.physAddress = 0xF0000000;  // nothing decodes it: plain memory
      item.u.mem.bytes = 64;
      item.u.mem.bar = 7;
    } else {
      item.kind = WD_ITEM_IO;
      item.u.io.port = 0xC000;
      item.u.io.bytes = 4;
      item.u.io.bar = 1;
    }
  }
  sim_.OverrideCardItems({0, 9, 0}, card);  // no function there: the override alone answers
  WdCard got = CardInfo(0, 9, 0);
  EXPECT_EQ(BytesOf(got), BytesOf(card));

  WdCardRegister reg{};
  reg.card = got;
  ASSERT_EQ(Send(WD_CODE_CARD_REGISTER, reg), 0u);
  EXPECT_NE(reg.card.items[1].u.interrupt.intHandle, 0u);
  EXPECT_NE(reg.card.items[19].u.interrupt.intHandle, 0u);
  EXPECT_NE(reg.card.items[1].u.interrupt.intHandle, reg.card.items[19].u.interrupt.intHandle);
  ASSERT_NE(reg.card.items[2].u.mem.userAddress, 0u);
  auto* plain = WD_FROM_UPTR(uint32_t*, reg.card.items[2].u.mem.userAddress);
  plain[15] = 0x12345678;  // the whole item is mapped
  Sleep();
  EXPECT_EQ(plain[15], 0x12345678u);  // plain memory keeps what was stored
  EXPECT_EQ(sim_.mapped_windows(), 1);
  EXPECT_EQ(Send(WD_CODE_CARD_UNREGISTER, reg), 0u);
  EXPECT_EQ(sim_.mapped_windows(), 0);
}

TEST_F(FaultTest, OversizedMemoryItemIsNotMapped) {
  WdCardRegister reg{};
  reg.card.itemCount = 2;
  reg.card.items[0].kind = WD_ITEM_MEMORY;
  reg.card.items[0].u.mem.physAddress = 0xFE000000;
  reg.card.items[0].u.mem.bytes = 128;
  reg.card.items[1].kind = WD_ITEM_MEMORY;
  reg.card.items[1].u.mem.physAddress = 0x80000000;
  reg.card.items[1].u.mem.bytes = 0x80000000;
  const auto before = BytesOf(reg);
  EXPECT_EQ(Send(WD_CODE_CARD_REGISTER, reg), sim::kStatusNoMemory);
  EXPECT_EQ(BytesOf(reg), before);
  EXPECT_EQ(sim_.registrations(), 0);
  EXPECT_EQ(sim_.mapped_windows(), 0);
}

TEST_F(FaultTest, LogHoldsEveryRequestAsTheDriverLeftIt) {
  sim_.SetVersion(622);
  WdVersion v{};
  Send(WD_CODE_VERSION, v);
  Transfer(WD_WP_BYTE, 0xC001, 0x5A);
  WdTransfer read = Transfer(WD_RP_BYTE, 0xC001);
  sim_.SilenceRequests(WD_CODE_SLEEP);
  WdSleep s{500, 0};
  Send(WD_CODE_SLEEP, s);

  const auto& log = sim_.log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].code, WD_CODE_VERSION);
  EXPECT_EQ(log[0].As<WdVersion>().version, 622u);
  EXPECT_EQ(log[0].record.size(), sizeof(WdVersion));
  EXPECT_EQ(log[2].code, WD_CODE_TRANSFER);
  EXPECT_EQ(BytesOf(log[2].As<WdTransfer>()), BytesOf(read));
  EXPECT_EQ(log[2].As<WdTransfer>().data.byte, 0x5A);
  EXPECT_EQ(log[3].code, WD_CODE_SLEEP);
  EXPECT_FALSE(log[3].answered);
  EXPECT_EQ(sim_.Count(WD_CODE_TRANSFER), 2u);

  sim_.ClearLog();
  sim_.set_logging(false);
  Transfer(WD_RP_BYTE, 0xC001);
  EXPECT_TRUE(sim_.log().empty());
}

}  // namespace
