// The bridge's serial configuration EEPROM, driven bit by bit through the CNTRL register.
//
// Three layers: pin steps (chip select, one bit in, one bit out), each reading CNTRL once and
// deriving all of its writes from that reading so that bits outside the EEPROM pins survive; frames
// built from them (write enable/disable, word read, word write); dwords as two words, the word at
// the lower offset holding bits 31-16. Every CNTRL write is followed by one 500 us driver sleep;
// there is no ready/busy polling, and nothing here guards against another writer of CNTRL.
#include <stdio.h>
#include <string.h>

#include "driver/driver_request.h"
#include "p9050/microwire_93c46.h"
#include "p9050_lib.h"

namespace {

// Sends `count` bits of `value`, most significant first.
void WriteBits(P9050_Handle* handle, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i)
    P9050_EEPROMWriteBit(handle, ((value >> i) & 1u) != 0 ? TRUE : FALSE);
}

// The word address a byte offset selects: odd offsets and offsets from 0x80 up fold back.
uint32_t WordAddress(uint32_t offset) {
  return (offset >> 1) & ee93c46::kAddressMask;
}

// One full clock cycle from `low` (CNTRL with the clock low): low, rising edge, falling edge, each
// write followed by one delay.
void ClockCycle(P9050_Handle* handle, uint32_t low) {
  P9050_WriteReg(handle, P9050_CNTRL, low);
  P9050_EEPROMDelay(handle);
  P9050_WriteReg(handle, P9050_CNTRL, low | P9050_CNTRL_EE_CLOCK);
  P9050_EEPROMDelay(handle);
  P9050_WriteReg(handle, P9050_CNTRL, low);
  P9050_EEPROMDelay(handle);
}

BOOL CheckDwordOffset(uint32_t offset) {
  if (offset % 4 == 0) return TRUE;
  snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "The offset is not a multiple of 4\n");
  return FALSE;
}

}  // namespace

extern "C" void P9050_EEPROMDelay(P9050_Handle* handle) {
  WdSleep sleep;
  memset(&sleep, 0, sizeof sleep);
  sleep.microseconds = ee93c46::kStepDelayUs;
  sleep.options = 0;
  DriverRequest(WD_CODE_SLEEP, handle->device, &sleep, sizeof sleep, 0);
}

extern "C" void P9050_EEPROMChipSelect(P9050_Handle* handle, BOOL select) {
  uint32_t cntrl = P9050_ReadReg(handle, P9050_CNTRL);
  if (select)
    cntrl |= P9050_CNTRL_EE_SELECT;
  else
    cntrl &= ~P9050_CNTRL_EE_SELECT;
  P9050_WriteReg(handle, P9050_CNTRL, cntrl);
  P9050_EEPROMDelay(handle);
}

extern "C" BOOL P9050_EEPROMValid(P9050_Handle* handle) {
  return (P9050_ReadReg(handle, P9050_CNTRL) & P9050_CNTRL_EE_VALID) != 0;
}

// One full clock cycle with the data set up while the clock is low; the part latches it on the
// rising edge.
extern "C" void P9050_EEPROMWriteBit(P9050_Handle* handle, BOOL bit) {
  uint32_t low = P9050_ReadReg(handle, P9050_CNTRL) & ~P9050_CNTRL_EE_CLOCK;
  if (bit)
    low |= P9050_CNTRL_EE_DATA_IN;
  else
    low &= ~P9050_CNTRL_EE_DATA_IN;
  ClockCycle(handle, low);
}

// One full clock cycle, data in left as it was; the part shifts its next bit out on the rising
// edge, so the bit is sampled after the falling edge with the clock low.
extern "C" BOOL P9050_EEPROMReadBit(P9050_Handle* handle) {
  ClockCycle(handle, P9050_ReadReg(handle, P9050_CNTRL) & ~P9050_CNTRL_EE_CLOCK);
  return (P9050_ReadReg(handle, P9050_CNTRL) & P9050_CNTRL_EE_DATA_OUT) != 0;
}

// A frame of its own: EWEN (1 00 110000) or EWDS (1 00 000000), chip select on and off.
extern "C" void P9050_EEPROMWriteEnable(P9050_Handle* handle, BOOL enable) {
  P9050_EEPROMChipSelect(handle, TRUE);
  WriteBits(handle, ee93c46::kStartBit, 1);
  WriteBits(handle, ee93c46::kOpcodeExtended, ee93c46::kOpcodeBits);
  WriteBits(handle, enable ? ee93c46::kExtWriteEnable : ee93c46::kExtWriteDisable,
            ee93c46::kAddressBits);
  P9050_EEPROMChipSelect(handle, FALSE);
}

// Reads the 16-bit word at byte offset `offset` (D15 first). The write-disable frame follows the
// last data bit inside the same selection and releases chip select at its end.
extern "C" BOOL P9050_EEPROMReadWord(P9050_Handle* handle, uint32_t offset, uint16_t* word) {
  const uint32_t address = WordAddress(offset);
  *word = 0;
  P9050_EEPROMChipSelect(handle, TRUE);
  WriteBits(handle, ee93c46::kStartBit, 1);
  WriteBits(handle, ee93c46::kOpcodeRead, ee93c46::kOpcodeBits);
  WriteBits(handle, address, ee93c46::kAddressBits);
  for (uint32_t mask = 1u << (ee93c46::kDataBits - 1); mask != 0; mask >>= 1) {
    if (P9050_EEPROMReadBit(handle)) *word = (uint16_t)(*word | mask);
  }
  P9050_EEPROMWriteEnable(handle, FALSE);
  return TRUE;
}

// Writes the 16-bit word at byte offset `offset` (D15 first) between a write-enable and a
// write-disable frame, then reads it back. The part programs the cell once chip select falls; the
// write-disable frame and the read-back follow at the fixed pace.
extern "C" BOOL P9050_EEPROMWriteWord(P9050_Handle* handle, uint32_t offset, uint16_t word) {
  const uint32_t address = WordAddress(offset);
  P9050_EEPROMWriteEnable(handle, TRUE);
  P9050_EEPROMChipSelect(handle, TRUE);
  WriteBits(handle, ee93c46::kStartBit, 1);
  WriteBits(handle, ee93c46::kOpcodeWrite, ee93c46::kOpcodeBits);
  WriteBits(handle, address, ee93c46::kAddressBits);
  WriteBits(handle, word, ee93c46::kDataBits);
  P9050_EEPROMChipSelect(handle, FALSE);
  P9050_EEPROMWriteEnable(handle, FALSE);

  uint16_t readBack = 0;
  if (!P9050_EEPROMReadWord(handle, offset, &readBack)) return FALSE;
  if (readBack != word) {
    snprintf(P9050_ErrorText, sizeof P9050_ErrorText, "Write 0x%04x, Read 0x%04x\n",
             (unsigned int)word, (unsigned int)readBack);
    return FALSE;
  }
  return TRUE;
}

// The dword at `offset` (a multiple of 4): the word at `offset` is bits 31-16, the word at
// `offset` + 2 bits 15-0.
extern "C" BOOL P9050_EEPROMReadDword(P9050_Handle* handle, uint32_t offset, uint32_t* dword) {
  if (!CheckDwordOffset(offset)) return FALSE;
  uint16_t high = 0;
  uint16_t low = 0;
  if (!P9050_EEPROMReadWord(handle, offset, &high)) return FALSE;
  if (!P9050_EEPROMReadWord(handle, offset + 2, &low)) return FALSE;
  *dword = ((uint32_t)high << 16) | low;
  return TRUE;
}

// Writes the high half first; a failed high half leaves the low half unwritten.
extern "C" BOOL P9050_EEPROMWriteDword(P9050_Handle* handle, uint32_t offset, uint32_t dword) {
  if (!CheckDwordOffset(offset)) return FALSE;
  if (!P9050_EEPROMWriteWord(handle, offset, (uint16_t)(dword >> 16))) return FALSE;
  return P9050_EEPROMWriteWord(handle, offset + 2, (uint16_t)(dword & 0xFFFFu));
}
