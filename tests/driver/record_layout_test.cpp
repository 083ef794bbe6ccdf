// The request records as the driver sees them, checked at run time in whatever width this program
// was built for: each field is found at its wire offset, with its wire width, in little-endian
// byte order, and each record has its wire size. A 32-bit build holds the driver's own layout; a
// 64-bit build differs only where a field carries an address in this process.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "driver/wd_records.h"

namespace {

constexpr bool kNarrow = sizeof(void*) == 4;

struct FieldCase {
  const char* name;
  size_t recordSize;
  size_t offset;  // where the compiler put it
  size_t width;
  size_t wireOffset32, wireOffset64;
  size_t wireWidth32, wireWidth64;
  // Copies a record's wire bytes into the record and reads the field back.
  uint64_t (*readFromWire)(const uint8_t* wire);
};

std::ostream& operator<<(std::ostream& os, const FieldCase& c) {
  return os << c.name;
}

// Reads one field of a record made from the driver's bytes.
template <typename Rec, typename Get>
uint64_t ReadFromWire(const uint8_t* wire, Get get) {
  Rec rec;
  std::memcpy(&rec, wire, sizeof rec);
  return static_cast<uint64_t>(get(rec));
}

// `member` may reach into nested records and array elements ("items[19].u.mem.bar").
// clang-format off
#define FIELD(Rec, member, off32, off64, width32, width64)                                  \
  FieldCase{#Rec "." #member, sizeof(Rec), offsetof(Rec, member),                           \
            sizeof(static_cast<Rec*>(nullptr)->member), off32, off64, width32, width64,     \
            [](const uint8_t* wire) {                                                       \
              return ReadFromWire<Rec>(wire, [](const Rec& r) { return r.member; });        \
            }}
// clang-format on
// Same offset and width in both builds.
#define FIXED(Rec, member, off, width) FIELD(Rec, member, off, off, width, width)

const FieldCase kFields[] = {
    FIXED(WdVersion, version, 0, 4),
    FIXED(WdVersion, text[0], 4, 1),
    FIXED(WdVersion, text[127], 131, 1),
    FIXED(WdPciSlot, bus, 0, 4),
    FIXED(WdPciSlot, slot, 4, 4),
    FIXED(WdPciSlot, function, 8, 4),
    FIXED(WdPciScan, vendorId, 0, 4),
    FIXED(WdPciScan, deviceId, 4, 4),
    FIXED(WdPciScan, cardCount, 8, 4),
    FIXED(WdPciScan, ids[0].vendorId, 12, 4),
    FIXED(WdPciScan, ids[0].deviceId, 16, 4),
    FIXED(WdPciScan, ids[99].deviceId, 808, 4),
    FIXED(WdPciScan, slots[0].bus, 812, 4),
    FIXED(WdPciScan, slots[1].bus, 824, 4),
    FIXED(WdPciScan, slots[99].function, 2008, 4),
    FIXED(WdItem, kind, 0, 4),
    FIXED(WdItem, u.mem.physAddress, 16, 4),
    FIXED(WdItem, u.mem.bytes, 20, 4),
    FIXED(WdItem, u.mem.transferAddress, 24, 4),
    FIELD(WdItem, u.mem.userAddress, 28, 28, 4, 8),
    FIXED(WdItem, u.mem.bar, 36, 4),
    FIXED(WdItem, u.io.port, 16, 4),
    FIXED(WdItem, u.io.bytes, 20, 4),
    FIXED(WdItem, u.io.bar, 24, 4),
    FIXED(WdItem, u.interrupt.irq, 16, 4),
    FIXED(WdItem, u.interrupt.intHandle, 24, 4),
    FIXED(WdItem, u.bus.busType, 16, 4),
    FIXED(WdItem, u.bus.busNumber, 20, 4),
    FIXED(WdItem, u.bus.slotFunction, 24, 4),
    FIXED(WdCard, itemCount, 0, 4),
    FIXED(WdCard, items[0].kind, 4, 4),
    FIXED(WdCard, items[1].kind, 44, 4),
    FIXED(WdCard, items[19].u.mem.bar, 800, 4),
    FIXED(WdPciCardInfo, pciSlot.bus, 0, 4),
    FIXED(WdPciCardInfo, pciSlot.function, 8, 4),
    FIXED(WdPciCardInfo, card.itemCount, 12, 4),
    FIXED(WdPciCardInfo, card.items[19].u.mem.bar, 812, 4),
    FIXED(WdCardRegister, card.itemCount, 0, 4),
    FIELD(WdCardRegister, card.items[0].u.mem.userAddress, 32, 32, 4, 8),
    FIXED(WdCardRegister, card.items[19].u.interrupt.intHandle, 788, 4),
    FIXED(WdCardRegister, checkLockOnly, 804, 4),
    FIXED(WdCardRegister, cardHandle, 808, 4),
    FIXED(WdCardRegister, reserved[0], 812, 1),
    FIXED(WdCardRegister, reserved[135], 947, 1),
    FIXED(WdPciConfigDump, pciSlot.bus, 0, 4),
    FIXED(WdPciConfigDump, pciSlot.function, 8, 4),
    FIELD(WdPciConfigDump, buffer, 12, 12, 4, 8),
    FIELD(WdPciConfigDump, offset, 16, 20, 4, 4),
    FIELD(WdPciConfigDump, bytes, 20, 24, 4, 4),
    FIELD(WdPciConfigDump, isRead, 24, 28, 4, 4),
    FIELD(WdPciConfigDump, result, 28, 32, 4, 4),
    FIXED(WdTransfer, address, 0, 4),
    FIXED(WdTransfer, command, 4, 4),
    FIXED(WdTransfer, bytes, 8, 4),
    FIXED(WdTransfer, autoIncrement, 12, 4),
    FIXED(WdTransfer, options, 16, 4),
    FIXED(WdTransfer, reserved, 20, 4),
    FIXED(WdTransfer, data.byte, 24, 1),
    FIXED(WdTransfer, data.word, 24, 2),
    FIXED(WdTransfer, data.dword, 24, 4),
    FIXED(WdTransfer, data.qword, 24, 8),
    FIELD(WdTransfer, data.ptr, 24, 24, 4, 8),
    FIXED(WdSleep, microseconds, 0, 4),
    FIXED(WdSleep, options, 4, 4),
};

class RecordField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(RecordField, SitsAtItsWireOffsetInLittleEndianOrder) {
  const FieldCase& c = GetParam();
  const size_t offset = kNarrow ? c.wireOffset32 : c.wireOffset64;
  const size_t width = kNarrow ? c.wireWidth32 : c.wireWidth64;
  EXPECT_EQ(c.offset, offset);
  ASSERT_EQ(c.width, width);
  ASSERT_LE(offset + width, c.recordSize);

  // The driver's bytes: a distinct value in the field's place, least significant byte first, and
  // every other byte set, so a field reaching one byte too far or too short reads differently.
  std::vector<uint8_t> wire(c.recordSize, 0xEE);
  uint64_t expected = 0;
  for (size_t i = 0; i < width; ++i) {
    wire[offset + i] = static_cast<uint8_t>(0x11 * (i + 1));
    expected |= static_cast<uint64_t>(0x11 * (i + 1)) << (8 * i);
  }
  EXPECT_EQ(c.readFromWire(wire.data()), expected);
}

INSTANTIATE_TEST_SUITE_P(Wire, RecordField, ::testing::ValuesIn(kFields),
                         [](const ::testing::TestParamInfo<FieldCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

struct SizeCase {
  const char* name;
  size_t size, wireSize32, wireSize64;
};

const SizeCase kSizes[] = {
    {"WdVersion", sizeof(WdVersion), 132, 132},
    {"WdPciSlot", sizeof(WdPciSlot), 12, 12},
    {"WdPciScan", sizeof(WdPciScan), 2012, 2012},
    {"WdItem", sizeof(WdItem), 40, 40},
    {"WdCard", sizeof(WdCard), 804, 804},
    {"WdPciCardInfo", sizeof(WdPciCardInfo), 816, 816},
    {"WdCardRegister", sizeof(WdCardRegister), 948, 948},
    {"WdPciConfigDump", sizeof(WdPciConfigDump), 32, 36},
    {"WdTransfer", sizeof(WdTransfer), 32, 32},
    {"WdSleep", sizeof(WdSleep), 8, 8},
};

TEST(RecordSize, EveryRecordHasItsWireSize) {
  for (const SizeCase& c : kSizes)
    EXPECT_EQ(c.size, kNarrow ? c.wireSize32 : c.wireSize64) << c.name;
}

// An address in this process survives the trip through a record's address field.
TEST(RecordAddress, PointerFieldsHoldAFullPointer) {
  std::vector<uint8_t> buffer(16);
  WdPciConfigDump dump{};
  dump.buffer = WD_TO_UPTR(buffer.data() + 3);
  EXPECT_EQ(WD_FROM_UPTR(uint8_t*, dump.buffer), buffer.data() + 3);
  WdTransfer transfer{};
  transfer.data.ptr = WD_TO_UPTR(buffer.data() + 5);
  EXPECT_EQ(WD_FROM_UPTR(uint8_t*, transfer.data.ptr), buffer.data() + 5);
  WdItem item{};
  item.u.mem.userAddress = WD_TO_UPTR(buffer.data() + 7);
  EXPECT_EQ(WD_FROM_UPTR(uint8_t*, item.u.mem.userAddress), buffer.data() + 7);
}

}  // namespace
