// The simulated PCI bus through driver requests: scan, card information, configuration space,
// BAR sizing and moves.
#include <gtest/gtest.h>

#include <tuple>

#include "sim/pci_config.h"
#include "sim_fixture.h"
#include "support/param_name.h"

namespace {

using simtest::BoardLikeConfig;
using simtest::BytesOf;
using Slot = std::tuple<uint32_t, uint32_t, uint32_t>;
using BusTest = simtest::SimFixture;

sim::FunctionConfig Ids(uint16_t vendor, uint16_t device) {
  sim::FunctionConfig s;
  s.vendor_id = vendor;
  s.device_id = device;
  s.bars[0] = {sim::BarKind::kIo, 16};
  return s;
}

struct ScanCase {
  uint32_t vendor, device;
  std::vector<Slot> expected;
};

void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << std::hex << c.vendor << "/" << c.device;
}

class ScanTest : public simtest::SimFixture, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, ReportsMatchingCardsInBusSlotFunctionOrder) {
  // Added out of order; the scan sorts by bus, slot, function.
  sim_.AddFunction(1, 2, 0, Ids(0x9050, 0x10B5));
  sim_.AddFunction(0, 5, 0, Ids(0x8086, 0x1234));
  sim_.AddFunction(0, 3, 1, Ids(0x9050, 0x10B5));
  sim_.AddFunction(0, 3, 0, Ids(0x9050, 0x2222));
  WdPciScan scan{};
  scan.vendorId = GetParam().vendor;
  scan.deviceId = GetParam().device;
  ASSERT_EQ(Send(WD_CODE_PCI_SCAN, scan), 0u);
  ASSERT_EQ(scan.cardCount, GetParam().expected.size());
  for (uint32_t i = 0; i < scan.cardCount; ++i) {
    const auto [bus, slot, fn] = GetParam().expected[i];
    EXPECT_EQ(Slot(scan.slots[i].bus, scan.slots[i].slot, scan.slots[i].function),
              GetParam().expected[i]);
    const sim::PciFunction* f = sim_.Find(bus, slot, fn);
    EXPECT_EQ(scan.ids[i].vendorId, f->cfg().vendor_id);
    EXPECT_EQ(scan.ids[i].deviceId, f->cfg().device_id);
  }
  EXPECT_EQ(scan.ids[scan.cardCount].vendorId, 0u);  // nothing past the count
}

INSTANTIATE_TEST_SUITE_P(
    Filters, ScanTest,
    ::testing::Values(ScanCase{0, 0, {{0, 3, 0}, {0, 3, 1}, {0, 5, 0}, {1, 2, 0}}},  // every card
                      ScanCase{0x9050, 0x10B5, {{0, 3, 1}, {1, 2, 0}}},
                      ScanCase{0x9050, 0, {{0, 3, 0}, {0, 3, 1}, {1, 2, 0}}},  // device wildcard
                      ScanCase{0, 0x1234, {{0, 5, 0}}},                        // vendor wildcard
                      ScanCase{0x9050, 0x1234, {}}, ScanCase{0x10B5, 0x9050, {}}),
    testsupport::ByPrinted());

TEST_F(BusTest, ScanReportsAtMostOneHundredCards) {
  for (uint32_t i = 0; i < 105; ++i) sim_.AddFunction(i / 32, i % 32, 0, Ids(0x9050, 0x10B5));
  WdPciScan scan{};
  ASSERT_EQ(Send(WD_CODE_PCI_SCAN, scan), 0u);
  ASSERT_EQ(scan.cardCount, 100u);
  EXPECT_EQ(scan.slots[99].bus, 3u);  // the hundredth card: bus 3, slot 3
  EXPECT_EQ(scan.slots[99].slot, 3u);
}

WdItem MemItem(uint32_t start, uint32_t bytes, uint32_t bar) {
  WdItem i{};
  i.kind = WD_ITEM_MEMORY;
  i.u.mem.physAddress = start;
  i.u.mem.bytes = bytes;
  i.u.mem.transferAddress = start;
  i.u.mem.bar = bar;
  return i;
}

WdItem IoItem(uint32_t port, uint32_t bytes, uint32_t bar) {
  WdItem i{};
  i.kind = WD_ITEM_IO;
  i.u.io.port = port;
  i.u.io.bytes = bytes;
  i.u.io.bar = bar;
  return i;
}

TEST_F(BusTest, CardItemsFollowBarsThenInterruptThenBus) {
  sim::FunctionConfig first = BoardLikeConfig();
  first.bars[4] = {sim::BarKind::kMemory, 16};
  sim_.AddFunction(0, 1, 0, first);
  sim::FunctionConfig second = BoardLikeConfig();
  second.bars[1] = {};  // a gap: BAR1 unimplemented
  second.irq = 0;
  second.bus_item = true;
  sim_.AddFunction(2, 7, 3, second);

  // Addresses are handed out naturally aligned, memory from 0xFE000000, I/O from 0xC000.
  WdItem irq{};
  irq.kind = WD_ITEM_INTERRUPT;
  irq.u.interrupt.irq = 11;
  const std::vector<WdItem> expected_first = {MemItem(0xFE000000, 128, 0),  IoItem(0xC000, 128, 1),
                                              MemItem(0xFE001000, 4096, 2), IoItem(0xC080, 32, 3),
                                              MemItem(0xFE002000, 16, 4),   irq};
  WdItem bus{};
  bus.kind = WD_ITEM_BUS;
  bus.u.bus.busType = 5;
  bus.u.bus.busNumber = 2;
  bus.u.bus.slotFunction = 7 << 3 | 3;
  const std::vector<WdItem> expected_second = {
      MemItem(0xFE002080, 128, 0), MemItem(0xFE003000, 4096, 2), IoItem(0xC0A0, 32, 3), bus};

  for (const auto& [slot, expected] : {std::pair{WdPciSlot{0, 1, 0}, expected_first},
                                       std::pair{WdPciSlot{2, 7, 3}, expected_second}}) {
    WdCard card = CardInfo(slot.bus, slot.slot, slot.function);
    ASSERT_EQ(card.itemCount, expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(BytesOf(card.items[i]), BytesOf(expected[i]))
          << "slot " << slot.slot << " item " << i;
    }
  }
}

TEST_F(BusTest, CardInfoForEmptySlotFailsAndWritesNothing) {
  sim_.AddFunction(0, 1, 0, BoardLikeConfig());
  WdPciCardInfo info{};
  info.pciSlot = {0, 2, 0};
  const auto before = BytesOf(info);
  EXPECT_EQ(Send(WD_CODE_PCI_CARD_INFO, info), sim::kStatusNoSuchCard);
  EXPECT_EQ(BytesOf(info), before);
}

// --- Configuration space

struct ConfigBoundsCase {
  uint32_t offset, bytes;
  bool accepted;
};

void PrintTo(const ConfigBoundsCase& c, std::ostream* os) {
  *os << "offset " << c.offset << ", " << c.bytes << " bytes";
}

class ConfigBoundsTest : public simtest::SimFixture,
                         public ::testing::WithParamInterface<ConfigBoundsCase> {};

TEST_P(ConfigBoundsTest, AcceptsOneToFourBytesInsideTheSpace) {
  auto card = AddCard(0, 1, 0, BoardLikeConfig());
  for (uint32_t isRead : {1u, 0u}) {
    uint8_t buffer[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    WdPciConfigDump dump{};
    dump.pciSlot = {0, 1, 0};
    dump.buffer = WD_TO_UPTR(buffer);
    dump.offset = GetParam().offset;
    dump.bytes = GetParam().bytes;
    dump.isRead = isRead;
    const auto record_before = BytesOf(dump);
    const uint32_t status = Send(WD_CODE_PCI_CONFIG, dump);
    EXPECT_EQ(BytesOf(dump), record_before);  // nothing of this request is a result field
    if (GetParam().accepted) {
      EXPECT_EQ(status, 0u);
      // A read fills exactly `bytes` bytes of the buffer.
      if (isRead) {
        EXPECT_EQ(buffer[GetParam().bytes], 0x11 * (GetParam().bytes + 1));
      }
    } else {
      EXPECT_EQ(status, sim::kStatusInvalidParameter);
      EXPECT_EQ(buffer[0], 0x11);
    }
  }
  EXPECT_EQ(card->config_writes(), GetParam().accepted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ConfigBoundsTest,
    ::testing::Values(ConfigBoundsCase{0x00, 0, false}, ConfigBoundsCase{0x00, 5, false},
                      ConfigBoundsCase{0x00, 1, true}, ConfigBoundsCase{0x09, 3, true},
                      ConfigBoundsCase{0xFC, 4, true}, ConfigBoundsCase{0xFD, 4, false},
                      ConfigBoundsCase{0xFF, 1, true}, ConfigBoundsCase{0xFF, 2, false},
                      ConfigBoundsCase{0x100, 1, false}, ConfigBoundsCase{0xFFFFFFFF, 2, false}),
    testsupport::ByPrinted());

TEST_F(BusTest, ConfigAccessWithoutBufferIsRefused) {
  auto card = AddCard(0, 1, 0, BoardLikeConfig());
  for (uint32_t isRead : {1u, 0u}) {
    WdPciConfigDump dump{};
    dump.pciSlot = {0, 1, 0};
    dump.bytes = 4;
    dump.isRead = isRead;
    EXPECT_EQ(Send(WD_CODE_PCI_CONFIG, dump), sim::kStatusInvalidParameter);
  }
  EXPECT_EQ(card->config_writes(), 0);
}

TEST_F(BusTest, ConfigReadsAreLittleEndianAndEmptySlotsReadAllOnes) {
  sim::FunctionConfig cfg = BoardLikeConfig();
  cfg.subsystem_vendor_id = 0xABCD;
  cfg.subsystem_id = 0x1357;
  AddCard(0, 1, 0, cfg);
  struct Case {
    WdPciSlot slot;
    uint32_t offset, bytes;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {{0, 1, 0}, 0x00, 4, {0x50, 0x90, 0xB5, 0x10}},  // vendor 0x9050, device 0x10B5
      {{0, 1, 0}, 0x08, 4, {0x02, 0x00, 0x80, 0x06}},  // revision, class code
      {{0, 1, 0}, 0x09, 3, {0x00, 0x80, 0x06}},
      {{0, 1, 0}, 0x2C, 4, {0xCD, 0xAB, 0x57, 0x13}},
      {{0, 1, 0}, 0x3C, 2, {11, 1}},                   // interrupt line, pin INTA#
      {{0, 1, 0}, 0x10, 4, {0x00, 0x00, 0x00, 0xFE}},  // BAR0 at 0xFE000000
      {{0, 1, 0}, 0x14, 4, {0x01, 0xC0, 0x00, 0x00}},  // BAR1: port 0xC000, I/O bit
      {{0, 1, 0}, 0x24, 4, {0, 0, 0, 0}},              // BAR5 unimplemented
      {{0, 2, 0}, 0x00, 4, {0xFF, 0xFF, 0xFF, 0xFF}},  // nobody there
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buffer(c.bytes + 1, 0x5A);
    WdPciConfigDump dump{};
    dump.pciSlot = c.slot;
    dump.buffer = WD_TO_UPTR(buffer.data());
    dump.offset = c.offset;
    dump.bytes = c.bytes;
    dump.isRead = 1;
    ASSERT_EQ(Send(WD_CODE_PCI_CONFIG, dump), 0u);
    std::vector<uint8_t> expected = c.expected;
    expected.push_back(0x5A);
    EXPECT_EQ(buffer, expected) << "offset " << c.offset;
  }
}

TEST_F(BusTest, ConfigWritesChangeOnlyWritableBitsAndReachTheModel) {
  auto card = AddCard(0, 1, 0, BoardLikeConfig());
  auto write = [this](uint32_t offset, std::vector<uint8_t> bytes) {
    WdPciConfigDump dump{};
    dump.pciSlot = {0, 1, 0};
    dump.buffer = WD_TO_UPTR(bytes.data());
    dump.offset = offset;
    dump.bytes = static_cast<uint32_t>(bytes.size());
    EXPECT_EQ(Send(WD_CODE_PCI_CONFIG, dump), 0u);
  };
  write(0x00, {0x11, 0x22, 0x33, 0x44});  // IDs are read-only
  write(0x3C, {0x05});                    // interrupt line is writable
  write(0x0C, {0x08, 0x40});              // cache line size, latency timer
  write(0x3D, {0x04});                    // interrupt pin is read-only
  const sim::PciFunction* f = sim_.Find(0, 1, 0);
  EXPECT_EQ(f->ConfigRead(0x00, 4), 0x10B59050u);
  EXPECT_EQ(f->ConfigRead(0x0C, 2), 0x4008u);
  EXPECT_EQ(f->ConfigRead(0x3C, 2), 0x0105u);
  EXPECT_EQ(card->config_writes(), 4);
  // The interrupt item follows the line the firmware (or a test) wrote.
  WdCard info = CardInfo(0, 1, 0);
  EXPECT_EQ(info.items[info.itemCount - 1].u.interrupt.irq, 5u);
}

struct BarCase {
  sim::BarKind kind;
  uint32_t size;
  uint32_t sized;  // what a BAR reads after all ones were written
};

void PrintTo(const BarCase& c, std::ostream* os) {
  *os << (c.kind == sim::BarKind::kIo ? "I/O " : "memory ") << c.size;
}

class BarSizingTest : public simtest::SimFixture, public ::testing::WithParamInterface<BarCase> {};

TEST_P(BarSizingTest, AllOnesReadsBackTheSizeMaskAndAnAddressMovesTheRange) {
  sim::FunctionConfig cfg;
  cfg.vendor_id = 0x9050;
  cfg.device_id = 0x10B5;
  cfg.bars[2] = {GetParam().kind, GetParam().size};
  auto card = AddCard(0, 4, 0, cfg);
  sim::PciFunction* f = sim_.Find(0, 4, 0);
  const uint32_t old_base = f->bar_address(2);
  card->Poke(2, 0, 0xA5, 1);

  uint32_t all_ones = 0xFFFFFFFF;
  WdPciConfigDump dump{};
  dump.pciSlot = {0, 4, 0};
  dump.buffer = WD_TO_UPTR(&all_ones);
  dump.offset = 0x18;
  dump.bytes = 4;
  ASSERT_EQ(Send(WD_CODE_PCI_CONFIG, dump), 0u);
  uint32_t read = 0;
  dump.buffer = WD_TO_UPTR(&read);
  dump.isRead = 1;
  ASSERT_EQ(Send(WD_CODE_PCI_CONFIG, dump), 0u);
  EXPECT_EQ(read, GetParam().sized);

  // Move the range; the old address no longer decodes, the new one reaches the card.
  const bool io = GetParam().kind == sim::BarKind::kIo;
  uint32_t moved = io ? 0xD000 : 0xE0000000;
  dump.buffer = WD_TO_UPTR(&moved);
  dump.isRead = 0;
  ASSERT_EQ(Send(WD_CODE_PCI_CONFIG, dump), 0u);
  EXPECT_EQ(f->bar_address(2), moved);
  const uint32_t read_byte = io ? WD_RP_BYTE : WD_RM_BYTE;
  EXPECT_EQ(Transfer(read_byte, moved).data.byte, 0xA5);
  EXPECT_EQ(Transfer(read_byte, old_base).data.byte, 0xFF);
  WdCard info = CardInfo(0, 4, 0);
  EXPECT_EQ(io ? info.items[0].u.io.port : info.items[0].u.mem.physAddress, moved);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BarSizingTest,
                         ::testing::Values(BarCase{sim::BarKind::kMemory, 16, 0xFFFFFFF0},
                                           BarCase{sim::BarKind::kMemory, 128, 0xFFFFFF80},
                                           BarCase{sim::BarKind::kMemory, 1u << 20, 0xFFF00000},
                                           BarCase{sim::BarKind::kIo, 4, 0xFFFFFFFD},
                                           BarCase{sim::BarKind::kIo, 256, 0xFFFFFF01}),
                         testsupport::ByPrinted());

TEST_F(BusTest, PartialBarWritesMergeBytes) {
  AddCard(0, 1, 0, BoardLikeConfig());
  sim::PciFunction* f = sim_.Find(0, 1, 0);
  // A byte write to the low end of a BAR leaves its upper bytes as they were.
  f->ConfigWrite(0x10, 0x80, 1);
  EXPECT_EQ(f->bar_address(0), 0xFE000080u);
  f->ConfigWrite(0x12, 0xE123, 2);
  EXPECT_EQ(f->ConfigRead(0x10, 4), 0xE1230080u);
}

}  // namespace
