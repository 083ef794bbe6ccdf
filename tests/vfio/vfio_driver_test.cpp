// The VFIO driver's requests against a fake kernel: what reached it (the calls in order, the
// accesses of the device file) for the scan, registration, transfers, configuration and the
// interrupt service.
#include "vfio/vfio_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "driver/int_requests.h"
#include "driver/transfer_kind.h"
#include "driver/wd_status.h"
#include "vfio/fake_kernel.h"

namespace {

using vfio_test::FakeKernel;
using vfio_test::kDev;
using vfio_test::kSys;

constexpr char kCard[] = "0000:00:05.0";
constexpr char kResource[] =
    "0x00000000febf0000 0x00000000febf007f 0x0000000000040200\n"  // BAR0: memory, 128 bytes
    "0x000000000000c000 0x000000000000c07f 0x0000000000040101\n"  // BAR1: I/O, 128 bytes
    "0x00000000febf1000 0x00000000febf1fff 0x0000000000040200\n"  // BAR2: memory, not mappable
    "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";

// The open sequence of a function in group 12, the first the driver opens.
const std::vector<std::string> kOpenCard = {"open group 12",
                                            "status group 12",
                                            "open container",
                                            "check container",
                                            "set-container group 12 container",
                                            "set-iommu container",
                                            "get-device 0000:00:05.0"};
const std::vector<std::string> kCloseCard = {
    "close device 0000:00:05.0", "unset-container group 12", "close group 12", "close container"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class VfioDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_.AddFunction(kCard, "vfio-pci", "12", kResource);
    kernel_.AddRegion(kCard, 0, 128, true);
    kernel_.AddRegion(kCard, 1, 128, false);
    kernel_.AddRegion(kCard, 2, 4096, false);
    // Group 13: one function for vfio-pci, one still with its network driver.
    kernel_.AddFunction("0000:00:06.0", "e1000e", "13", kResource, 0x8086, 0x10d3);
    kernel_.AddFunction("0000:00:07.0", "vfio-pci", "13", kResource);
    kernel_.SetViable("13", false);
    kernel_.AddFunction("0000:00:08.0", "vfio-pci", "", kResource);
    kernel_.AddFunction("0000:00:09.0", "", "14", kResource);
    kernel_.AddFunction("0000:00:0a.0", "vfio-pci", "15", kResource);
    kernel_.DenyOpen(std::string(kDev) + "/15", EACCES);
  }

  template <class T>
  uint32_t Request(uint32_t code, T& record) {
    uint32_t status = WD_STATUS_NONE;
    EXPECT_TRUE(driver_.Control(code, &record, sizeof record, &status));
    return status;
  }

  WdPciCardInfo Info(uint32_t slot) {
    WdPciCardInfo info{};
    info.pciSlot = WdPciSlot{0, slot, 0};
    EXPECT_EQ(Request(WD_CODE_PCI_CARD_INFO, info), 0u) << driver_.LastError();
    return info;
  }

  WdCardRegister Register(uint32_t slot = 5) {
    WdCardRegister reg{};
    reg.card = Info(slot).card;
    kernel_.ClearLog();
    EXPECT_EQ(Request(WD_CODE_CARD_REGISTER, reg), 0u) << driver_.LastError();
    return reg;
  }

  static const WdItem* ItemOf(const WdCard& card, uint32_t kind, uint32_t bar = 0) {
    for (uint32_t i = 0; i < card.itemCount; ++i) {
      const WdItem& item = card.items[i];
      if (item.kind != kind) continue;
      if (kind == WD_ITEM_MEMORY && item.u.mem.bar != bar) continue;
      if (kind == WD_ITEM_IO && item.u.io.bar != bar) continue;
      return &item;
    }
    return nullptr;
  }

  FakeKernel kernel_;
  vfio::VfioDriver driver_{kSys, kDev, &kernel_};
};

TEST_F(VfioDriverTest, ScanListsEveryFunctionWithItsIdentityInOrder) {
  WdPciScan scan{};
  ASSERT_EQ(Request(WD_CODE_PCI_SCAN, scan), 0u);
  ASSERT_EQ(scan.cardCount, 6u);
  EXPECT_EQ(scan.slots[0].slot, 5u);
  EXPECT_EQ(scan.slots[1].slot, 6u);
  EXPECT_EQ(scan.ids[1].vendorId, 0x8086u);
  EXPECT_EQ(scan.ids[1].deviceId, 0x10d3u);
  EXPECT_EQ(scan.slots[5].slot, 0xau);
  scan = WdPciScan{};
  scan.vendorId = 0x10b5;
  scan.deviceId = 0x9050;
  ASSERT_EQ(Request(WD_CODE_PCI_SCAN, scan), 0u);
  EXPECT_EQ(scan.cardCount, 5u);
  EXPECT_TRUE(kernel_.log().empty()) << "a scan opens nothing";
}

TEST_F(VfioDriverTest, CardInfoTakesBarsFromTheRegionsAndOpensTheFunctionOnlyForTheRequest) {
  kernel_.AddRegion(kCard, 2, 0, false);  // a BAR the region information does not show
  const WdPciCardInfo info = Info(5);
  EXPECT_EQ(kernel_.log(), Join(kOpenCard, kCloseCard));
  ASSERT_EQ(info.card.itemCount, 3u);
  const WdItem* mem = ItemOf(info.card, WD_ITEM_MEMORY, 0);
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(mem->u.mem.physAddress, 0xfebf0000u);
  EXPECT_EQ(mem->u.mem.bytes, 128u);
  const WdItem* io = ItemOf(info.card, WD_ITEM_IO, 1);
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->u.io.port, 0xc000u);
  EXPECT_EQ(io->u.io.bytes, 128u);
  const WdItem* irq = ItemOf(info.card, WD_ITEM_INTERRUPT);
  ASSERT_NE(irq, nullptr);
  EXPECT_EQ(irq->u.interrupt.irq, 11u);
  EXPECT_EQ(kernel_.open_fds(), 0);

  kernel_.device(kCard).intx = false;
  EXPECT_EQ(ItemOf(Info(5).card, WD_ITEM_INTERRUPT), nullptr);
}

struct Refusal {
  uint32_t slot;
  uint32_t status;
  const char* reason;
};

class VfioRefusalTest : public VfioDriverTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(VfioRefusalTest, IsRefusedWithItsReasonAndLeavesNothingOpen) {
  const Refusal& p = GetParam();
  WdPciCardInfo info{};
  info.pciSlot = WdPciSlot{0, p.slot, 0};
  EXPECT_EQ(Request(WD_CODE_PCI_CARD_INFO, info), p.status);
  EXPECT_EQ(driver_.LastError(), p.reason);
  uint8_t byte = 0;
  WdPciConfigDump config{};
  config.pciSlot = info.pciSlot;
  config.buffer = WD_TO_UPTR(&byte);
  config.bytes = 1;
  config.isRead = 1;
  EXPECT_EQ(Request(WD_CODE_PCI_CONFIG, config), p.status);
  EXPECT_EQ(kernel_.open_fds(), 0);
  EXPECT_EQ(driver_.open_devices(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Functions, VfioRefusalTest,
    ::testing::Values(
        Refusal{6, WD_STATUS_RESOURCE_BUSY,
                "0000:00:06.0 is bound to e1000e, not vfio-pci: `zarerera bind -s 00:06.0` hands "
                "it over"},
        Refusal{9, WD_STATUS_RESOURCE_BUSY,
                "0000:00:09.0 is bound to no driver, not vfio-pci: `zarerera bind -s 00:09.0` "
                "hands it over"},
        Refusal{7, WD_STATUS_RESOURCE_BUSY,
                "IOMMU group 13 of 0000:00:07.0 is not viable: bound to other drivers: "
                "0000:00:06.0 (e1000e); bind every function of the group to vfio-pci (zarerera "
                "bind --force)"},
        Refusal{8, WD_STATUS_RESOURCE_BUSY,
                "0000:00:08.0 has no IOMMU group: VFIO needs an IOMMU (intel_iommu=on or "
                "amd_iommu=on)"},
        Refusal{10, WD_STATUS_RESOURCE_BUSY,
                "permission denied: opening /dev/vfio/15 (the user needs read and write access to "
                "/dev/vfio/<group>; see zarerera bind)"},
        Refusal{0x1f, WD_STATUS_NO_SUCH_CARD,
                "no such device: reading /sys/bus/pci/devices/0000:00:1f.0/resource"}));

TEST_F(VfioDriverTest, RegistrationMapsWhatCanBeMappedAndUnregisteringReleasesAll) {
  WdCardRegister reg = Register();
  EXPECT_EQ(kernel_.log(), Join(kOpenCard, {"map 0000:00:05.0 region 0 4096"}));
  EXPECT_NE(reg.cardHandle, 0u);
  const WdItem* mem = ItemOf(reg.card, WD_ITEM_MEMORY, 0);
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(WD_FROM_UPTR(uint8_t*, mem->u.mem.userAddress), kernel_.bytes(kCard, 0).data());
  EXPECT_EQ(ItemOf(reg.card, WD_ITEM_MEMORY, 2)->u.mem.userAddress, 0u) << "not mappable";
  EXPECT_NE(ItemOf(reg.card, WD_ITEM_INTERRUPT)->u.interrupt.intHandle, 0u);
  EXPECT_EQ(driver_.registrations(), 1);

  WdCardRegister again{};
  again.card = reg.card;
  EXPECT_EQ(Request(WD_CODE_CARD_REGISTER, again), WD_STATUS_RESOURCE_BUSY);
  EXPECT_EQ(driver_.LastError(), "0000:00:05.0 is registered already");

  kernel_.ClearLog();
  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, reg), 0u);
  EXPECT_EQ(kernel_.log(), Join({"unmap 4096"}, kCloseCard));
  EXPECT_EQ(kernel_.open_fds(), 0);
  EXPECT_EQ(kernel_.mappings(), 0);
  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, reg), WD_STATUS_NO_SUCH_CARD);
}

TEST_F(VfioDriverTest, RegistrationOfARangeThatIsNoBarOfTheFunctionReleasesWhatItTook) {
  WdCardRegister reg{};
  reg.card = Info(5).card;
  reg.card.items[1].u.io.bytes = 256;  // more than BAR1 has
  kernel_.ClearLog();
  EXPECT_EQ(Request(WD_CODE_CARD_REGISTER, reg), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(driver_.LastError(), "I/O range at 0xc000 of 256 bytes is no BAR of 0000:00:05.0");
  EXPECT_EQ(kernel_.log(),
            Join(Join(kOpenCard, {"map 0000:00:05.0 region 0 4096", "unmap 4096"}), kCloseCard));
  EXPECT_EQ(reg.cardHandle, 0u);
  EXPECT_EQ(driver_.registrations(), 0);
}

struct TransferCase {
  uint32_t address;
  uint32_t command;
  uint32_t value;
  const char* access;  // what reached the device file ("" for none: through the mapping)
};

class VfioTransferTest : public VfioDriverTest,
                         public ::testing::WithParamInterface<TransferCase> {};

TEST_P(VfioTransferTest, ReachesItsRegionWithItsWidth) {
  const TransferCase& p = GetParam();
  WdCardRegister reg = Register();
  kernel_.ClearLog();
  const bool write = wd::KindOf(p.command).write;
  WdTransfer t{};
  t.address = p.address;
  t.command = p.command;
  if (write) {
    t.data.dword = p.value;
  } else {
    // What the card holds there, little-endian.
    const uint32_t region = p.address >= 0xfebf1000 ? 2 : p.address >= 0xfebf0000 ? 0 : 1;
    const uint32_t base = region == 0 ? 0xfebf0000 : region == 2 ? 0xfebf1000 : 0xc000;
    std::memcpy(kernel_.bytes(kCard, region).data() + (p.address - base), &p.value, 4);
  }
  ASSERT_EQ(Request(WD_CODE_TRANSFER, t), 0u) << driver_.LastError();
  const std::vector<std::string> expected = std::string(p.access).empty()
                                                ? std::vector<std::string>{}
                                                : std::vector<std::string>{p.access};
  EXPECT_EQ(kernel_.log(), expected);
  const unsigned width = wd::KindOf(p.command).width;
  const uint32_t mask = width == 4 ? 0xffffffffu : (1u << (8 * width)) - 1;
  if (!write) {
    EXPECT_EQ(t.data.dword, p.value & mask);
  }
  if (write && std::string(p.access).empty()) {
    uint32_t stored = 0;
    std::memcpy(&stored, kernel_.bytes(kCard, 0).data() + (p.address - 0xfebf0000), width);
    EXPECT_EQ(stored, p.value & mask);
  }
  Request(WD_CODE_CARD_UNREGISTER, reg);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, VfioTransferTest,
    ::testing::Values(
        TransferCase{0xc010, WD_RP_BYTE, 0x5a, "read8 0000:00:05.0 region 1 0x10 = 0x5a"},
        TransferCase{0xc07e, WD_WP_WORD, 0xbeef, "write16 0000:00:05.0 region 1 0x7e = 0xbeef"},
        TransferCase{0xc07c, WD_RP_DWORD, 0x12345678,
                     "read32 0000:00:05.0 region 1 0x7c = 0x12345678"},
        TransferCase{0xfebf004c, WD_RM_DWORD, 0x00000041, ""},
        TransferCase{0xfebf007f, WD_WM_BYTE, 0xa5, ""},
        TransferCase{0xfebf1ffe, WD_WM_WORD, 0x1234,
                     "write16 0000:00:05.0 region 2 0xffe = 0x1234"},
        TransferCase{0xfebf1000, WD_RM_DWORD, 0xcafe,
                     "read32 0000:00:05.0 region 2 0x0 = 0xcafe"}));

TEST_F(VfioDriverTest, TransfersOutsideTheRegisteredRangesTouchNothing) {
  WdCardRegister reg = Register();
  kernel_.ClearLog();
  for (const auto& [address, command] :
       std::vector<std::pair<uint32_t, uint32_t>>{{0xc07f, WD_RP_WORD},
                                                  {0xc080, WD_RP_BYTE},
                                                  {0xfebf0080, WD_RM_BYTE},
                                                  {0xfebf0000, WD_RP_BYTE},
                                                  {0xc000, 99}}) {
    WdTransfer t{};
    t.address = address;
    t.command = command;
    EXPECT_NE(Request(WD_CODE_TRANSFER, t), 0u) << std::hex << address;
  }
  uint8_t block[4] = {};
  WdTransfer t{};
  t.address = 0xc07e;
  t.command = WD_RP_SBYTE;
  t.bytes = 4;
  t.autoIncrement = 1;
  t.data.ptr = WD_TO_UPTR(block);
  EXPECT_EQ(Request(WD_CODE_TRANSFER, t), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(driver_.LastError(), "no registered I/O range covers 0xc07e-0xc081");
  EXPECT_TRUE(kernel_.log().empty());
  Request(WD_CODE_CARD_UNREGISTER, reg);
}

TEST_F(VfioDriverTest, BlockTransfersAreOneAccessAnElement) {
  WdCardRegister reg = Register();
  kernel_.ClearLog();
  const uint16_t out[3] = {0x1111, 0x2222, 0x3333};
  WdTransfer t{};
  t.address = 0xc020;
  t.command = WD_WP_SWORD;
  t.bytes = sizeof out;
  t.autoIncrement = 1;
  t.data.ptr = WD_TO_UPTR(out);
  ASSERT_EQ(Request(WD_CODE_TRANSFER, t), 0u);
  t.autoIncrement = 0;
  t.address = 0xc030;
  ASSERT_EQ(Request(WD_CODE_TRANSFER, t), 0u);
  EXPECT_EQ(kernel_.log(),
            (std::vector<std::string>{"write16 0000:00:05.0 region 1 0x20 = 0x1111",
                                      "write16 0000:00:05.0 region 1 0x22 = 0x2222",
                                      "write16 0000:00:05.0 region 1 0x24 = 0x3333",
                                      "write16 0000:00:05.0 region 1 0x30 = 0x1111",
                                      "write16 0000:00:05.0 region 1 0x30 = 0x2222",
                                      "write16 0000:00:05.0 region 1 0x30 = 0x3333"}));
  Request(WD_CODE_CARD_UNREGISTER, reg);
}

TEST_F(VfioDriverTest, ConfigurationGoesThroughTheConfigurationRegion) {
  kernel_.bytes(kCard, vfio::kConfigRegion)[0x3c] = 11;
  uint32_t value = 0;
  WdPciConfigDump c{};
  c.pciSlot = WdPciSlot{0, 5, 0};
  c.buffer = WD_TO_UPTR(&value);
  c.offset = 0x3c;
  c.bytes = 1;
  c.isRead = 1;
  kernel_.ClearLog();
  ASSERT_EQ(Request(WD_CODE_PCI_CONFIG, c), 0u);
  EXPECT_EQ(value, 11u);
  value = 0x0147;
  c.offset = 0x04;
  c.bytes = 2;
  c.isRead = 0;
  ASSERT_EQ(Request(WD_CODE_PCI_CONFIG, c), 0u);
  const auto log = kernel_.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "read8 0000:00:05.0 region 7 0x3c = 0xb"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "write16 0000:00:05.0 region 7 0x4 = 0x147"), 1);
  EXPECT_EQ(kernel_.open_fds(), 0);
  // Past the region's 256 bytes, and past 4 bytes: refused before any access.
  for (const auto& [offset, bytes] :
       std::vector<std::pair<uint32_t, uint32_t>>{{0xff, 2}, {0x100, 1}, {0, 5}, {0, 0}}) {
    c.offset = offset;
    c.bytes = bytes;
    kernel_.ClearLog();
    EXPECT_EQ(Request(WD_CODE_PCI_CONFIG, c), WD_STATUS_INVALID_PARAMETER) << offset;
    const auto after = kernel_.log();
    EXPECT_EQ(std::count_if(after.begin(), after.end(),
                            [](const std::string& s) { return s.rfind("write", 0) == 0; }),
              0);
  }
}

TEST_F(VfioDriverTest, TwoFunctionsShareOneContainerWhichClosesAfterTheLast) {
  kernel_.AddFunction("0000:01:00.0", "vfio-pci", "20",
                      "0x00000000fe000000 0x00000000fe0fffff 0x0000000000040200\n");
  kernel_.AddRegion("0000:01:00.0", 0, 0x100000, true);
  WdCardRegister a = Register(5);
  WdPciCardInfo info{};
  info.pciSlot = WdPciSlot{1, 0, 0};
  ASSERT_EQ(Request(WD_CODE_PCI_CARD_INFO, info), 0u) << driver_.LastError();
  WdCardRegister b{};
  b.card = info.card;
  kernel_.ClearLog();
  ASSERT_EQ(Request(WD_CODE_CARD_REGISTER, b), 0u) << driver_.LastError();
  EXPECT_EQ(kernel_.log(),
            (std::vector<std::string>{"open group 20", "status group 20",
                                      "set-container group 20 container", "get-device 0000:01:00.0",
                                      "map 0000:01:00.0 region 0 1048576"}));
  EXPECT_NE(a.cardHandle, b.cardHandle);
  kernel_.ClearLog();
  Request(WD_CODE_CARD_UNREGISTER, a);
  EXPECT_EQ(kernel_.log(),
            (std::vector<std::string>{"unmap 4096", "close device 0000:00:05.0",
                                      "unset-container group 12", "close group 12"}));
  kernel_.ClearLog();
  Request(WD_CODE_CARD_UNREGISTER, b);
  EXPECT_EQ(kernel_.log(), (std::vector<std::string>{"unmap 1048576", "close device 0000:01:00.0",
                                                     "unset-container group 20", "close group 20",
                                                     "close container"}));
}

}  // namespace
