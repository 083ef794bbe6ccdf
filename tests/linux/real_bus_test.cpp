// This machine's own PCI bus through the library and the sysfs driver, checked against pciutils'
// lspci, which no one here wrote: the scan finds exactly the functions `lspci -n` lists, the first
// 64 bytes of each configuration space equal `lspci -x`'s dump, and each function's BARs below
// 4 GiB and its IRQ equal what `lspci -v` shows while BARs above 4 GiB are absent.
//
// Read-only by construction: the driver is opened in read-only mode, which refuses registration
// and configuration writes; nothing here registers a card, touches a BAR or writes configuration.
// Skipped where there is no /sys/bus/pci/devices.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "diag/pci_diag.h"
#include "driver/driver_request.h"
#include "driver/hosted_driver.h"
#include "driver/wd_status.h"
#include "linux/sysfs_driver.h"
#include "p9050_lib.h"

namespace linux_test {
namespace {

using Slot = std::tuple<uint32_t, uint32_t, uint32_t>;  // bus, slot, function

struct Range {
  bool io;
  uint64_t start;
  uint64_t bytes;
  bool operator<(const Range& o) const {
    return std::tie(io, start, bytes) < std::tie(o.io, o.start, o.bytes);
  }
  bool operator==(const Range& o) const = default;
};

std::ostream& operator<<(std::ostream& os, const Range& r) {
  return os << (r.io ? "I/O " : "memory ") << std::hex << "0x" << r.start << " +0x" << r.bytes;
}

// What lspci says about one function.
struct Listed {
  uint32_t vendor = 0;
  uint32_t device = 0;
  std::vector<uint8_t> config;  // lspci -x: the first 64 bytes
  std::set<Range> ranges;       // lspci -v: "Memory at" and "I/O ports at" lines
  uint32_t irq = 0;             // lspci -v: "IRQ n" in the Flags line, 0 when not shown
};

std::string Run(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  pclose(pipe);
  return out;
}

// "DDDD:BB:SS.F" at the start of a line; domain 0000 only.
bool SlotOf(const std::string& line, Slot* slot) {
  unsigned domain, bus, dev, fn;
  char dot;
  if (std::sscanf(line.c_str(), "%4x:%2x:%2x%c%1x", &domain, &bus, &dev, &dot, &fn) != 5 ||
      dot != '.' || domain != 0) {
    return false;
  }
  *slot = {bus, dev, fn};
  return true;
}

uint64_t Size(const std::string& text) {  // "512K", "32", "1M", "4G"
  uint64_t v = std::strtoull(text.c_str(), nullptr, 10);
  switch (text.empty() ? ' ' : text.back()) {
    case 'K':
      return v << 10;
    case 'M':
      return v << 20;
    case 'G':
      return v << 30;
    default:
      return v;
  }
}

std::map<Slot, Listed> Lspci() {
  std::map<Slot, Listed> listed;
  std::istringstream ids(Run("lspci -n -D"));
  for (std::string line; std::getline(ids, line);) {
    Slot slot;
    unsigned vendor, device;
    if (!SlotOf(line, &slot)) continue;
    // "0000:00:03.0 0200: 1af4:1041 (rev 01)"
    const size_t ids_at = line.find(": ");
    if (ids_at == std::string::npos ||
        std::sscanf(line.c_str() + ids_at + 2, "%4x:%4x", &vendor, &device) != 2) {
      continue;
    }
    listed[slot].vendor = vendor;
    listed[slot].device = device;
  }

  std::istringstream dump(Run("lspci -x -D"));
  Slot current{~0u, 0, 0};
  for (std::string line; std::getline(dump, line);) {
    Slot slot;
    if (SlotOf(line, &slot)) {
      current = slot;
      continue;
    }
    unsigned offset;
    if (listed.count(current) == 0 || std::sscanf(line.c_str(), "%2x:", &offset) != 1) continue;
    std::istringstream bytes(line.substr(3));
    for (unsigned b; bytes >> std::hex >> b;)
      listed[current].config.push_back(static_cast<uint8_t>(b));
  }

  std::istringstream verbose(Run("lspci -v -D"));
  for (std::string line; std::getline(verbose, line);) {
    Slot slot;
    if (SlotOf(line, &slot)) {
      current = slot;
      continue;
    }
    if (listed.count(current) == 0) continue;
    Listed& l = listed[current];
    const bool memory = line.find("\tMemory at ") == 0;
    const bool io = line.find("\tI/O ports at ") == 0;
    if (memory || io) {
      const size_t at = line.find(" at ") + 4;
      const size_t size = line.find("[size=");
      if (line.compare(at, 1, "<") == 0 || size == std::string::npos) continue;  // unassigned
      l.ranges.insert({io, std::strtoull(line.c_str() + at, nullptr, 16),
                       Size(line.substr(size + 6, line.find(']', size) - size - 6))});
    }
    const size_t irq = line.find(", IRQ ");
    if (line.find("\tFlags: ") == 0 && irq != std::string::npos) {
      l.irq = static_cast<uint32_t>(std::strtoul(line.c_str() + irq + 6, nullptr, 10));
    }
  }
  return listed;
}

class RealBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(sysfs::kDefaultRoot)) {
      GTEST_SKIP() << "no " << sysfs::kDefaultRoot << " here: no PCI bus to compare with lspci";
    }
    ASSERT_EQ(std::system("lspci -n >/dev/null 2>&1"), 0) << "lspci is missing (pciutils)";
    listed_ = Lspci();
    ASSERT_FALSE(listed_.empty()) << "lspci lists no function";
    WdHosted_Install(&driver_);
    device_ = WdChannel_Open();
    ASSERT_NE(device_, WD_INVALID_HANDLE);
  }
  void TearDown() override {
    if (device_ != WD_INVALID_HANDLE) WdChannel_Close(device_);
    WdHosted_Install(nullptr);
    EXPECT_EQ(driver_.registrations(), 0);
  }

  sysfs::SysfsDriver driver_{sysfs::kDefaultRoot, sysfs::Access::kReadOnly};
  WdDeviceHandle device_ = WD_INVALID_HANDLE;
  std::map<Slot, Listed> listed_;
};

TEST_F(RealBusTest, ScanFindsExactlyWhatLspciLists) {
  WdPciScan scan{};
  ASSERT_EQ(DriverRequest(WD_CODE_PCI_SCAN, device_, &scan, sizeof scan, 0), 0u)
      << driver_.LastError();
  std::map<Slot, std::pair<uint32_t, uint32_t>> found;
  std::cout << "library scan          lspci -n\n";
  auto it = listed_.begin();
  for (uint32_t i = 0; i < scan.cardCount; ++i) {
    const WdPciSlot& s = scan.slots[i];
    found[{s.bus, s.slot, s.function}] = {scan.ids[i].vendorId, scan.ids[i].deviceId};
    char line[96];
    std::snprintf(line, sizeof line, "%02x:%02x.%x %04x:%04x", static_cast<unsigned>(s.bus),
                  static_cast<unsigned>(s.slot), static_cast<unsigned>(s.function),
                  static_cast<unsigned>(scan.ids[i].vendorId),
                  static_cast<unsigned>(scan.ids[i].deviceId));
    std::cout << line;
    if (it != listed_.end()) {
      std::snprintf(line, sizeof line, "    %02x:%02x.%x %04x:%04x", std::get<0>(it->first),
                    std::get<1>(it->first), std::get<2>(it->first), it->second.vendor,
                    it->second.device);
      std::cout << line;
      ++it;
    }
    std::cout << "\n";
  }
  ASSERT_EQ(found.size(), listed_.size());
  for (const auto& [slot, l] : listed_) {
    ASSERT_EQ(found.count(slot), 1u);
    EXPECT_EQ(found[slot].first, l.vendor);
    EXPECT_EQ(found[slot].second, l.device);
  }
  EXPECT_EQ(P9050_CountCards(0, 0), listed_.size());
}

TEST_F(RealBusTest, FirstSixtyFourConfigBytesEqualLspciDump) {
  for (const auto& [slot, l] : listed_) {
    ASSERT_EQ(l.config.size(), 64u);
    const WdPciSlot s{std::get<0>(slot), std::get<1>(slot), std::get<2>(slot)};
    for (uint32_t offset = 0; offset < 64; offset += 4) {
      uint32_t expected;
      std::memcpy(&expected, l.config.data() + offset, 4);
      EXPECT_EQ(PciBus_ReadConfig(device_, s, offset, 4), expected)
          << std::hex << "function " << s.bus << ":" << s.slot << "." << s.function << " offset 0x"
          << offset;
    }
    EXPECT_EQ(PciBus_ReadConfig(device_, s, 0x0b, 1), l.config[0x0b]) << "class, one byte";
  }
}

TEST_F(RealBusTest, BarsBelowFourGibAndIrqEqualLspci) {
  for (const auto& [slot, l] : listed_) {
    WdPciCardInfo info{};
    info.pciSlot = {std::get<0>(slot), std::get<1>(slot), std::get<2>(slot)};
    ASSERT_EQ(DriverRequest(WD_CODE_PCI_CARD_INFO, device_, &info, sizeof info, 0), 0u)
        << driver_.LastError();
    std::set<Range> items;
    uint32_t irq = 0;
    for (uint32_t i = 0; i < info.card.itemCount; ++i) {
      const WdItem& item = info.card.items[i];
      if (item.kind == WD_ITEM_MEMORY)
        items.insert({false, item.u.mem.physAddress, item.u.mem.bytes});
      if (item.kind == WD_ITEM_IO) items.insert({true, item.u.io.port, item.u.io.bytes});
      if (item.kind == WD_ITEM_INTERRUPT) irq = item.u.interrupt.irq;
    }
    std::set<Range> low;
    for (const Range& r : l.ranges) {
      if (r.start + r.bytes <= 0x100000000ull) {
        low.insert(r);
      } else {
        EXPECT_EQ(items.count(r), 0u) << r << " lies above 4 GiB";
      }
    }
    const std::string where = std::to_string(std::get<0>(slot)) + ":" +
                              std::to_string(std::get<1>(slot)) + "." +
                              std::to_string(std::get<2>(slot));
    EXPECT_EQ(items, low) << where;
    EXPECT_EQ(irq, l.irq) << where;
    std::cout << where << ": lspci shows " << l.ranges.size() << " range(s), " << low.size()
              << " below 4 GiB, IRQ " << l.irq << "; the library reports " << items.size()
              << " range item(s), IRQ " << irq << "\n";
  }
}

}  // namespace
}  // namespace linux_test
