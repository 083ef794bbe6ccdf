// The standard PCI type-0 configuration header: register offsets, widths and bits, for everything
// that reads or lays out configuration space (the bridge library, the bus diagnostics, the
// simulated bus). Capability lists and device-specific space beyond 0x40 are not named.
#ifndef ZARERERA_DRIVER_PCI_CONFIG_H
#define ZARERERA_DRIVER_PCI_CONFIG_H

#include <cstdint>

namespace pci {

constexpr uint32_t kConfigSize = 256;  // bytes of one function's configuration space

constexpr uint32_t kVendorId = 0x00;   // 16 bits
constexpr uint32_t kDeviceId = 0x02;   // 16 bits
constexpr uint32_t kCommand = 0x04;    // 16 bits
constexpr uint32_t kStatus = 0x06;     // 16 bits
constexpr uint32_t kRevision = 0x08;   // 8 bits
constexpr uint32_t kClassCode = 0x09;  // 24 bits: programming interface, subclass, class
constexpr uint32_t kClassCodeBytes = 3;
constexpr uint32_t kCacheLineSize = 0x0C;  // 8 bits
constexpr uint32_t kLatencyTimer = 0x0D;   // 8 bits
constexpr uint32_t kHeaderType = 0x0E;     // 8 bits
constexpr uint32_t kBist = 0x0F;           // 8 bits
constexpr uint32_t kBar0 = 0x10;           // six dwords, one after another
constexpr uint32_t kBarBytes = 4;
constexpr uint32_t kBarCount = 6;
constexpr uint32_t kSubsystemVendorId = 0x2C;  // 16 bits
constexpr uint32_t kSubsystemId = 0x2E;        // 16 bits
constexpr uint32_t kExpansionRom = 0x30;       // 32 bits
constexpr uint32_t kCapabilities = 0x34;       // 8 bits: offset of the first capability
constexpr uint32_t kInterruptLine = 0x3C;      // 8 bits
constexpr uint32_t kInterruptPin = 0x3D;       // 8 bits: 0 none, 1 INTA# .. 4 INTD#
constexpr uint32_t kMinGnt = 0x3E;             // 8 bits
constexpr uint32_t kMaxLat = 0x3F;             // 8 bits

// The offset of BAR `bar` (0-5).
constexpr uint32_t BarOffset(uint32_t bar) {
  return kBar0 + bar * kBarBytes;
}

// `bytes` (1-4) bytes with every bit set: what a read that nothing claims returns, and the
// largest value a register of that width holds.
constexpr uint32_t AllOnes(uint32_t bytes) {
  return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1u;
}

// Command register bits.
constexpr uint16_t kCommandIoSpace = 0x0001;
constexpr uint16_t kCommandMemorySpace = 0x0002;

// Type bits in the low end of a BAR; the address bits above them are what sizing probes.
constexpr uint32_t kBarIo = 0x1;                // bit 0 set: I/O space
constexpr uint32_t kBarIoAddressMask = ~0x3u;   // I/O BARs keep two type bits
constexpr uint32_t kBarMemAddressMask = ~0xFu;  // memory BARs: type 32-bit, not prefetchable

// Interrupt line value a BIOS leaves when no IRQ is routed.
constexpr uint8_t kInterruptLineNone = 0xFF;

}  // namespace pci

#endif  // ZARERERA_DRIVER_PCI_CONFIG_H
