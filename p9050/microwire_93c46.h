// The Microwire command set of a 93C46 serial EEPROM in 16-bit organisation (64 words), as the
// bridge library sends it over the PLX 9050's CNTRL pins. Every frame is a start bit, a two-bit
// opcode and a six-bit address field, most significant bit first; a write frame then carries 16
// data bits, a read frame clocks 16 data bits out. The erase and write-all commands are not used by
// the library and are not named here.
#ifndef ZARERERA_P9050_MICROWIRE_93C46_H
#define ZARERERA_P9050_MICROWIRE_93C46_H

#include <cstdint>

namespace ee93c46 {

constexpr uint32_t kStartBit = 1;
constexpr int kOpcodeBits = 2;
constexpr uint32_t kOpcodeRead = 0x2;      // 10
constexpr uint32_t kOpcodeWrite = 0x1;     // 01
constexpr uint32_t kOpcodeExtended = 0x0;  // 00: the address field selects the command

constexpr int kAddressBits = 6;
constexpr uint32_t kAddressMask = 0x3F;
constexpr uint32_t kExtWriteEnable = 0x30;   // 11 0000: EWEN
constexpr uint32_t kExtWriteDisable = 0x00;  // 00 0000: EWDS

constexpr int kDataBits = 16;

// Every clock phase and chip-select change is held this long: far slower than the part needs, so
// no step depends on the host's speed.
constexpr uint32_t kStepDelayUs = 500;

}  // namespace ee93c46

#endif  // ZARERERA_P9050_MICROWIRE_93C46_H
