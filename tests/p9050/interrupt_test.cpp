// The PCI interrupt enable and the prepared acknowledge commands, against the simulated bridge:
// what reaches INTCSR, what the handle holds for an interrupt service, and what the dispatch hands
// to the handler.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver_request.h"
#include "p9050/eeprom_fixture.h"

namespace {

using eepromtest::EepromCard;

struct Call {
  P9050_Handle* handle;
  P9050_IntResult result;
};
std::vector<Call> g_calls;
int g_second_calls = 0;

void RecordingHandler(P9050_Handle* handle, P9050_IntResult* result) {
  g_calls.push_back({handle, *result});
}
void SecondHandler(P9050_Handle*, P9050_IntResult*) {
  ++g_second_calls;
}

class InterruptTest : public EepromCard {
 protected:
  InterruptTest() {
    g_calls.clear();
    g_second_calls = 0;
  }
  std::vector<uint32_t> IntcsrWrites() const {
    std::vector<uint32_t> out;
    for (const auto& w : bridge_->register_writes()) {
      EXPECT_EQ(w.offset, static_cast<uint32_t>(P9050_INTCSR)) << "only INTCSR is written";
      out.push_back(w.value);
    }
    return out;
  }
};

struct EnableCase {
  const char* name;
  sim::BarKind bar0;
  uint32_t intcsr;
  uint32_t written;
  uint32_t readCommand;
  uint32_t writeCommand;
  uint32_t maskData;
};

void PrintTo(const EnableCase& c, std::ostream* os) {
  *os << c.name;
}

class IntEnableTest : public InterruptTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(IntEnableTest, SetsOnlyBit6AndPreparesBothCommands) {
  const EnableCase& c = GetParam();
  Open(c.bar0);
  bridge_->Poke(P9050_INTCSR, c.intcsr);
  Sync();
  std::memset(handle_->transfers, 0xA5, sizeof handle_->transfers);  // stale contents
  ASSERT_TRUE(P9050_IntEnable(handle_, RecordingHandler));
  if (c.bar0 == sim::BarKind::kIo) {
    // Through I/O every access is a request: one read, then one write of INTCSR.
    EXPECT_EQ(IntcsrWrites(), std::vector<uint32_t>{c.written});
    EXPECT_EQ(sim_.Count(WD_CODE_TRANSFER), 2u);
  } else {
    // Through the memory window the store is what the window holds; the bridge takes it at the
    // next request.
    const auto* window = reinterpret_cast<const volatile uint32_t*>(
        static_cast<uintptr_t>(handle_->addrDesc[0].userAddress));
    EXPECT_EQ(window[P9050_INTCSR / 4], c.written);
    Sync();
    EXPECT_EQ(bridge_->Peek(P9050_INTCSR), c.written);
  }
  const uint32_t address = handle_->addrDesc[0].transferAddress + P9050_INTCSR;
  WdTransfer expected[2];
  std::memset(expected, 0, sizeof expected);
  expected[0].address = address;
  expected[0].command = c.readCommand;
  expected[1].address = address;
  expected[1].command = c.writeCommand;
  expected[1].data.dword = c.maskData;
  EXPECT_EQ(std::memcmp(handle_->transfers, expected, sizeof expected), 0);
  EXPECT_EQ(handle_->commands, handle_->transfers);
  EXPECT_EQ(handle_->commandCount, 2u);
  EXPECT_EQ(handle_->options, 2u);
  EXPECT_EQ(handle_->handler, &RecordingHandler);
  EXPECT_STREQ(P9050_ErrorText, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Cases, IntEnableTest,
                         ::testing::Values(EnableCase{"MemoryAlreadyEnabled", sim::BarKind::kMemory,
                                                      0x41, 0x41, WD_RM_DWORD, WD_WM_DWORD, 0x01},
                                           EnableCase{"MemoryLocalEnables", sim::BarKind::kMemory,
                                                      0x09, 0x49, WD_RM_DWORD, WD_WM_DWORD, 0x09},
                                           EnableCase{"IoAlreadyEnabled", sim::BarKind::kIo, 0x41,
                                                      0x41, WD_RP_DWORD, WD_WP_DWORD, 0x01},
                                           EnableCase{"IoLocalEnables", sim::BarKind::kIo, 0x09,
                                                      0x49, WD_RP_DWORD, WD_WP_DWORD, 0x09},
                                           EnableCase{"IoSoftwareInterrupt", sim::BarKind::kIo,
                                                      0xC9, 0xC9, WD_RP_DWORD, WD_WP_DWORD, 0x89}),
                         [](const ::testing::TestParamInfo<EnableCase>& info) {
                           return info.param.name;
                         });

TEST_F(InterruptTest, RepeatedEnableKeepsOptionBitsAndStoresTheLastHandler) {
  Open(sim::BarKind::kIo);  // every INTCSR access a request
  handle_->options = 0x5;
  EXPECT_TRUE(P9050_IntEnable(handle_, RecordingHandler));
  EXPECT_EQ(handle_->options, 0x7u);
  handle_->options = 0;
  EXPECT_TRUE(P9050_IntEnable(handle_, RecordingHandler));
  EXPECT_EQ(handle_->options, 2u);
  EXPECT_TRUE(P9050_IntEnable(handle_, SecondHandler));
  EXPECT_EQ(handle_->options, 2u);
  EXPECT_EQ(handle_->handler, &SecondHandler);
  // The second and third calls read INTCSR with bit 6 set; the mask command still clears it.
  EXPECT_EQ(IntcsrWrites(), (std::vector<uint32_t>{0x40, 0x40, 0x40}));
  EXPECT_EQ(handle_->transfers[P9050_INT_CMD_WRITE].data.dword, 0u);
  P9050_IntDispatch(handle_);
  EXPECT_EQ(g_second_calls, 1);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(InterruptTest, EnableWhileServicedChangesNothing) {
  Open();
  ASSERT_TRUE(P9050_IntEnable(handle_, RecordingHandler));
  bridge_->ClearRegisterWrites();
  sim_.ClearLog();
  handle_->active = 1;
  WdTransfer before[2];
  std::memcpy(before, handle_->transfers, sizeof before);
  EXPECT_FALSE(P9050_IntEnable(handle_, SecondHandler));
  EXPECT_TRUE(sim_.log().empty());
  EXPECT_TRUE(bridge_->register_writes().empty());
  EXPECT_EQ(std::memcmp(before, handle_->transfers, sizeof before), 0);
  EXPECT_EQ(handle_->handler, &RecordingHandler);
  EXPECT_STREQ(P9050_ErrorText, "untouched");
  handle_->active = 0;
}

TEST_F(InterruptTest, DispatchHandsTheCountersAndFetchedIntcsrToTheHandler) {
  Open();
  ASSERT_TRUE(P9050_IntEnable(handle_, RecordingHandler));
  handle_->counter = 3;
  handle_->lost = 0;
  handle_->stopped = 0;
  handle_->transfers[P9050_INT_CMD_READ].data.dword = 0x45;
  P9050_IntDispatch(handle_);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].handle, handle_);
  EXPECT_EQ(g_calls[0].result.counter, 3u);
  EXPECT_EQ(g_calls[0].result.lost, 0u);
  EXPECT_EQ(g_calls[0].result.stopped, 0u);
  EXPECT_EQ(g_calls[0].result.status, 0x45u);
}

TEST_F(InterruptTest, DispatchWithANullHandlerCallsNothing) {
  Open();
  ASSERT_TRUE(P9050_IntEnable(handle_, nullptr));
  EXPECT_EQ(handle_->handler, nullptr);
  P9050_IntDispatch(handle_);  // must not jump through the null pointer
  EXPECT_TRUE(g_calls.empty());
}

// End to end on the card's interrupt line: an active, enabled local interrupt asserts it once
// bit 6 is set; the prepared commands, run as a service would run them, fetch INTCSR and mask the
// line again.
class IntLineTest : public InterruptTest, public ::testing::WithParamInterface<sim::BarKind> {};

TEST_P(IntLineTest, PreparedCommandsFetchIntcsrAndMaskTheLine) {
  Open(GetParam());
  bridge_->Poke(P9050_INTCSR, 0x03);  // local interrupt 1 enabled, active high
  bridge_->SetLocalInterrupt(1, true);
  Sync();
  EXPECT_FALSE(bridge_->InterruptAsserted());
  ASSERT_TRUE(P9050_IntEnable(handle_, RecordingHandler));
  Sync();  // a store into the memory window reaches the bridge at the next request
  EXPECT_TRUE(bridge_->InterruptAsserted());

  for (uint32_t i = 0; i < handle_->commandCount; ++i) {
    EXPECT_EQ(DriverRequest(WD_CODE_TRANSFER, handle_->device, &handle_->commands[i],
                            sizeof(WdTransfer), 0),
              0u);
  }
  EXPECT_EQ(handle_->transfers[P9050_INT_CMD_READ].data.dword, 0x47u);  // status bit 2 set
  EXPECT_FALSE(bridge_->InterruptAsserted());
  EXPECT_EQ(bridge_->Peek(P9050_INTCSR) & P9050_INTCSR_PCI_INT_ENABLE, 0u);
  P9050_IntDispatch(handle_);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].result.status, 0x47u);
}

INSTANTIATE_TEST_SUITE_P(Spaces, IntLineTest,
                         ::testing::Values(sim::BarKind::kMemory, sim::BarKind::kIo),
                         [](const ::testing::TestParamInfo<sim::BarKind>& info) {
                           return info.param == sim::BarKind::kMemory ? "Memory" : "Io";
                         });

}  // namespace
