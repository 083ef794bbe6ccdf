// Address-space and bridge-register access through a card handle.
//
// A single access to a memory range is exactly one load or store of its width through the
// driver's mapping, with no request; a single access to an I/O range is exactly one transfer
// request. Blocks always go through the driver. Local-address accesses first move the space's
// window (its LASxBA register) so that the local address falls inside it.
//
// Every access is bounded by its space, memory and I/O alike: the bytes it touches, offset to
// offset + width (or + the block's length), summed in 64 bits, must all lie in [0, bytes) of the
// space. A single access outside touches nothing (a read yields 0, a write is dropped); a block
// outside sends no request and returns WD_STATUS_NONE with its buffer untouched. An inactive space
// has 0 bytes, so nothing reaches it. Unbounded, a port offset would be added modulo 2^32 to the
// range's port and land on whatever the bus decodes there, the bridge's own registers included.
//
// The driver's statuses of single transfers are not looked at: a failed read yields what the
// driver left in the zeroed record, 0.
#include <string.h>

#include "driver/driver_request.h"
#include "p9050_lib.h"

namespace {

// One cell of the mapping. Packed, so that an offset need not be a multiple of the width and the
// access is still one load or store of that width.
#if defined(__GNUC__)
template <typename T>
struct __attribute__((packed)) Cell {
  T value;
};
#else
template <typename T>
struct Cell {
  T value;
};
#endif

// Local base registers LAS0BA..LAS3BA belong to spaces 2..5.
constexpr uint32_t kLocalBaseStride = 4;
constexpr uint32_t kLocalBaseEnable = 0x1;

// Returns the space's descriptor, or NULL for an index the table does not have.
P9050_AddrDesc* Desc(P9050_Handle* handle, uint32_t space) {
  return space < P9050_ADDR_SPACES ? &handle->addrDesc[space] : nullptr;
}

// Whether `length` bytes at `offset` lie wholly inside the space; never for an inactive space.
bool Fits(const P9050_AddrDesc* desc, uint32_t offset, uint64_t length) {
  return desc->bytes != 0 && offset < desc->bytes &&
         static_cast<uint64_t>(offset) + length <= desc->bytes;
}

// Whether a single access of T's width at `offset` may be made: inside the space and, for a memory
// range, through a mapping the driver gave.
template <typename T>
bool Inside(const P9050_AddrDesc* desc, uint32_t offset) {
  return Fits(desc, offset, sizeof(T)) && (!desc->isMemory || desc->userAddress != 0);
}

template <typename T>
volatile Cell<T>* At(const P9050_AddrDesc* desc, uint32_t offset) {
  return reinterpret_cast<volatile Cell<T>*>(static_cast<uintptr_t>(desc->userAddress) + offset);
}

WdTransferData PortRead(P9050_Handle* handle, const P9050_AddrDesc* desc, uint32_t offset,
                        uint32_t command) {
  WdTransfer transfer;
  memset(&transfer, 0, sizeof transfer);
  transfer.address = desc->transferAddress + offset;
  transfer.command = command;
  (void)DriverRequest(WD_CODE_TRANSFER, handle->device, &transfer, sizeof transfer, 0);
  return transfer.data;
}

void PortWrite(P9050_Handle* handle, const P9050_AddrDesc* desc, uint32_t offset, uint32_t command,
               WdTransferData data) {
  WdTransfer transfer;
  memset(&transfer, 0, sizeof transfer);
  transfer.address = desc->transferAddress + offset;
  transfer.command = command;
  transfer.data = data;
  (void)DriverRequest(WD_CODE_TRANSFER, handle->device, &transfer, sizeof transfer, 0);
}

template <typename T>
T ReadSingle(P9050_Handle* handle, uint32_t space, uint32_t offset, uint32_t command) {
  const P9050_AddrDesc* desc = Desc(handle, space);
  if (desc == nullptr || !Inside<T>(desc, offset)) return 0;
  if (desc->isMemory) return At<T>(desc, offset)->value;
  const WdTransferData data = PortRead(handle, desc, offset, command);
  T value;
  memcpy(&value, &data, sizeof value);  // the driver puts the value at the start of the field
  return value;
}

template <typename T>
void WriteSingle(P9050_Handle* handle, uint32_t space, uint32_t offset, T value, uint32_t command) {
  const P9050_AddrDesc* desc = Desc(handle, space);
  if (desc == nullptr || !Inside<T>(desc, offset)) return;
  if (desc->isMemory) {
    At<T>(desc, offset)->value = value;
    return;
  }
  WdTransferData data;
  memset(&data, 0, sizeof data);
  memcpy(&data, &value, sizeof value);  // the value sits at the start of the field
  PortWrite(handle, desc, offset, command, data);
}

uint32_t BlockCommand(const P9050_AddrDesc* desc, BOOL isRead, uint32_t mode) {
  uint32_t command;
  if (mode == P9050_MODE_BYTE) {
    command = isRead ? WD_RP_SBYTE : WD_WP_SBYTE;
  } else if (mode == P9050_MODE_WORD) {
    command = isRead ? WD_RP_SWORD : WD_WP_SWORD;
  } else {
    command = isRead ? WD_RP_SDWORD : WD_WP_SDWORD;
  }
  return desc->isMemory ? command + WD_MEMORY_COMMAND_OFFSET : command;
}

BOOL HasLocalBase(uint32_t space) {
  return space >= P9050_SPACE_LOCAL0 && space <= P9050_SPACE_LOCAL3 ? TRUE : FALSE;
}

// Moves the window and returns the offset of `localAddress` inside it.
uint32_t AimWindow(P9050_Handle* handle, uint32_t space, uint32_t localAddress) {
  const uint32_t mask = handle->addrDesc[space].mask;
  P9050_SetLocalBase(handle, space, localAddress);
  return localAddress & mask;
}

}  // namespace

extern "C" uint8_t P9050_ReadByte(P9050_Handle* handle, uint32_t space, uint32_t offset) {
  return ReadSingle<uint8_t>(handle, space, offset, WD_RP_BYTE);
}

extern "C" uint16_t P9050_ReadWord(P9050_Handle* handle, uint32_t space, uint32_t offset) {
  return ReadSingle<uint16_t>(handle, space, offset, WD_RP_WORD);
}

extern "C" uint32_t P9050_ReadDword(P9050_Handle* handle, uint32_t space, uint32_t offset) {
  return ReadSingle<uint32_t>(handle, space, offset, WD_RP_DWORD);
}

extern "C" void P9050_WriteByte(P9050_Handle* handle, uint32_t space, uint32_t offset,
                                uint8_t value) {
  WriteSingle<uint8_t>(handle, space, offset, value, WD_WP_BYTE);
}

extern "C" void P9050_WriteWord(P9050_Handle* handle, uint32_t space, uint32_t offset,
                                uint16_t value) {
  WriteSingle<uint16_t>(handle, space, offset, value, WD_WP_WORD);
}

extern "C" void P9050_WriteDword(P9050_Handle* handle, uint32_t space, uint32_t offset,
                                 uint32_t value) {
  WriteSingle<uint32_t>(handle, space, offset, value, WD_WP_DWORD);
}

extern "C" uint32_t P9050_ReadReg(P9050_Handle* handle, uint32_t offset) {
  return P9050_ReadDword(handle, P9050_SPACE_REGS, offset);
}

extern "C" void P9050_WriteReg(P9050_Handle* handle, uint32_t offset, uint32_t value) {
  P9050_WriteDword(handle, P9050_SPACE_REGS, offset, value);
}

extern "C" uint32_t P9050_ReadWriteBlock(P9050_Handle* handle, uint32_t offset, void* buffer,
                                         uint32_t bytes, BOOL isRead, uint32_t space,
                                         uint32_t mode) {
  const P9050_AddrDesc* desc = Desc(handle, space);
  if (desc == nullptr || !Fits(desc, offset, bytes)) return WD_STATUS_NONE;
  WdTransfer transfer;
  memset(&transfer, 0, sizeof transfer);
  transfer.address = desc->transferAddress + offset;
  transfer.command = BlockCommand(desc, isRead, mode);
  transfer.bytes = bytes;
  transfer.autoIncrement = 1;
  transfer.options = 0;
  transfer.data.ptr = WD_TO_UPTR(buffer);
  return DriverRequest(WD_CODE_TRANSFER, handle->device, &transfer, sizeof transfer, 0);
}

extern "C" uint32_t P9050_ReadBlock(P9050_Handle* handle, uint32_t offset, void* buffer,
                                    uint32_t bytes, uint32_t space, uint32_t mode) {
  return P9050_ReadWriteBlock(handle, offset, buffer, bytes, TRUE, space, mode);
}

extern "C" uint32_t P9050_WriteBlock(P9050_Handle* handle, uint32_t offset, void* buffer,
                                     uint32_t bytes, uint32_t space, uint32_t mode) {
  return P9050_ReadWriteBlock(handle, offset, buffer, bytes, FALSE, space, mode);
}

// Spaces 0 and 1 have no local base register: the offset formula would land on LAS3RR and EROMRR
// and wreck the bridge's decoding, so local-address operations leave them alone.
extern "C" void P9050_SetLocalBase(P9050_Handle* handle, uint32_t space, uint32_t localAddress) {
  if (!HasLocalBase(space)) return;
  P9050_AddrDesc* desc = &handle->addrDesc[space];
  desc->localBase = (localAddress & ~desc->mask) | kLocalBaseEnable;
  P9050_WriteReg(handle, P9050_LAS0BA + kLocalBaseStride * (space - P9050_SPACE_LOCAL0),
                 desc->localBase);
}

extern "C" uint8_t P9050_ReadSpaceByte(P9050_Handle* handle, uint32_t space,
                                       uint32_t localAddress) {
  if (!HasLocalBase(space)) return 0;
  return P9050_ReadByte(handle, space, AimWindow(handle, space, localAddress));
}

extern "C" uint16_t P9050_ReadSpaceWord(P9050_Handle* handle, uint32_t space,
                                        uint32_t localAddress) {
  if (!HasLocalBase(space)) return 0;
  return P9050_ReadWord(handle, space, AimWindow(handle, space, localAddress));
}

extern "C" uint32_t P9050_ReadSpaceDword(P9050_Handle* handle, uint32_t space,
                                         uint32_t localAddress) {
  if (!HasLocalBase(space)) return 0;
  return P9050_ReadDword(handle, space, AimWindow(handle, space, localAddress));
}

extern "C" void P9050_WriteSpaceByte(P9050_Handle* handle, uint32_t space, uint32_t localAddress,
                                     uint8_t value) {
  if (!HasLocalBase(space)) return;
  P9050_WriteByte(handle, space, AimWindow(handle, space, localAddress), value);
}

extern "C" void P9050_WriteSpaceWord(P9050_Handle* handle, uint32_t space, uint32_t localAddress,
                                     uint16_t value) {
  if (!HasLocalBase(space)) return;
  P9050_WriteWord(handle, space, AimWindow(handle, space, localAddress), value);
}

extern "C" void P9050_WriteSpaceDword(P9050_Handle* handle, uint32_t space, uint32_t localAddress,
                                      uint32_t value) {
  if (!HasLocalBase(space)) return;
  P9050_WriteDword(handle, space, AimWindow(handle, space, localAddress), value);
}

extern "C" uint32_t P9050_ReadWriteSpaceBlock(P9050_Handle* handle, uint32_t localAddress,
                                              void* buffer, uint32_t bytes, BOOL isRead,
                                              uint32_t space, uint32_t mode) {
  if (!HasLocalBase(space)) return WD_STATUS_NONE;
  const uint32_t offset = AimWindow(handle, space, localAddress);
  return P9050_ReadWriteBlock(handle, offset, buffer, bytes, isRead, space, mode);
}

extern "C" uint32_t P9050_ReadSpaceBlock(P9050_Handle* handle, uint32_t localAddress, void* buffer,
                                         uint32_t bytes, uint32_t space, uint32_t mode) {
  return P9050_ReadWriteSpaceBlock(handle, localAddress, buffer, bytes, TRUE, space, mode);
}

extern "C" uint32_t P9050_WriteSpaceBlock(P9050_Handle* handle, uint32_t localAddress, void* buffer,
                                          uint32_t bytes, uint32_t space, uint32_t mode) {
  return P9050_ReadWriteSpaceBlock(handle, localAddress, buffer, bytes, FALSE, space, mode);
}
