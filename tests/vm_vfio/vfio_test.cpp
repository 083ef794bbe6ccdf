// edu's interrupts through VFIO, in a guest with an emulated IOMMU: the library over the Linux
// driver (as libzarerera.so and the tools have it), edu bound to vfio-pci; the refusals for a
// function bound elsewhere and for a group that is not viable; the command as root and as an
// ordinary user who was given the group's device file.
#include <gtest/gtest.h>
#include <linux/vfio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/hosted_driver.h"
#include "driver/wd_status.h"
#include "linux/sysfs_driver.h"
#include "p9050_lib.h"
#include "vfio/linux_driver.h"
#include "vfio/vfio_driver.h"
#include "vm/guest.h"

namespace {

using namespace std::chrono_literals;
using vm_test::Attribute;
using vm_test::BindToVfio;
using vm_test::DriverOf;
using vm_test::GroupOf;
using vm_test::kDevices;
using vm_test::RunCommand;
using vm_test::WriteFile;

constexpr char kEduFn[] = "0000:00:02.0";
constexpr char kNetFn[] = "0000:00:03.0";  // e1000e, with its driver
constexpr char kLpcFn[] = "0000:00:1f.0";  // in one group with the SMBus controller
constexpr char kSmbusFn[] = "0000:00:1f.3";
constexpr uint32_t kEduStatus = 0x24;
constexpr uint32_t kEduRaise = 0x60;
constexpr uint32_t kEduAck = 0x64;

// What edu's handler saw, call by call.
struct Calls {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<P9050_IntResult> results;
  std::vector<uint32_t> statuses;
  bool hold = false;  // the next call waits until released
  bool held = false;
};
Calls* g_calls = nullptr;

// Reads edu's interrupt status and acknowledges it, as a board's handler acknowledges its source.
void EduHandler(P9050_Handle* h, P9050_IntResult* result) {
  Calls& c = *g_calls;
  {
    std::unique_lock<std::mutex> guard(c.lock);
    if (c.hold) {
      c.held = true;
      c.changed.notify_all();
      c.changed.wait(guard, [&c] { return !c.hold; });
    }
  }
  const uint32_t status = P9050_ReadDword(h, 0, kEduStatus);
  P9050_WriteDword(h, 0, kEduAck, status);
  std::lock_guard<std::mutex> guard(c.lock);
  c.results.push_back(*result);
  c.statuses.push_back(status);
  c.changed.notify_all();
}

class VfioGuestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(BindToVfio(kEduFn)) << DriverOf(kEduFn); }

  void SetUp() override {
    ASSERT_FALSE(GroupOf(kEduFn).empty()) << "no IOMMU group: the guest has no IOMMU";
    WdHosted_Install(&driver_);
    g_calls = &calls_;
    ASSERT_TRUE(P9050_Open(&h_, vm_test::kEduVendor, vm_test::kEduDevice, 0, 0))
        << P9050_ErrorText << " / " << vfio_.LastError();
  }
  void TearDown() override {
    if (h_ != nullptr) P9050_Close(h_);
    h_ = nullptr;
    g_calls = nullptr;
    WdHosted_Install(nullptr);
  }

  bool WaitForCalls(size_t n) {
    std::unique_lock<std::mutex> guard(calls_.lock);
    return calls_.changed.wait_for(guard, 10s, [&] { return calls_.results.size() >= n; });
  }
  // Raises edu's bit 0 with the handler set to wait; true once the handler waits in its call.
  bool HoldTheHandlerOnARaise() {
    {
      std::lock_guard<std::mutex> guard(calls_.lock);
      calls_.hold = true;
    }
    P9050_WriteDword(h_, 0, kEduRaise, 0x1);
    std::unique_lock<std::mutex> guard(calls_.lock);
    return calls_.changed.wait_for(guard, 10s, [&] { return calls_.held; });
  }
  void ReleaseTheHandler() {
    {
      std::lock_guard<std::mutex> guard(calls_.lock);
      calls_.hold = false;
    }
    calls_.changed.notify_all();
  }
  size_t CallCount() {
    std::lock_guard<std::mutex> guard(calls_.lock);
    return calls_.results.size();
  }

  sysfs::SysfsDriver sysfs_{sysfs::kDefaultRoot, sysfs::Access::kFull};
  vfio::VfioDriver vfio_;
  vfio::LinuxDriver driver_{sysfs_, vfio_};
  P9050_Handle* h_ = nullptr;
  Calls calls_;
};

TEST_F(VfioGuestTest, EduIsOpenedThroughVfioWithItsInterrupt) {
  EXPECT_EQ(vfio_.registrations(), 1);
  EXPECT_EQ(sysfs_.registrations(), 0);
  EXPECT_EQ(P9050_ReadDword(h_, 0, 0), 0x010000edu) << "identification";
  P9050_WriteDword(h_, 0, 0x04, 0x12345678);
  EXPECT_EQ(P9050_ReadDword(h_, 0, 0x04), ~0x12345678u) << "liveness";
  EXPECT_NE(h_->intHandle, 0u);
}

TEST_F(VfioGuestTest, InterruptsRaisedOneAtATimeReachTheHandlerOnceEach) {
  ASSERT_TRUE(P9050_IntEnable(h_, EduHandler));
  ASSERT_TRUE(P9050_IntIsEnabled(h_)) << vfio_.LastError();
  constexpr uint32_t kTimes = 8;
  for (uint32_t i = 0; i < kTimes; ++i) {
    P9050_WriteDword(h_, 0, kEduRaise, 1u << i);
    ASSERT_TRUE(WaitForCalls(i + 1)) << "interrupt " << i + 1 << " never reached the handler";
  }
  std::this_thread::sleep_for(300ms);  // none comes after the last acknowledgement
  P9050_IntDisable(h_);
  ASSERT_EQ(calls_.results.size(), kTimes);
  for (uint32_t i = 0; i < kTimes; ++i) {
    EXPECT_EQ(calls_.results[i].counter, i + 1);
    EXPECT_EQ(calls_.results[i].lost, 0u);
    EXPECT_EQ(calls_.statuses[i], 1u << i);
  }
  EXPECT_EQ(P9050_ReadDword(h_, 0, kEduStatus), 0u);
}

TEST_F(VfioGuestTest, ABurstWhileTheHandlerIsHeldIsNeverCountedTwice) {
  ASSERT_TRUE(P9050_IntEnable(h_, EduHandler));
  ASSERT_TRUE(HoldTheHandlerOnARaise());
  for (uint32_t bit : {0x2u, 0x4u, 0x8u}) P9050_WriteDword(h_, 0, kEduRaise, bit);
  ReleaseTheHandler();
  ASSERT_TRUE(WaitForCalls(1));
  std::this_thread::sleep_for(500ms);
  P9050_IntDisable(h_);
  // Four raises met the handler once: edu ORs them into its status while the line is held, and
  // the handler acknowledged all four bits at once.
  uint32_t seen = 0;
  for (uint32_t s : calls_.statuses) seen |= s;
  EXPECT_EQ(seen, 0xfu);
  EXPECT_GE(calls_.results.size(), 1u);
  EXPECT_LE(calls_.results.size() + calls_.results.back().lost, 4u);
  EXPECT_EQ(calls_.results.back().counter, calls_.results.size());
  EXPECT_EQ(P9050_ReadDword(h_, 0, kEduStatus), 0u);
  std::printf("burst of 4: %zu handler calls, lost %u\n", calls_.results.size(),
              calls_.results.back().lost);
}

// Signals the INTx eventfd from the kernel as an interrupt does, without the device (vfio-pci's
// loopback trigger).
bool SignalIntxFromTheKernel(int device) {
  vfio_irq_set set{};
  set.argsz = sizeof set;
  set.flags = VFIO_IRQ_SET_DATA_NONE | VFIO_IRQ_SET_ACTION_TRIGGER;
  set.index = VFIO_PCI_INTX_IRQ_INDEX;
  set.start = 0;
  set.count = 1;
  return ioctl(device, VFIO_DEVICE_SET_IRQS, &set) == 0;
}

// What edu cannot show (it merges raises into its status while its line is masked): signals the
// kernel made while the handler was held are one interrupt, the rest counted as lost.
TEST_F(VfioGuestTest, SignalsWhileTheHandlerIsHeldAreOneInterruptAndTheRestLost) {
  const int device = vm_test::VfioDeviceFd("self");
  ASSERT_GE(device, 0) << "not one VFIO device file open";
  ASSERT_TRUE(P9050_IntEnable(h_, EduHandler));
  ASSERT_TRUE(HoldTheHandlerOnARaise());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(SignalIntxFromTheKernel(device)) << errno;
  ReleaseTheHandler();
  ASSERT_TRUE(WaitForCalls(2));
  std::this_thread::sleep_for(300ms);
  P9050_IntDisable(h_);
  ASSERT_EQ(calls_.results.size(), 2u);
  EXPECT_EQ(calls_.results[0].counter, 1u);
  EXPECT_EQ(calls_.results[0].lost, 0u);
  EXPECT_EQ(calls_.results[1].counter, 2u);
  EXPECT_EQ(calls_.results[1].lost, 2u);
  EXPECT_EQ(calls_.statuses[0], 0x1u);
  EXPECT_EQ(calls_.statuses[1], 0u) << "the second came from the kernel, not from edu";
}

TEST_F(VfioGuestTest, DisableReturnsPromptlyWithTheServiceEnded) {
  ASSERT_TRUE(P9050_IntEnable(h_, EduHandler));
  std::this_thread::sleep_for(100ms);  // the service waits in the driver
  const auto start = std::chrono::steady_clock::now();
  P9050_IntDisable(h_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(P9050_IntIsEnabled(h_));
  EXPECT_EQ(vfio_.open_eventfds(), 0);
  // Raised now, nothing reaches the handler.
  P9050_WriteDword(h_, 0, kEduRaise, 0x1);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(CallCount(), 0u);
  P9050_WriteDword(h_, 0, kEduAck, 0x1);
}

TEST_F(VfioGuestTest, CloseWithTheInterruptOnReleasesEverything) {
  const int before = vm_test::OpenDescriptors();
  ASSERT_TRUE(P9050_IntEnable(h_, EduHandler));
  P9050_WriteDword(h_, 0, kEduRaise, 0x1);
  ASSERT_TRUE(WaitForCalls(1));
  const auto start = std::chrono::steady_clock::now();
  P9050_Close(h_);
  h_ = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(vfio_.registrations(), 0);
  EXPECT_EQ(vfio_.open_devices(), 0);
  EXPECT_EQ(vfio_.open_eventfds(), 0);
  // The eventfds, the device, the group and the container all closed (the channel handle, which
  // the library opened with the card, too).
  EXPECT_LE(vm_test::OpenDescriptors(), before);
}

// A second edu, behind the root port: its calls, apart from the first's.
Calls* g_second = nullptr;
void SecondEduHandler(P9050_Handle* h, P9050_IntResult* result) {
  const uint32_t status = P9050_ReadDword(h, 0, kEduStatus);
  P9050_WriteDword(h, 0, kEduAck, status);
  std::lock_guard<std::mutex> guard(g_second->lock);
  g_second->results.push_back(*result);
  g_second->statuses.push_back(status);
  g_second->changed.notify_all();
}

TEST_F(VfioGuestTest, TwoEdusInTwoGroupsEachGetTheirOwnInterrupts) {
  ASSERT_TRUE(BindToVfio(vm_test::kEduBehindPort));
  ASSERT_NE(GroupOf(vm_test::kEduBehindPort), GroupOf(kEduFn));
  Calls second;
  g_second = &second;
  P9050_Handle* other = nullptr;
  ASSERT_TRUE(P9050_Open(&other, vm_test::kEduVendor, vm_test::kEduDevice, 1, 0))
      << P9050_ErrorText << " / " << vfio_.LastError();
  EXPECT_EQ(vfio_.open_devices(), 2);
  ASSERT_TRUE(P9050_IntEnable(h_, EduHandler));
  ASSERT_TRUE(P9050_IntEnable(other, SecondEduHandler));
  for (uint32_t i = 0; i < 3; ++i) {
    P9050_WriteDword(h_, 0, kEduRaise, 0x10u << i);
    P9050_WriteDword(other, 0, kEduRaise, 0x100u << i);
    ASSERT_TRUE(WaitForCalls(i + 1));
    std::unique_lock<std::mutex> guard(second.lock);
    ASSERT_TRUE(second.changed.wait_for(guard, 10s, [&] { return second.results.size() > i; }));
  }
  P9050_IntDisable(other);
  P9050_IntDisable(h_);
  P9050_Close(other);
  g_second = nullptr;
  ASSERT_EQ(calls_.statuses.size(), 3u);
  ASSERT_EQ(second.statuses.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(calls_.statuses[i], 0x10u << i);
    EXPECT_EQ(second.statuses[i], 0x100u << i);
    EXPECT_EQ(second.results[i].counter, i + 1);
  }
  EXPECT_EQ(vfio_.open_devices(), 1);
}

// The masking mode the run asked for is the one vfio-pci took (Y: at the interrupt controller).
TEST(VfioGuestMode, VfioPciMasksAsTheRunAsked) {
  const char* wanted = std::getenv("ZARERERA_VFIO_NOINTXMASK");
  ASSERT_NE(wanted, nullptr);
  EXPECT_EQ(vm_test::ReadFile("/sys/module/vfio_pci/parameters/nointxmask"),
            std::string(wanted) + "\n");
}

TEST(VfioGuestRefusal, AFunctionBoundElsewhereIsNamedWithItsDriver) {
  ASSERT_EQ(DriverOf(kNetFn), "e1000e");
  vfio::VfioDriver vfio;
  WdPciCardInfo info{};
  info.pciSlot = vm_test::SlotOf(kNetFn);
  uint32_t status = 0;
  ASSERT_TRUE(vfio.Control(WD_CODE_PCI_CARD_INFO, &info, sizeof info, &status));
  EXPECT_EQ(status, WD_STATUS_RESOURCE_BUSY);
  EXPECT_EQ(vfio.LastError(),
            "0000:00:03.0 is bound to e1000e, not vfio-pci: `zarerera bind -s 00:03.0` hands it "
            "over");
}

TEST(VfioGuestRefusal, AGroupNotViableNamesTheFunctionsBoundElsewhere) {
  const std::string group = GroupOf(kLpcFn);
  ASSERT_EQ(group, GroupOf(kSmbusFn)) << "one group";
  ASSERT_EQ(DriverOf(kSmbusFn), "i801_smbus");
  ASSERT_TRUE(BindToVfio(kLpcFn));
  vfio::VfioDriver vfio;
  WdPciCardInfo info{};
  info.pciSlot = vm_test::SlotOf(kLpcFn);
  uint32_t status = 0;
  ASSERT_TRUE(vfio.Control(WD_CODE_PCI_CARD_INFO, &info, sizeof info, &status));
  EXPECT_EQ(status, WD_STATUS_RESOURCE_BUSY);
  EXPECT_EQ(vfio.LastError(), "IOMMU group " + group +
                                  " of 0000:00:1f.0 is not viable: bound to other drivers: "
                                  "0000:00:1f.3 (i801_smbus); bind every function of the group "
                                  "to vfio-pci (zarerera bind --force)");
  EXPECT_EQ(vfio.open_devices(), 0);
}

TEST(VfioGuestTools, TheCommandListsAndReadsEduThroughVfio) {
  ASSERT_TRUE(BindToVfio(kEduFn));
  const vm_test::Command list = RunCommand("zarerera --driver=vfio -d 1234:11e8 list -v");
  EXPECT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("00:02.0 1234:11e8"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("Region 0: Memory at"), std::string::npos) << list.output;
  const vm_test::Command regs =
      RunCommand("zarerera --driver=vfio --force -d 1234:11e8 regs INTCSR");
  EXPECT_EQ(regs.status, 0) << regs.output;
}

TEST(VfioGuestTools, BindAndUnbindRoundTrip) {
  const std::string group = GroupOf(kEduFn);
  ASSERT_TRUE(BindToVfio(kEduFn));
  vm_test::Command c = RunCommand("zarerera unbind -s 00:02.0");
  EXPECT_EQ(c.status, 0) << c.output;
  EXPECT_NE(c.output.find("0000:00:02.0 released: no driver took it"), std::string::npos)
      << c.output;
  EXPECT_EQ(DriverOf(kEduFn), "");
  c = RunCommand("zarerera -d 1234:11e8 bind -n");
  EXPECT_EQ(c.status, 0) << c.output;
  EXPECT_EQ(DriverOf(kEduFn), "") << "a dry run binds nothing";
  c = RunCommand("zarerera bind -s 00:02.0");
  EXPECT_EQ(c.status, 0) << c.output;
  EXPECT_NE(c.output.find("IOMMU group " + group + ": 0000:00:02.0 (no driver)"), std::string::npos)
      << c.output;
  EXPECT_NE(c.output.find("0000:00:02.0 bound to vfio-pci: /dev/vfio/" + group), std::string::npos)
      << c.output;
  EXPECT_EQ(DriverOf(kEduFn), "vfio-pci");
  // e1000e keeps its driver without --force.
  c = RunCommand("zarerera bind -s 00:03.0");
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.output.find("0000:00:03.0 is held by e1000e: left alone"), std::string::npos)
      << c.output;
  EXPECT_EQ(DriverOf(kNetFn), "e1000e");
}

TEST(VfioGuestTools, AnOrdinaryUserGivenTheGroupFileNeedsNoRoot) {
  ASSERT_TRUE(BindToVfio(kEduFn));
  const std::string file = "/dev/vfio/" + GroupOf(kEduFn);
  // What packaging/udev/70-zarerera-vfio.rules does (root, group zarerera, mode 0660), the user's
  // own group standing for zarerera.
  ASSERT_EQ(chown(file.c_str(), 0, 1000), 0) << file;
  ASSERT_EQ(chmod(file.c_str(), 0660), 0) << file;
  const vm_test::Command user =
      vm_test::RunCommandAs(1000, "zarerera --driver=vfio --force -d 1234:11e8 regs INTCSR");
  EXPECT_EQ(user.status, 0) << user.output;
  ASSERT_EQ(chown(file.c_str(), 0, 0), 0);  // as vfio-pci leaves it: root's alone
  const vm_test::Command refused =
      vm_test::RunCommandAs(1000, "zarerera --driver=vfio --force -d 1234:11e8 regs INTCSR");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.output.find("permission denied: opening " + file), std::string::npos)
      << refused.output;
}

}  // namespace
