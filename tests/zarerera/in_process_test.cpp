// The commands called in-process on a session of the simulated machine, where a test can set the
// board up beforehand and look at it afterwards: three counters with three different counts are
// read back as three different values, each in its place, and a watch of interrupts leaves the
// interrupt disabled when it returns, before the board is closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver/driver_request.h"
#include "p9050_lib.h"
#include "support/console_files.h"
#include "zarerera.h"
#include "zarerera/commands.h"
#include "zarerera/errors.h"

namespace {

// Standard output into a file while the object lives; Text() is what was printed.
class CapturedOutput {
 public:
  CapturedOutput() : file_("captured") {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int fd = open(file_.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
  ~CapturedOutput() { Restore(); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string Text() {
    Restore();
    return file_.Read();
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }
  testsupport::TempFile file_;
  int saved_ = -1;
};

zcmd::Config SimConfig() {
  zcmd::Config config;
  config.driver = zcmd::Driver::kSim;
  config.sim.options.realTime = false;
  return config;
}

// Each counter of group 1 gets its own count (mode 0, low byte then high byte), in virtual time:
// the command prints each count in its counter's place.
TEST(InProcessTest, ThreeCountsReadBackInTheirPlaces) {
  zcmd::Config config = SimConfig();
  config.group = 1;
  zcmd::Session session(config);
  P9050_Handle* board = session.Board();
  const uint32_t counts[3] = {0x1234, 0x5678, 0x9abc};
  for (uint32_t i = 0; i < 3; ++i) {
    tamrelwrite(board, 0, 4 * 1 + 3, 0x30 | (i << 6));  // counter i: low, high; mode 0
    tamrelwrite(board, 0, 4 * 1 + i, counts[i] & 0xFF);
    tamrelwrite(board, 0, 4 * 1 + i, counts[i] >> 8);
  }
  // One pulse of the counters' 1 MHz clock loads the counts; none is counted down yet.
  const WdDeviceHandle device = session.OpenDevice();
  WdSleep pulse{1, 0};
  ASSERT_EQ(DriverRequest(WD_CODE_SLEEP, device, &pulse, sizeof pulse, 0), 0u);
  WdChannel_Close(device);
  CapturedOutput out;
  EXPECT_EQ(zcmd::RunCounters(session, config), zcmd::kExitOk);
  EXPECT_EQ(out.Text(), "4660 22136 39612\n");
  session.Finish();
}

// The watch disables what it enabled on every way out: when it returns, nothing is serviced any
// more and INTCSR's PCI interrupt enable is clear, while the board is still open.
TEST(InProcessTest, WatchOfInterruptsDisablesThemAtItsEnd) {
  zcmd::Config config = SimConfig();
  config.sim.irqEveryMs = 2;
  config.irq = true;
  config.count = 2;
  zcmd::Session session(config);
  P9050_Handle* board = session.Board();
  CapturedOutput out;
  EXPECT_EQ(zcmd::RunWatch(session, config), zcmd::kExitOk);
  const std::string text = out.Text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_FALSE(P9050_IntIsEnabled(board));
  EXPECT_EQ(P9050_ReadReg(board, P9050_INTCSR) & P9050_INTCSR_PCI_INT_ENABLE, 0u);
  session.Finish();
}

}  // namespace
