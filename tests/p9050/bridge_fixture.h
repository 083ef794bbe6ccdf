// A simulated bus with PLX 9050 cards installed as the process's driver, for the bridge library's
// tests. Every test ends with no device handle open and no registration left.
#ifndef ZARERERA_TESTS_P9050_BRIDGE_FIXTURE_H
#define ZARERERA_TESTS_P9050_BRIDGE_FIXTURE_H

#include <gtest/gtest.h>

#include <vector>

#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"
#include "support/bus_fixture.h"

namespace bridge_test {

using testsupport::kDevice;
using testsupport::kVendor;

class BridgeFixture : public testsupport::BusFixture {
 protected:
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
};

}  // namespace bridge_test

#endif  // ZARERERA_TESTS_P9050_BRIDGE_FIXTURE_H
