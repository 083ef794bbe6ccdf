// Which driver a process talks to. The sysfs driver is linked into this program, yet with nothing
// installed the library finds no driver: only the shared library for applications falls back on
// the real bus (tests/linux/shared_library_on_sysfs.sh proves that side).
#include <gtest/gtest.h>

#include <string>

#include "driver/device_channel.h"
#include "driver/driver_request.h"
#include "driver/hosted_driver.h"
#include "p9050_lib.h"
#include "zarerera.h"

namespace {

TEST(SelectionTest, WithNothingInstalledATestReachesNoDriver) {
  WdHosted_Install(nullptr);
  EXPECT_EQ(WdChannel_Open(), WD_INVALID_HANDLE);
  EXPECT_EQ(P9050_CountCards(0, 0), 0u);
  EXPECT_STREQ(P9050_ErrorText, "Failed opening WinDriver device\n");
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  WdVersion v{};
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, WD_INVALID_HANDLE, &v, sizeof v, 1), WD_STATUS_NONE);
  EXPECT_EQ(v.version, 0u);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

class CountingDriver : public WdHostedDriver {
 public:
  bool Control(uint32_t code, void* record, uint32_t, uint32_t* status) override {
    if (code == WD_CODE_VERSION) static_cast<WdVersion*>(record)->version = 1234;
    ++requests;
    *status = 0;
    return true;
  }
  int requests = 0;
};

CountingDriver g_fallback;
int g_made = 0;
WdHostedDriver* MakeFallback() {
  ++g_made;
  return &g_fallback;
}

TEST(SelectionTest, TheFallbackServesOnlyWhileNothingIsInstalled) {
  CountingDriver installed;
  WdHosted_SetFallback(&MakeFallback);
  WdHosted_Install(&installed);
  WdVersion v{};
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, nullptr, &v, sizeof v, 1), 0u);
  EXPECT_EQ(installed.requests, 1) << "an installed driver wins";
  EXPECT_EQ(g_made, 0);

  WdHosted_Install(nullptr);
  EXPECT_EQ(DriverRequest(WD_CODE_VERSION, nullptr, &v, sizeof v, 1), 0u);
  EXPECT_EQ(v.version, 1234u);
  EXPECT_EQ(g_made, 1);
  EXPECT_EQ(g_fallback.requests, 1);

  WdHosted_SetFallback(nullptr);
  WdHosted_Install(nullptr);
  EXPECT_EQ(WdChannel_Open(), WD_INVALID_HANDLE) << "without a fallback, nothing again";
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

}  // namespace
