// The board API's test bench: a simulated driver with the default board (and whatever else a test
// adds), the console pointed at temporary files, and the transfers that reached the board's port
// window read back from the request log.
#ifndef ZARERERA_TESTS_BOARD_BOARD_FIXTURE_H
#define ZARERERA_TESTS_BOARD_BOARD_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/hosted_driver.h"
#include "hooks/test_hooks.h"
#include "sim/board.h"
#include "sim/pci_function.h"
#include "sim/simulator.h"
#include "support/console_files.h"
#include "zarerera.h"

namespace board_test {

// One single transfer at the port window, as the driver saw it.
struct PortAccess {
  uint32_t offset;
  uint32_t command;
  uint8_t value;          // the byte written; 0 for reads
  uint32_t delaysBefore;  // access delays the library had run when the request arrived
  bool operator==(const PortAccess&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const PortAccess& a) {
  return os << "{offset " << a.offset << ", command " << a.command << ", value "
            << static_cast<int>(a.value) << ", after delay " << a.delaysBefore << "}";
}

// Passes every request to the simulator, noting how many access delays had run by then.
class DelayStampingDriver : public WdHostedDriver {
 public:
  explicit DelayStampingDriver(sim::Simulator& simulator) : simulator_(simulator) {}
  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    stamps_.push_back(Board_AccessDelays());
    return simulator_.Control(code, record, size, status);
  }
  // One stamp for each entry of the simulator's log.
  const std::vector<uint32_t>& stamps() const { return stamps_; }
  void Clear() { stamps_.clear(); }

 private:
  sim::Simulator& simulator_;
  std::vector<uint32_t> stamps_;
};

class BoardFixture : public ::testing::Test {
 protected:
  BoardFixture() : driver_(simulator_) {
    WdHosted_Install(&driver_);
    P9050_LineBuf[0] = '\0';  // as at process start-up
  }

  ~BoardFixture() override {
    console_.reset();
    WdHosted_Install(nullptr);
  }

  // Feeds `input` to the console and collects what it prints.
  void SetConsole(const std::string& input) {
    console_ = std::make_unique<testsupport::ConsoleFiles>(input);
    ASSERT_TRUE(console_->ok());
  }

  std::string ConsoleOutput() { return console_ != nullptr ? console_->Output() : ""; }

  // Bytes of input the library has not consumed (consumed by asking).
  size_t UnreadInput() { return console_->RemainingInput().size(); }

  sim::SimBoard AddBoard(uint32_t slot, const sim::BoardConfig& base = {}) {
    sim::BoardConfig cfg = base;
    cfg.slot = slot;
    return sim::AddBoard(simulator_, cfg);
  }

  void ClearLogs() {
    simulator_.ClearLog();
    driver_.Clear();
  }

  uint32_t PortBase(uint32_t slot) {
    return simulator_.Find(0, slot, 0)->bar_address(sim::wiring::kPortsBar);
  }

  // Single transfers inside the port window of the board at `slot`, in order.
  std::vector<PortAccess> PortAccesses(uint32_t slot) {
    const uint32_t base = PortBase(slot);
    std::vector<PortAccess> out;
    const auto& log = simulator_.log();
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].code != WD_CODE_TRANSFER) continue;
      const auto t = log[i].As<WdTransfer>();
      if (t.address - base >= sim::port_window::kWindowBytes) continue;
      const bool write = t.command == WD_WP_BYTE;
      out.push_back(
          {t.address - base, t.command, write ? t.data.byte : uint8_t{0}, driver_.stamps()[i]});
    }
    return out;
  }

  sim::Simulator simulator_;
  DelayStampingDriver driver_;
  std::unique_ptr<testsupport::ConsoleFiles> console_;
};

}  // namespace board_test

#endif  // ZARERERA_TESTS_BOARD_BOARD_FIXTURE_H
