// The common requests as the simulated driver receives them: which requests, their records' fields
// (the rest zeroed), and what comes back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver_calls.h"
#include "driver/hosted_driver.h"
#include "sim/simulator.h"

namespace driver_calls_test {

const WdPciSlot kSlot{0, 7, 1};

class DriverCallsTest : public ::testing::Test {
 protected:
  DriverCallsTest() {
    sim::FunctionConfig cfg;
    cfg.vendor_id = 0x10B5;
    cfg.device_id = 0x9050;
    cfg.irq = 11;
    cfg.interrupt_pin = 1;
    cfg.bars[0] = {sim::BarKind::kMemory, 128};
    sim_.AddFunction(kSlot.bus, kSlot.slot, kSlot.function, cfg);
    WdHosted_Install(&sim_);
  }
  ~DriverCallsTest() override {
    WdHosted_Install(nullptr);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }
  // The only request logged, as a T.
  template <class T>
  T Only(uint32_t code) {
    EXPECT_EQ(sim_.log().size(), 1u);
    if (sim_.log().empty()) return T{};
    EXPECT_EQ(sim_.log()[0].code, code);
    EXPECT_EQ(sim_.log()[0].record.size(), sizeof(T));
    return sim_.log()[0].As<T>();
  }
  sim::Simulator sim_;
};

TEST_F(DriverCallsTest, OpenWithVersionSendsOneVersionRequestAndLeavesTheHandleOpen) {
  WdVersion version;
  std::memset(&version, 0xEE, sizeof version);
  uint32_t status = 1;
  WdDeviceHandle device = WdDriver_OpenWithVersion(&version, &status);
  ASSERT_NE(device, WD_INVALID_HANDLE);
  EXPECT_EQ(WdHosted_OpenHandles(), 1);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(version.version, sim::kDefaultVersion);
  EXPECT_EQ(Only<WdVersion>(WD_CODE_VERSION).version, sim::kDefaultVersion);
  WdChannel_Close(device);
}

// The caller sees the failure as the driver gave it: the status, and a record zeroed before it was
// sent (so a refused request reads as version 0).
TEST_F(DriverCallsTest, OpenWithVersionReportsAFailedOrUnansweredVersion) {
  for (const bool silent : {false, true}) {
    sim_.ClearFaults();
    sim_.ClearLog();
    if (silent) {
      sim_.SilenceRequests(WD_CODE_VERSION);
    } else {
      sim_.FailRequests(WD_CODE_VERSION, WD_STATUS_NO_SUCH_CARD);
    }
    WdVersion version;
    std::memset(&version, 0xEE, sizeof version);
    uint32_t status = 0;
    WdDeviceHandle device = WdDriver_OpenWithVersion(&version, &status);
    ASSERT_NE(device, WD_INVALID_HANDLE);
    EXPECT_EQ(status, silent ? WD_STATUS_NONE : WD_STATUS_NO_SUCH_CARD);
    EXPECT_EQ(version.version, 0u);
    EXPECT_FALSE(WdDriver_VersionAccepted(&version));
    EXPECT_EQ(Only<WdVersion>(WD_CODE_VERSION).version, 0u);
    WdChannel_Close(device);
  }
}

TEST_F(DriverCallsTest, OpenWithVersionWithoutADriverSendsNothing) {
  WdHosted_Install(nullptr);
  WdVersion version;
  std::memset(&version, 0xEE, sizeof version);
  uint32_t status = 0;
  EXPECT_EQ(WdDriver_OpenWithVersion(&version, &status), WD_INVALID_HANDLE);
  EXPECT_EQ(status, WD_STATUS_NONE);
  EXPECT_EQ(version.version, 0u);
  EXPECT_EQ(WdDriver_OpenWithVersion(&version, nullptr), WD_INVALID_HANDLE);  // status optional
  EXPECT_TRUE(sim_.log().empty());
}

TEST_F(DriverCallsTest, VersionIsAcceptedFromSixTwentyTwo) {
  for (const uint32_t v : {0u, 621u, 622u, 1000u}) {
    WdVersion version{};
    version.version = v;
    EXPECT_EQ(WdDriver_VersionAccepted(&version) != 0, v >= 622u) << v;
  }
}

TEST_F(DriverCallsTest, ScanSendsTheIdsOnAZeroedRecord) {
  WdDeviceHandle device = WdChannel_Open();
  WdPciScan scan;
  std::memset(&scan, 0xEE, sizeof scan);
  sim_.SilenceRequests(WD_CODE_PCI_SCAN);
  EXPECT_EQ(WdDriver_Scan(device, 0x10B5, 0x9050, &scan), WD_STATUS_NONE);
  WdPciScan expected;
  std::memset(&expected, 0, sizeof expected);
  expected.vendorId = 0x10B5;
  expected.deviceId = 0x9050;
  const WdPciScan sent = Only<WdPciScan>(WD_CODE_PCI_SCAN);
  EXPECT_EQ(std::memcmp(&sent, &expected, sizeof expected), 0);
  EXPECT_EQ(std::memcmp(&scan, &expected, sizeof expected), 0);

  sim_.ClearFaults();
  EXPECT_EQ(WdDriver_Scan(device, 0, 0, &scan), 0u);
  ASSERT_EQ(WdDriver_ScanCount(&scan), 1u);
  EXPECT_EQ(std::memcmp(&scan.slots[0], &kSlot, sizeof kSlot), 0);
  EXPECT_EQ(scan.ids[0].deviceId, 0x9050u);
  WdChannel_Close(device);
}

TEST_F(DriverCallsTest, CountsAreClampedToTheRecordsRoom) {
  struct Case {
    uint32_t reported;
    uint32_t cards;
    uint32_t items;
  };
  for (const Case c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{20, 20, 20}, Case{21, 21, 20},
                       Case{100, 100, 20}, Case{101, 100, 20}, Case{0xFFFFFFFFu, 100, 20}}) {
    WdPciScan scan{};
    scan.cardCount = c.reported;
    WdCard card{};
    card.itemCount = c.reported;
    EXPECT_EQ(WdDriver_ScanCount(&scan), c.cards) << c.reported;
    EXPECT_EQ(WdDriver_ItemCount(&card), c.items) << c.reported;
  }
}

TEST_F(DriverCallsTest, CardInfoNamesTheSlotAndReadsTheItems) {
  WdDeviceHandle device = WdChannel_Open();
  WdPciCardInfo info;
  std::memset(&info, 0xEE, sizeof info);
  EXPECT_EQ(WdDriver_CardInfo(device, kSlot, &info), 0u);
  EXPECT_EQ(std::memcmp(&info.pciSlot, &kSlot, sizeof kSlot), 0);
  ASSERT_EQ(WdDriver_ItemCount(&info.card), 2u);  // BAR0 and the interrupt
  EXPECT_EQ(info.card.items[0].kind, static_cast<uint32_t>(WD_ITEM_MEMORY));
  EXPECT_EQ(info.card.items[1].u.interrupt.irq, 11u);

  sim_.ClearLog();
  sim_.SilenceRequests(WD_CODE_PCI_CARD_INFO);
  std::memset(&info, 0xEE, sizeof info);
  (void)WdDriver_CardInfo(device, kSlot, &info);
  WdPciCardInfo expected;
  std::memset(&expected, 0, sizeof expected);
  expected.pciSlot = kSlot;
  EXPECT_EQ(std::memcmp(&info, &expected, sizeof expected), 0);
  const WdPciCardInfo sent = Only<WdPciCardInfo>(WD_CODE_PCI_CARD_INFO);
  EXPECT_EQ(std::memcmp(&sent, &expected, sizeof expected), 0);
  WdChannel_Close(device);
}

// Each field of the configuration record on the wire, for a read and for a write, and the bytes
// that reach the function's configuration space.
TEST_F(DriverCallsTest, ConfigRecordCarriesSlotOffsetWidthDirectionAndBuffer) {
  WdDeviceHandle device = WdChannel_Open();
  uint32_t value = 0xEEEEEEEEu;
  EXPECT_EQ(WdDriver_Config(device, kSlot, 0x00, &value, 2, 1), 0u);
  EXPECT_EQ(value, 0xEEEE10B5u);  // two bytes read, the rest untouched
  WdPciConfigDump read = Only<WdPciConfigDump>(WD_CODE_PCI_CONFIG);
  EXPECT_EQ(std::memcmp(&read.pciSlot, &kSlot, sizeof kSlot), 0);
  const WdUPtr buffer = read.buffer;  // a packed field: compared by value
  EXPECT_EQ(buffer, WD_TO_UPTR(&value));
  EXPECT_EQ(read.offset, 0u);
  EXPECT_EQ(read.bytes, 2u);
  EXPECT_EQ(read.isRead, 1u);
  EXPECT_EQ(read.result, 0u);

  sim_.ClearLog();
  uint32_t line = 0x0000AB05u;
  EXPECT_EQ(WdDriver_Config(device, kSlot, 0x3C, &line, 1, 0), 0u);
  const WdPciConfigDump write = Only<WdPciConfigDump>(WD_CODE_PCI_CONFIG);
  EXPECT_EQ(write.offset, 0x3Cu);
  EXPECT_EQ(write.bytes, 1u);
  EXPECT_EQ(write.isRead, 0u);
  EXPECT_EQ(sim_.Find(kSlot)->ConfigRead(0x3C, 2), 0x0105u);  // one byte written: the pin stays
  WdChannel_Close(device);
}

}  // namespace driver_calls_test
