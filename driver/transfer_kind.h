// What a transfer command asks for, for the in-process drivers that serve transfers.
#ifndef ZARERERA_DRIVER_TRANSFER_KIND_H
#define ZARERERA_DRIVER_TRANSFER_KIND_H

#include <cstdint>

#include "driver/wd_records.h"

namespace wd {

// Element width of a transfer command, and what it does; width 0 for a command not known.
struct TransferKind {
  unsigned width = 0;
  bool memory = false;
  bool write = false;
  bool block = false;
};

// The port commands come in two runs of six, singles (10-15) and blocks (20-25), each read byte,
// word, dword then write byte, word, dword; the memory commands are the same plus 20.
constexpr TransferKind KindOf(uint32_t command) {
  TransferKind k;
  uint32_t c = command;
  if (c >= WD_RM_BYTE && c <= WD_WM_SDWORD) {
    k.memory = true;
    c -= WD_MEMORY_COMMAND_OFFSET;
  }
  const bool single = c >= WD_RP_BYTE && c <= WD_WP_DWORD;
  k.block = c >= WD_RP_SBYTE && c <= WD_WP_SDWORD;
  if (!single && !k.block) return TransferKind{};
  const uint32_t step = c - (single ? WD_RP_BYTE : WD_RP_SBYTE);
  k.width = 1u << (step % 3);
  k.write = step >= 3;
  return k;
}

}  // namespace wd

#endif  // ZARERERA_DRIVER_TRANSFER_KIND_H
