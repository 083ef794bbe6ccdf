// DriverRequest over the hosted channel, against small scripted drivers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver_request.h"
#include "driver/hosted_driver.h"
#include "sim/simulator.h"
#include "support/param_name.h"

namespace {

// Answers every request with a fixed status, or leaves the status untouched; records the codes.
class ScriptedDriver : public WdHostedDriver {
 public:
  explicit ScriptedDriver(bool answer, uint32_t status = 0) : answer_(answer), status_(status) {}
  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    codes.push_back(code);
    (void)record;
    (void)size;
    if (!answer_) return false;
    *status = status_;
    return true;
  }
  std::vector<uint32_t> codes;

 private:
  bool answer_;
  uint32_t status_;
};

class DriverRequestTest : public ::testing::Test {
 protected:
  void TearDown() override {
    WdHosted_Install(nullptr);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }
};

TEST_F(DriverRequestTest, InvalidHandleSendsNothing) {
  ScriptedDriver driver(true);
  WdHosted_Install(&driver);
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, WD_INVALID_HANDLE, &rec, sizeof rec, 0), WD_STATUS_NONE);
  EXPECT_TRUE(driver.codes.empty());
}

TEST_F(DriverRequestTest, SilentDriverLeavesPresetStatusAndZeroedRecord) {
  ScriptedDriver driver(false);
  WdHosted_Install(&driver);
  WdVersion rec;
  std::memset(&rec, 0, sizeof rec);
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, nullptr, &rec, sizeof rec, 1), WD_STATUS_NONE);
  EXPECT_EQ(rec.version, 0u);
  ASSERT_EQ(driver.codes.size(), 1u);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);  // the own handle is closed again
}

TEST_F(DriverRequestTest, OwnHandleFailsWithoutDriver) {
  WdVersion rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, nullptr, &rec, sizeof rec, 1), WD_STATUS_NONE);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

TEST_F(DriverRequestTest, StatusIsReturnedAsWritten) {
  ScriptedDriver driver(true, 0x2000000Fu);
  WdHosted_Install(&driver);
  WdDeviceHandle h = WdChannel_Open();
  ASSERT_NE(h, WD_INVALID_HANDLE);
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, h, &rec, sizeof rec, 0), 0x2000000Fu);
  WdChannel_Close(h);
}

// A driver that writes the status but reports failure of the call itself: DriverRequest must go by
// the status word, not by the system's success flag.
class WritesButFails : public WdHostedDriver {
 public:
  bool Control(uint32_t, void*, uint32_t, uint32_t* status) override {
    *status = 0;
    return false;
  }
};

TEST_F(DriverRequestTest, SystemSuccessFlagIsNotLookedAt) {
  WritesButFails driver;
  WdHosted_Install(&driver);
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, nullptr, &rec, sizeof rec, 1), 0u);
}

class StatusPassThroughTest : public DriverRequestTest,
                              public ::testing::WithParamInterface<uint32_t> {};

TEST_P(StatusPassThroughTest, ReturnsTheDriversStatusUnchanged) {
  ScriptedDriver driver(true, GetParam());
  WdHosted_Install(&driver);
  WdTransfer rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_TRANSFER, nullptr, &rec, sizeof rec, 1), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusPassThroughTest,
                         ::testing::Values(0u, 1u, 0x20000001u, 0x7FFFFFFFu, 0xFFFFFFFEu,
                                           0xFFFFFFFFu),
                         testsupport::ByHex());

struct CodeSize {
  const char* name;
  uint32_t code;
  uint32_t size;
};

void PrintTo(const CodeSize& c, std::ostream* os) {
  *os << c.name;
}

class SilentSimTest : public DriverRequestTest, public ::testing::WithParamInterface<CodeSize> {};

// Every record is zeroed before it is sent; a driver that answers nothing leaves every result
// field 0 and the status at its preset.
TEST_P(SilentSimTest, ZeroedRecordComesBackZeroWithPresetStatus) {
  sim::Simulator simulator;
  simulator.SilenceRequests(GetParam().code);
  WdHosted_Install(&simulator);
  std::vector<uint8_t> record(GetParam().size, 0);
  EXPECT_EQ(DriverRequest(GetParam().code, nullptr, record.data(), GetParam().size, 1),
            WD_STATUS_NONE);
  EXPECT_EQ(record, std::vector<uint8_t>(GetParam().size, 0));
  ASSERT_EQ(simulator.log().size(), 1u);  // it was sent, and arrived
  EXPECT_EQ(simulator.log()[0].code, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SilentSimTest,
    ::testing::Values(CodeSize{"Version", WD_CODE_VERSION, sizeof(WdVersion)},
                      CodeSize{"PciScan", WD_CODE_PCI_SCAN, sizeof(WdPciScan)},
                      CodeSize{"PciCardInfo", WD_CODE_PCI_CARD_INFO, sizeof(WdPciCardInfo)},
                      CodeSize{"CardRegister", WD_CODE_CARD_REGISTER, sizeof(WdCardRegister)},
                      CodeSize{"CardUnregister", WD_CODE_CARD_UNREGISTER, sizeof(WdCardRegister)},
                      CodeSize{"PciConfig", WD_CODE_PCI_CONFIG, sizeof(WdPciConfigDump)},
                      CodeSize{"Transfer", WD_CODE_TRANSFER, sizeof(WdTransfer)},
                      CodeSize{"Sleep", WD_CODE_SLEEP, sizeof(WdSleep)}),
    testsupport::ByNameMember());

TEST_F(DriverRequestTest, VersionRuleAcceptsFromSixTwentyTwo) {
  // The simulated driver reports what it is told; the threshold sits between 621 and 622.
  sim::Simulator simulator;
  WdHosted_Install(&simulator);
  for (uint32_t version : {621u, 622u}) {
    simulator.SetVersion(version);
    WdVersion rec{};
    ASSERT_EQ(DriverRequest(WD_CODE_VERSION, nullptr, &rec, sizeof rec, 1), 0u);
    EXPECT_EQ(rec.version >= WD_MIN_VERSION, version == 622u);
  }
}

TEST_F(DriverRequestTest, HandlesThatAreNotOpenDeliverNothing) {
  ScriptedDriver driver(true);
  WdHosted_Install(&driver);
  WdDeviceHandle closed = WdChannel_Open();
  WdChannel_Close(closed);
  WdChannel_Close(closed);  // closing twice does not unbalance the count
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  WdDeviceHandle open = WdChannel_Open();
  for (WdDeviceHandle h :
       {closed, static_cast<WdDeviceHandle>(nullptr),
        reinterpret_cast<WdDeviceHandle>(uintptr_t{1}),
        reinterpret_cast<WdDeviceHandle>(reinterpret_cast<uintptr_t>(open) + 1),
        reinterpret_cast<WdDeviceHandle>(reinterpret_cast<uintptr_t>(open) + 4),
        reinterpret_cast<WdDeviceHandle>(reinterpret_cast<uintptr_t>(open) + 4 * 1024)}) {
    WdSleep rec{7, 0};
    EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, h, &rec, sizeof rec, 0), WD_STATUS_NONE);
    EXPECT_EQ(rec.microseconds, 7u);
  }
  EXPECT_TRUE(driver.codes.empty());
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, open, &rec, sizeof rec, 0), 0u);
  EXPECT_EQ(driver.codes.size(), 1u);
  WdChannel_Close(open);
}

TEST_F(DriverRequestTest, RequestAfterTheDriverIsRemovedIsNotDelivered) {
  ScriptedDriver driver(true);
  WdHosted_Install(&driver);
  WdDeviceHandle h = WdChannel_Open();
  WdHosted_Install(nullptr);
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, h, &rec, sizeof rec, 0), WD_STATUS_NONE);
  EXPECT_TRUE(driver.codes.empty());
  EXPECT_EQ(WdChannel_Open(), WD_INVALID_HANDLE);
  EXPECT_EQ(WdHosted_OpenHandles(), 1);  // still open until its owner closes it
  WdChannel_Close(h);
}

TEST_F(DriverRequestTest, OwnHandleIgnoresTheGivenHandleAndClosesAgain) {
  ScriptedDriver driver(true, 0);
  WdHosted_Install(&driver);
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, WD_INVALID_HANDLE, &rec, sizeof rec, 1), 0u);
  EXPECT_EQ(driver.codes.size(), 1u);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

// A handle that just carried a request is remembered by its thread: closing it, or installing
// another driver, must still take effect at that thread's very next request.
TEST_F(DriverRequestTest, TheNextRequestSeesACloseOrANewDriver) {
  ScriptedDriver first(true, 0);
  ScriptedDriver second(true, 7);
  WdHosted_Install(&first);
  WdDeviceHandle h = WdChannel_Open();
  WdSleep rec{};
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, h, &rec, sizeof rec, 0), 0u);
  WdHosted_Install(&second);
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, h, &rec, sizeof rec, 0), 7u);
  WdChannel_Close(h);
  EXPECT_EQ(DriverRequest(WD_CODE_SLEEP, h, &rec, sizeof rec, 0), WD_STATUS_NONE);
  EXPECT_EQ(first.codes.size(), 1u);
  EXPECT_EQ(second.codes.size(), 1u);
}

TEST_F(DriverRequestTest, ManyOpenHandlesAreEachDeliveredAndCounted) {
  ScriptedDriver driver(true, 0);
  WdHosted_Install(&driver);
  std::vector<WdDeviceHandle> handles;
  for (int i = 0; i < 2500; ++i) handles.push_back(WdChannel_Open());
  EXPECT_EQ(WdHosted_OpenHandles(), 2500);
  // Close every other one, then every handle must still answer exactly as its state says.
  for (size_t i = 0; i < handles.size(); i += 2) WdChannel_Close(handles[i]);
  EXPECT_EQ(WdHosted_OpenHandles(), 1250);
  for (size_t i = 0; i < handles.size(); ++i) {
    WdSleep rec{};
    const uint32_t expected = i % 2 == 0 ? WD_STATUS_NONE : 0u;
    ASSERT_EQ(DriverRequest(WD_CODE_SLEEP, handles[i], &rec, sizeof rec, 0), expected) << i;
  }
  EXPECT_EQ(driver.codes.size(), 1250u);
  for (size_t i = 1; i < handles.size(); i += 2) WdChannel_Close(handles[i]);
}

}  // namespace
