// Port I/O on e1000e's BAR2 (32 bytes of I/O ports) through resource2: each access a pread or
// pwrite of its width, which the kernel turns into one in or out. IOADDR (port 0) holds a register
// offset and reads back; IODATA (port 4) reads the register it names, the same one BAR0's memory
// shows at that offset. QEMU's model implements 4-byte accesses only: a narrower write to IOADDR
// becomes a dword write of the value zero-extended, a narrower read returns that part of it, and
// ports it does not decode read 0 and ignore writes.
#include <cstring>

#include "driver/driver_request.h"
#include "driver/wd_status.h"
#include "p9050_lib.h"
#include "vm/guest.h"

namespace vm_test {
namespace {

constexpr uint32_t kIoAddr = 0x00;
constexpr uint32_t kIoData = 0x04;
constexpr uint32_t kPorts = 32;
constexpr uint32_t kStatusRegister = 0x08;  // the card's STATUS, which nothing here changes

class E1000ePortTest : public GuestTest {
 protected:
  void SetUp() override {
    GuestTest::SetUp();
    ASSERT_TRUE(P9050_Open(&h_, kE1000eVendor, kE1000eDevice, 0, 0)) << P9050_ErrorText;
    ASSERT_EQ(h_->addrDesc[2].isMemory, 0u);
    ASSERT_EQ(h_->addrDesc[2].bytes, kPorts);
    base_ = h_->addrDesc[2].transferAddress;
  }
  void TearDown() override {
    if (h_ != nullptr) P9050_Close(h_);
    GuestTest::TearDown();
  }
  uint32_t IoAddr() { return P9050_ReadDword(h_, 2, kIoAddr); }
  // One transfer straight to the driver, past the library's own bounds.
  uint32_t Transfer(uint32_t address, uint32_t command, WdTransferData* data, uint32_t bytes = 0) {
    WdTransfer t{};
    t.address = address;
    t.command = command;
    t.bytes = bytes;
    t.autoIncrement = bytes != 0 ? 1 : 0;
    t.data = *data;
    const uint32_t status = DriverRequest(WD_CODE_TRANSFER, device_, &t, sizeof t, 0);
    *data = t.data;
    return status;
  }

  P9050_Handle* h_ = nullptr;
  uint32_t base_ = 0;
};

TEST_F(E1000ePortTest, IoAddrReadsBackAndIoDataReadsTheNamedRegister) {
  for (const uint32_t offset : {0x00000008u, 0x12345678u, 0xffffffffu, 0u}) {
    P9050_WriteDword(h_, 2, kIoAddr, offset);
    EXPECT_EQ(IoAddr(), offset) << std::hex << offset;
  }
  P9050_WriteDword(h_, 2, kIoAddr, kStatusRegister);
  const uint32_t status = P9050_ReadDword(h_, 2, kIoData);
  EXPECT_EQ(status, P9050_ReadDword(h_, 0, kStatusRegister)) << "IODATA and BAR0 show one register";
  EXPECT_NE(status, 0u);
}

TEST_F(E1000ePortTest, EveryWidthAtTheFirstAndLastPorts) {
  struct Case {
    const char* what;
    unsigned width;
    bool write;
    uint32_t port;
    uint32_t value;
    uint32_t expected;  // the read, or IOADDR after the write
  };
  const Case cases[] = {
      {"dword read of IOADDR", 4, false, 0, 0, 0x12345678},
      {"word read of IOADDR: its low half", 2, false, 0, 0, 0x5678},
      {"byte read of IOADDR: its low byte", 1, false, 0, 0, 0x78},
      {"byte read of port 1, not decoded", 1, false, 1, 0, 0},
      {"word read of port 2, not decoded", 2, false, 2, 0, 0},
      {"byte write to IOADDR: a dword of the byte", 1, true, 0, 0xab, 0x000000ab},
      {"word write to IOADDR: a dword of the word", 2, true, 0, 0xcdef, 0x0000cdef},
      {"dword write to IOADDR", 4, true, 0, 0x87654321, 0x87654321},
      {"byte write to port 1 is ignored", 1, true, 1, 0x11, 0x12345678},
      {"last port, byte read", 1, false, kPorts - 1, 0, 0},
      {"last word, read", 2, false, kPorts - 2, 0, 0},
      {"last dword, read", 4, false, kPorts - 4, 0, 0},
      {"last port, byte write is ignored", 1, true, kPorts - 1, 0x5a, 0x12345678},
      {"last word, write is ignored", 2, true, kPorts - 2, 0x5a5a, 0x12345678},
      {"last dword, write is ignored", 4, true, kPorts - 4, 0x5a5a5a5a, 0x12345678},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    P9050_WriteDword(h_, 2, kIoAddr, 0x12345678);
    if (c.write) {
      WriteAt(h_, 2, c.port, c.width, c.value);
      EXPECT_EQ(IoAddr(), c.expected);
    } else {
      EXPECT_EQ(ReadAt(h_, 2, c.port, c.width), c.expected);
    }
    EXPECT_EQ(driver_.LastError(), "") << "no access failed";
  }
}

TEST_F(E1000ePortTest, BlockTransfersAreOneAccessPerElement) {
  // Reads: IOADDR then IODATA, as dwords; as bytes, ports 0-3 one at a time; as words, 0 and 2.
  P9050_WriteDword(h_, 2, kIoAddr, kStatusRegister);
  uint32_t dwords[2] = {};
  ASSERT_EQ(P9050_ReadBlock(h_, kIoAddr, dwords, sizeof dwords, 2, P9050_MODE_DWORD), 0u)
      << driver_.LastError();
  EXPECT_EQ(dwords[0], kStatusRegister);
  EXPECT_EQ(dwords[1], P9050_ReadDword(h_, 0, kStatusRegister));

  P9050_WriteDword(h_, 2, kIoAddr, 0x12345678);
  uint8_t bytes[4] = {0xee, 0xee, 0xee, 0xee};
  ASSERT_EQ(P9050_ReadBlock(h_, kIoAddr, bytes, sizeof bytes, 2, P9050_MODE_BYTE), 0u);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0x78, 0, 0, 0}));
  uint16_t words[2] = {0xeeee, 0xeeee};
  ASSERT_EQ(P9050_ReadBlock(h_, kIoAddr, words, sizeof words, 2, P9050_MODE_WORD), 0u);
  EXPECT_EQ(words[0], 0x5678);
  EXPECT_EQ(words[1], 0);

  // Writes: a byte block over ports 0-3 leaves IOADDR with the first byte alone (ports 1-3 are
  // not decoded); a dword block of one element sets it.
  uint8_t out[4] = {0xb0, 0xb1, 0xb2, 0xb3};
  ASSERT_EQ(P9050_WriteBlock(h_, kIoAddr, out, sizeof out, 2, P9050_MODE_BYTE), 0u);
  EXPECT_EQ(IoAddr(), 0xb0u);
  uint32_t one = 0x1c;
  ASSERT_EQ(P9050_WriteBlock(h_, kIoAddr, &one, sizeof one, 2, P9050_MODE_DWORD), 0u);
  EXPECT_EQ(IoAddr(), 0x1cu);
  // The whole BAR as a dword block read ends at its last port.
  uint32_t all[kPorts / 4] = {};
  EXPECT_EQ(P9050_ReadBlock(h_, 0, all, sizeof all, 2, P9050_MODE_DWORD), 0u);
  EXPECT_EQ(all[0], 0x1cu);
}

TEST_F(E1000ePortTest, AddressOutsideTheBarIsRefusedWithoutAnAccess) {
  P9050_WriteDword(h_, 2, kIoAddr, 0x00c0ffee);
  // Through the library: its bound stops them.
  EXPECT_EQ(P9050_ReadDword(h_, 2, kPorts), 0u);
  EXPECT_EQ(P9050_ReadDword(h_, 2, kPorts - 2), 0u);
  uint32_t nine[kPorts / 4 + 1] = {0x1111, 0x2222};
  EXPECT_EQ(P9050_WriteBlock(h_, 0, nine, sizeof nine, 2, P9050_MODE_DWORD), WD_STATUS_NONE);
  // Straight to the driver: no registered range covers them, and it says so.
  struct Case {
    const char* what;
    uint32_t address;
    uint32_t command;
    uint32_t bytes;
  };
  const Case cases[] = {
      {"dword write one past the end", base_ + kPorts, WD_WP_DWORD, 0},
      {"dword write straddling the end", base_ + kPorts - 2, WD_WP_DWORD, 0},
      {"byte write before the start", base_ - 1, WD_WP_BYTE, 0},
      {"dword block write from IOADDR one element too long", base_, WD_WP_SDWORD, sizeof nine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WdTransferData data{};
    if (c.bytes != 0) {
      data.ptr = WD_TO_UPTR(nine);
    } else {
      data.dword = 0x2222;
    }
    EXPECT_NE(Transfer(c.address, c.command, &data, c.bytes), 0u);
    EXPECT_NE(driver_.LastError().find("no registered I/O range covers"), std::string::npos)
        << driver_.LastError();
    EXPECT_EQ(IoAddr(), 0x00c0ffeeu) << "nothing reached the card";
  }
}

}  // namespace
}  // namespace vm_test
