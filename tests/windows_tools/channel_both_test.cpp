// The Windows tools' device channel: an installed in-process driver gets the requests; each
// handle stays with the channel that opened it; with nothing installed the Win32 device is opened
// (not there under the test prefix, so opening fails as on a machine without the driver).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/device_channel.h"
#include "driver/hosted_driver.h"

namespace {

struct RecordingDriver : WdHostedDriver {
  bool Control(uint32_t code, void*, uint32_t, uint32_t* status) override {
    codes.push_back(code);
    *status = 0;
    return true;
  }
  std::vector<uint32_t> codes;
};

TEST(ChannelBothTest, HandlesStayWithTheChannelThatOpenedThem) {
  RecordingDriver driver;
  WdHosted_Install(&driver);
  const WdDeviceHandle device = WdChannel_Open();
  ASSERT_NE(device, WD_INVALID_HANDLE);
  EXPECT_EQ(WdHosted_OpenHandles(), 1);
  uint32_t status = 99;
  EXPECT_EQ(WdChannel_Control(device, 0x1234, nullptr, 0, &status), 1);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(driver.codes, std::vector<uint32_t>{0x1234});

  // Removed: the old handle's requests go nowhere (not to a Win32 handle of the same value).
  WdHosted_Install(nullptr);
  status = 99;
  EXPECT_EQ(WdChannel_Control(device, 0x5678, nullptr, 0, &status), 0);
  EXPECT_EQ(status, 99u);
  EXPECT_EQ(WdChannel_Open(), WD_INVALID_HANDLE);  // the Win32 device, absent here
  WdChannel_Close(device);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  WdChannel_Close(WD_INVALID_HANDLE);  // changes nothing
  EXPECT_EQ(driver.codes, std::vector<uint32_t>{0x1234});
}

}  // namespace
