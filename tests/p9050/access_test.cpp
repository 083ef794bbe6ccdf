// Address-space and register access against the simulated 9050, with the bridge's registers
// behind a memory BAR0 and behind an I/O BAR0: what reaches the driver, and what reaches the card.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_fixture.h"
#include "support/param_name.h"

namespace bridge_test {
namespace {

constexpr uint32_t kSpace0Base = 0x10000;  // where local space 0 (BAR2) points at reset

// Where the bridge's registers are: BAR0 as a memory range or as an I/O range.
struct Space0 {
  sim::BarKind kind;
  const char* name;
};
void PrintTo(const Space0& s, std::ostream* os) {
  *os << s.name;
}

class AccessTest : public ::testing::TestWithParam<Space0>, public BridgeFixture {
 protected:
  void SetUp() override {
    sim::Plx9050Config cfg;
    cfg.bars[0].kind = GetParam().kind;
    card_ = &sim::AddPlx9050(simulator_, 0, 4, 0, cfg);
    ram1_ = card_->AttachRam(0, 0x400);            // behind space 3 (BAR3, I/O)
    ram0_ = card_->AttachRam(kSpace0Base, 0x400);  // behind space 2 (BAR2, memory)
    for (size_t i = 0; i < 0x400; i++) ram1_->bytes()[i] = static_cast<uint8_t>(i * 7 + 1);
    h_ = Open();
    ASSERT_NE(h_, nullptr);
    card_->ClearRegisterWrites();
    simulator_.ClearLog();
  }

  bool RegsInIo() const { return GetParam().kind == sim::BarKind::kIo; }

  // Any request lets the card see the stores made into its memory windows.
  void Sync() {
    (void)P9050_ReadPciReg(h_, 0);
    simulator_.ClearLog();
  }

  sim::Plx9050* card_ = nullptr;
  std::shared_ptr<sim::Ram> ram0_, ram1_;
  P9050_Handle* h_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Space0, AccessTest,
                         ::testing::Values(Space0{sim::BarKind::kMemory, "Memory"},
                                           Space0{sim::BarKind::kIo, "Io"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A read of an I/O space is one transfer of its width; a write carries the value at the start of
// the data field.
TEST_P(AccessTest, IoSpaceAccessIsExactlyOneTransferOfItsWidth) {
  const uint32_t port = h_->addrDesc[3].transferAddress;
  EXPECT_EQ(P9050_ReadByte(h_, 3, 0x21), ram1_->bytes()[0x21]);
  EXPECT_EQ(P9050_ReadWord(h_, 3, 0x22), ram1_->Read(0x22, 2));
  EXPECT_EQ(P9050_ReadDword(h_, 3, 0x24), ram1_->Read(0x24, 4));
  P9050_WriteByte(h_, 3, 0x31, 0xAB);
  P9050_WriteWord(h_, 3, 0x32, 0xBEEF);
  P9050_WriteDword(h_, 3, 0x34, 0x12345678);
  const auto t = Transfers();
  ASSERT_EQ(t.size(), 6u);
  ASSERT_EQ(simulator_.log().size(), 6u);
  const uint32_t commands[] = {10, 11, 12, 13, 14, 15};
  const uint32_t offsets[] = {0x21, 0x22, 0x24, 0x31, 0x32, 0x34};
  for (size_t i = 0; i < 6; i++) {
    EXPECT_EQ(t[i].command, commands[i]) << i;
    EXPECT_EQ(t[i].address, port + offsets[i]) << i;
    EXPECT_EQ(t[i].bytes, 0u) << i;
    EXPECT_EQ(t[i].autoIncrement, 0u) << i;
  }
  EXPECT_EQ(t[3].data.qword, 0xABu);
  EXPECT_EQ(t[4].data.qword, 0xBEEFu);
  EXPECT_EQ(t[5].data.qword, 0x12345678u);
  EXPECT_EQ(ram1_->Read(0x31, 1), 0xABu);
  EXPECT_EQ(ram1_->Read(0x32, 2), 0xBEEFu);
  EXPECT_EQ(ram1_->Read(0x34, 4), 0x12345678u);
}

// A memory space is loaded and stored through the mapping alone.
TEST_P(AccessTest, MemorySpaceAccessSendsNoRequest) {
  ram0_->Write(0x40, 0x11223344, 4);
  Sync();
  EXPECT_EQ(P9050_ReadDword(h_, 2, 0x40), 0x11223344u);
  EXPECT_EQ(P9050_ReadWord(h_, 2, 0x42), 0x1122u);
  EXPECT_EQ(P9050_ReadByte(h_, 2, 0x41), 0x33u);
  P9050_WriteByte(h_, 2, 0x50, 0x9C);
  P9050_WriteWord(h_, 2, 0x52, 0x8D7E);
  P9050_WriteDword(h_, 2, 0x54, 0xA1B2C3D4);
  EXPECT_TRUE(simulator_.log().empty());
  Sync();
  EXPECT_EQ(ram0_->Read(0x50, 4), 0x8D7E009Cu);
  EXPECT_EQ(ram0_->Read(0x54, 4), 0xA1B2C3D4u);
}

TEST_P(AccessTest, RegistersAreDwordsInSpace0) {
  card_->Poke(P9050_INTCSR, 0x41);
  Sync();
  EXPECT_EQ(P9050_ReadReg(h_, P9050_INTCSR), 0x41u);
  P9050_WriteReg(h_, P9050_CS1BASE, 0x00ABCDEF);
  if (RegsInIo()) {
    const auto t = Transfers();
    ASSERT_EQ(simulator_.log().size(), 2u);
    EXPECT_EQ(t[0].command, 12u);
    EXPECT_EQ(t[0].address, h_->addrDesc[0].transferAddress + P9050_INTCSR);
    EXPECT_EQ(t[1].command, 15u);
    EXPECT_EQ(t[1].address, h_->addrDesc[0].transferAddress + P9050_CS1BASE);
  } else {
    EXPECT_TRUE(simulator_.log().empty());
    Sync();
  }
  EXPECT_EQ(card_->Peek(P9050_CS1BASE), 0x00ABCDEFu);
  EXPECT_EQ(card_->register_writes(),
            (std::vector<sim::Plx9050::RegisterWrite>{{0, P9050_CS1BASE, 0x00ABCDEF}}));
}

// Space 3 at local 0x234 with a 256-byte range: LAS1BA becomes 0x201, then offset 0x34 is read.
TEST_P(AccessTest, LocalAddressMovesTheWindowThenAccessesInsideIt) {
  EXPECT_EQ(P9050_ReadSpaceByte(h_, 3, 0x234), ram1_->bytes()[0x234]);
  EXPECT_EQ(h_->addrDesc[3].localBase, 0x201u);
  EXPECT_EQ(card_->register_writes(),
            (std::vector<sim::Plx9050::RegisterWrite>{{0, P9050_LAS1BA, 0x201}}));
  const auto t = Transfers();
  ASSERT_EQ(t.size(), RegsInIo() ? 2u : 1u);
  if (RegsInIo()) {
    EXPECT_EQ(t[0].command, 15u);
    EXPECT_EQ(t[0].address, h_->addrDesc[0].transferAddress + P9050_LAS1BA);
    EXPECT_EQ(t[0].data.dword, 0x201u);
  }
  EXPECT_EQ(t.back().command, 10u);
  EXPECT_EQ(t.back().address, h_->addrDesc[3].transferAddress + 0x34);
}

TEST_P(AccessTest, LocalAccessesOfEveryWidthLandAtTheLocalAddress) {
  P9050_WriteSpaceWord(h_, 3, 0x3F2, 0x6543);
  EXPECT_EQ(ram1_->Read(0x3F2, 2), 0x6543u);
  EXPECT_EQ(P9050_ReadSpaceWord(h_, 3, 0x3F2), 0x6543u);
  P9050_WriteSpaceDword(h_, 3, 0x104, 0x0BADF00D);
  EXPECT_EQ(P9050_ReadSpaceDword(h_, 3, 0x104), 0x0BADF00Du);
  P9050_WriteSpaceByte(h_, 3, 0x2FF, 0x42);
  EXPECT_EQ(ram1_->bytes()[0x2FF], 0x42);
  EXPECT_EQ(card_->Peek(P9050_LAS1BA), 0x201u);

  // Memory space 2: both stores reach the card at the next request, the base first.
  P9050_WriteSpaceDword(h_, 2, kSpace0Base + 0x234, 0xCAFEF00D);
  Sync();
  EXPECT_EQ(card_->Peek(P9050_LAS0BA), kSpace0Base + 0x201);
  EXPECT_EQ(ram0_->Read(0x234, 4), 0xCAFEF00Du);
}

// Spaces without a local base register: nothing is written (the offset formula would land on
// LAS3RR or EROMRR), nothing is read.
TEST_P(AccessTest, LocalAccessOutsideSpaces2To5DoesNothing) {
  for (uint32_t space : {0u, 1u, 6u, 7u, 1000u}) {
    uint8_t buffer[8] = {};
    P9050_SetLocalBase(h_, space, 0x234);
    EXPECT_EQ(P9050_ReadSpaceByte(h_, space, 0x234), 0u) << space;
    EXPECT_EQ(P9050_ReadSpaceWord(h_, space, 0x234), 0u) << space;
    EXPECT_EQ(P9050_ReadSpaceDword(h_, space, 0x234), 0u) << space;
    P9050_WriteSpaceByte(h_, space, 0x234, 1);
    P9050_WriteSpaceWord(h_, space, 0x234, 1);
    P9050_WriteSpaceDword(h_, space, 0x234, 1);
    EXPECT_EQ(P9050_ReadSpaceBlock(h_, 0x234, buffer, sizeof buffer, space, 2), WD_STATUS_NONE);
    EXPECT_EQ(P9050_WriteSpaceBlock(h_, 0x234, buffer, sizeof buffer, space, 2), WD_STATUS_NONE);
  }
  Sync();
  EXPECT_TRUE(card_->register_writes().empty());
  EXPECT_EQ(card_->Peek(P9050_LAS3RR), 0u);
  EXPECT_EQ(card_->Peek(P9050_EROMRR), 0u);
  EXPECT_EQ(h_->addrDesc[0].localBase, 0u);
  EXPECT_EQ(h_->addrDesc[1].localBase, 0u);
}

struct BaseCase {
  uint32_t space;
  uint32_t localAddress;
  uint32_t reg;
  uint32_t value;
};

TEST_P(AccessTest, SetLocalBaseWritesTheSpacesBaseRegister) {
  const BaseCase cases[] = {
      {2, 0x12345, P9050_LAS0BA, 0x12301},
      {3, 0x234, P9050_LAS1BA, 0x201},
      {3, 0xFF, P9050_LAS1BA, 0x001},
      // Inactive spaces have a mask of 0: the whole address goes into the register.
      {4, 0x5678, P9050_LAS2BA, 0x5679},
      {5, 0x5678, P9050_LAS3BA, 0x5679},
  };
  std::vector<sim::Plx9050::RegisterWrite> expected;
  for (const BaseCase& c : cases) {
    P9050_SetLocalBase(h_, c.space, c.localAddress);
    EXPECT_EQ(h_->addrDesc[c.space].localBase, c.value) << c.space;
    if (!RegsInIo()) Sync();  // one store per register write, each seen before the next
    expected.push_back({0, c.reg, c.value});
  }
  EXPECT_EQ(card_->register_writes(), expected);
}

struct BlockCase {
  uint32_t space;
  uint32_t mode;
  BOOL isRead;
  uint32_t command;
};

TEST_P(AccessTest, BlocksAlwaysGoThroughTheDriverWithTheModesCommand) {
  const BlockCase cases[] = {
      {2, 0, TRUE, 40},  {2, 1, TRUE, 41},  {2, 2, TRUE, 42},  {2, 7, TRUE, 42},
      {2, 0, FALSE, 43}, {2, 1, FALSE, 44}, {2, 2, FALSE, 45}, {2, 7, FALSE, 45},
      {3, 0, TRUE, 20},  {3, 1, TRUE, 21},  {3, 2, TRUE, 22},  {3, 7, TRUE, 22},
      {3, 0, FALSE, 23}, {3, 1, FALSE, 24}, {3, 2, FALSE, 25}, {3, 7, FALSE, 25},
  };
  uint8_t buffer[16] = {};
  for (const BlockCase& c : cases) {
    simulator_.ClearLog();
    EXPECT_EQ(P9050_ReadWriteBlock(h_, 0x80, buffer, sizeof buffer, c.isRead, c.space, c.mode), 0u);
    ASSERT_EQ(simulator_.log().size(), 1u);
    const auto t = simulator_.log()[0].As<WdTransfer>();
    EXPECT_EQ(t.command, c.command) << c.space << " mode " << c.mode;
    EXPECT_EQ(t.address, h_->addrDesc[c.space].transferAddress + 0x80);
    EXPECT_EQ(t.bytes, sizeof buffer);
    EXPECT_EQ(t.autoIncrement, 1u);
    EXPECT_EQ(t.options, 0u);
    EXPECT_EQ(t.data.ptr, WD_TO_UPTR(buffer));
  }
}

TEST_P(AccessTest, BlocksMoveTheData) {
  std::array<uint8_t, 16> out{}, in{};
  for (size_t i = 0; i < out.size(); i++) out[i] = static_cast<uint8_t>(0xF0 - i);
  EXPECT_EQ(P9050_WriteBlock(h_, 0x60, out.data(), 16, 3, 7), 0u);
  EXPECT_EQ(std::memcmp(&ram1_->bytes()[0x60], out.data(), 16), 0);
  EXPECT_EQ(P9050_ReadBlock(h_, 0x60, in.data(), 16, 3, 1), 0u);
  EXPECT_EQ(in, out);

  in.fill(0);
  EXPECT_EQ(P9050_WriteSpaceBlock(h_, kSpace0Base + 0x1F0, out.data(), 16, 2, 0), 0u);
  EXPECT_EQ(card_->Peek(P9050_LAS0BA), kSpace0Base + 0x101);
  EXPECT_EQ(std::memcmp(&ram0_->bytes()[0x1F0], out.data(), 16), 0);
  EXPECT_EQ(P9050_ReadSpaceBlock(h_, kSpace0Base + 0x1F0, in.data(), 16, 2, 2), 0u);
  EXPECT_EQ(in, out);
  EXPECT_EQ(Transfers().back().address, h_->addrDesc[2].transferAddress + 0xF0);
}

// An inactive space (no range behind its BAR) is touched by nothing: no request, no register.
TEST_P(AccessTest, InactiveSpaceIsTouchedByNothing) {
  ASSERT_FALSE(P9050_IsAddrSpaceActive(h_, 4));
  const uint32_t cntrl = card_->Peek(P9050_CNTRL);
  for (uint32_t offset : {0u, 0x10u, uint32_t{P9050_CNTRL}}) {
    EXPECT_EQ(P9050_ReadByte(h_, 4, offset), 0u);
    EXPECT_EQ(P9050_ReadWord(h_, 4, offset), 0u);
    EXPECT_EQ(P9050_ReadDword(h_, 4, offset), 0u);
    P9050_WriteByte(h_, 4, offset, 0xFF);
    P9050_WriteWord(h_, 4, offset, 0xFFFF);
    P9050_WriteDword(h_, 4, offset, 0x02000000u);
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(P9050_ReadBlock(h_, offset, buffer, 0, 4, 2), WD_STATUS_NONE);
    EXPECT_EQ(P9050_ReadBlock(h_, offset, buffer, sizeof buffer, 4, 2), WD_STATUS_NONE);
    EXPECT_EQ(P9050_WriteBlock(h_, offset, buffer, sizeof buffer, 4, 2), WD_STATUS_NONE);
    EXPECT_EQ(buffer[0] + buffer[1] + buffer[2] + buffer[3], 10);
  }
  EXPECT_TRUE(simulator_.log().empty());
  Sync();
  EXPECT_TRUE(card_->register_writes().empty());
  EXPECT_EQ(card_->Peek(P9050_CNTRL), cntrl);
}

// Space indexes past the table, on an opened handle whose interrupt area (the bytes after the
// table) has been filled by P9050_IntEnable: nothing there is taken for a space.
TEST_P(AccessTest, IndexPastTheTableIgnoresTheInterruptArea) {
  ASSERT_TRUE(P9050_IntEnable(h_, nullptr));
  ASSERT_NE(h_->commands, nullptr);
  Sync();  // the INTCSR store of a memory BAR0 reaches the card
  card_->ClearRegisterWrites();
  simulator_.ClearLog();
  for (uint32_t space : {7u, 8u}) {
    uint8_t buffer[4] = {};
    EXPECT_FALSE(P9050_IsAddrSpaceActive(h_, space)) << space;
    EXPECT_EQ(P9050_ReadByte(h_, space, 0), 0u) << space;
    EXPECT_EQ(P9050_ReadDword(h_, space, 0), 0u) << space;
    P9050_WriteByte(h_, space, 0, 0x5A);
    P9050_WriteDword(h_, space, 0, 0x5A5A5A5Au);
    EXPECT_EQ(P9050_ReadBlock(h_, 0, buffer, sizeof buffer, space, 2), WD_STATUS_NONE) << space;
    EXPECT_EQ(P9050_WriteBlock(h_, 0, buffer, sizeof buffer, space, 2), WD_STATUS_NONE) << space;
  }
  EXPECT_TRUE(simulator_.log().empty());
  Sync();
  EXPECT_TRUE(card_->register_writes().empty());
}

// --- Bounds of every access, memory and I/O, on an opened card -----------------------------------

enum class Where { kInside, kLastByte, kOnePast, kWrapping };

struct RangeCase {
  bool io;         // space 3 (I/O) or space 2 (memory), 256 bytes each
  unsigned width;  // 1, 2 or 4: a single access; 0: a block of kBlockBytes
  Where where;
};

constexpr uint32_t kRangeBytes = 256;
constexpr uint32_t kBlockBytes = 16;

const char* WhereName(Where w) {
  switch (w) {
    case Where::kInside:
      return "Inside";
    case Where::kLastByte:
      return "LastByte";
    case Where::kOnePast:
      return "OnePast";
    default:
      return "Wrapping";
  }
}

std::string RangeCaseName(const RangeCase& c) {
  return std::string(c.io ? "Io" : "Memory") +
         (c.width == 0 ? std::string("Block") : "Width" + std::to_string(c.width)) +
         WhereName(c.where);
}

void PrintTo(const RangeCase& c, std::ostream* os) {
  *os << RangeCaseName(c);
}

uint32_t Length(const RangeCase& c) {
  return c.width == 0 ? kBlockBytes : c.width;
}

// The access's offset: its last byte is the range's last byte, one past it, or it starts at
// 0xffffffff, where offset + length wraps in 32 bits to a small number (and a port address to
// one just below the range).
uint32_t OffsetOf(const RangeCase& c) {
  switch (c.where) {
    case Where::kInside:
      return 0x20;
    case Where::kLastByte:
      return kRangeBytes - Length(c);
    case Where::kOnePast:
      return kRangeBytes - Length(c) + 1;
    default:
      return 0xFFFFFFFFu;
  }
}

std::vector<RangeCase> AllRangeCases() {
  std::vector<RangeCase> out;
  for (bool io : {false, true}) {
    for (unsigned width : {1u, 2u, 4u, 0u}) {
      for (Where w : {Where::kInside, Where::kLastByte, Where::kOnePast, Where::kWrapping}) {
        out.push_back({io, width, w});
      }
    }
  }
  return out;
}

class RangeBoundsTest : public ::testing::TestWithParam<RangeCase>, public BridgeFixture {
 protected:
  void SetUp() override {
    card_ = &sim::AddPlx9050(simulator_, 0, 4, 0);
    ramMem_ = card_->AttachRam(kSpace0Base, 0x400);  // space 2 at its reset local base
    ramIo_ = card_->AttachRam(0, 0x400);             // space 3
    h_ = Open();
    ASSERT_NE(h_, nullptr);
    ASSERT_EQ(h_->addrDesc[Space()].bytes, kRangeBytes);
    ASSERT_EQ(h_->addrDesc[Space()].isMemory, GetParam().io ? 0u : 1u);
    card_->ClearRegisterWrites();
    simulator_.ClearLog();
  }
  uint32_t Space() const { return GetParam().io ? 3 : 2; }
  // Any request lets the card see the stores made into its memory windows.
  void Sync() { (void)P9050_ReadPciReg(h_, 0); }
  sim::Ram& Ram() { return GetParam().io ? *ramIo_ : *ramMem_; }

  sim::Plx9050* card_ = nullptr;
  std::shared_ptr<sim::Ram> ramMem_, ramIo_;
  P9050_Handle* h_ = nullptr;
};

// A write then a read of the case's width at its offset: inside the range both reach the card
// (a transfer each for I/O and for blocks, none for memory singles); outside, nothing reaches the
// driver or the card, reads give 0 and blocks return WD_STATUS_NONE with the buffer untouched.
TEST_P(RangeBoundsTest, OnlyAccessesWhollyInsideTheRangeReachTheCard) {
  const RangeCase& c = GetParam();
  const uint32_t offset = OffsetOf(c);
  const uint32_t n = Length(c);
  const bool fits = c.where == Where::kInside || c.where == Where::kLastByte;
  const std::vector<uint8_t> before = Ram().contents();

  std::array<uint8_t, kBlockBytes> pattern{}, buffer{};
  for (uint32_t i = 0; i < kBlockBytes; i++) pattern[i] = static_cast<uint8_t>(0xC1 + i);
  uint32_t value = 0;
  std::memcpy(&value, pattern.data(), 4);
  uint32_t read = 0;
  buffer.fill(0xEE);
  switch (c.width) {
    case 1:
      P9050_WriteByte(h_, Space(), offset, static_cast<uint8_t>(value));
      read = P9050_ReadByte(h_, Space(), offset);
      break;
    case 2:
      P9050_WriteWord(h_, Space(), offset, static_cast<uint16_t>(value));
      read = P9050_ReadWord(h_, Space(), offset);
      break;
    case 4:
      P9050_WriteDword(h_, Space(), offset, value);
      read = P9050_ReadDword(h_, Space(), offset);
      break;
    default:
      EXPECT_EQ(P9050_WriteBlock(h_, offset, pattern.data(), n, Space(), P9050_MODE_BYTE),
                fits ? 0u : WD_STATUS_NONE);
      EXPECT_EQ(P9050_ReadBlock(h_, offset, buffer.data(), n, Space(), P9050_MODE_BYTE),
                fits ? 0u : WD_STATUS_NONE);
      break;
  }

  const auto t = Transfers();
  const bool requests = fits && (c.io || c.width == 0);
  ASSERT_EQ(simulator_.log().size(), requests ? 2u : 0u);
  if (requests) {
    const uint32_t port = h_->addrDesc[Space()].transferAddress + offset;
    EXPECT_EQ(t[0].address, port);
    EXPECT_EQ(t[1].address, port);
    EXPECT_EQ(t[0].bytes, c.width == 0 ? n : 0u);
  }

  Sync();
  std::vector<uint8_t> expected = before;
  if (fits) std::memcpy(&expected[offset], pattern.data(), n);
  EXPECT_EQ(Ram().contents(), expected);
  if (c.width == 0) {
    std::array<uint8_t, kBlockBytes> untouched;
    untouched.fill(0xEE);
    EXPECT_EQ(buffer, fits ? pattern : untouched);
  } else {
    const uint32_t ones = c.width == 4 ? 0xFFFFFFFFu : (1u << (8 * c.width)) - 1;
    EXPECT_EQ(read, fits ? (value & ones) : 0u);
  }
  EXPECT_TRUE(card_->register_writes().empty());
}

INSTANTIATE_TEST_SUITE_P(Accesses, RangeBoundsTest, ::testing::ValuesIn(AllRangeCases()),
                         [](const auto& info) { return RangeCaseName(info.param); });

// --- Bounds of a memory range, on a hand-made mapping --------------------------------------------

struct BoundCase {
  unsigned width;
  uint32_t offset;
  bool inside;
};

void PrintTo(const BoundCase& c, std::ostream* os) {
  *os << c.width << " bytes at " << c.offset;
}

class MemoryBoundsTest : public ::testing::TestWithParam<BoundCase>, public BridgeFixture {};

TEST_P(MemoryBoundsTest, AccessesOutsideTheRangeDoNotTouchMemory) {
  const BoundCase& c = GetParam();
  constexpr uint32_t kBytes = 16;
  uint8_t mapping[kBytes + 8];
  std::memset(mapping, 0x5A, sizeof mapping);
  P9050_Handle h{};
  h.device = WdChannel_Open();
  h.addrDesc[2] = {0, kBytes - 1, kBytes, 0xFE000000u, WD_TO_UPTR(mapping), 1};

  uint32_t read = 0;
  switch (c.width) {
    case 1:
      P9050_WriteByte(&h, 2, c.offset, 0xC3);
      read = P9050_ReadByte(&h, 2, c.offset);
      break;
    case 2:
      P9050_WriteWord(&h, 2, c.offset, 0xC3C3);
      read = P9050_ReadWord(&h, 2, c.offset);
      break;
    default:
      P9050_WriteDword(&h, 2, c.offset, 0xC3C3C3C3u);
      read = P9050_ReadDword(&h, 2, c.offset);
      break;
  }
  const uint32_t ones = c.width == 4 ? 0xFFFFFFFFu : (1u << (8 * c.width)) - 1;
  EXPECT_EQ(read, c.inside ? (0xC3C3C3C3u & ones) : 0u);
  for (uint32_t i = 0; i < sizeof mapping; i++) {
    const bool written = c.inside && i >= c.offset && i < c.offset + c.width;
    EXPECT_EQ(mapping[i], written ? 0xC3 : 0x5A) << "byte " << i;
  }
  EXPECT_TRUE(simulator_.log().empty());
  WdChannel_Close(h.device);
}

INSTANTIATE_TEST_SUITE_P(Edges, MemoryBoundsTest,
                         ::testing::Values(BoundCase{1, 0, true}, BoundCase{1, 15, true},
                                           BoundCase{1, 16, false}, BoundCase{2, 14, true},
                                           BoundCase{2, 15, false}, BoundCase{4, 12, true},
                                           BoundCase{4, 13, false}, BoundCase{4, 1, true},
                                           BoundCase{4, 0xFFFFFFFEu, false},
                                           BoundCase{1, 0xFFFFFFFFu, false}),
                         [](const auto& info) {
                           return "Width" + std::to_string(info.param.width) + "At" +
                                  testsupport::Hex(info.param.offset);
                         });

// A memory range the driver left without a mapping is not dereferenced.
TEST(UnmappedRangeTest, MemoryRangeWithoutUserAddressIsNotTouched) {
  P9050_Handle h{};
  h.device = WD_INVALID_HANDLE;
  h.addrDesc[2] = {0, 0xFF, 0x100, 0xFE000000u, 0, 1};
  EXPECT_EQ(P9050_ReadDword(&h, 2, 0x10), 0u);
  EXPECT_EQ(P9050_ReadByte(&h, 2, 0x10), 0u);
  P9050_WriteWord(&h, 2, 0x10, 0x1234);
  P9050_WriteDword(&h, 2, 0x10, 0x1234);
}

// A space index past the table reaches neither memory nor the driver.
TEST(SpaceIndexTest, IndexPastTheTableDoesNothing) {
  P9050_Handle h{};
  h.device = WD_INVALID_HANDLE;
  for (uint32_t space : {7u, 8u, 0xFFFFFFFFu}) {
    EXPECT_EQ(P9050_ReadDword(&h, space, 0), 0u);
    P9050_WriteDword(&h, space, 0, 1);
    EXPECT_FALSE(P9050_IsAddrSpaceActive(&h, space));
    uint8_t buffer[4];
    EXPECT_EQ(P9050_ReadBlock(&h, 0, buffer, 4, space, 2), WD_STATUS_NONE);
  }
}

}  // namespace
}  // namespace bridge_test
