// The tools' interrupts on edu through VFIO, edu made to interrupt while they wait: `zarerera
// watch --irq`, and p9050diag's interrupt menu as a person at the console uses it. The console's
// handler only prints: it never acknowledges edu, so edu's line stays up. The kernel masks it at
// each interrupt, the service unmasks it when it waits again, and it fires again at once: the
// level-sensitive case the menu's warning is about. Through VFIO the tools stay usable and count
// without a gap; the interrupts stop when edu is acknowledged, and "Disable" ends the service.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/transcript.h"
#include "vfio/vfio_kernel.h"
#include "vm/guest.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kEduStatus = 0x24;
constexpr uint32_t kEduRaise = 0x60;
constexpr uint32_t kEduAck = 0x64;
constexpr char kGot[] = "Got interrupt number ";
// The menu's prompt while interrupts are on: the moment to let a few arrive before answering.
constexpr char kOffered[] = "1. Disable interrupts\n99. Back to main menu\n\nEnter option: ";
constexpr int kAtLeast = 3;

// The output with the handler's lines taken out, and the numbers those lines carried. The handler
// prints from the service thread, so a line may stand in the middle of a menu's.
struct Split {
  std::string menus;
  std::vector<long> numbers;
  size_t lastLineEnd = 0;  // in the whole output, after the last handler line
};
Split SplitOutput(const std::string& output) {
  Split split;
  size_t at = 0;
  for (size_t got; (got = output.find(kGot, at)) != std::string::npos;) {
    const size_t end = output.find('\n', got);
    if (end == std::string::npos) break;
    split.menus.append(output, at, got - at);
    split.numbers.push_back(std::strtol(output.c_str() + got + sizeof kGot - 1, nullptr, 10));
    at = split.lastLineEnd = end + 1;
  }
  split.menus.append(output, at, std::string::npos);
  return split;
}

// edu's registers through the console's own device file, borrowed from its process: the signal
// generator on the bench, making the board raise and clear its interrupt while the console
// holds it.
class BorrowedEdu {
 public:
  explicit BorrowedEdu(pid_t console) {
    const int there = vm_test::VfioDeviceFd(std::to_string(console));
    if (there >= 0) fd_ = vm_test::BorrowFd(console, there);
    ok_ = fd_ >= 0 && kernel_.Region(fd_, 0, &bar0_) == 0 && bar0_.size != 0;
  }
  ~BorrowedEdu() {
    if (fd_ >= 0) kernel_.Close(fd_);
  }
  bool ok() const { return ok_; }
  uint32_t Read(uint32_t at) const {
    uint32_t value = ~0u;
    (void)kernel_.Read(fd_, &value, sizeof value, bar0_.offset + at);
    return value;
  }
  bool Write(uint32_t at, uint32_t value) const {
    return kernel_.Write(fd_, &value, sizeof value, bar0_.offset + at) == sizeof value;
  }

 private:
  vfio::VfioKernel& kernel_ = vfio::SystemKernel();
  int fd_ = -1;
  bool ok_ = false;
  vfio::RegionInfo bar0_;
};

// True once the kernel has a handler on `function`'s INTx: vfio-pci requested it when the eventfd
// was armed. A line raised before then would not interrupt.
bool IntxArmed(const std::string& function) {
  const std::string name = "vfio-intx(" + function + ")";
  for (int i = 0; i < 200; ++i) {
    if (vm_test::ReadFile("/proc/interrupts").find(name) != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

TEST(VfioGuestTools, WatchIrqPrintsEdusInterruptsUpToItsCount) {
  ASSERT_TRUE(vm_test::BindToVfio(vm_test::kEdu));
  vm_test::Conversation watch(
      "zarerera --driver=auto --force -d 1234:11e8 watch --irq --count 5 --timeout 20000");
  ASSERT_TRUE(IntxArmed(vm_test::kEdu)) << watch.output();
  const BorrowedEdu edu(watch.pid());
  ASSERT_TRUE(edu.ok()) << "the command's VFIO device file: " << errno;
  ASSERT_TRUE(edu.Write(kEduRaise, 0x1));
  const vm_test::Command done = watch.Finish();
  EXPECT_EQ(done.status, 0) << done.output;
  // The command is gone; its device file, borrowed, still reaches edu.
  EXPECT_EQ(edu.Read(kEduStatus), 0x1u) << "the command acknowledges nothing";
  ASSERT_TRUE(edu.Write(kEduAck, 0x1));
  std::istringstream lines(done.output);
  unsigned n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    char expected[64];
    std::snprintf(expected, sizeof expected, " interrupt %u lost 0 INTCSR ffffffff", n + 1);
    EXPECT_NE(line.find(expected), std::string::npos) << line;
  }
  EXPECT_EQ(n, 5u) << done.output;
}

TEST(VfioGuestConsole, TheInterruptMenuCountsAnUnacknowledgedLineUntilDisabled) {
  ASSERT_TRUE(vm_test::BindToVfio(vm_test::kEdu));
  const char* sessionPath = std::getenv("ZARERERA_VM_INTERRUPT_SESSION");
  ASSERT_NE(sessionPath, nullptr) << "the session's transcript is not in the guest";
  const std::string text = vm_test::ReadFile(sessionPath);
  const std::string command = "$ p9050diag --driver=auto\n";
  ASSERT_EQ(text.compare(0, command.size(), command), 0) << sessionPath;
  const std::string session = text.substr(command.size());

  vm_test::Conversation diag("p9050diag --driver=auto");
  size_t quietSince = 0;
  // Each typed line goes in once the console has printed what comes before it.
  const std::string kOpen = "«", kClose = "»";
  for (size_t at = 0, open; (open = session.find(kOpen, at)) != std::string::npos;) {
    const size_t start = open + kOpen.size();
    const size_t close = session.find(kClose, start);
    ASSERT_NE(close, std::string::npos) << sessionPath;
    const std::string before = testsupport::ParseTranscript(session.substr(0, open)).output;
    ASSERT_TRUE(diag.WaitUntil(
        [&](const std::string& out) { return SplitOutput(out).menus.size() >= before.size(); },
        20s))
        << "the console stopped before:\n"
        << before << "\nit printed:\n"
        << diag.output();
    if (before.size() >= sizeof kOffered - 1 &&
        before.compare(before.size() - (sizeof kOffered - 1), std::string::npos, kOffered) == 0) {
      // edu raises; its line stays up, interrupt after interrupt, until it is acknowledged.
      const BorrowedEdu edu(diag.pid());
      ASSERT_TRUE(edu.ok()) << "the console's VFIO device file: " << errno;
      ASSERT_TRUE(edu.Write(kEduRaise, 0x1));
      ASSERT_TRUE(diag.WaitUntil(
          [](const std::string& out) { return SplitOutput(out).numbers.size() >= kAtLeast; }, 20s))
          << "interrupts did not come:\n"
          << diag.output();
      ASSERT_EQ(edu.Read(kEduStatus), 0x1u);
      ASSERT_TRUE(edu.Write(kEduAck, 0x1));
      // What was on its way comes in; then the line is quiet.
      diag.ReadFor(500ms);
      quietSince = SplitOutput(diag.output()).numbers.size();
      diag.ReadFor(500ms);
      EXPECT_EQ(SplitOutput(diag.output()).numbers.size(), quietSince) << "still interrupting";
    }
    diag.Send(session.substr(start, close - start) + "\n");
    at = close;
  }
  const vm_test::Command done = diag.Finish();
  EXPECT_EQ(done.status, 0);
  const Split split = SplitOutput(done.output);
  EXPECT_EQ(split.menus, testsupport::ParseTranscript(session).output);
  ASSERT_GE(split.numbers.size(), static_cast<size_t>(kAtLeast)) << done.output;
  for (size_t i = 0; i < split.numbers.size(); ++i) {
    ASSERT_EQ(split.numbers[i], static_cast<long>(i + 1)) << "the count skipped or repeated";
  }
  EXPECT_EQ(split.numbers.size(), quietSince) << "interrupts after edu was acknowledged";
  std::printf("the console counted %zu interrupts of edu's line before it was acknowledged\n",
              split.numbers.size());
}

}  // namespace
