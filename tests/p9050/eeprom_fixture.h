// A simulated PLX 9050 card with a 93C46 on its CNTRL pins, opened through the bridge library,
// and helpers that read back what reached the bridge: CNTRL writes in order and the Microwire
// bits they put on the wire.
#ifndef ZARERERA_TESTS_P9050_EEPROM_FIXTURE_H
#define ZARERERA_TESTS_P9050_EEPROM_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_request.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"

namespace eepromtest {

constexpr uint32_t kSelect = P9050_CNTRL_EE_SELECT;
constexpr uint32_t kClock = P9050_CNTRL_EE_CLOCK;
constexpr uint32_t kDataIn = P9050_CNTRL_EE_DATA_IN;

class EepromCard : public ::testing::Test {
 protected:
  // Puts a 9050 card on the bus (space 0 memory or I/O), with or without an EEPROM, and opens it.
  void Open(sim::BarKind bar0 = sim::BarKind::kMemory, bool with_eeprom = true) {
    install_ = std::make_unique<sim::ScopedInstall>(sim_);
    sim::Plx9050Config cfg;
    cfg.bars[0] = {bar0, sim::plx9050::kRegisterBlockSize};
    bridge_ = &sim::AddPlx9050(sim_, 0, 3, 0, cfg);
    if (with_eeprom) {
      eeprom_ = std::make_shared<sim::Eeprom93C46>(sim_.clock(), sim::DefaultEepromImage());
      for (unsigned i = 0; i < sim::Eeprom93C46::kWords; ++i) {
        image_[i] = static_cast<uint16_t>(0xA000 + i * 0x0111);
      }
      eeprom_->set_image(image_);
      bridge_->AttachEeprom(eeprom_);
    }
    ASSERT_TRUE(P9050_Open(&handle_, 0x9050, 0x10B5, 0, 0)) << P9050_ErrorText;
    ASSERT_NE(handle_, nullptr);
    snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "untouched");
    sim_.ClearLog();
    bridge_->ClearRegisterWrites();
  }

  void TearDown() override {
    if (handle_ != nullptr) P9050_Close(handle_);
    install_.reset();
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }

  // A memory window's stores reach the model, and the model's changes (Poke, pins) the window, at
  // the next request: this sends a harmless one.
  void Sync() {
    WdVersion version;
    std::memset(&version, 0, sizeof version);
    DriverRequest(WD_CODE_VERSION, handle_->device, &version, sizeof version, 0);
  }

  // Values written to CNTRL, in order. Through a memory window the model sees only stores that
  // change the dword; through I/O it sees every write.
  std::vector<uint32_t> CntrlWrites() const {
    std::vector<uint32_t> out;
    for (const auto& w : bridge_->register_writes()) {
      if (w.offset == P9050_CNTRL) out.push_back(w.value);
    }
    return out;
  }

  // The wire as the EEPROM sees it: '[' chip select rising, ']' falling, and the data-in level at
  // every rising clock edge while selected.
  std::string Wire() const {
    std::string out;
    uint32_t last = 0;
    for (uint32_t v : CntrlWrites()) {
      if ((v & kSelect) && !(last & kSelect)) out += '[';
      if (!(v & kSelect) && (last & kSelect)) out += ']';
      if ((v & kSelect) && (v & kClock) && !(last & kClock)) out += (v & kDataIn) ? '1' : '0';
      last = v;
    }
    return out;
  }

  sim::Simulator sim_;
  std::unique_ptr<sim::ScopedInstall> install_;
  sim::Plx9050* bridge_ = nullptr;
  std::shared_ptr<sim::Eeprom93C46> eeprom_;
  sim::Eeprom93C46::Image image_{};
  P9050_Handle* handle_ = nullptr;
};

}  // namespace eepromtest

#endif  // ZARERERA_TESTS_P9050_EEPROM_FIXTURE_H
