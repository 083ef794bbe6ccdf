// Faults a real kernel brings: a function removed from the bus (its sysfs directory gone) while a
// board on it is open, the bus rescanned, and two processes with the same board open.
//
// What the kernel does on removal, found here: the sysfs files go, so the I/O BAR's open
// resource2 answers every read and write with ENODEV; the mapping of a memory BAR's resource0
// stays in place, and since the emulated function still decodes, reads through it still reach it.
// Unregistration then still unmaps and closes everything.
#include <sys/wait.h>
#include <unistd.h>

#include "driver/hosted_driver.h"
#include "p9050_lib.h"
#include "vm/guest.h"

namespace vm_test {
namespace {

bool Present(const char* function) {
  return access((std::string(kDevices) + "/" + function).c_str(), F_OK) == 0;
}

class RemovalTest : public GuestTest {
 protected:
  void TearDown() override {
    // Whatever happened, the bus is whole again for the tests after this one.
    if (!Present(kEdu) || !Present(kE1000e)) WriteFile("/sys/bus/pci/rescan", "1");
    GuestTest::TearDown();
  }
};

TEST_F(RemovalTest, RemovedWhileOpenFailsClearlyClosesCleanlyAndOpensAfterRescan) {
  const int descriptors = OpenDescriptors();
  P9050_Handle* nic = nullptr;
  P9050_Handle* edu = nullptr;
  ASSERT_TRUE(P9050_Open(&nic, kE1000eVendor, kE1000eDevice, 0, 0)) << P9050_ErrorText;
  ASSERT_TRUE(P9050_Open(&edu, kEduVendor, kEduDevice, 0, 0)) << P9050_ErrorText;
  P9050_WriteDword(nic, 2, 0, 0x08);
  ASSERT_EQ(P9050_ReadDword(nic, 2, 0), 0x08u);
  ASSERT_EQ(P9050_ReadDword(edu, 0, 0), 0x010000edu);

  std::vector<std::string> heard;
  driver_.SetErrorReporter([&heard](const std::string& reason) { heard.push_back(reason); });
  ASSERT_TRUE(WriteFile(std::string(kDevices) + "/" + kE1000e + "/remove", "1"));
  ASSERT_TRUE(WriteFile(std::string(kDevices) + "/" + kEdu + "/remove", "1"));
  ASSERT_FALSE(Present(kE1000e));
  ASSERT_FALSE(Present(kEdu));

  // Port I/O: every access fails, with the reason.
  const std::string resource2 = std::string(kDevices) + "/" + kE1000e + "/resource2";
  EXPECT_EQ(P9050_ReadDword(nic, 2, 0), 0u);
  P9050_WriteDword(nic, 2, 0, 0x10);
  uint32_t block[2] = {0x77, 0x77};
  EXPECT_NE(P9050_ReadBlock(nic, 0, block, sizeof block, 2, P9050_MODE_DWORD), 0u);
  EXPECT_EQ(block[0], 0x77u) << "a failed block leaves the buffer";
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0], "device removed: reading " + resource2);
  EXPECT_EQ(heard[1], "device removed: writing " + resource2);
  EXPECT_EQ(heard[2], "device removed: reading " + resource2);
  // The memory BAR's mapping outlives the function's files: reads still reach the device.
  EXPECT_EQ(P9050_ReadDword(edu, 0, 0), 0x010000edu);
  // Configuration: the file is gone.
  EXPECT_EQ(P9050_ReadPciReg(edu, 0), 0u);
  EXPECT_EQ(heard.back(),
            "no such file: reading " + std::string(kDevices) + "/" + kEdu + "/config");

  P9050_Close(nic);
  P9050_Close(edu);
  driver_.SetErrorReporter(nullptr);
  EXPECT_EQ(driver_.registrations(), 0);
  EXPECT_EQ(driver_.open_files(), 0);
  EXPECT_TRUE(MapsOf("/resource0").empty()) << "the mapping is gone";
  EXPECT_EQ(OpenDescriptors(), descriptors) << "no descriptor leaked";
  EXPECT_EQ(P9050_CountCards(kEduVendor, kEduDevice), 1u) << "only the edu behind the port is left";

  ASSERT_TRUE(WriteFile("/sys/bus/pci/rescan", "1"));
  ASSERT_TRUE(Present(kE1000e));
  ASSERT_TRUE(Present(kEdu));
  ASSERT_TRUE(P9050_Open(&edu, kEduVendor, kEduDevice, 0, 0)) << P9050_ErrorText;
  EXPECT_EQ(P9050_ReadDword(edu, 0, 0), 0x010000edu);
  P9050_Close(edu);
  ASSERT_TRUE(P9050_Open(&nic, kE1000eVendor, kE1000eDevice, 0, 0)) << P9050_ErrorText;
  P9050_WriteDword(nic, 2, 0, 0x08);
  EXPECT_EQ(P9050_ReadDword(nic, 2, 0), 0x08u);
  P9050_Close(nic);
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

// The same board open in this process and in a child at once: both registrations map the same BAR,
// and what one writes the other reads.
TEST_F(GuestTest, TwoProcessesWithTheSameBoardOpen) {
  P9050_Handle* h = nullptr;
  ASSERT_TRUE(P9050_Open(&h, kEduVendor, kEduDevice, 0, 0)) << P9050_ErrorText;
  P9050_WriteDword(h, 0, 0x04, 0x0f0f0f0f);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    sysfs::SysfsDriver driver(sysfs::kDefaultRoot, sysfs::Access::kFull);
    WdHosted_Install(&driver);
    P9050_Handle* mine = nullptr;
    uint32_t seen[2] = {0, 0};
    if (P9050_Open(&mine, kEduVendor, kEduDevice, 0, 0)) {
      seen[0] = P9050_ReadDword(mine, 0, 0x04);
      P9050_WriteDword(mine, 0, 0x04, 0x00ff00ff);
      seen[1] = static_cast<uint32_t>(driver.registrations());
      P9050_Close(mine);
    }
    (void)!write(fds[1], seen, sizeof seen);
    _exit(driver.registrations() == 0 ? 0 : 3);
  }
  close(fds[1]);
  uint32_t seen[2] = {0, 0};
  EXPECT_EQ(read(fds[0], seen, sizeof seen), static_cast<ssize_t>(sizeof seen));
  close(fds[0]);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(seen[0], 0xf0f0f0f0u) << "the child reads what this process wrote";
  EXPECT_EQ(seen[1], 1u) << "the child's own registration";
  EXPECT_EQ(P9050_ReadDword(h, 0, 0x04), 0xff00ff00u) << "this process reads what the child wrote";
  EXPECT_EQ(driver_.registrations(), 1);
  P9050_Close(h);
}

}  // namespace
}  // namespace vm_test
