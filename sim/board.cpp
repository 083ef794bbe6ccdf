// Boards assembled from the chip models: bridge, port window and EEPROM on a simulated bus.
#include "sim/board.h"

#include <memory>

#include "sim/pci_config.h"

namespace sim {

namespace {

constexpr uint32_t kPortsBytes = port_window::kWindowBytes;

// The EEPROM's configuration words: the PCI IDs, class, revision and interrupt pin, then from word
// 7 on every register from LAS0RR to CNTRL, each as two words, high half first.
constexpr uint16_t kClassOtherBridgeHigh = 0x0680;  // base class 06, subclass 80 ...
constexpr uint8_t kInterfaceNone = 0x00;            // ... programming interface 00
constexpr uint8_t kRevision = 0x01;
constexpr uint8_t kInterruptPinA = 0x01;
constexpr unsigned kFirstRegisterWord = 7;
constexpr uint32_t kLas1RangeIo32 = 0xFFFFFFE1;       // 32 bytes of I/O: the board's port window
constexpr uint32_t kLas1Descriptor8Bit = 0x00000000;  // 8-bit bus, no prefetch, no wait states
constexpr uint32_t kIntcsrLint1Enabled = plx9050::kIntLint1Enable | plx9050::kIntLint1Polarity;

// The function description the bus needs for a 9050 card.
FunctionConfig Plx9050Function(const Plx9050Config& cfg) {
  FunctionConfig f;
  f.vendor_id = cfg.vendor_id;
  f.device_id = cfg.device_id;
  f.subsystem_vendor_id = cfg.subsystem_vendor_id;
  f.subsystem_id = cfg.subsystem_id;
  f.revision = cfg.revision;
  f.class_code = cfg.class_code;
  for (unsigned bar = 0; bar < pci::kBarCount; ++bar) f.bars[bar] = cfg.bars[bar];
  f.irq = cfg.irq;
  f.interrupt_pin = cfg.interrupt_pin;
  return f;
}

}  // namespace

Plx9050& AddPlx9050(Simulator& simulator, uint32_t bus, uint32_t slot, uint32_t function,
                    const Plx9050Config& cfg) {
  return AddPlx9050(simulator, bus, slot, function, cfg, std::make_shared<Plx9050>(cfg));
}

Plx9050& AddPlx9050(Simulator& simulator, uint32_t bus, uint32_t slot, uint32_t function,
                    const Plx9050Config& cfg, std::shared_ptr<Plx9050> model) {
  Plx9050& ref = *model;
  PciFunction& f = simulator.AddFunction(bus, slot, function, Plx9050Function(cfg), model);
  ref.set_interrupt_sources(&simulator.interrupt_sources());
  if (cfg.bar0_address != 0) f.ConfigWrite(pci::kBar0, cfg.bar0_address, 4);
  ref.ConfigWritten(f.config());
  return ref;
}

Eeprom93C46::Image DefaultEepromImage() {
  Eeprom93C46::Image image = Eeprom93C46::ErasedImage();
  image[0] = wiring::kDeviceId;
  image[1] = wiring::kVendorId;
  image[2] = kClassOtherBridgeHigh;
  image[3] = static_cast<uint16_t>(kInterfaceNone << 8 | kRevision);
  image[4] = 0x0000;  // subsystem ID
  image[5] = 0x0000;  // subsystem vendor ID
  image[6] = static_cast<uint16_t>(kInterruptPinA << 8);
  auto put = [&image](uint32_t offset, uint32_t value) {
    const unsigned word = kFirstRegisterWord + 2 * (offset / plx9050::kRegisterStride);
    image[word] = static_cast<uint16_t>(value >> 16);
    image[word + 1] = static_cast<uint16_t>(value);
  };
  for (uint32_t offset = plx9050::kLas0rr; offset <= plx9050::kCntrl;
       offset += plx9050::kRegisterStride) {
    put(offset, 0);
  }
  constexpr uint32_t kSpace1 = plx9050::kRegisterStride;  // local space 1's register of each kind
  put(plx9050::kLas0rr + kSpace1, kLas1RangeIo32);
  put(plx9050::kLas0ba + kSpace1, plx9050::kBaseEnable);
  put(plx9050::kLas0brd + kSpace1, kLas1Descriptor8Bit);
  put(plx9050::kIntcsr, kIntcsrLint1Enabled);
  return image;
}

Plx9050Config DefaultBoardBridge() {
  Plx9050Config cfg;
  cfg.vendor_id = wiring::kVendorId;
  cfg.device_id = wiring::kDeviceId;
  for (int bar = plx9050::kFirstLocalBar; bar < static_cast<int>(pci::kBarCount); ++bar)
    cfg.bars[bar] = {};
  cfg.bars[wiring::kPortsBar] = {BarKind::kIo, kPortsBytes};
  return cfg;
}

SimBoard AddBoard(Simulator& simulator, const BoardConfig& cfg) {
  Plx9050Config bridge_cfg = cfg.bridge;
  bridge_cfg.bars[wiring::kPortsBar] = {cfg.ports_in_memory ? BarKind::kMemory : BarKind::kIo,
                                        kPortsBytes};
  Plx9050& bridge = AddPlx9050(simulator, cfg.bus, cfg.slot, cfg.function, bridge_cfg);

  auto ports = std::make_shared<BoardPorts>(&simulator.clock(), cfg.counter_clock_hz);
  bridge.local_bus().Attach(wiring::kPortsLocalAddress, kPortsBytes, ports);
  bridge.DriveLocalInterrupt(wiring::kCounterInput, [p = ports.get()] {
    return p->group(wiring::kInterruptGroup).counter(wiring::kInterruptCounter).out();
  });

  SimBoard board;
  board.bridge = &bridge;
  board.ports = ports.get();
  if (cfg.with_eeprom) {
    auto eeprom = std::make_shared<Eeprom93C46>(simulator.clock(), DefaultEepromImage());
    board.eeprom = eeprom.get();
    bridge.AttachEeprom(std::move(eeprom));
  }
  return board;
}

}  // namespace sim
