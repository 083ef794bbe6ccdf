// Every library operation against a driver that refuses one request code, with an error status or
// by not answering at all: the operation gives its documented failure result when it needs that
// code and its ordinary result when it does not, and leaves no device handle and no registration
// behind (a refused unregistration leaves its registration, which only the driver can drop).
//
// The card has the bridge registers behind an I/O BAR0, so that every register access, EEPROM
// pin included, is a transfer request the driver can refuse; the board's ports are the I/O range
// of space 3.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "diag/pci_diag.h"
#include "driver/hosted_driver.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"
#include "support/transcript.h"

namespace {

constexpr uint32_t kVendor = 0x9050;
constexpr uint32_t kDevice = 0x10B5;
constexpr uint32_t kRefused = sim::kStatusInvalidParameter;
constexpr uint32_t kPortsSpace = 3;
constexpr uint32_t kPortsLocalAddress = 0;  // local space 1 starts here
constexpr uint32_t kRegsIoSpace = 0;
constexpr uint32_t kStoreReg = P9050_LAS0BRD;  // a read-write register: what is written reads back
constexpr uint32_t kOldStore = 0x00400022u;
constexpr uint32_t kNewStore = 0x12345678u;

struct Code {
  uint32_t code;
  const char* name;
};
constexpr Code kCodes[] = {
    {WD_CODE_VERSION, "Version"},
    {WD_CODE_PCI_SCAN, "Scan"},
    {WD_CODE_PCI_CARD_INFO, "CardInfo"},
    {WD_CODE_CARD_REGISTER, "Register"},
    {WD_CODE_CARD_UNREGISTER, "Unregister"},
    {WD_CODE_PCI_CONFIG, "Config"},
    {WD_CODE_TRANSFER, "Transfer"},
    {WD_CODE_SLEEP, "Sleep"},
};

enum class Fault { kError, kSilence };

// What the test sees of one operation.
class FaultMatrixTest;
struct Operation {
  const char* name;
  std::vector<uint32_t> codes;  // the request codes the operation sends
  bool needsHandle;             // runs on a card opened before the fault
  // Runs the operation with the fault in force and checks its result; `hit` says whether the
  // fault touches the operation, `refused` is the status a refused request returns to it.
  std::function<void(FaultMatrixTest&, bool hit, uint32_t refused)> run;
  // Checks, after the fault is cleared, what the operation left on the card.
  std::function<void(FaultMatrixTest&, bool hit)> after = nullptr;
};

const std::vector<Operation>& Operations();

struct MatrixCase {
  size_t operation;
  size_t code;
  Fault fault;
};

std::string CaseName(const MatrixCase& c) {
  return std::string(Operations()[c.operation].name) + "_" + kCodes[c.code].name + "_" +
         (c.fault == Fault::kError ? "Error" : "Silence");
}

void PrintTo(const MatrixCase& c, std::ostream* os) {
  *os << CaseName(c);
}

std::vector<MatrixCase> AllCases() {
  std::vector<MatrixCase> out;
  for (size_t op = 0; op < Operations().size(); ++op) {
    for (size_t code = 0; code < std::size(kCodes); ++code) {
      for (Fault f : {Fault::kError, Fault::kSilence}) out.push_back({op, code, f});
    }
  }
  return out;
}

class FaultMatrixTest : public ::testing::TestWithParam<MatrixCase> {
 protected:
  FaultMatrixTest() {
    sim::BoardConfig config;
    config.bridge.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
    board_ = sim::AddBoard(simulator_, config);
  }

 public:
  sim::Simulator simulator_;
  sim::ScopedInstall install_{simulator_};
  sim::SimBoard board_;
  P9050_Handle* handle_ = nullptr;
};

uint32_t Status(bool hit, uint32_t refused) {
  return hit ? refused : 0;
}

// The word the part holds at byte offset `offset`.
uint16_t PartWord(FaultMatrixTest& t, uint32_t offset) {
  return t.board_.eeprom->image()[offset / 2];
}

const std::vector<Operation>& Operations() {
  using T = FaultMatrixTest;
  static const std::vector<Operation> ops = {
      {"CountCards",
       {WD_CODE_VERSION, WD_CODE_PCI_SCAN},
       false,
       [](T&, bool hit, uint32_t) {
         EXPECT_EQ(P9050_CountCards(kVendor, kDevice), hit ? 0u : 1u);
       }},
      {"Open",
       {WD_CODE_VERSION, WD_CODE_PCI_SCAN, WD_CODE_PCI_CARD_INFO, WD_CODE_CARD_REGISTER},
       false,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_Open(&t.handle_, kVendor, kDevice, 0, 0), hit ? FALSE : TRUE);
         EXPECT_EQ(t.handle_ == nullptr, hit);
       }},
      {"Close",
       {WD_CODE_CARD_UNREGISTER},
       true,
       [](T& t, bool, uint32_t) {
         P9050_Close(t.handle_);
         t.handle_ = nullptr;
       }},
      {"ReadByte",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_ReadByte(t.handle_, kRegsIoSpace, P9050_LAS1RR), hit ? 0u : 0xE1u);
       }},
      {"ReadWord",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_ReadWord(t.handle_, kRegsIoSpace, P9050_LAS1RR), hit ? 0u : 0xFFE1u);
       }},
      {"ReadDword",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_ReadDword(t.handle_, kRegsIoSpace, P9050_LAS1RR), hit ? 0u : 0x0FFFFFE1u);
       }},
      {"ReadReg",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, P9050_LAS1RR), hit ? 0u : 0x0FFFFFE1u);
       }},
      {"WriteByte",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) { P9050_WriteByte(t.handle_, kRegsIoSpace, kStoreReg, 0x78); },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, kStoreReg), hit ? kOldStore : 0x00400078u);
       }},
      {"WriteWord",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) { P9050_WriteWord(t.handle_, kRegsIoSpace, kStoreReg, 0x5678); },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, kStoreReg), hit ? kOldStore : 0x00405678u);
       }},
      {"WriteDword",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) {
         P9050_WriteDword(t.handle_, kRegsIoSpace, kStoreReg, kNewStore);
       },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, kStoreReg), hit ? kOldStore : kNewStore);
       }},
      {"WriteReg",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) { P9050_WriteReg(t.handle_, kStoreReg, kNewStore); },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, kStoreReg), hit ? kOldStore : kNewStore);
       }},
      {"ReadPciReg",
       {WD_CODE_PCI_CONFIG},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_ReadPciReg(t.handle_, 0), hit ? 0u : (kDevice << 16 | kVendor));
       }},
      {"WritePciReg",
       {WD_CODE_PCI_CONFIG},
       true,
       [](T& t, bool hit, uint32_t refused) {
         // The interrupt line: a byte of the header the card keeps as written.
         EXPECT_EQ(P9050_WritePciReg(t.handle_, 0x3C, 0x0000010Au), Status(hit, refused));
       },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadPciReg(t.handle_, 0x3C) & 0xFF, hit ? 0x0Bu : 0x0Au);
       }},
      {"ReadBlock",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t refused) {
         std::array<uint32_t, 2> block{0xCCCCCCCCu, 0xCCCCCCCCu};
         EXPECT_EQ(P9050_ReadBlock(t.handle_, P9050_LAS0RR, block.data(), sizeof block,
                                   kRegsIoSpace, P9050_MODE_DWORD),
                   Status(hit, refused));
         // A refused block leaves the caller's buffer as it was.
         EXPECT_EQ(block[1], hit ? 0xCCCCCCCCu : 0x0FFFFFE1u);
       }},
      {"WriteBlock",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t refused) {
         uint32_t value = kNewStore;
         EXPECT_EQ(P9050_WriteBlock(t.handle_, kStoreReg, &value, sizeof value, kRegsIoSpace,
                                    P9050_MODE_DWORD),
                   Status(hit, refused));
       },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, kStoreReg), hit ? kOldStore : kNewStore);
       }},
      {"ReadSpaceByte",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         // The digital input, which the board drives with 0x5A.
         EXPECT_EQ(P9050_ReadSpaceByte(t.handle_, kPortsSpace, kPortsLocalAddress + 0x10),
                   hit ? 0u : 0x5Au);
       }},
      {"WriteSpaceByte",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) {
         P9050_WriteSpaceByte(t.handle_, kPortsSpace, kPortsLocalAddress + 0x14, 0x3C);
       },
       [](T& t, bool hit) { EXPECT_EQ(t.board_.ports->digital_out(), hit ? 0xA5u : 0x3Cu); }},
      {"EEPROMReadWord",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         uint16_t word = 0xCCCC;
         // Each refused pin read yields 0: the word reads as 0, and the read itself succeeds.
         EXPECT_TRUE(P9050_EEPROMReadWord(t.handle_, 0, &word));
         EXPECT_EQ(word, hit ? 0u : PartWord(t, 0));
       }},
      {"EEPROMReadDword",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool hit, uint32_t) {
         uint32_t dword = 0xCCCCCCCCu;
         EXPECT_TRUE(P9050_EEPROMReadDword(t.handle_, 4, &dword));
         EXPECT_EQ(dword, hit ? 0u : (uint32_t{PartWord(t, 4)} << 16 | PartWord(t, 6)));
       }},
      // A write needs its delays: without them the part has no time to program the cell.
      {"EEPROMWriteWord",
       {WD_CODE_TRANSFER, WD_CODE_SLEEP},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_EEPROMWriteWord(t.handle_, 0x10, 0xBEEF), hit ? FALSE : TRUE);
         EXPECT_EQ(PartWord(t, 0x10), hit ? 0x1234u : 0xBEEFu);
       }},
      {"EEPROMWriteDword",
       {WD_CODE_TRANSFER, WD_CODE_SLEEP},
       true,
       [](T& t, bool hit, uint32_t) {
         EXPECT_EQ(P9050_EEPROMWriteDword(t.handle_, 0x10, 0xBEEFCAFEu), hit ? FALSE : TRUE);
         EXPECT_EQ(PartWord(t, 0x10), hit ? 0x1234u : 0xBEEFu);
         EXPECT_EQ(PartWord(t, 0x12), hit ? 0x5678u : 0xCAFEu);
       }},
      {"IntEnable",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) {
         // Enabling prepares the service; only the service itself marks the handle active.
         EXPECT_TRUE(P9050_IntEnable(t.handle_, nullptr));
         EXPECT_FALSE(P9050_IntIsEnabled(t.handle_));
       },
       [](T& t, bool hit) {
         EXPECT_EQ(P9050_ReadReg(t.handle_, P9050_INTCSR) & P9050_INTCSR_PCI_INT_ENABLE,
                   hit ? 0u : P9050_INTCSR_PCI_INT_ENABLE);
       }},
      {"IntDisable",
       {WD_CODE_TRANSFER},
       true,
       [](T& t, bool, uint32_t) {
         P9050_IntDisable(t.handle_);
         EXPECT_FALSE(P9050_IntIsEnabled(t.handle_));
       },
       [](T& t, bool hit) {
         // The library counts the interrupt as off either way; a refused write leaves it on.
         EXPECT_EQ(P9050_ReadReg(t.handle_, P9050_INTCSR) & P9050_INTCSR_PCI_INT_ENABLE,
                   hit ? P9050_INTCSR_PCI_INT_ENABLE : 0u);
       }},
      {"PciBusOpenDriver",
       {WD_CODE_VERSION},
       false,
       [](T&, bool hit, uint32_t) {
         WdDeviceHandle device = nullptr;
         EXPECT_EQ(PciBus_OpenDriver(&device), hit ? FALSE : TRUE);
         EXPECT_EQ(device == WD_INVALID_HANDLE, hit);
         if (device != WD_INVALID_HANDLE) WdChannel_Close(device);
       }},
      {"PciBusReadConfig",
       {WD_CODE_PCI_CONFIG},
       false,
       [](T&, bool hit, uint32_t) {
         WdDeviceHandle device = WdChannel_Open();
         EXPECT_EQ(PciBus_ReadConfig(device, WdPciSlot{0, 5, 0}, 0, 4),
                   hit ? 0u : (kDevice << 16 | kVendor));
         WdChannel_Close(device);
       }},
      {"PciBusWriteConfig",
       {WD_CODE_PCI_CONFIG},
       false,
       [](T&, bool hit, uint32_t refused) {
         WdDeviceHandle device = WdChannel_Open();
         EXPECT_EQ(PciBus_WriteConfig(device, WdPciSlot{0, 5, 0}, 0x3C, 1, 0x0A),
                   Status(hit, refused));
         WdChannel_Close(device);
       }},
  };
  return ops;
}

TEST_P(FaultMatrixTest, GivesTheFailureResultAndLeavesNothingOpen) {
  const MatrixCase& c = GetParam();
  const Operation& op = Operations()[c.operation];
  const uint32_t code = kCodes[c.code].code;
  const bool hit = std::find(op.codes.begin(), op.codes.end(), code) != op.codes.end();
  testsupport::ConsoleFiles console("");  // PciBus_OpenDriver prints why it failed

  if (op.needsHandle) {
    ASSERT_TRUE(P9050_Open(&handle_, kVendor, kDevice, 0, 0)) << P9050_ErrorText;
    // What the writes below are checked against.
    P9050_WriteReg(handle_, kStoreReg, kOldStore);
    P9050_WriteByte(handle_, kPortsSpace, 0x14, 0xA5);
    ASSERT_TRUE(P9050_EEPROMWriteDword(handle_, 0x10, 0x12345678u)) << P9050_ErrorText;
    ASSERT_EQ(P9050_WritePciReg(handle_, 0x3C, 0x0B), 0u);
    board_.ports->set_digital_in(0x5A);
    if (std::string(op.name) == "IntDisable") {
      ASSERT_TRUE(P9050_IntEnable(handle_, nullptr));
      handle_->active = 1;  // as an interrupt service marks it
    }
  }

  if (c.fault == Fault::kError) {
    simulator_.FailRequests(code, kRefused);
  } else {
    simulator_.SilenceRequests(code);
  }
  op.run(*this, hit, c.fault == Fault::kError ? kRefused : WD_STATUS_NONE);
  simulator_.ClearFaults();

  if (op.after) op.after(*this, hit);
  if (handle_ != nullptr) P9050_Close(handle_);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  const bool unregisterRefused = std::string(op.name) == "Close" && hit;
  EXPECT_EQ(simulator_.registrations(), unregisterRefused ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, FaultMatrixTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                           return CaseName(info.param);
                         });

}  // namespace
