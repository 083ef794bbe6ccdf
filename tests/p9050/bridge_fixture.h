// A simulated bus with PLX 9050 cards installed as the process's driver, for the bridge library's
// tests. Every test ends with no device handle open and no registration left.
#ifndef ZARERERA_TESTS_P9050_BRIDGE_FIXTURE_H
#define ZARERERA_TESTS_P9050_BRIDGE_FIXTURE_H

#include <gtest/gtest.h>

#include <vector>

#include "driver/hosted_driver.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"

namespace bridge_test {

constexpr uint32_t kVendor = 0x9050;
constexpr uint32_t kDevice = 0x10B5;

class BridgeFixture {
 protected:
  ~BridgeFixture() {
    for (P9050_Handle* h : handles_) P9050_Close(h);
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
    EXPECT_EQ(simulator_.registrations(), 0);
  }

  // Opens card `index`; the handle is closed when the test ends.
  P9050_Handle* Open(uint32_t index = 0, uint32_t options = 0) {
    P9050_Handle* h = nullptr;
    EXPECT_TRUE(P9050_Open(&h, kVendor, kDevice, index, options)) << P9050_ErrorText;
    if (h != nullptr) handles_.push_back(h);
    return h;
  }

  void Close(P9050_Handle* h) {
    std::erase(handles_, h);
    P9050_Close(h);
  }

  // The transfer requests logged so far, as the driver left them.
  std::vector<WdTransfer> Transfers() const {
    std::vector<WdTransfer> out;
    for (const auto& r : simulator_.log()) {
      if (r.code == WD_CODE_TRANSFER) out.push_back(r.As<WdTransfer>());
    }
    return out;
  }

  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> out;
    for (const auto& r : simulator_.log()) out.push_back(r.code);
    return out;
  }

  sim::Simulator simulator_;
  sim::ScopedInstall install_{simulator_};
  std::vector<P9050_Handle*> handles_;
};

}  // namespace bridge_test

#endif  // ZARERERA_TESTS_P9050_BRIDGE_FIXTURE_H
