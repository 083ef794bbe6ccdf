// A card's local bus: devices claim address ranges; an unclaimed read returns all ones and an
// unclaimed write is dropped. Used behind the PLX 9050's local address spaces.
#ifndef ZARERERA_SIM_LOCAL_BUS_H
#define ZARERERA_SIM_LOCAL_BUS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/card_model.h"
#include "sim/pci_config.h"

namespace sim {

class LocalBus {
 public:
  // `device` answers [base, base + size) at offsets from base.
  void Attach(uint32_t base, uint32_t size, std::shared_ptr<Region> device) {
    devices_.push_back({base, size, std::move(device)});
  }

  uint32_t Read(uint32_t address, unsigned size) {
    const Entry* e = Find(address);
    if (e == nullptr) return pci::AllOnes(size);
    return e->device->Read(address - e->base, size);
  }

  void Write(uint32_t address, uint32_t value, unsigned size) {
    const Entry* e = Find(address);
    if (e != nullptr) e->device->Write(address - e->base, value, size);
  }

  // What a memory window sees: reads without side effects, and a dword store with what the window
  // showed before (see Region).
  uint32_t Peek(uint32_t address, unsigned size) {
    const Entry* e = Find(address);
    if (e == nullptr) return size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
    return e->device->Peek(address - e->base, size);
  }

  void Store(uint32_t address, uint32_t value, uint32_t before) {
    const Entry* e = Find(address);
    if (e != nullptr) e->device->Store(address - e->base, value, before);
  }

  // Whether a device answers any address of [address, address + bytes).
  bool Claims(uint32_t address, uint32_t bytes) const {
    for (const Entry& e : devices_) {
      if (e.base - address < bytes || address - e.base < e.size) return true;
    }
    return false;
  }

  // The device attached at exactly [address, address + bytes), if any.
  Region* RegionAt(uint32_t address, uint32_t bytes) const {
    for (const Entry& e : devices_) {
      if (e.base == address && e.size == bytes) return e.device.get();
    }
    return nullptr;
  }

 private:
  struct Entry {
    uint32_t base;
    uint32_t size;
    std::shared_ptr<Region> device;
  };

  const Entry* Find(uint32_t address) const {
    for (const Entry& e : devices_) {
      if (address - e.base < e.size) return &e;
    }
    return nullptr;
  }

  std::vector<Entry> devices_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_LOCAL_BUS_H
