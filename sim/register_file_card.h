// The generic card: plain storage behind each BAR, as a card of RAM or simple registers would
// answer. Reads return what was last written (little-endian, any width, no side effects); offsets
// past a BAR's size read all ones and drop writes. Every access through a request or a window store
// is kept in a list so that tests can see exactly what reached the card, in order (what a memory
// window shows is peeked, not recorded). Interrupt line level is set directly.
#ifndef ZARERERA_SIM_REGISTER_FILE_CARD_H
#define ZARERERA_SIM_REGISTER_FILE_CARD_H

#include <cstdint>
#include <vector>

#include "sim/card_model.h"
#include "sim/pci_function.h"
#include "sim/window_model.h"

namespace sim {

class RegisterFileCard : public CardModel, public WindowModel {
 public:
  struct Access {
    int bar;
    uint32_t offset;
    uint32_t value;
    unsigned size;
    bool write;
    bool operator==(const Access&) const = default;
  };

  // Storage for every implemented BAR of `cfg`, zero-filled.
  explicit RegisterFileCard(const FunctionConfig& cfg);

  uint32_t BarRead(int bar, uint32_t offset, unsigned size) override;
  void BarWrite(int bar, uint32_t offset, uint32_t value, unsigned size) override;
  // A window peeks the storage and hands each changed dword on as a write.
  WindowModel* windows() override { return this; }
  uint32_t BarPeek(int bar, uint32_t offset, unsigned size) override {
    return Peek(bar, offset, size);
  }
  void BarStore(int bar, uint32_t offset, uint32_t value, uint32_t before) override {
    (void)before;
    BarWrite(bar, offset, value, 4);
  }
  uint64_t WindowVersion(int bar) override {
    (void)bar;
    return generation_;
  }
  void ConfigWritten(const ConfigSpace& config) override;
  bool InterruptAsserted() const override { return interrupt_; }

  // Direct access for tests and other models, not recorded as accesses.
  uint32_t Peek(int bar, uint32_t offset, unsigned size) const;
  void Poke(int bar, uint32_t offset, uint32_t value, unsigned size);
  void set_interrupt(bool asserted) { interrupt_ = asserted; }

  // Accesses through BarRead, BarWrite and window stores.
  const std::vector<Access>& accesses() const { return accesses_; }
  void ClearAccesses() { accesses_.clear(); }
  int config_writes() const { return config_writes_; }

 private:
  bool InRange(int bar, uint32_t offset, unsigned size) const;

  std::vector<std::vector<uint8_t>> storage_;
  std::vector<Access> accesses_;
  bool interrupt_ = false;
  int config_writes_ = 0;
  uint64_t generation_ = 1;  // counts writes and pokes
};

}  // namespace sim

#endif  // ZARERERA_SIM_REGISTER_FILE_CARD_H
