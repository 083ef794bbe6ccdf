// edu's BAR0 (1 MiB of memory registers) through registration: the sysfs driver maps resource0,
// the library reads and writes through the mapping, and unregistration takes the mapping away.
// What edu does with each access width is QEMU's device model's, found out here and kept: it
// answers 4-byte accesses only (8-byte from 0x80); narrower reads give 0 and narrower writes are
// dropped.
#include "p9050_lib.h"
#include "vm/guest.h"

namespace vm_test {
namespace {

constexpr uint32_t kEduId = 0x010000ed;
constexpr uint32_t kLiveness = 0x04;  // reads back the inverse of what was written
constexpr uint32_t kBarBytes = 0x100000;

class EduTest : public GuestTest {
 protected:
  void SetUp() override {
    GuestTest::SetUp();
    ASSERT_TRUE(P9050_Open(&h_, kEduVendor, kEduDevice, 0, 0)) << P9050_ErrorText;
  }
  void TearDown() override {
    if (h_ != nullptr) P9050_Close(h_);
    GuestTest::TearDown();
  }
  P9050_Handle* h_ = nullptr;
};

TEST_F(EduTest, RegistrationMapsBarZeroThroughResourceZero) {
  const P9050_AddrDesc& bar0 = h_->addrDesc[0];
  EXPECT_EQ(bar0.isMemory, 1u);
  EXPECT_EQ(bar0.bytes, kBarBytes);
  ASSERT_NE(bar0.userAddress, 0u);
  const std::string resource = std::string("/0000:00:02.0/resource0");
  const std::vector<std::string> maps = MapsOf(resource);
  ASSERT_EQ(maps.size(), 1u) << "one mapping of edu's resource0";
  const unsigned long long first = std::strtoull(maps[0].c_str(), nullptr, 16);
  const unsigned long long end =
      std::strtoull(maps[0].c_str() + maps[0].find('-') + 1, nullptr, 16);
  EXPECT_EQ(first, bar0.userAddress);
  EXPECT_EQ(end - first, kBarBytes);
  EXPECT_EQ(P9050_ReadDword(h_, 0, 0), kEduId);

  P9050_Close(h_);
  h_ = nullptr;
  EXPECT_TRUE(MapsOf(resource).empty()) << "unregistration unmaps";
  EXPECT_EQ(driver_.registrations(), 0);
}

TEST_F(EduTest, LivenessRegisterInvertsEveryDword) {
  for (const uint32_t value : {0x00000000u, 0xffffffffu, 0x12345678u, 0xa5a5a5a5u, 0x00000001u}) {
    P9050_WriteDword(h_, 0, kLiveness, value);
    EXPECT_EQ(P9050_ReadDword(h_, 0, kLiveness), ~value) << std::hex << value;
  }
}

TEST_F(EduTest, EveryAccessWidthAsTheDeviceAnswersIt) {
  struct Case {
    const char* what;
    unsigned width;
    bool write;
    uint32_t offset;
    uint32_t value;     // written
    uint32_t expected;  // read back: the access itself, or the liveness register after a write
  };
  const Case cases[] = {
      {"dword read of the identification", 4, false, 0x00, 0, kEduId},
      {"word read at 0x00", 2, false, 0x00, 0, 0},
      {"word read at 0x02", 2, false, 0x02, 0, 0},
      {"byte read at 0x00", 1, false, 0x00, 0, 0},
      {"byte read at 0x03", 1, false, 0x03, 0, 0},
      {"word read of the liveness register", 2, false, kLiveness, 0, 0},
      {"word write to the liveness register is dropped", 2, true, kLiveness, 0xbbbb, ~0x0f0f0f0fu},
      {"byte write to the liveness register is dropped", 1, true, kLiveness, 0xaa, ~0x0f0f0f0fu},
      {"byte write inside the liveness register is dropped", 1, true, kLiveness + 1, 0xcc,
       ~0x0f0f0f0fu},
      {"dword write to the liveness register", 4, true, kLiveness, 0x33cc33cc, ~0x33cc33ccu},
      {"the last dword of the BAR: no register, all ones", 4, false, kBarBytes - 4, 0, 0xffffffff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    P9050_WriteDword(h_, 0, kLiveness, 0x0f0f0f0f);
    if (c.write) {
      WriteAt(h_, 0, c.offset, c.width, c.value);
      EXPECT_EQ(P9050_ReadDword(h_, 0, kLiveness), c.expected);
    } else {
      EXPECT_EQ(ReadAt(h_, 0, c.offset, c.width), c.expected);
    }
  }
}

TEST_F(EduTest, BlocksThroughTheMappingAndTheBarsEnd) {
  // A dword block read through the driver: identification, then the liveness register.
  P9050_WriteDword(h_, 0, kLiveness, 0x01020304);
  uint32_t two[2] = {0, 0};
  ASSERT_EQ(P9050_ReadBlock(h_, 0, two, sizeof two, 0, P9050_MODE_DWORD), 0u)
      << driver_.LastError();
  EXPECT_EQ(two[0], kEduId);
  EXPECT_EQ(two[1], ~0x01020304u);
  // The last dword of the BAR is in reach, one past it is not: refused by the bound, nothing sent.
  uint32_t last[1] = {0};
  EXPECT_EQ(P9050_ReadBlock(h_, kBarBytes - 4, last, 4, 0, P9050_MODE_DWORD), 0u);
  EXPECT_EQ(last[0], 0xffffffffu);
  uint32_t past[2] = {0x5a5a5a5a, 0x5a5a5a5a};
  EXPECT_EQ(P9050_ReadBlock(h_, kBarBytes - 4, past, 8, 0, P9050_MODE_DWORD), WD_STATUS_NONE);
  EXPECT_EQ(past[0], 0x5a5a5a5au);
  EXPECT_EQ(P9050_ReadDword(h_, 0, kBarBytes), 0u);
}

// edu behind the root port maps the same way, from its own BAR.
TEST_F(GuestTest, EduOnBusOneMapsItsOwnBar) {
  P9050_Handle* h = nullptr;
  ASSERT_TRUE(P9050_Open(&h, kEduVendor, kEduDevice, 1, 0)) << P9050_ErrorText;
  EXPECT_EQ(MapsOf("/0000:01:00.0/resource0").size(), 1u);
  P9050_WriteDword(h, 0, kLiveness, 0x600df00d);
  EXPECT_EQ(P9050_ReadDword(h, 0, kLiveness), ~0x600df00du);
  P9050_Close(h);
  EXPECT_TRUE(MapsOf("/0000:01:00.0/resource0").empty());
}

}  // namespace
}  // namespace vm_test
