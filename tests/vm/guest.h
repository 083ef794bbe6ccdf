// What the guest's tests share: the guard that keeps them off any machine but the emulated guest
// scripts/vm-run.sh boots, the sysfs driver installed as the library's driver (full access: the
// guest's bus is ours), and small readers of the guest's sysfs and of commands' output.
#ifndef ZARERERA_TESTS_VM_GUEST_H
#define ZARERERA_TESTS_VM_GUEST_H

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/device_channel.h"
#include "driver/wd_records.h"
#include "linux/sysfs_driver.h"
#include "p9050_lib.h"

namespace vm_test {

constexpr char kDevices[] = "/sys/bus/pci/devices";

// The guest's PCI functions (tests/CMakeLists.txt boots it with them).
constexpr uint32_t kEduVendor = 0x1234;
constexpr uint32_t kEduDevice = 0x11e8;
constexpr uint32_t kE1000eVendor = 0x8086;
constexpr uint32_t kE1000eDevice = 0x10d3;
constexpr char kEdu[] = "0000:00:02.0";            // edu on bus 0
constexpr char kEduBehindPort[] = "0000:01:00.0";  // edu behind the root port 00:10.0
constexpr char kE1000e[] = "0000:00:04.0";

// True only inside the guest: its kernel was booted with zarerera.vm=1 on its command line.
bool InGuest();

// A whole file's bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes `text` to `path` (a sysfs attribute such as remove or rescan); false on failure.
bool WriteFile(const std::string& path, const std::string& text);
// A sysfs attribute of one function, e.g. Attribute(kEdu, "irq").
std::string Attribute(const std::string& function, const std::string& name);
// The driver a function is bound to ("" for none), and its IOMMU group ("" without an IOMMU).
std::string DriverOf(const std::string& function);
std::string GroupOf(const std::string& function);
// Hands `function` to vfio-pci as a user would: driver_override, unbind from its driver, probe.
bool BindToVfio(const std::string& function);
// The one VFIO device file a process has open (`process` a pid or "self"): its descriptor number
// there; -1 when it has none, -2 when more than one.
int VfioDeviceFd(const std::string& process);
// A descriptor of this process for descriptor `fd` of process `pid` (pidfd_getfd), or -1.
int BorrowFd(pid_t pid, int fd);
// The function directories under /sys/bus/pci/devices, sorted by name.
std::vector<std::string> Functions();

struct Command {
  int status = -1;  // the exit status, or -1 when the command did not exit normally
  std::string output;
};
// Runs `command` (a whole shell command line, run in a subshell of /bin/sh) with standard input
// from `input` (nothing when empty), standard output and error together.
Command RunCommand(const std::string& command, const std::string& input = "");
// The same as an unprivileged user: the command's shell runs with user and group `uid` and no
// supplementary groups.
Command RunCommandAs(unsigned uid, const std::string& command, const std::string& input = "");

// A command fed its input a line at a time, for sessions whose next line must wait for what the
// program prints first (an interrupt that arrives while it waits for input). Standard output and
// error come back together, as RunCommand has them.
class Conversation {
 public:
  explicit Conversation(const std::string& command);
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  void Send(const std::string& text);
  // Reads the output until `done` holds for all of it so far; false when the program ended or
  // `timeout` passed first.
  template <typename Done>
  bool WaitUntil(Done done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done(output_)) {
      if (!ReadSome(end)) return false;
    }
    return true;
  }
  // Reads the output for `time`, or until the program ends.
  void ReadFor(std::chrono::milliseconds time) {
    (void)WaitUntil([](const std::string&) { return false; }, time);
  }
  // Ends the input, reads the rest of the output and waits for the program's exit.
  Command Finish();
  const std::string& output() const { return output_; }
  pid_t pid() const { return child_; }  // the command's own: it is exec'd by the shell

 private:
  bool ReadSome(std::chrono::steady_clock::time_point end);

  pid_t child_ = -1;
  int input_ = -1;
  int output_fd_ = -1;
  std::string output_;
};

// Lines at the guest's mapping of the calling process: those of /proc/self/maps naming `path`.
std::vector<std::string> MapsOf(const std::string& path);
// Open file descriptors of the calling process.
int OpenDescriptors();

// The driver the library talks to, for one test: the sysfs driver over the guest's bus, with the
// device channel open. Tear-down checks that no registration or resourceN file is left.
class GuestTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  sysfs::SysfsDriver driver_{sysfs::kDefaultRoot, sysfs::Access::kFull};
  WdDeviceHandle device_ = WD_INVALID_HANDLE;
};

// One access of `width` bytes (1, 2 or 4) at `offset` of the board's address space `space`,
// through the library's byte, word and dword calls.
uint32_t ReadAt(P9050_Handle* board, uint32_t space, uint32_t offset, unsigned width);
void WriteAt(P9050_Handle* board, uint32_t space, uint32_t offset, unsigned width, uint32_t value);

// The slot record of a function name "0000:BB:SS.F".
WdPciSlot SlotOf(const std::string& function);

}  // namespace vm_test

#endif  // ZARERERA_TESTS_VM_GUEST_H
