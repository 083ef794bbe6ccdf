// The default board: bridge, port window and EEPROM put together on a simulated bus.
#include "sim/board.h"

#include <memory>

#include "sim/eeprom93c46.h"

namespace sim {

namespace {
constexpr uint32_t kPortsBytes = board_port::kWindowBytes;
}  // namespace

Plx9050Spec DefaultBoardBridge() {
  Plx9050Spec cfg;
  cfg.vendorId = board::kVendorId;
  cfg.deviceId = board::kDeviceId;
  for (int bar = plx9050::kFirstLocalBar; bar < static_cast<int>(pci::kBarCount); ++bar)
    cfg.bars[bar] = {};
  cfg.bars[board::kPortsBar] = {BarKind::kIo, kPortsBytes};
  return cfg;
}

SimBoard AddBoard(Simulator& simulator, const BoardSpec& cfg) {
  Plx9050Spec bridge_spec = cfg.bridge;
  bridge_spec.bars[board::kPortsBar] = {cfg.portsInMemory ? BarKind::kMemory : BarKind::kIo,
                                        kPortsBytes};
  Plx9050& bridge = AddPlx9050(simulator, cfg.bus, cfg.slot, cfg.function, bridge_spec);

  auto ports = std::make_shared<BoardPorts>(&simulator.clock(), cfg.counterClockHz);
  ports->SetMemoryWindow(cfg.portsInMemory);
  bridge.local_bus().Attach(board::kPortsLocalAddress, kPortsBytes, ports);

  SimBoard board;
  board.bridge = &bridge;
  board.ports = ports.get();
  if (cfg.withEeprom) {
    auto eeprom = std::make_shared<Eeprom93C46>(simulator.clock());
    board.eeprom = eeprom.get();
    bridge.AttachEeprom(std::move(eeprom));
  }
  return board;
}

}  // namespace sim
