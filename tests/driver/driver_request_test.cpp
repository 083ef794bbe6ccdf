// DriverRequest over the hosted channel, against small scripted drivers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver_request.h"
#include "driver/hosted_driver.h"

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

}  // namespace
