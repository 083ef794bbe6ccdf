// The functions of an ordinary PC's chipset, for the simulated bus.
#include "sim/typical_machine.h"

namespace sim {

namespace {

// Class codes: base class, subclass, programming interface.
constexpr uint32_t kClassHostBridge = 0x060000;
constexpr uint32_t kClassEthernet = 0x020000;
constexpr uint32_t kClassSataAhci = 0x010601;

constexpr uint16_t kVendorIntel = 0x8086;
constexpr uint8_t kHeaderSingleFunction = 0x00;
constexpr uint8_t kHeaderMultiFunction = 0x80;
constexpr uint8_t kPinIntA = 1;
constexpr uint8_t kPinIntB = 2;

// What every function of the chipset shares: Intel's vendor ID and the system maker's
// subsystem IDs, with a bus item in its resources.
FunctionConfig ChipsetFunction(uint16_t device_id, uint32_t class_code, uint8_t revision,
                               uint8_t header_type) {
  FunctionConfig s;
  s.vendor_id = kVendorIntel;
  s.device_id = device_id;
  s.class_code = class_code;
  s.revision = revision;
  s.header_type = header_type;
  s.subsystem_vendor_id = 0x1028;
  s.subsystem_id = 0x04a7;
  s.bus_item = true;
  return s;
}

// A desktop processor's DRAM controller.
FunctionConfig HostBridge() {
  return ChipsetFunction(0x0104, kClassHostBridge, 0x09, kHeaderSingleFunction);
}

// Gigabit Ethernet on the platform controller hub.
FunctionConfig Ethernet() {
  FunctionConfig s = ChipsetFunction(0x1502, kClassEthernet, 0x04, kHeaderSingleFunction);
  s.bars[0] = {BarKind::kMemory, 128 * 1024};  // registers
  s.bars[1] = {BarKind::kMemory, 4 * 1024};    // flash window
  s.bars[2] = {BarKind::kIo, 32};              // indirect register access
  s.irq = 11;
  s.interrupt_pin = kPinIntA;
  return s;
}

// Six-port SATA controller in AHCI mode.
FunctionConfig SataAhci() {
  FunctionConfig s = ChipsetFunction(0x1c02, kClassSataAhci, 0x05, kHeaderMultiFunction);
  s.bars[0] = {BarKind::kIo, 8};  // legacy primary command block
  s.bars[1] = {BarKind::kIo, 4};  // legacy primary control block
  s.bars[2] = {BarKind::kIo, 8};  // legacy secondary command block
  s.bars[3] = {BarKind::kIo, 4};  // legacy secondary control block
  s.bars[4] = {BarKind::kIo, 32};
  s.bars[5] = {BarKind::kMemory, 2048};  // AHCI registers
  s.irq = 10;
  s.interrupt_pin = kPinIntB;
  return s;
}

}  // namespace

std::vector<TypicalFunction> TypicalMachineFunctions() {
  return {
      {{0, 0x00, 0}, HostBridge()},
      {{0, 0x19, 0}, Ethernet()},
      {{0, 0x1f, 2}, SataAhci()},
  };
}

void AddTypicalMachine(Simulator& sim) {
  for (const TypicalFunction& f : TypicalMachineFunctions()) {
    sim.AddFunction(f.slot.bus, f.slot.slot, f.slot.function, f.cfg);
  }
}

}  // namespace sim
