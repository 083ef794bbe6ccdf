// The sysfs driver on a fabricated tree: the scan, card items, configuration access, registration,
// transfers of every width at both ends of a BAR, blocks, and what it does with unknown handles,
// missing or malformed files and in read-only mode. What reached the files is read back from them.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/int_requests.h"
#include "driver/wd_records.h"
#include "driver/wd_status.h"
#include "linux/sysfs_driver.h"
#include "support/fake_sysfs.h"

namespace {

using testsupport::FakeSysfs;

constexpr uint32_t kBar0 = 0xfe000000;  // memory, 128 bytes: a BAR smaller than a page
constexpr uint32_t kBar1 = 0xc080;      // I/O, 128 bytes
constexpr uint32_t kBar2 = 0xfe002000;  // memory, 8 KiB
constexpr uint32_t kBar3 = 0xc140;      // I/O, 32 bytes, a gap before it

class SysfsDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    tree_.AddFunction("0000:00:1f.2", 0x8086, 0x1c02, {{0xc020, 8, FakeSysfs::kIo}}, 11);
    tree_.AddFunction("0000:00:05.0", 0x9050, 0x10b5,
                      {{kBar0, 128, FakeSysfs::kMem},
                       {kBar1, 128, FakeSysfs::kIo},
                       {kBar2, 0x2000, FakeSysfs::kMem | 0x40000},
                       {kBar3, 32, FakeSysfs::kIo}},
                      10);
    tree_.AddFunction("0000:00:05.1", 0x9050, 0x10b5, {{0xfe004000, 256, FakeSysfs::kMem}});
    // A 64-bit BAR above 4 GiB and a 32-bit one below it.
    tree_.AddFunction("0000:01:00.0", 0x1af4, 0x1041,
                      {{0x4000000000ull, 0x80000, FakeSysfs::kMem | 0x100000},
                       {},
                       {0xfe100000, 0x1000, FakeSysfs::kMem}});
    tree_.AddFunction("0001:00:00.0", 0x9050, 0x10b5);  // another domain
    tree_.AddFunction("0000:00:06", 0x9050, 0x10b5);    // not a function's name
  }

  template <class T>
  uint32_t Request(uint32_t code, T* record, sysfs::SysfsDriver* driver = nullptr) {
    uint32_t status = WD_STATUS_NONE;
    EXPECT_TRUE((driver ? driver : &driver_)->Control(code, record, sizeof *record, &status));
    return status;
  }

  WdPciScan Scan(uint32_t vendor, uint32_t device, uint32_t* status = nullptr) {
    WdPciScan scan{};
    scan.vendorId = vendor;
    scan.deviceId = device;
    const uint32_t s = Request(WD_CODE_PCI_SCAN, &scan);
    if (status) *status = s;
    return scan;
  }

  WdCard Items(WdPciSlot slot, uint32_t* status = nullptr) {
    WdPciCardInfo info{};
    info.pciSlot = slot;
    const uint32_t s = Request(WD_CODE_PCI_CARD_INFO, &info);
    if (status) *status = s;
    return info.card;
  }

  // Registers the items of 00:05.0 (all four BARs and the interrupt).
  WdCardRegister Register(uint32_t* status = nullptr) {
    WdCardRegister reg{};
    reg.card = Items({0, 5, 0});
    const uint32_t s = Request(WD_CODE_CARD_REGISTER, &reg);
    if (status) *status = s;
    return reg;
  }

  uint32_t Unregister(WdCardRegister reg) { return Request(WD_CODE_CARD_UNREGISTER, &reg); }

  uint32_t Config(WdPciSlot slot, uint32_t offset, uint32_t bytes, bool read, void* buffer) {
    WdPciConfigDump dump{};
    dump.pciSlot = slot;
    dump.buffer = WD_TO_UPTR(buffer);
    dump.offset = offset;
    dump.bytes = bytes;
    dump.isRead = read ? 1 : 0;
    return Request(WD_CODE_PCI_CONFIG, &dump);
  }

  uint32_t Transfer(uint32_t address, uint32_t command, WdTransferData* data,
                    uint32_t blockBytes = 0) {
    WdTransfer t{};
    t.address = address;
    t.command = command;
    t.bytes = blockBytes;
    t.autoIncrement = blockBytes != 0 ? 1 : 0;
    t.data = *data;
    const uint32_t status = Request(WD_CODE_TRANSFER, &t);
    *data = t.data;
    return status;
  }

  FakeSysfs tree_;
  sysfs::SysfsDriver driver_{tree_.root()};
};

TEST_F(SysfsDriverTest, VersionIsAccepted) {
  WdVersion v{};
  EXPECT_EQ(Request(WD_CODE_VERSION, &v), 0u);
  EXPECT_EQ(v.version, sysfs::kVersion);
  EXPECT_GE(v.version, WD_MIN_VERSION);
}

TEST_F(SysfsDriverTest, ScanListsDomainZeroInBusSlotFunctionOrder) {
  uint32_t status = 1;
  const WdPciScan scan = Scan(0, 0, &status);
  EXPECT_EQ(status, 0u);
  ASSERT_EQ(scan.cardCount, 4u);
  const WdPciSlot slots[] = {{0, 5, 0}, {0, 5, 1}, {0, 0x1f, 2}, {1, 0, 0}};
  const WdPciId ids[] = {{0x9050, 0x10b5}, {0x9050, 0x10b5}, {0x8086, 0x1c02}, {0x1af4, 0x1041}};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::memcmp(&scan.slots[i], &slots[i], sizeof slots[i]), 0) << i;
    EXPECT_EQ(scan.ids[i].vendorId, ids[i].vendorId) << i;
    EXPECT_EQ(scan.ids[i].deviceId, ids[i].deviceId) << i;
  }
}

struct ScanFilter {
  const char* label;
  uint32_t vendor;
  uint32_t device;
  uint32_t count;
};

void PrintTo(const ScanFilter& f, std::ostream* os) {
  *os << f.label << " " << std::hex << f.vendor << ":" << f.device;
}

class ScanFilterTest : public SysfsDriverTest, public ::testing::WithParamInterface<ScanFilter> {};

TEST_P(ScanFilterTest, ZeroMatchesAny) {
  const WdPciScan scan = Scan(GetParam().vendor, GetParam().device);
  EXPECT_EQ(scan.cardCount, GetParam().count);
  for (uint32_t i = 0; i < scan.cardCount; ++i) {
    if (GetParam().vendor) {
      EXPECT_EQ(scan.ids[i].vendorId, GetParam().vendor);
    }
    if (GetParam().device) {
      EXPECT_EQ(scan.ids[i].deviceId, GetParam().device);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Filters, ScanFilterTest,
                         ::testing::Values(ScanFilter{"Both", 0x9050, 0x10b5, 2},
                                           ScanFilter{"VendorOnly", 0x8086, 0, 1},
                                           ScanFilter{"DeviceOnly", 0, 0x1041, 1},
                                           ScanFilter{"Mismatch", 0x8086, 0x10b5, 0},
                                           ScanFilter{"OtherDomainOnly", 0x1234, 0, 0}),
                         [](const ::testing::TestParamInfo<ScanFilter>& info) {
                           return std::string(info.param.label);
                         });

TEST_F(SysfsDriverTest, ScanStopsAtOneHundred) {
  for (int i = 0; i < 110; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "0000:%02x:00.0", 0x10 + i);
    tree_.AddFunction(name, 0x1234, 0x5678);
  }
  const WdPciScan scan = Scan(0x1234, 0);
  EXPECT_EQ(scan.cardCount, 100u);
  EXPECT_EQ(scan.slots[99].bus, 0x10u + 99);
}

TEST_F(SysfsDriverTest, ScanTakesIdsFromVendorAndDeviceFilesWhenConfigCannotBeRead) {
  tree_.Remove("0000:00:1f.2/config");
  tree_.Write("0000:00:1f.2/vendor", "0x8086\n");
  tree_.Write("0000:00:1f.2/device", "0x2922\n");
  const WdPciScan scan = Scan(0x8086, 0);
  ASSERT_EQ(scan.cardCount, 1u);
  EXPECT_EQ(scan.ids[0].deviceId, 0x2922u);
}

TEST_F(SysfsDriverTest, ScanOfAMissingRootFails) {
  sysfs::SysfsDriver missing(tree_.root() + "/nowhere");
  WdPciScan scan{};
  EXPECT_EQ(Request(WD_CODE_PCI_SCAN, &scan, &missing), WD_STATUS_NO_SUCH_CARD);
  EXPECT_EQ(scan.cardCount, 0u);
  EXPECT_NE(missing.LastError().find("/nowhere"), std::string::npos) << missing.LastError();
}

TEST_F(SysfsDriverTest, ItemsOnePerBarAndTheInterrupt) {
  uint32_t status = 1;
  const WdCard card = Items({0, 5, 0}, &status);
  EXPECT_EQ(status, 0u);
  ASSERT_EQ(card.itemCount, 5u);
  EXPECT_EQ(card.items[0].kind, static_cast<uint32_t>(WD_ITEM_MEMORY));
  EXPECT_EQ(card.items[0].u.mem.physAddress, kBar0);
  EXPECT_EQ(card.items[0].u.mem.transferAddress, kBar0);
  EXPECT_EQ(card.items[0].u.mem.bytes, 128u);
  EXPECT_EQ(card.items[0].u.mem.bar, 0u);
  EXPECT_EQ(card.items[1].kind, static_cast<uint32_t>(WD_ITEM_IO));
  EXPECT_EQ(card.items[1].u.io.port, kBar1);
  EXPECT_EQ(card.items[1].u.io.bytes, 128u);
  EXPECT_EQ(card.items[1].u.io.bar, 1u);
  EXPECT_EQ(card.items[2].u.mem.physAddress, kBar2);
  EXPECT_EQ(card.items[2].u.mem.bytes, 0x2000u);
  EXPECT_EQ(card.items[2].u.mem.bar, 2u);
  EXPECT_EQ(card.items[3].u.io.port, kBar3);
  EXPECT_EQ(card.items[3].u.io.bar, 3u);
  EXPECT_EQ(card.items[4].kind, static_cast<uint32_t>(WD_ITEM_INTERRUPT));
  EXPECT_EQ(card.items[4].u.interrupt.irq, 10u);
}

TEST_F(SysfsDriverTest, ItemsLeaveOutBarsAboveFourGibAndTheRomLine) {
  // The ROM line (index 6) is no BAR.
  tree_.Write("0000:01:00.0/resource",
              FakeSysfs::Line({0x4000000000ull, 0x80000, 0x140204}) + FakeSysfs::Line({}) +
                  FakeSysfs::Line({0xfe100000, 0x1000, 0x200}) + FakeSysfs::Line({}) +
                  FakeSysfs::Line({}) + FakeSysfs::Line({}) +
                  FakeSysfs::Line({0xfe200000, 0x10000, 0x200}));
  const WdCard card = Items({1, 0, 0});
  ASSERT_EQ(card.itemCount, 1u) << "irq 0: no interrupt item";
  EXPECT_EQ(card.items[0].u.mem.physAddress, 0xfe100000u);
  EXPECT_EQ(card.items[0].u.mem.bar, 2u);
}

struct LimitCase {
  const char* label;
  uint64_t start;
  uint64_t bytes;
  bool listed;
};

class FourGibLimitTest : public SysfsDriverTest, public ::testing::WithParamInterface<LimitCase> {};

// The records carry 32-bit addresses: a BAR whose last byte is the last below 4 GiB is listed
// whole, one that reaches a byte further is left out.
TEST_P(FourGibLimitTest, ListsOnlyBarsTheRecordsCanCarry) {
  tree_.AddFunction("0000:00:08.0", 0x1234, 0x0002, {{GetParam().start, GetParam().bytes, 0x200}});
  const WdCard card = Items({0, 8, 0});
  ASSERT_EQ(card.itemCount, GetParam().listed ? 1u : 0u);
  if (GetParam().listed) {
    EXPECT_EQ(card.items[0].u.mem.physAddress, static_cast<uint32_t>(GetParam().start));
    EXPECT_EQ(card.items[0].u.mem.bytes, static_cast<uint32_t>(GetParam().bytes));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bars, FourGibLimitTest,
    ::testing::Values(LimitCase{"EndsAtTheLastByte", 0xfffff000, 0x1000, true},
                      LimitCase{"OneBytePast", 0xfffff001, 0x1000, false},
                      LimitCase{"StartsAtFourGib", 0x100000000ull, 0x10, false}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.label); });

TEST_F(SysfsDriverTest, ScanFallsBackOnIdFilesWhenConfigIsTooShort) {
  tree_.Write("0000:00:1f.2/config", std::string("\x86\x80", 2));
  tree_.Write("0000:00:1f.2/vendor", "0x8086\n");
  tree_.Write("0000:00:1f.2/device", "0x2923\n");
  const WdPciScan scan = Scan(0x8086, 0);
  ASSERT_EQ(scan.cardCount, 1u);
  EXPECT_EQ(scan.ids[0].deviceId, 0x2923u);
}

// Counts what the system's calls leave open and mapped.
class CountingFiles : public sysfs::SysfsFiles {
 public:
  int Open(const std::string& path, bool write) override {
    const int fd = sysfs::SystemFiles().Open(path, write);
    if (fd >= 0) ++open;
    return fd;
  }
  long Read(int fd, void* b, size_t n, uint64_t at) override {
    return sysfs::SystemFiles().Read(fd, b, n, at);
  }
  long Write(int fd, const void* b, size_t n, uint64_t at) override {
    return sysfs::SystemFiles().Write(fd, b, n, at);
  }
  void* Map(int fd, size_t length, int* error) override {
    void* p = sysfs::SystemFiles().Map(fd, length, error);
    if (p != nullptr) ++mapped;
    return p;
  }
  void Unmap(void* address, size_t length) override {
    --mapped;
    sysfs::SystemFiles().Unmap(address, length);
  }
  void Close(int fd) override {
    --open;
    sysfs::SystemFiles().Close(fd);
  }
  int List(const std::string& path, std::vector<std::string>* names) override {
    return sysfs::SystemFiles().List(path, names);
  }
  int open = 0;
  int mapped = 0;
};

TEST_F(SysfsDriverTest, EveryFileAndMappingOfARegistrationIsReleased) {
  CountingFiles files;
  sysfs::SysfsDriver driver(tree_.root(), sysfs::Access::kFull, &files);
  // A BAR that straddles a page boundary is mapped over both pages.
  const long page = sysconf(_SC_PAGESIZE);
  const uint64_t start = 0xfe010000 + static_cast<uint64_t>(page) - 0x40;
  tree_.AddFunction("0000:00:09.0", 0x1234, 0x0003, {{start, 0x80, 0x200}, {0xc200, 16, 0x100}});
  tree_.Write("0000:00:09.0/resource0", std::string(2 * static_cast<size_t>(page), '\0'));
  for (int round = 0; round < 2; ++round) {
    WdPciCardInfo info{};
    info.pciSlot = {0, 9, 0};
    ASSERT_EQ(Request(WD_CODE_PCI_CARD_INFO, &info, &driver), 0u);
    WdCardRegister reg{};
    reg.card = info.card;
    ASSERT_EQ(Request(WD_CODE_CARD_REGISTER, &reg, &driver), 0u) << driver.LastError();
    EXPECT_EQ(files.mapped, 1);
    EXPECT_GE(files.open, 1) << "the I/O BAR's resource1 stays open while registered";
    WdTransfer t{};
    t.address = static_cast<uint32_t>(start) + 0x7c;  // on the second page
    t.command = WD_WM_DWORD;
    t.data.dword = 0x11223344;
    ASSERT_EQ(Request(WD_CODE_TRANSFER, &t, &driver), 0u) << driver.LastError();
    EXPECT_EQ(
        tree_.Read("0000:00:09.0/resource0").substr(static_cast<size_t>(page) - 0x40 + 0x7c, 4),
        std::string("\x44\x33\x22\x11"));
    ASSERT_EQ(Request(WD_CODE_CARD_UNREGISTER, &reg, &driver), 0u);
    EXPECT_EQ(files.open, 0) << "round " << round;
    EXPECT_EQ(files.mapped, 0) << "round " << round;
  }
}

struct BrokenFile {
  const char* label;
  const char* file;     // relative to 0000:00:05.0, removed when `content` is null
  const char* content;  // what it holds instead
  uint32_t status;
  const char* reason;  // part of the driver's reason
};

void PrintTo(const BrokenFile& b, std::ostream* os) {
  *os << b.label;
}

class BrokenFileTest : public SysfsDriverTest, public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(BrokenFileTest, CardInformationFailsWithTheReason) {
  const BrokenFile& b = GetParam();
  if (b.content == nullptr) {
    tree_.Remove(std::string("0000:00:05.0/") + b.file);
  } else {
    tree_.Write(std::string("0000:00:05.0/") + b.file, b.content);
  }
  WdPciCardInfo info{};
  info.pciSlot = {0, 5, 0};
  EXPECT_EQ(Request(WD_CODE_PCI_CARD_INFO, &info), b.status);
  EXPECT_EQ(info.card.itemCount, 0u) << "the record is left as it came";
  EXPECT_NE(driver_.LastError().find(b.reason), std::string::npos) << driver_.LastError();
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFileTest,
    ::testing::Values(BrokenFile{"MissingResource", "resource", nullptr, WD_STATUS_NO_SUCH_CARD,
                                 "no such file: reading "},
                      BrokenFile{"MalformedResource", "resource", "0x0 0x0 0x0\n0xc080 0xc0ff\n",
                                 WD_STATUS_INVALID_PARAMETER, "malformed: line 2 of "},
                      BrokenFile{"MalformedIrq", "irq", "ten\n", WD_STATUS_INVALID_PARAMETER,
                                 "malformed: "}),
    [](const ::testing::TestParamInfo<BrokenFile>& info) { return std::string(info.param.label); });

TEST_F(SysfsDriverTest, CardInformationOfAnEmptySlotFails) {
  uint32_t status = 0;
  Items({0, 7, 0}, &status);
  EXPECT_EQ(status, static_cast<uint32_t>(WD_STATUS_NO_SUCH_CARD));
}

struct ConfigCase {
  uint32_t offset;
  uint32_t bytes;
};

void PrintTo(const ConfigCase& c, std::ostream* os) {
  *os << c.bytes << " bytes at " << c.offset;
}

class ConfigAccessTest : public SysfsDriverTest,
                         public ::testing::WithParamInterface<ConfigCase> {};

// Reads see the file's bytes, little-endian; writes change exactly the bytes addressed.
TEST_P(ConfigAccessTest, ReadsAndWritesExactlyTheBytes) {
  const auto [offset, bytes] = GetParam();
  std::string config(256, '\0');
  for (size_t i = 0; i < config.size(); ++i) config[i] = static_cast<char>(i ^ 0x5a);
  tree_.Write("0000:00:05.0/config", config);

  uint32_t value = 0;
  ASSERT_EQ(Config({0, 5, 0}, offset, bytes, true, &value), 0u);
  uint32_t expected = 0;
  std::memcpy(&expected, config.data() + offset, bytes);
  EXPECT_EQ(value, expected);

  uint32_t written = 0xa1b2c3d4;
  ASSERT_EQ(Config({0, 5, 0}, offset, bytes, false, &written), 0u);
  std::memcpy(config.data() + offset, &written, bytes);
  EXPECT_EQ(tree_.Read("0000:00:05.0/config"), config);
}

INSTANTIATE_TEST_SUITE_P(WidthsAndOffsets, ConfigAccessTest,
                         ::testing::Values(ConfigCase{0, 1}, ConfigCase{0, 2}, ConfigCase{0, 4},
                                           ConfigCase{0x09, 3}, ConfigCase{0x3d, 1},
                                           ConfigCase{0x13, 2}, ConfigCase{0xfc, 4},
                                           ConfigCase{0xff, 1}, ConfigCase{0xfd, 3}),
                         [](const ::testing::TestParamInfo<ConfigCase>& info) {
                           return std::to_string(info.param.bytes) + "BytesAt" +
                                  std::to_string(info.param.offset);
                         });

TEST_F(SysfsDriverTest, ConfigShortReadIsAnErrorNotZeros) {
  // What an unprivileged reader sees: the first 64 bytes only.
  tree_.Write("0000:00:05.0/config", std::string(64, '\x11'));
  uint32_t value = 0xdeadbeef;
  EXPECT_EQ(Config({0, 5, 0}, 0x3e, 4, true, &value), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(value, 0xdeadbeefu);
  EXPECT_NE(driver_.LastError().find("short read"), std::string::npos) << driver_.LastError();
  EXPECT_EQ(Config({0, 5, 0}, 0x3c, 4, true, &value), 0u);
  EXPECT_EQ(value, 0x11111111u);
}

TEST_F(SysfsDriverTest, ConfigAccessOutOfRangeIsRefused) {
  uint32_t value = 0xdeadbeef;
  EXPECT_EQ(Config({0, 5, 0}, 0, 0, true, &value), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Config({0, 5, 0}, 0, 5, true, &value), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Config({0, 5, 0}, 4095, 2, true, &value), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Config({0, 5, 0}, 0, 4, true, nullptr), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Config({0, 9, 0}, 0, 4, true, &value), WD_STATUS_NO_SUCH_CARD);
  EXPECT_EQ(value, 0xdeadbeefu);
}

TEST_F(SysfsDriverTest, ReadOnlyRefusesConfigWritesAndRegistration) {
  sysfs::SysfsDriver readOnly(tree_.root(), sysfs::Access::kReadOnly);
  const std::string before = tree_.Read("0000:00:05.0/config");
  WdPciConfigDump dump{};
  uint32_t value = 0xffffffff;
  dump.pciSlot = {0, 5, 0};
  dump.buffer = WD_TO_UPTR(&value);
  dump.bytes = 4;
  dump.offset = 0x10;
  EXPECT_EQ(Request(WD_CODE_PCI_CONFIG, &dump, &readOnly), WD_STATUS_RESOURCE_BUSY);
  EXPECT_EQ(tree_.Read("0000:00:05.0/config"), before);
  EXPECT_NE(readOnly.LastError().find("read-only"), std::string::npos);
  dump.isRead = 1;
  EXPECT_EQ(Request(WD_CODE_PCI_CONFIG, &dump, &readOnly), 0u);
  EXPECT_EQ(value, 0u);

  WdCardRegister reg{};
  reg.card = Items({0, 5, 0});
  EXPECT_EQ(Request(WD_CODE_CARD_REGISTER, &reg, &readOnly), WD_STATUS_RESOURCE_BUSY);
  EXPECT_EQ(reg.cardHandle, 0u);
  EXPECT_EQ(readOnly.registrations(), 0);
}

TEST_F(SysfsDriverTest, RegistrationMapsMemoryOpensIoAndHandsOutDistinctHandles) {
  uint32_t status = 1;
  WdCardRegister a = Register(&status);
  ASSERT_EQ(status, 0u) << driver_.LastError();
  WdCardRegister b = Register(&status);
  ASSERT_EQ(status, 0u) << driver_.LastError();
  EXPECT_NE(a.cardHandle, 0u);
  EXPECT_NE(b.cardHandle, 0u);
  EXPECT_NE(a.cardHandle, b.cardHandle);
  EXPECT_NE(a.card.items[0].u.mem.userAddress, 0u);
  EXPECT_NE(a.card.items[2].u.mem.userAddress, 0u);
  EXPECT_NE(a.card.items[4].u.interrupt.intHandle, 0u);
  EXPECT_EQ(driver_.registrations(), 2);
  EXPECT_EQ(driver_.open_files(), 4) << "two I/O BARs each";

  // Through the mapping into the file.
  auto* regs = WD_FROM_UPTR(volatile uint32_t*, a.card.items[0].u.mem.userAddress);
  regs[0x50 / 4] = 0x12345678;
  EXPECT_EQ(tree_.Read("0000:00:05.0/resource0").substr(0x50, 4), std::string("\x78\x56\x34\x12"));

  EXPECT_EQ(Unregister(a), 0u);
  EXPECT_EQ(Unregister(a), WD_STATUS_NO_SUCH_CARD) << "already gone";
  EXPECT_EQ(Unregister(b), 0u);
  EXPECT_EQ(driver_.registrations(), 0);
  EXPECT_EQ(driver_.open_files(), 0);
  WdCardRegister unknown{};
  unknown.cardHandle = 77;
  EXPECT_EQ(Unregister(unknown), WD_STATUS_NO_SUCH_CARD);
  unknown.cardHandle = 0;
  EXPECT_EQ(Unregister(unknown), WD_STATUS_NO_SUCH_CARD);
  EXPECT_NE(driver_.LastError().find("unknown card handle"), std::string::npos);
}

TEST_F(SysfsDriverTest, SubPageBarAtAnOffsetIsMappedWithItsPage) {
  const long page = sysconf(_SC_PAGESIZE);
  tree_.AddFunction("0000:00:07.0", 0x1234, 0x0001, {{0xfe005800, 0x100, FakeSysfs::kMem}});
  // The kernel maps resourceN from the page that holds the BAR; a regular file stands in for that
  // page.
  tree_.Write("0000:00:07.0/resource0", std::string(static_cast<size_t>(page), '\0'));
  WdCardRegister reg{};
  reg.card = Items({0, 7, 0});
  ASSERT_EQ(Request(WD_CODE_CARD_REGISTER, &reg), 0u) << driver_.LastError();
  ASSERT_NE(reg.card.items[0].u.mem.userAddress, 0u);
  const WdUPtr user = reg.card.items[0].u.mem.userAddress;
  EXPECT_EQ(user % static_cast<WdUPtr>(page), 0x800u);
  WdTransferData data{};
  data.dword = 0xcafef00d;
  EXPECT_EQ(Transfer(0xfe005800 + 0xfc, WD_WM_DWORD, &data), 0u);
  EXPECT_EQ(tree_.Read("0000:00:07.0/resource0").substr(0x8fc, 4), std::string("\x0d\xf0\xfe\xca"));
  EXPECT_EQ(Unregister(reg), 0u);
}

TEST_F(SysfsDriverTest, RegistrationOfARangeNoFunctionOwnsFailsAndKeepsNothing) {
  WdCardRegister reg{};
  reg.card = Items({0, 5, 0});
  reg.card.items[3].u.io.port = 0xd000;  // the last range: the others are acquired first
  EXPECT_EQ(Request(WD_CODE_CARD_REGISTER, &reg), WD_STATUS_NO_SUCH_CARD);
  EXPECT_EQ(reg.cardHandle, 0u);
  EXPECT_EQ(driver_.registrations(), 0);
  EXPECT_EQ(driver_.open_files(), 0);
  EXPECT_NE(driver_.LastError().find("an I/O BAR at 0xd000"), std::string::npos)
      << driver_.LastError();
}

TEST_F(SysfsDriverTest, RegistrationWithoutTheResourceFileFails) {
  tree_.Remove("0000:00:05.0/resource2");
  uint32_t status = 0;
  const WdCardRegister reg = Register(&status);
  EXPECT_EQ(status, static_cast<uint32_t>(WD_STATUS_NO_SUCH_CARD));
  EXPECT_EQ(reg.cardHandle, 0u);
  EXPECT_EQ(driver_.open_files(), 0);
}

struct TransferCase {
  const char* label;
  bool memory;
  unsigned width;
  bool lastByte;  // at the BAR's end rather than its start
};

void PrintTo(const TransferCase& c, std::ostream* os) {
  *os << c.label;
}

class TransferTest : public SysfsDriverTest, public ::testing::WithParamInterface<TransferCase> {
 protected:
  void SetUp() override {
    SysfsDriverTest::SetUp();
    reg_ = Register();
    ASSERT_NE(reg_.cardHandle, 0u);
  }
  void TearDown() override { EXPECT_EQ(Unregister(reg_), 0u); }
  WdCardRegister reg_;
};

// Port transfers land in resource3 at address - start, memory transfers in resource2 through the
// mapping, each exactly its width; one byte further is refused and touches nothing.
TEST_P(TransferTest, SingleAtTheEdgeOfTheBar) {
  const TransferCase& c = GetParam();
  const uint32_t start = c.memory ? kBar2 : kBar3;
  const uint32_t size = c.memory ? 0x2000 : 32;
  const std::string file = c.memory ? "0000:00:05.0/resource2" : "0000:00:05.0/resource3";
  const uint32_t offset = c.lastByte ? size - c.width : 0;
  const uint32_t step = c.width == 1 ? 0 : c.width == 2 ? 1 : 2;
  const uint32_t base = c.memory ? WD_RM_BYTE : WD_RP_BYTE;

  WdTransferData data{};
  data.qword = 0x1122334455667788ull;
  ASSERT_EQ(Transfer(start + offset, base + 3 + step, &data), 0u) << driver_.LastError();
  std::string expected(size, '\0');
  std::memcpy(expected.data() + offset, &data, c.width);
  EXPECT_EQ(tree_.Read(file), expected);

  std::string content(size, '\0');
  for (uint32_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + 1);
  tree_.Write(file, content);
  data.qword = 0;
  ASSERT_EQ(Transfer(start + offset, base + step, &data), 0u);
  uint64_t expectedValue = 0;
  std::memcpy(&expectedValue, content.data() + offset, c.width);
  EXPECT_EQ(data.qword, expectedValue) << "the value's bytes and nothing else";

  // One byte past the end (or before the start): refused, file and data untouched.
  const uint32_t outside = c.lastByte ? start + offset + 1 : start - 1;
  data.qword = 0xabababababababab;
  EXPECT_EQ(Transfer(outside, base + 3 + step, &data), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Transfer(outside, base + step, &data), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(data.qword, 0xababababababababull);
  EXPECT_EQ(tree_.Read(file), content);
}

INSTANTIATE_TEST_SUITE_P(Widths, TransferTest,
                         ::testing::Values(TransferCase{"PortByteFirst", false, 1, false},
                                           TransferCase{"PortByteLast", false, 1, true},
                                           TransferCase{"PortWordFirst", false, 2, false},
                                           TransferCase{"PortWordLast", false, 2, true},
                                           TransferCase{"PortDwordFirst", false, 4, false},
                                           TransferCase{"PortDwordLast", false, 4, true},
                                           TransferCase{"MemoryByteFirst", true, 1, false},
                                           TransferCase{"MemoryByteLast", true, 1, true},
                                           TransferCase{"MemoryWordFirst", true, 2, false},
                                           TransferCase{"MemoryWordLast", true, 2, true},
                                           TransferCase{"MemoryDwordFirst", true, 4, false},
                                           TransferCase{"MemoryDwordLast", true, 4, true}),
                         [](const ::testing::TestParamInfo<TransferCase>& info) {
                           return std::string(info.param.label);
                         });

TEST_F(TransferTest, BlocksMoveEveryElementAndRefuseWhatDoesNotFit) {
  // Port dwords at the end of BAR3, memory words in BAR2.
  uint32_t out[4] = {0x01020304, 0x05060708, 0x090a0b0c, 0x0d0e0f10};
  WdTransferData data{};
  data.ptr = WD_TO_UPTR(out);
  ASSERT_EQ(Transfer(kBar3 + 16, WD_WP_SDWORD, &data, sizeof out), 0u);
  EXPECT_EQ(tree_.Read("0000:00:05.0/resource3").substr(16),
            std::string(reinterpret_cast<const char*>(out), sizeof out));
  uint32_t in[4] = {};
  data.ptr = WD_TO_UPTR(in);
  ASSERT_EQ(Transfer(kBar3 + 16, WD_RP_SDWORD, &data, sizeof in), 0u);
  EXPECT_EQ(std::memcmp(in, out, sizeof in), 0);

  uint16_t words[3] = {0xaaaa, 0xbbbb, 0xcccc};
  data.ptr = WD_TO_UPTR(words);
  ASSERT_EQ(Transfer(kBar2 + 0x100, WD_WM_SWORD, &data, sizeof words), 0u);
  EXPECT_EQ(tree_.Read("0000:00:05.0/resource2").substr(0x100, 6),
            std::string(reinterpret_cast<const char*>(words), 6));
  uint8_t bytes[6] = {};
  data.ptr = WD_TO_UPTR(bytes);
  ASSERT_EQ(Transfer(kBar2 + 0x100, WD_RM_SBYTE, &data, sizeof bytes), 0u);
  EXPECT_EQ(std::memcmp(bytes, words, 6), 0);

  // Past the end by one element: nothing written; not a whole number of elements: refused.
  const std::string before = tree_.Read("0000:00:05.0/resource3");
  data.ptr = WD_TO_UPTR(out);
  EXPECT_EQ(Transfer(kBar3 + 20, WD_WP_SDWORD, &data, sizeof out), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Transfer(kBar3, WD_WP_SDWORD, &data, 6), WD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(tree_.Read("0000:00:05.0/resource3"), before);
}

TEST_F(TransferTest, AddressesOfOtherFunctionsAndUnregisteredCardsAreRefused) {
  WdTransferData data{};
  EXPECT_EQ(Transfer(0xc020, WD_RP_BYTE, &data), WD_STATUS_INVALID_PARAMETER) << "00:1f.2";
  EXPECT_NE(driver_.LastError().find("no registered I/O range covers 0xc020-0xc020"),
            std::string::npos)
      << driver_.LastError();
  EXPECT_EQ(Transfer(kBar2, WD_RP_BYTE, &data), WD_STATUS_INVALID_PARAMETER)
      << "a memory range is no port";
  EXPECT_EQ(Transfer(kBar3, WD_RM_BYTE, &data), WD_STATUS_INVALID_PARAMETER)
      << "a port range is no memory";
  EXPECT_EQ(Transfer(kBar3, 99, &data), WD_STATUS_INVALID_PARAMETER) << "unknown command";
  EXPECT_EQ(Unregister(reg_), 0u);
  EXPECT_EQ(Transfer(kBar3, WD_RP_BYTE, &data), WD_STATUS_INVALID_PARAMETER) << "unregistered";
  reg_ = Register();
}

TEST_F(SysfsDriverTest, SleepBlocksAtLeastTheTimeAsked) {
  WdSleep nap{2000, 0};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Request(WD_CODE_SLEEP, &nap), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(2000));
}

TEST_F(SysfsDriverTest, UnknownCodesAndShortRecordsAreRefused) {
  WdVersion v{};
  EXPECT_EQ(Request(0x95382000u, &v), WD_STATUS_UNKNOWN_REQUEST);
  uint32_t status = 0;
  EXPECT_TRUE(driver_.Control(WD_CODE_PCI_SCAN, &v, sizeof v, &status));
  EXPECT_EQ(status, static_cast<uint32_t>(WD_STATUS_RECORD_TOO_SHORT));
  EXPECT_TRUE(driver_.Control(WD_CODE_SLEEP, &v, 4, &status));
  EXPECT_EQ(status, static_cast<uint32_t>(WD_STATUS_RECORD_TOO_SHORT));
}

TEST_F(SysfsDriverTest, TheReporterHearsEveryFailure) {
  std::vector<std::string> heard;
  driver_.SetErrorReporter([&heard](const std::string& reason) { heard.push_back(reason); });
  uint32_t value = 0;
  Config({0, 9, 0}, 0, 4, true, &value);
  Items({0, 9, 1});
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], "no such file: reading " + tree_.root() + "/0000:00:09.0/config");
  EXPECT_EQ(heard[1], "no such file: reading " + tree_.root() + "/0000:00:09.1/resource");
  EXPECT_EQ(driver_.LastError(), heard[1]);
}

// The system's calls, except that port reads and writes on I/O BARs' resourceN files fail with
// one errno: what a real kernel answers on a file whose function is gone, or that was never ours.
class FailingPortFiles : public sysfs::SysfsFiles {
 public:
  explicit FailingPortFiles(int error) : error_(error) {}
  int Open(const std::string& path, bool write) override {
    const int fd = sysfs::SystemFiles().Open(path, write);
    const size_t name = path.rfind("/resource");
    if (fd >= 0 && name != std::string::npos && name + 9 < path.size()) port_fds_.push_back(fd);
    return fd;
  }
  long Read(int fd, void* buffer, size_t bytes, uint64_t offset) override {
    return Failing(fd) ? -error_ : sysfs::SystemFiles().Read(fd, buffer, bytes, offset);
  }
  long Write(int fd, const void* buffer, size_t bytes, uint64_t offset) override {
    return Failing(fd) ? -error_ : sysfs::SystemFiles().Write(fd, buffer, bytes, offset);
  }
  void* Map(int fd, size_t length, int* error) override {
    return sysfs::SystemFiles().Map(fd, length, error);
  }
  void Unmap(void* address, size_t length) override { sysfs::SystemFiles().Unmap(address, length); }
  void Close(int fd) override {
    std::erase(port_fds_, fd);
    sysfs::SystemFiles().Close(fd);
  }
  int List(const std::string& path, std::vector<std::string>* names) override {
    return sysfs::SystemFiles().List(path, names);
  }

 private:
  bool Failing(int fd) const {
    return std::find(port_fds_.begin(), port_fds_.end(), fd) != port_fds_.end();
  }
  int error_;
  std::vector<int> port_fds_;
};

struct PortError {
  const char* label;
  int error;
  uint32_t status;
  const char* reason;  // before " reading PATH" / " writing PATH"
  const char* after;   // after it
};

void PrintTo(const PortError& e, std::ostream* os) {
  *os << e.label;
}

class PortErrorTest : public SysfsDriverTest, public ::testing::WithParamInterface<PortError> {};

// Each errno a port access meets is named in the reason, with the file; the record is left as it
// came, and unregistering still closes everything.
TEST_P(PortErrorTest, PortAccessFailureNamesTheReasonAndTheFile) {
  const PortError& e = GetParam();
  FailingPortFiles files(e.error);
  sysfs::SysfsDriver driver(tree_.root(), sysfs::Access::kFull, &files);
  WdCardRegister reg{};
  reg.card = Items({0, 5, 0});
  ASSERT_EQ(Request(WD_CODE_CARD_REGISTER, &reg, &driver), 0u) << driver.LastError();
  const std::string path = tree_.root() + "/0000:00:05.0/resource3";
  for (const bool write : {false, true}) {
    WdTransfer t{};
    t.address = kBar3;
    t.command = write ? WD_WP_DWORD : WD_RP_DWORD;
    t.data.dword = 0x600df00d;
    EXPECT_EQ(Request(WD_CODE_TRANSFER, &t, &driver), e.status);
    EXPECT_EQ(t.data.dword, 0x600df00du);
    EXPECT_EQ(driver.LastError(),
              std::string(e.reason) + (write ? " writing " : " reading ") + path + e.after);
  }
  EXPECT_EQ(Request(WD_CODE_CARD_UNREGISTER, &reg, &driver), 0u);
  EXPECT_EQ(driver.open_files(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, PortErrorTest,
    ::testing::Values(
        PortError{"FunctionRemoved", ENODEV, WD_STATUS_NO_SUCH_CARD, "device removed:", ""},
        PortError{"NoSuchDeviceOrAddress", ENXIO, WD_STATUS_NO_SUCH_CARD, "no such file:", ""},
        PortError{"NotPermitted", EPERM, WD_STATUS_RESOURCE_BUSY,
                  "permission denied:", " needs root"},
        PortError{"Busy", EBUSY, WD_STATUS_RESOURCE_BUSY, "busy:", ""},
        PortError{"InputOutputError", EIO, WD_STATUS_INVALID_PARAMETER, "input/output error:", ""}),
    [](const ::testing::TestParamInfo<PortError>& info) { return std::string(info.param.label); });

// The sysfs driver services no interrupts: it refuses the library's own interrupt requests, so
// the library enables the card's interrupt and does nothing more.
TEST_F(SysfsDriverTest, RefusesTheInterruptRequests) {
  for (uint32_t code : {WD_CODE_INT_ENABLE, WD_CODE_INT_WAIT, WD_CODE_INT_DISABLE}) {
    WdIntRequest r{};
    r.intHandle = 1;
    EXPECT_EQ(Request(code, &r), WD_STATUS_UNKNOWN_REQUEST) << std::hex << code;
    EXPECT_EQ(r.stopped, 0u);
  }
}

}  // namespace
