// One function on the simulated PCI bus: its 256-byte configuration space, the BARs decoded from
// it, and the card model behind them.
//
// Configuration space: vendor/device, command/status, revision, class code, header type,
// subsystem IDs, six BARs, interrupt line and pin. Writable are the command register, cache line
// size, latency timer, the BARs and the interrupt line; everything else reads as the description of
// the function says and ignores writes. BARs size the way PCI defines it: the address bits below
// the BAR's size read 0 whatever is written, so writing all ones reads back the size mask with the
// type bits. A BAR written with a new address moves the range the function decodes.
//
// Not modelled: the command register's decode enables (the function always decodes its BARs), the
// status register's write-one-to-clear bits, the expansion ROM BAR, capabilities, 64-bit and
// prefetchable memory BARs.
#ifndef ZARERERA_SIM_PCI_FUNCTION_H
#define ZARERERA_SIM_PCI_FUNCTION_H

#include <array>
#include <cstdint>
#include <memory>

#include "driver/wd_records.h"
#include "sim/card_model.h"
#include "sim/pci_config.h"

namespace sim {

// What a function is made of; the bus assigns BAR addresses when the function is added.
struct FunctionConfig {
  uint16_t vendor_id = 0;
  uint16_t device_id = 0;
  uint32_t class_code = 0;  // base class, subclass, programming interface (24 bits)
  uint8_t revision = 0;
  uint8_t header_type = 0;
  uint16_t subsystem_vendor_id = 0;
  uint16_t subsystem_id = 0;
  BarConfig bars[pci::kBarCount];
  uint8_t irq = 0;            // interrupt line; 0: the card has no interrupt item
  uint8_t interrupt_pin = 0;  // 1 = INTA#
  bool bus_item = false;      // report a bus item in the card information
};

class PciFunction {
 public:
  // `bar_addresses`: where firmware placed each BAR (ignored for unimplemented BARs).
  PciFunction(const WdPciSlot& slot, const FunctionConfig& cfg, std::shared_ptr<CardModel> model,
              const std::array<uint32_t, pci::kBarCount>& bar_addresses);

  const WdPciSlot& slot() const { return slot_; }
  const FunctionConfig& cfg() const { return cfg_; }
  CardModel* model() const { return model_.get(); }
  const ConfigSpace& config() const { return config_; }

  // Little-endian access of 1 to 4 bytes; the caller keeps offset + size within 256.
  uint32_t ConfigRead(uint32_t offset, unsigned size) const;
  // Writes the writable bits, then tells the model.
  void ConfigWrite(uint32_t offset, uint32_t value, unsigned size);

  BarKind bar_kind(int bar) const;
  uint32_t bar_size(int bar) const;      // 0 for an unimplemented BAR
  uint32_t bar_address(int bar) const {  // current base, type bits cleared; 0 if unimplemented
    return bar >= 0 && bar < static_cast<int>(pci::kBarCount) ? base_[bar] : 0;
  }
  uint8_t interrupt_line() const;
  // Whether the card model holds the interrupt line asserted now.
  bool InterruptAsserted() const { return model_ && model_->InterruptAsserted(); }
  bool InterruptRequested() const { return model_ && model_->InterruptRequested(); }

  // Whether [address, address + size) lies inside one of the function's BARs of `kind`; if so,
  // which BAR and the offset within it.
  bool Decode(BarKind kind, uint32_t address, uint32_t size, int* bar, uint32_t* offset) const;

  // Reads and writes of the model behind a BAR; all ones without a model.
  uint32_t BarRead(int bar, uint32_t offset, unsigned size) const;
  void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) const;
  // What a memory window sees of the model (window_model.h; through BarRead and BarWrite when the
  // model has no window support).
  uint32_t BarPeek(int bar, uint32_t offset, unsigned size) const;
  void BarPeekDwords(int bar, uint32_t offset, uint32_t* out, uint32_t count) const;
  void BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) const;
  Region* PlainMemory(int bar, uint32_t offset, uint32_t bytes) const;
  uint64_t WindowVersion(int bar) const;
  uint64_t WindowChanges(int bar, uint64_t since, uint64_t now) const;

 private:
  void StoreBar(int bar, uint32_t value);

  WdPciSlot slot_;
  FunctionConfig cfg_;
  std::shared_ptr<CardModel> model_;
  WindowModel* windows_;  // the model's window support; null: none
  ConfigSpace config_{};
  std::array<uint32_t, pci::kBarCount>
      base_{};  // decoded BAR addresses, kept with the BARs: decoding is hot
};

}  // namespace sim

#endif  // ZARERERA_SIM_PCI_FUNCTION_H
