// The request log and fault injection wrapped around the sysfs driver: what the log shows, and that
// a failed or silenced request never reaches the files.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "driver/wd_records.h"
#include "driver/wd_status.h"
#include "linux/sysfs_driver.h"
#include "sim/recording_driver.h"
#include "support/fake_sysfs.h"

namespace recording_sysfs_test {

using testsupport::FakeSysfs;

class RecordingSysfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    tree_.AddFunction("0000:00:05.0", 0x10b5, 0x9050, {{0xc080, 128, FakeSysfs::kIo}}, 10);
  }
  template <class T>
  bool Send(uint32_t code, T* record, uint32_t* status) {
    return recorder_.Control(code, record, sizeof *record, status);
  }
  WdCardRegister IoCard() {
    WdCardRegister reg{};
    reg.card.itemCount = 1;
    reg.card.items[0].kind = WD_ITEM_IO;
    reg.card.items[0].u.io.port = 0xc080;
    reg.card.items[0].u.io.bytes = 128;
    return reg;
  }

  FakeSysfs tree_;
  sysfs::SysfsDriver driver_{tree_.root()};
  sim::RecordingDriver recorder_{driver_};
};

TEST_F(RecordingSysfsTest, LogKeepsEachRequestAsTheDriverLeftIt) {
  WdPciScan scan{};
  uint32_t status = WD_STATUS_NONE;
  ASSERT_TRUE(Send(WD_CODE_PCI_SCAN, &scan, &status));
  EXPECT_EQ(status, 0u);
  uint8_t junk[8] = {};
  ASSERT_TRUE(recorder_.Control(0x1234, junk, sizeof junk, &status));
  EXPECT_EQ(status, WD_STATUS_UNKNOWN_REQUEST);

  ASSERT_EQ(recorder_.log().size(), 2u);
  const sim::LoggedRequest& first = recorder_.log()[0];
  EXPECT_EQ(first.code, WD_CODE_PCI_SCAN);
  EXPECT_TRUE(first.answered);
  EXPECT_EQ(first.status, 0u);
  EXPECT_EQ(first.record.size(), sizeof(WdPciScan));
  EXPECT_EQ(first.As<WdPciScan>().cardCount, 1u);
  EXPECT_EQ(first.As<WdPciScan>().slots[0].slot, 5u);
  EXPECT_EQ(recorder_.log()[1].status, WD_STATUS_UNKNOWN_REQUEST);
  EXPECT_EQ(recorder_.Count(WD_CODE_PCI_SCAN), 1u);
}

// A failed registration answers with its status and opens nothing; the driver never saw it.
TEST_F(RecordingSysfsTest, FailedRequestNeverReachesTheDriver) {
  recorder_.FailRequests(WD_CODE_CARD_REGISTER, WD_STATUS_RESOURCE_BUSY);
  WdCardRegister reg = IoCard();
  const WdCardRegister before = reg;
  uint32_t status = 0;
  ASSERT_TRUE(Send(WD_CODE_CARD_REGISTER, &reg, &status));
  EXPECT_EQ(status, WD_STATUS_RESOURCE_BUSY);
  EXPECT_EQ(std::memcmp(&reg, &before, sizeof reg), 0);
  EXPECT_EQ(driver_.registrations(), 0);
  EXPECT_EQ(driver_.open_files(), 0);
  EXPECT_EQ(driver_.LastError(), "");
  ASSERT_EQ(recorder_.log().size(), 1u);
  EXPECT_EQ(recorder_.log()[0].status, WD_STATUS_RESOURCE_BUSY);

  recorder_.ClearFaults();
  ASSERT_TRUE(Send(WD_CODE_CARD_REGISTER, &reg, &status));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(driver_.open_files(), 1);
  ASSERT_TRUE(Send(WD_CODE_CARD_UNREGISTER, &reg, &status));
  EXPECT_EQ(driver_.registrations(), 0);
}

TEST_F(RecordingSysfsTest, SilencedRequestIsNotAnsweredAndLoggedSo) {
  recorder_.SilenceRequests(WD_CODE_VERSION);
  WdVersion version{};
  uint32_t status = 0x5A5A5A5Au;
  EXPECT_FALSE(Send(WD_CODE_VERSION, &version, &status));
  EXPECT_EQ(status, 0x5A5A5A5Au);
  EXPECT_EQ(version.version, 0u);
  ASSERT_EQ(recorder_.log().size(), 1u);
  EXPECT_FALSE(recorder_.log()[0].answered);
  EXPECT_EQ(recorder_.log()[0].status, WD_STATUS_NONE);
}

TEST_F(RecordingSysfsTest, CapacityKeepsTheLatestRequests) {
  recorder_.set_log_capacity(2);
  for (uint32_t microseconds : {1u, 2u, 3u}) {
    WdSleep sleep{microseconds, 0};
    uint32_t status = 1;
    ASSERT_TRUE(Send(WD_CODE_SLEEP, &sleep, &status));
  }
  ASSERT_EQ(recorder_.log().size(), 2u);
  EXPECT_EQ(recorder_.log()[0].As<WdSleep>().microseconds, 2u);
  EXPECT_EQ(recorder_.log()[1].As<WdSleep>().microseconds, 3u);
}

// Requests from several threads each land in the log once.
TEST_F(RecordingSysfsTest, RequestsFromThreadsAreEachLogged) {
  constexpr int kPerThread = 50;
  auto send = [this] {
    for (int i = 0; i < kPerThread; ++i) {
      WdVersion version{};
      uint32_t status = 1;
      EXPECT_TRUE(Send(WD_CODE_VERSION, &version, &status));
      EXPECT_EQ(version.version, sysfs::kVersion);
    }
  };
  std::thread a(send);
  std::thread b(send);
  a.join();
  b.join();
  EXPECT_EQ(recorder_.Count(WD_CODE_VERSION), 2u * kPerThread);
}

}  // namespace recording_sysfs_test
