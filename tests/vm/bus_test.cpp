// The scan and the card items on a real kernel's bus, against the guest's sysfs and against
// lspci: the same functions in the same order (bus 1, behind the root port, included), the same
// BARs and IRQs.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "driver/driver_request.h"
#include "linux/sysfs_tree.h"
#include "p9050_lib.h"
#include "vm/guest.h"
#include "vm/lspci.h"

namespace vm_test {
namespace {

std::string NameOf(const WdPciSlot& s) {
  char name[16];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", static_cast<unsigned>(s.bus),
                static_cast<unsigned>(s.slot), static_cast<unsigned>(s.function));
  return name;
}

uint32_t HexAttribute(const std::string& function, const char* name) {
  return static_cast<uint32_t>(std::strtoul(Attribute(function, name).c_str(), nullptr, 16));
}

class BusTest : public GuestTest {
 protected:
  // The scan of the whole bus, as "0000:BB:SS.F" with vendor and device.
  struct Found {
    std::string name;
    uint32_t vendor;
    uint32_t device;
  };
  std::vector<Found> Scan(uint32_t vendor = 0, uint32_t device = 0) {
    WdPciScan scan{};
    scan.vendorId = vendor;
    scan.deviceId = device;
    EXPECT_EQ(DriverRequest(WD_CODE_PCI_SCAN, device_, &scan, sizeof scan, 0), 0u)
        << driver_.LastError();
    std::vector<Found> found;
    for (uint32_t i = 0; i < scan.cardCount; ++i)
      found.push_back({NameOf(scan.slots[i]), scan.ids[i].vendorId, scan.ids[i].deviceId});
    return found;
  }

  std::vector<ListedRange> Items(const std::string& function, uint32_t* irq) {
    WdPciCardInfo info{};
    info.pciSlot = SlotOf(function);
    EXPECT_EQ(DriverRequest(WD_CODE_PCI_CARD_INFO, device_, &info, sizeof info, 0), 0u)
        << driver_.LastError();
    std::vector<ListedRange> ranges;
    *irq = 0;
    for (uint32_t i = 0; i < info.card.itemCount; ++i) {
      const WdItem& item = info.card.items[i];
      if (item.kind == WD_ITEM_MEMORY)
        ranges.push_back({false, item.u.mem.physAddress, item.u.mem.bytes});
      if (item.kind == WD_ITEM_IO) ranges.push_back({true, item.u.io.port, item.u.io.bytes});
      if (item.kind == WD_ITEM_INTERRUPT) *irq = item.u.interrupt.irq;
    }
    return ranges;
  }
};

TEST_F(BusTest, ScanFindsSysfsFunctionsInOrderWithTheirIds) {
  const std::vector<std::string> functions = Functions();
  const std::vector<Found> found = Scan();
  ASSERT_EQ(found.size(), functions.size());
  for (size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(functions[i]);
    EXPECT_EQ(found[i].name, functions[i]) << "the scan's order is the bus's: domain, bus, slot";
    EXPECT_EQ(found[i].vendor, HexAttribute(functions[i], "vendor"));
    EXPECT_EQ(found[i].device, HexAttribute(functions[i], "device"));
  }
  EXPECT_EQ(P9050_CountCards(0, 0), functions.size());
  // The two edu functions, and nothing else, for their IDs: bus 0 first.
  const std::vector<Found> edu = Scan(kEduVendor, kEduDevice);
  ASSERT_EQ(edu.size(), 2u);
  EXPECT_EQ(edu[0].name, kEdu);
  EXPECT_EQ(edu[1].name, kEduBehindPort);
}

TEST_F(BusTest, ScanEqualsLspciInOrder) {
  const std::vector<ListedFunction> listed = Lspci();
  ASSERT_FALSE(listed.empty()) << "lspci failed in the guest";
  const std::vector<Found> found = Scan();
  ASSERT_EQ(found.size(), listed.size());
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].name, listed[i].name);
    EXPECT_EQ(found[i].vendor, listed[i].vendor) << listed[i].name;
    EXPECT_EQ(found[i].device, listed[i].device) << listed[i].name;
  }
}

TEST_F(BusTest, FunctionOnBusOneSitsBehindTheRootPort) {
  // The root port's bridge header: secondary and subordinate bus 1.
  const WdPciSlot port = SlotOf("0000:00:10.0");
  EXPECT_EQ(HexAttribute("0000:00:10.0", "class") >> 8, 0x0604u) << "a PCI-to-PCI bridge";
  uint32_t buses = 0;
  WdPciConfigDump dump{};
  dump.pciSlot = port;
  dump.offset = 0x18;  // primary, secondary, subordinate bus, latency
  dump.bytes = 4;
  dump.isRead = 1;
  dump.buffer = WD_TO_UPTR(&buses);
  ASSERT_EQ(DriverRequest(WD_CODE_PCI_CONFIG, device_, &dump, sizeof dump, 0), 0u)
      << driver_.LastError();
  EXPECT_EQ(buses & 0xffffff, 0x010100u);
  // The kernel's device tree agrees: 01:00.0 is a child of 00:10.0.
  char target[512] = {};
  ASSERT_GT(
      readlink((std::string(kDevices) + "/" + kEduBehindPort).c_str(), target, sizeof target - 1),
      0);
  EXPECT_NE(std::string(target).find("/0000:00:10.0/0000:01:00.0"), std::string::npos) << target;
  // And the board behind it opens, from its slot.
  P9050_Handle* h = nullptr;
  ASSERT_TRUE(P9050_Open(&h, kEduVendor, kEduDevice, 1, 0)) << P9050_ErrorText;
  WdPciSlot slot{};
  P9050_GetPciSlot(h, &slot);
  EXPECT_EQ(NameOf(slot), kEduBehindPort);
  EXPECT_EQ(P9050_ReadDword(h, 0, 0), 0x010000edu);
  P9050_Close(h);
}

TEST_F(BusTest, ItemsEqualSysfsResourcesAndLspci) {
  const std::vector<ListedFunction> listed = Lspci();
  ASSERT_FALSE(listed.empty());
  int ranges = 0;
  int irqs = 0;
  for (const ListedFunction& l : listed) {
    SCOPED_TRACE(l.name);
    uint32_t irq = 0;
    const std::vector<ListedRange> items = Items(l.name, &irq);
    // lspci lists the BARs in BAR order, as the items are.
    EXPECT_EQ(items, l.ranges);
    EXPECT_EQ(irq, l.irq);
    EXPECT_EQ(irq, static_cast<uint32_t>(std::atoi(Attribute(l.name, "irq").c_str())));
    // Each item is its BAR's line of the resource file.
    std::vector<sysfs::ResourceLine> lines;
    unsigned bad = 0;
    ASSERT_TRUE(sysfs::ParseResource(Attribute(l.name, "resource"), &lines, &bad));
    std::vector<ListedRange> bars;
    for (unsigned b = 0; b < sysfs::kBarLines && b < lines.size(); ++b) {
      if (lines[b].used()) bars.push_back({lines[b].io(), lines[b].start, lines[b].bytes()});
    }
    EXPECT_EQ(items, bars);
    ranges += static_cast<int>(items.size());
    irqs += irq != 0 ? 1 : 0;
  }
  // The bus the guest was booted with: VGA 2, edu 1 + 1, test device 2, e1000e 4, root port 1,
  // AHCI 2, SMBus 1 ranges; interrupts on edu, e1000e, the port, AHCI, SMBus and the second edu.
  EXPECT_EQ(ranges, 14);
  EXPECT_EQ(irqs, 6);
}

}  // namespace
}  // namespace vm_test
