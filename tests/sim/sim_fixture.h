// A simulator installed as the process's driver, with one device handle open, for sim tests.
#ifndef ZARERERA_TESTS_SIM_SIM_FIXTURE_H
#define ZARERERA_TESTS_SIM_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "driver/board_ids.h"
#include "driver/driver_request.h"
#include "sim/register_file_card.h"
#include "sim/simulator.h"

namespace simtest {

// A card like the PLX 9050 board's resources: registers in memory and I/O, two local spaces.
inline sim::FunctionConfig BoardLikeConfig() {
  sim::FunctionConfig s;
  s.vendor_id = product_ids::kVendorId;
  s.device_id = product_ids::kDeviceId;
  s.class_code = 0x068000;
  s.revision = 2;
  s.bars[0] = {sim::BarKind::kMemory, 128};
  s.bars[1] = {sim::BarKind::kIo, 128};
  s.bars[2] = {sim::BarKind::kMemory, 4096};
  s.bars[3] = {sim::BarKind::kIo, 32};
  s.irq = 11;
  s.interrupt_pin = 1;
  return s;
}

template <class T>
std::vector<uint8_t> BytesOf(const T& rec) {
  const auto* p = reinterpret_cast<const uint8_t*>(&rec);
  return std::vector<uint8_t>(p, p + sizeof rec);
}

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    install_ = std::make_unique<sim::ScopedInstall>(sim_);
    device_ = WdChannel_Open();
    ASSERT_NE(device_, WD_INVALID_HANDLE);
  }
  void TearDown() override {
    WdChannel_Close(device_);
    install_.reset();
    EXPECT_EQ(WdHosted_OpenHandles(), 0);
  }

  // Adds a generic card and returns its storage.
  std::shared_ptr<sim::RegisterFileCard> AddCard(uint32_t bus, uint32_t slot, uint32_t function,
                                                 const sim::FunctionConfig& cfg) {
    auto card = std::make_shared<sim::RegisterFileCard>(cfg);
    sim_.AddFunction(bus, slot, function, cfg, card);
    return card;
  }

  template <class T>
  uint32_t Send(uint32_t code, T& rec) {
    return DriverRequest(code, device_, &rec, sizeof rec, 0);
  }

  WdCard CardInfo(uint32_t bus, uint32_t slot, uint32_t function) {
    WdPciCardInfo info{};
    info.pciSlot = {bus, slot, function};
    EXPECT_EQ(Send(WD_CODE_PCI_CARD_INFO, info), 0u);
    return info.card;
  }

  // Registers the card at the slot as the library does: card information, then registration.
  WdCardRegister Register(uint32_t bus, uint32_t slot, uint32_t function) {
    WdCardRegister reg{};
    reg.card = CardInfo(bus, slot, function);
    EXPECT_EQ(Send(WD_CODE_CARD_REGISTER, reg), 0u);
    return reg;
  }

  WdTransfer Transfer(uint32_t command, uint32_t address, uint32_t value = 0) {
    WdTransfer t{};
    t.command = command;
    t.address = address;
    t.data.dword = value;
    EXPECT_EQ(Send(WD_CODE_TRANSFER, t), 0u);
    return t;
  }

  void Sleep(uint32_t us = 500) {
    WdSleep s{};
    s.microseconds = us;
    EXPECT_EQ(Send(WD_CODE_SLEEP, s), 0u);
  }

  sim::Simulator sim_;
  std::unique_ptr<sim::ScopedInstall> install_;
  WdDeviceHandle device_ = WD_INVALID_HANDLE;
};

}  // namespace simtest

#endif  // ZARERERA_TESTS_SIM_SIM_FIXTURE_H
