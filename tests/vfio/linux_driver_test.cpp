// The Linux driver's choice, function by function: a function bound to vfio-pci is served by the
// VFIO driver (the fake kernel sees its calls), any other by the sysfs driver (its files see
// them), and each later request goes where its card, range or interrupt lives.
#include "vfio/linux_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/int_requests.h"
#include "driver/wd_status.h"
#include "linux/sysfs_files.h"
#include "vfio/fake_kernel.h"

namespace {

using vfio_test::FakeKernel;
using vfio_test::kDev;
using vfio_test::kSys;

constexpr char kVfioCard[] = "0000:00:05.0";
constexpr char kSysfsCard[] = "0000:00:06.0";

// The sysfs driver's files over the fake's sysfs tree, and a resource1 file for the card that
// stays with its own driver, whose port accesses are logged.
class FakeFiles : public sysfs::SysfsFiles {
 public:
  explicit FakeFiles(FakeKernel& kernel) : kernel_(kernel) {}
  int Open(const std::string& path, bool) override {
    std::string text;
    if (path.find("/resource1") != std::string::npos) {
      text.assign(128, '\0');
    } else if (kernel_.ReadFile(path, &text) < 0) {
      return -ENOENT;
    }
    const int fd = next_++;
    open_[fd] = {path, text};
    return fd;
  }
  long Read(int fd, void* buffer, size_t bytes, uint64_t offset) override {
    const auto& [path, text] = open_.at(fd);
    if (offset >= text.size()) return 0;
    const size_t n = std::min(bytes, static_cast<size_t>(text.size() - offset));
    std::memcpy(buffer, text.data() + offset, n);
    if (path.find("/resource1") != std::string::npos) accesses.push_back("in " + path);
    return static_cast<long>(n);
  }
  long Write(int fd, const void*, size_t bytes, uint64_t offset) override {
    accesses.push_back("out " + open_.at(fd).first + " " + std::to_string(offset));
    return static_cast<long>(bytes);
  }
  void* Map(int, size_t, int* error) override {
    *error = ENODEV;
    return nullptr;
  }
  void Unmap(void*, size_t) override {}
  void Close(int fd) override { open_.erase(fd); }
  int List(const std::string& path, std::vector<std::string>* names) override {
    return kernel_.List(path, names);
  }

  std::vector<std::string> accesses;
  int open_files() const { return static_cast<int>(open_.size()); }

 private:
  FakeKernel& kernel_;
  std::map<int, std::pair<std::string, std::string>> open_;
  int next_ = 1;
};

class LinuxDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_.AddFunction(kVfioCard, "vfio-pci", "12",
                        "0x000000000000c000 0x000000000000c07f 0x0000000000040101\n");
    kernel_.AddRegion(kVfioCard, 0, 128, false);
    kernel_.AddFunction(kSysfsCard, "pci-stub", "13",
                        "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
                        "0x000000000000d000 0x000000000000d07f 0x0000000000040101\n");
  }

  template <class T>
  uint32_t Request(uint32_t code, T& record) {
    uint32_t status = WD_STATUS_NONE;
    EXPECT_TRUE(driver_.Control(code, &record, sizeof record, &status));
    return status;
  }

  WdCardRegister Register(uint32_t slot) {
    WdPciCardInfo info{};
    info.pciSlot = WdPciSlot{0, slot, 0};
    EXPECT_EQ(Request(WD_CODE_PCI_CARD_INFO, info), 0u);
    WdCardRegister reg{};
    reg.card = info.card;
    EXPECT_EQ(Request(WD_CODE_CARD_REGISTER, reg), 0u);
    return reg;
  }

  static uint32_t IntHandle(const WdCardRegister& reg) {
    for (uint32_t i = 0; i < reg.card.itemCount; ++i) {
      if (reg.card.items[i].kind == WD_ITEM_INTERRUPT) {
        return reg.card.items[i].u.interrupt.intHandle;
      }
    }
    return 0;
  }

  uint32_t Out(uint32_t port) {
    WdTransfer t{};
    t.address = port;
    t.command = WD_WP_BYTE;
    t.data.byte = 0x5a;
    return Request(WD_CODE_TRANSFER, t);
  }

  FakeKernel kernel_;
  FakeFiles files_{kernel_};
  sysfs::SysfsDriver sysfs_{kSys, sysfs::Access::kFull, &files_};
  vfio::VfioDriver vfio_{kSys, kDev, &kernel_};
  vfio::LinuxDriver driver_{sysfs_, vfio_};
};

TEST_F(LinuxDriverTest, EachFunctionIsServedByTheDriverItIsBoundFor) {
  WdCardRegister viaVfio = Register(5);
  WdCardRegister viaSysfs = Register(6);
  EXPECT_GE(viaVfio.cardHandle, vfio::kFirstHandle);
  EXPECT_LT(viaSysfs.cardHandle, vfio::kFirstHandle);
  EXPECT_EQ(vfio_.registrations(), 1);
  EXPECT_EQ(sysfs_.registrations(), 1);

  kernel_.ClearLog();
  ASSERT_EQ(Out(0xc010), 0u);
  ASSERT_EQ(Out(0xd020), 0u);
  EXPECT_EQ(kernel_.log(), std::vector<std::string>{"write8 0000:00:05.0 region 0 0x10 = 0x5a"});
  EXPECT_EQ(files_.accesses,
            std::vector<std::string>{"out /sys/bus/pci/devices/0000:00:06.0/resource1 32"});
  EXPECT_EQ(Out(0xe000), WD_STATUS_INVALID_PARAMETER) << "nobody's range";

  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, viaSysfs), 0u);
  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, viaVfio), 0u);
  EXPECT_EQ(vfio_.registrations(), 0);
  EXPECT_EQ(sysfs_.registrations(), 0);
  EXPECT_EQ(kernel_.open_fds(), 0);
  EXPECT_EQ(files_.open_files(), 0);
}

TEST_F(LinuxDriverTest, InterruptsAreServedForTheVfioCardAndRefusedForTheOther) {
  WdCardRegister viaVfio = Register(5);
  WdCardRegister viaSysfs = Register(6);
  WdIntRequest r{};
  r.intHandle = IntHandle(viaSysfs);
  ASSERT_NE(r.intHandle, 0u);
  EXPECT_NE(Request(WD_CODE_INT_ENABLE, r), 0u);

  r = WdIntRequest{};
  r.intHandle = IntHandle(viaVfio);
  ASSERT_EQ(Request(WD_CODE_INT_ENABLE, r), 0u) << vfio_.LastError();
  kernel_.Raise(kVfioCard);
  WdIntRequest wait{};
  wait.intHandle = r.intHandle;
  ASSERT_EQ(Request(WD_CODE_INT_WAIT, wait), 0u);
  EXPECT_EQ(wait.counter, 1u);
  EXPECT_EQ(wait.stopped, 0u);
  EXPECT_EQ(Request(WD_CODE_INT_DISABLE, r), 0u);
  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, viaVfio), 0u);
  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, viaSysfs), 0u);
}

TEST_F(LinuxDriverTest, ConfigurationFollowsTheBinding) {
  uint8_t byte = 0;
  WdPciConfigDump c{};
  c.pciSlot = WdPciSlot{0, 5, 0};
  c.buffer = WD_TO_UPTR(&byte);
  c.bytes = 1;
  c.isRead = 1;
  kernel_.ClearLog();
  ASSERT_EQ(Request(WD_CODE_PCI_CONFIG, c), 0u) << vfio_.LastError();
  EXPECT_FALSE(kernel_.log().empty()) << "through the VFIO configuration region";
  // The sysfs function's config file is not in the fake tree: the sysfs driver says so.
  c.pciSlot = WdPciSlot{0, 6, 0};
  kernel_.ClearLog();
  EXPECT_EQ(Request(WD_CODE_PCI_CONFIG, c), WD_STATUS_NO_SUCH_CARD);
  EXPECT_TRUE(kernel_.log().empty());
  EXPECT_NE(sysfs_.LastError().find("0000:00:06.0/config"), std::string::npos);
}

}  // namespace
