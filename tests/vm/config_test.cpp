// Configuration space through `config`: every width against the file's own bytes, the interrupt
// line written and read back, the bytes past the first 64 (root only), and what an unprivileged
// user of the guest is told.
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "diag/pci_diag.h"
#include "driver/driver_request.h"
#include "p9050_lib.h"
#include "vm/guest.h"

namespace vm_test {
namespace {

constexpr uint32_t kInterruptLine = 0x3c;
constexpr uint32_t kInterruptPin = 0x3d;
constexpr uid_t kUser = 1000;

uint32_t FileBytes(const std::string& config, uint32_t offset, uint32_t bytes) {
  uint32_t value = 0;
  if (offset + bytes <= config.size()) std::memcpy(&value, config.data() + offset, bytes);
  return value;
}

class ConfigTest : public GuestTest {
 protected:
  std::string ConfigFile(const char* function) {
    return ReadFile(std::string(kDevices) + "/" + function + "/config");
  }
};

TEST_F(ConfigTest, EveryWidthEqualsTheConfigFile) {
  for (const char* function : {kEdu, kE1000e, kEduBehindPort}) {
    SCOPED_TRACE(function);
    const std::string config = ConfigFile(function);
    ASSERT_GE(config.size(), 256u) << "root reads the whole header";
    const WdPciSlot slot = SlotOf(function);
    for (uint32_t offset = 0; offset < 64; ++offset) {
      EXPECT_EQ(PciBus_ReadConfig(device_, slot, offset, 1), FileBytes(config, offset, 1))
          << offset;
      if (offset % 2 == 0) {
        EXPECT_EQ(PciBus_ReadConfig(device_, slot, offset, 2), FileBytes(config, offset, 2));
      }
      if (offset % 4 == 0) {
        EXPECT_EQ(PciBus_ReadConfig(device_, slot, offset, 4), FileBytes(config, offset, 4));
      }
    }
    EXPECT_EQ(PciBus_ReadConfig(device_, slot, 1, 3), FileBytes(config, 1, 3)) << "3 bytes";
  }
}

TEST_F(ConfigTest, BytesPastSixtyFourAsRoot) {
  // e1000e's capabilities lie there (power management at 0xc8, MSI, PCI Express), and its
  // extended space from 0x100.
  const std::string config = ConfigFile(kE1000e);
  ASSERT_EQ(config.size(), 4096u) << "a PCI Express function's whole space";
  const WdPciSlot slot = SlotOf(kE1000e);
  for (uint32_t offset = 64; offset < 0x180; offset += 4) {
    EXPECT_EQ(PciBus_ReadConfig(device_, slot, offset, 4), FileBytes(config, offset, 4))
        << std::hex << offset;
  }
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, 0x34, 1), 0xc8u) << "the capability list's start";
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, 0xc8, 1), 0x01u) << "power management";
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, 4095, 1), FileBytes(config, 4095, 1));
}

TEST_F(ConfigTest, InterruptLineWrittenAndReadBackInEachWidth) {
  const WdPciSlot slot = SlotOf(kEdu);
  const uint32_t line = PciBus_ReadConfig(device_, slot, kInterruptLine, 1);
  const uint32_t pin = PciBus_ReadConfig(device_, slot, kInterruptPin, 1);
  EXPECT_EQ(pin, 1u) << "edu interrupts on INTA";
  // A byte, a word (the pin beside it is read-only) and a dword (so are MIN_GNT and MAX_LAT).
  EXPECT_EQ(PciBus_WriteConfig(device_, slot, kInterruptLine, 1, 0x5a), 0u) << driver_.LastError();
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, kInterruptLine, 1), 0x5au);
  EXPECT_EQ(FileBytes(ConfigFile(kEdu), kInterruptLine, 1), 0x5au) << "the kernel sees it too";
  EXPECT_EQ(PciBus_WriteConfig(device_, slot, kInterruptLine, 2, 0xffa5), 0u);
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, kInterruptLine, 2), pin << 8 | 0xa5);
  const uint32_t dword = PciBus_ReadConfig(device_, slot, kInterruptLine, 4);
  EXPECT_EQ(PciBus_WriteConfig(device_, slot, kInterruptLine, 4, 0xffffff3c), 0u);
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, kInterruptLine, 4), (dword & 0xffffff00) | 0x3c);
  // Through an open board's handle, too.
  P9050_Handle* h = nullptr;
  ASSERT_TRUE(P9050_Open(&h, kEduVendor, kEduDevice, 0, 0)) << P9050_ErrorText;
  P9050_WritePciReg(h, kInterruptLine, 0x0000000b);
  EXPECT_EQ(P9050_ReadPciReg(h, kInterruptLine) & 0xff, 0x0bu);
  P9050_Close(h);
  EXPECT_EQ(PciBus_WriteConfig(device_, slot, kInterruptLine, 1, line), 0u);
  EXPECT_EQ(PciBus_ReadConfig(device_, slot, kInterruptLine, 1), line);
}

// What an unprivileged process meets, in a child that gives up root: each line is one request's
// outcome, "ok VALUE" or the driver's reason.
std::vector<std::string> AsUser(const std::function<std::string(sysfs::SysfsDriver&)>& session) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string out;
    if (setgroups(0, nullptr) != 0 || setgid(kUser) != 0 || setuid(kUser) != 0) {
      out = "cannot drop root";
    } else {
      sysfs::SysfsDriver driver(sysfs::kDefaultRoot, sysfs::Access::kFull);
      out = session(driver);
    }
    (void)!write(fds[1], out.data(), out.size());
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char chunk[1024];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) text.append(chunk, n);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string Outcome(sysfs::SysfsDriver& driver, uint32_t code, void* record, uint32_t size,
                    const std::string& ok) {
  uint32_t status = 0;
  driver.Control(code, record, size, &status);
  return (status == 0 ? ok : driver.LastError()) + "\n";
}

TEST_F(ConfigTest, UnprivilegedUserGetsTheFirstSixtyFourBytesAndTheReason) {
  const std::string config = std::string(kDevices) + "/" + kEdu + "/config";
  const std::string resource = std::string(kDevices) + "/" + kEdu + "/resource0";
  const std::vector<std::string> lines = AsUser([](sysfs::SysfsDriver& driver) {
    std::string out;
    uint32_t value = 0;
    WdPciConfigDump dump{};
    dump.pciSlot = SlotOf(kEdu);
    dump.bytes = 4;
    dump.isRead = 1;
    dump.buffer = WD_TO_UPTR(&value);
    dump.offset = 0;
    out += Outcome(driver, WD_CODE_PCI_CONFIG, &dump, sizeof dump, "");
    char id[16];
    std::snprintf(id, sizeof id, "%08x", value);
    out.insert(0, id);
    dump.offset = 0x40;
    out += Outcome(driver, WD_CODE_PCI_CONFIG, &dump, sizeof dump, "read 0x40");
    dump.offset = kInterruptLine;
    dump.bytes = 1;
    dump.isRead = 0;
    out += Outcome(driver, WD_CODE_PCI_CONFIG, &dump, sizeof dump, "wrote the line");
    WdCardRegister reg{};
    reg.card.itemCount = 1;
    reg.card.items[0].kind = WD_ITEM_MEMORY;
    reg.card.items[0].u.mem.physAddress =
        static_cast<uint32_t>(std::strtoul(Attribute(kEdu, "resource").c_str(), nullptr, 16));
    reg.card.items[0].u.mem.bytes = 0x100000;
    out += Outcome(driver, WD_CODE_CARD_REGISTER, &reg, sizeof reg, "registered");
    return out;
  });
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "11e81234") << "the identification, from the first 64 bytes";
  EXPECT_EQ(lines[1], "short read: 0 of 4 bytes at 0x40 of " + config +
                          " (only root reads past the first 64 bytes)");
  EXPECT_EQ(lines[2], "permission denied: writing " + config + " needs root");
  EXPECT_EQ(lines[3], "permission denied: opening " + resource + " needs root");
}

}  // namespace
}  // namespace vm_test
