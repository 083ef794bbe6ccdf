/* p9050_lib: access to any PCI card behind a PLX 9050 bridge.
 *
 * A card is opened into a P9050_Handle that owns a driver device handle, the card's registration
 * with the driver and a table of its PCI address spaces. Through the handle the library reads and
 * writes the address spaces and the bridge's registers, the bridge's serial configuration EEPROM,
 * and switches the bridge's PCI interrupt enable. When the driver supports the library's own
 * interrupt requests (driver/int_requests.h), enabling also starts an interrupt service: a thread
 * owned by the handle that calls the handler once per interrupt. Failures are reported by return
 * value; the reason is left in P9050_ErrorText, which the library never prints.
 *
 * Every access is bounded by its address space, memory and I/O ranges alike. A single access of
 * width w at `offset` is made only when bytes offset to offset + w - 1 all lie in [0, bytes) of the
 * space, summed without wrapping; otherwise a read returns 0 and a write is dropped, and nothing
 * reaches the driver or the card. A block of n bytes likewise: one that does not fit sends no
 * request and returns WD_STATUS_NONE (0xFFFFFFFF), its buffer untouched. An inactive space
 * (bytes 0) and a space index of P9050_ADDR_SPACES or more are touched by nothing. Local-address
 * operations move the window first and then access inside it, so they are bounded by the same
 * rule. A 0 read back may therefore be either the card's value or a refused access: callers that
 * need to tell them apart check offsets against addrDesc[space].bytes first.
 */
#ifndef ZARERERA_P9050_LIB_H
#define ZARERERA_P9050_LIB_H

#include <stdint.h>

#include "driver/device_channel.h"
#include "driver/wd_records.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Address spaces, indexed by PCI base address register number. */
#define P9050_SPACE_REGS 0   /* BAR0: the bridge's registers (memory) */
#define P9050_SPACE_LOCAL0 2 /* BAR2..BAR5: the bridge's local address spaces 0..3 */
#define P9050_SPACE_LOCAL3 5
#define P9050_ADDR_SPACES 7 /* entries in addrDesc */

/* Bridge registers, dwords in space 0. */
#define P9050_LAS0RR 0x00
#define P9050_LAS1RR 0x04
#define P9050_LAS2RR 0x08
#define P9050_LAS3RR 0x0C
#define P9050_EROMRR 0x10
#define P9050_LAS0BA 0x14
#define P9050_LAS1BA 0x18
#define P9050_LAS2BA 0x1C
#define P9050_LAS3BA 0x20
#define P9050_EROMBA 0x24
#define P9050_LAS0BRD 0x28
#define P9050_LAS1BRD 0x2C
#define P9050_LAS2BRD 0x30
#define P9050_LAS3BRD 0x34
#define P9050_EROMBRD 0x38
#define P9050_CS0BASE 0x3C
#define P9050_CS1BASE 0x40
#define P9050_CS2BASE 0x44
#define P9050_CS3BASE 0x48
#define P9050_INTCSR 0x4C
#define P9050_CNTRL 0x50

/* INTCSR: bit 6 enables the bridge's PCI interrupt. */
#define P9050_INTCSR_PCI_INT_ENABLE 0x00000040u

/* CNTRL: the serial EEPROM's pins. */
#define P9050_CNTRL_EE_CLOCK 0x01000000u    /* serial clock, written */
#define P9050_CNTRL_EE_SELECT 0x02000000u   /* chip select (1 = selected), written */
#define P9050_CNTRL_EE_DATA_IN 0x04000000u  /* data into the EEPROM, written */
#define P9050_CNTRL_EE_DATA_OUT 0x08000000u /* data out of the EEPROM, read */
#define P9050_CNTRL_EE_VALID 0x10000000u    /* EEPROM present and valid, read */

/* Options of P9050_Open. */
#define P9050_OPEN_FIX_BAR0 0x1u /* clear bit 7 of BAR0 before reading the resources */

/* Block transfer modes; any value other than bytes and words means dwords. */
#define P9050_MODE_BYTE 0
#define P9050_MODE_WORD 1
#define P9050_MODE_DWORD 2

/* Size of P9050_ErrorText. */
#define P9050_ERROR_TEXT_SIZE 1024

/* One PCI address space of a card. */
typedef struct P9050_AddrDesc {
  uint32_t localBase;       /* last value written to the space's local base register */
  uint32_t mask;            /* bytes - 1 */
  uint32_t bytes;           /* 0: the space is not active */
  uint32_t transferAddress; /* put in WdTransfer.address for this space */
  WdUPtr userAddress;       /* process mapping of a memory range; 0 for I/O */
  uint32_t isMemory;        /* 1 memory range, 0 I/O range */
} P9050_AddrDesc;

/* What an interrupt handler receives. */
typedef struct P9050_IntResult {
  uint32_t counter;
  uint32_t lost;
  uint32_t stopped;
  uint32_t status; /* INTCSR as read by the acknowledge command */
} P9050_IntResult;

struct P9050_Handle;
typedef void (*P9050_IntHandler)(struct P9050_Handle* handle, P9050_IntResult* result);

/* Prepared commands of the interrupt area. */
#define P9050_INT_CMD_READ 0  /* reads INTCSR */
#define P9050_INT_CMD_WRITE 1 /* writes INTCSR with the PCI interrupt enable cleared */

/* One opened card. */
typedef struct P9050_Handle {
  WdDeviceHandle device;
  WdPciSlot pciSlot;
  WdCardRegister cardRegister;
  P9050_AddrDesc addrDesc[P9050_ADDR_SPACES];
  /* The interrupt area. */
  uint32_t intHandle;
  uint32_t options;
  WdTransfer* commands;
  uint32_t commandCount;
  uint32_t counter;
  uint32_t lost;
  uint32_t stopped;
  uint32_t active; /* non-zero while an interrupt service runs */
  WdTransfer transfers[2];
  P9050_IntHandler handler;
  /* The interrupt service thread and its state while one runs, else NULL (p9050/int_service.h). */
  void* service;
} P9050_Handle;

/* Text of the last failure. */
extern char P9050_ErrorText[P9050_ERROR_TEXT_SIZE];

/* Card handle. */
uint32_t P9050_CountCards(uint32_t vendorId, uint32_t deviceId);
BOOL P9050_Open(P9050_Handle** handleOut, uint32_t vendorId, uint32_t deviceId, uint32_t cardIndex,
                uint32_t options);
void P9050_Close(P9050_Handle* handle);
void P9050_GetPciSlot(P9050_Handle* handle, WdPciSlot* slotOut);
uint32_t P9050_ReadPciReg(P9050_Handle* handle, uint32_t offset);
uint32_t P9050_WritePciReg(P9050_Handle* handle, uint32_t offset, uint32_t value);
BOOL P9050_IsAddrSpaceActive(P9050_Handle* handle, uint32_t space);
BOOL P9050_DetectCardElements(P9050_Handle* handle);
BOOL P9050_IntIsEnabled(P9050_Handle* handle);
void P9050_IntDisable(P9050_Handle* handle);

/* Address spaces and registers. */
uint8_t P9050_ReadByte(P9050_Handle* handle, uint32_t space, uint32_t offset);
void P9050_WriteByte(P9050_Handle* handle, uint32_t space, uint32_t offset, uint8_t value);
uint16_t P9050_ReadWord(P9050_Handle* handle, uint32_t space, uint32_t offset);
void P9050_WriteWord(P9050_Handle* handle, uint32_t space, uint32_t offset, uint16_t value);
uint32_t P9050_ReadDword(P9050_Handle* handle, uint32_t space, uint32_t offset);
void P9050_WriteDword(P9050_Handle* handle, uint32_t space, uint32_t offset, uint32_t value);
uint32_t P9050_ReadReg(P9050_Handle* handle, uint32_t offset);
void P9050_WriteReg(P9050_Handle* handle, uint32_t offset, uint32_t value);
uint32_t P9050_ReadWriteBlock(P9050_Handle* handle, uint32_t offset, void* buffer, uint32_t bytes,
                              BOOL isRead, uint32_t space, uint32_t mode);
uint32_t P9050_ReadBlock(P9050_Handle* handle, uint32_t offset, void* buffer, uint32_t bytes,
                         uint32_t space, uint32_t mode);
uint32_t P9050_WriteBlock(P9050_Handle* handle, uint32_t offset, void* buffer, uint32_t bytes,
                          uint32_t space, uint32_t mode);
void P9050_SetLocalBase(P9050_Handle* handle, uint32_t space, uint32_t localAddress);
uint8_t P9050_ReadSpaceByte(P9050_Handle* handle, uint32_t space, uint32_t localAddress);
uint16_t P9050_ReadSpaceWord(P9050_Handle* handle, uint32_t space, uint32_t localAddress);
uint32_t P9050_ReadSpaceDword(P9050_Handle* handle, uint32_t space, uint32_t localAddress);
void P9050_WriteSpaceByte(P9050_Handle* handle, uint32_t space, uint32_t localAddress,
                          uint8_t value);
void P9050_WriteSpaceWord(P9050_Handle* handle, uint32_t space, uint32_t localAddress,
                          uint16_t value);
void P9050_WriteSpaceDword(P9050_Handle* handle, uint32_t space, uint32_t localAddress,
                           uint32_t value);
uint32_t P9050_ReadWriteSpaceBlock(P9050_Handle* handle, uint32_t localAddress, void* buffer,
                                   uint32_t bytes, BOOL isRead, uint32_t space, uint32_t mode);
uint32_t P9050_ReadSpaceBlock(P9050_Handle* handle, uint32_t localAddress, void* buffer,
                              uint32_t bytes, uint32_t space, uint32_t mode);
uint32_t P9050_WriteSpaceBlock(P9050_Handle* handle, uint32_t localAddress, void* buffer,
                               uint32_t bytes, uint32_t space, uint32_t mode);

/* Serial EEPROM (93C46, 64 words of 16 bits) on the CNTRL pins. */
void P9050_EEPROMDelay(P9050_Handle* handle);
void P9050_EEPROMChipSelect(P9050_Handle* handle, BOOL select);
BOOL P9050_EEPROMValid(P9050_Handle* handle);
void P9050_EEPROMWriteBit(P9050_Handle* handle, BOOL bit);
BOOL P9050_EEPROMReadBit(P9050_Handle* handle);
void P9050_EEPROMWriteEnable(P9050_Handle* handle, BOOL enable);
BOOL P9050_EEPROMReadWord(P9050_Handle* handle, uint32_t offset, uint16_t* word);
BOOL P9050_EEPROMWriteWord(P9050_Handle* handle, uint32_t offset, uint16_t word);
BOOL P9050_EEPROMReadDword(P9050_Handle* handle, uint32_t offset, uint32_t* dword);
BOOL P9050_EEPROMWriteDword(P9050_Handle* handle, uint32_t offset, uint32_t dword);

/* Interrupt control. */
BOOL P9050_IntEnable(P9050_Handle* handle, P9050_IntHandler handler);
void P9050_IntDispatch(P9050_Handle* handle);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_P9050_LIB_H */
