// A simulated bus installed as the process's driver, with the bridge handles a test opens closed
// when it ends and a check that nothing outlived it: no device handle open, no card registered.
#ifndef ZARERERA_TESTS_SUPPORT_BUS_FIXTURE_H
#define ZARERERA_TESTS_SUPPORT_BUS_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/board_ids.h"
#include "driver/hosted_driver.h"
#include "p9050_lib.h"
#include "sim/simulator.h"

namespace testsupport {

constexpr uint32_t kVendor = product_ids::kVendorId;
constexpr uint32_t kDevice = product_ids::kDeviceId;

// Fails the test when a device handle or a card registration is left.
inline void ExpectNothingLeft(const sim::Simulator& simulator) {
  EXPECT_EQ(WdHosted_OpenHandles(), 0) << "a device handle leaked";
  EXPECT_EQ(simulator.registrations(), 0) << "a card registration leaked";
}

class BusFixture {
 protected:
  ~BusFixture() {
    for (P9050_Handle* h : handles_) P9050_Close(h);
    handles_.clear();
    ExpectNothingLeft(simulator_);
  }

  // Opens card `index` with the board's IDs; the handle is closed when the test ends.
  P9050_Handle* Open(uint32_t index = 0, uint32_t options = 0) {
    P9050_Handle* h = nullptr;
    EXPECT_TRUE(P9050_Open(&h, kVendor, kDevice, index, options)) << P9050_ErrorText;
    Adopt(h);
    return h;
  }

  // Takes over a handle the code under test opened.
  void Adopt(P9050_Handle* h) {
    if (h != nullptr) handles_.push_back(h);
  }

  void Close(P9050_Handle* h) {
    std::erase(handles_, h);
    P9050_Close(h);
  }

  sim::Simulator simulator_;
  sim::ScopedInstall install_{simulator_};
  std::vector<P9050_Handle*> handles_;
};

}  // namespace testsupport

#endif  // ZARERERA_TESTS_SUPPORT_BUS_FIXTURE_H
