// Offsets and bits of a PCI type-0 configuration header, as the simulated bus lays it out.
#ifndef ZARERERA_SIM_PCI_CONFIG_H
#define ZARERERA_SIM_PCI_CONFIG_H

#include <cstdint>

namespace sim::pci {

constexpr uint32_t kConfigSize = 256;

constexpr uint32_t kVendorId = 0x00;       // 16 bits
constexpr uint32_t kDeviceId = 0x02;       // 16 bits
constexpr uint32_t kCommand = 0x04;        // 16 bits
constexpr uint32_t kStatus = 0x06;         // 16 bits
constexpr uint32_t kRevision = 0x08;       // 8 bits
constexpr uint32_t kClassCode = 0x09;      // 24 bits: programming interface, subclass, base class
constexpr uint32_t kCacheLineSize = 0x0C;  // 8 bits
constexpr uint32_t kLatencyTimer = 0x0D;   // 8 bits
constexpr uint32_t kHeaderType = 0x0E;     // 8 bits
constexpr uint32_t kBar0 = 0x10;           // six dwords
constexpr uint32_t kBarCount = 6;
constexpr uint32_t kSubsystemVendorId = 0x2C;  // 16 bits
constexpr uint32_t kSubsystemId = 0x2E;        // 16 bits
constexpr uint32_t kInterruptLine = 0x3C;      // 8 bits
constexpr uint32_t kInterruptPin = 0x3D;       // 8 bits: 0 none, 1 INTA# .. 4 INTD#

// Command register bits.
constexpr uint16_t kCommandIoSpace = 0x0001;
constexpr uint16_t kCommandMemorySpace = 0x0002;
constexpr uint16_t kCommandBusMaster = 0x0004;

// Type bits in the low end of a BAR; the address bits above them are what sizing probes.
constexpr uint32_t kBarIo = 0x1;                // bit 0 set: I/O space
constexpr uint32_t kBarIoAddressMask = ~0x3u;   // I/O BARs keep two type bits
constexpr uint32_t kBarMemAddressMask = ~0xFu;  // memory BARs: type 32-bit, not prefetchable

// Interrupt line value a BIOS leaves when no IRQ is routed.
constexpr uint8_t kInterruptLineNone = 0xFF;

}  // namespace sim::pci

#endif  // ZARERERA_SIM_PCI_CONFIG_H
