/* The Microwire command set of a 93C46 serial EEPROM in 16-bit organisation (64 words), as the
 * bridge library sends it over the PLX 9050's CNTRL pins. Every frame is a start bit, a two-bit
 * opcode and a six-bit address field, most significant bit first; a write frame then carries 16
 * data bits, a read frame clocks 16 data bits out. The erase and write-all commands are not used by
 * the library and are not named here. */
#ifndef ZARERERA_P9050_MICROWIRE_93C46_H
#define ZARERERA_P9050_MICROWIRE_93C46_H

#define EE93C46_START_BIT 1u
#define EE93C46_OPCODE_BITS 2
#define EE93C46_OPCODE_READ 0x2u     /* 10 */
#define EE93C46_OPCODE_WRITE 0x1u    /* 01 */
#define EE93C46_OPCODE_EXTENDED 0x0u /* 00: the address field selects the command */

#define EE93C46_ADDRESS_BITS 6
#define EE93C46_ADDRESS_MASK 0x3Fu
#define EE93C46_EXT_WRITE_ENABLE 0x30u  /* 11 0000: EWEN */
#define EE93C46_EXT_WRITE_DISABLE 0x00u /* 00 0000: EWDS */

#define EE93C46_DATA_BITS 16

/* Every clock phase and chip-select change is held this long: far slower than the part needs, so
 * no step depends on the host's speed. */
#define EE93C46_STEP_DELAY_US 500u

#endif /* ZARERERA_P9050_MICROWIRE_93C46_H */
