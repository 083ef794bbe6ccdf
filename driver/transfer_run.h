// A transfer request served element by element, for the in-process drivers that reach a card
// through a mapping or a file: the checks of the record, the layout of its elements and the loop
// over them are here once; each driver says only how one element reaches the card.
#ifndef ZARERERA_DRIVER_TRANSFER_RUN_H
#define ZARERERA_DRIVER_TRANSFER_RUN_H

#include <cstdint>
#include <cstring>
#include <string>

#include "driver/transfer_kind.h"
#include "driver/wd_records.h"

namespace wd {

// A transfer request checked and laid out.
struct TransferPlan {
  TransferKind kind;
  uint8_t* buffer = nullptr;  // a block's elements; null: the single value in the record
  uint32_t count = 1;         // elements
  bool increment = false;     // the address moves on by an element after each
  uint64_t span = 0;          // bytes of addresses the transfer covers
};

// Checks `r` and lays it out; false with the reason when the command is not known or a block is
// not whole elements.
inline bool PlanTransfer(const WdTransfer& r, TransferPlan* plan, std::string* error) {
  TransferPlan p;
  p.kind = KindOf(r.command);
  if (p.kind.width == 0) {
    *error = "unknown transfer command " + std::to_string(r.command);
    return false;
  }
  if (p.kind.block) {
    if (r.bytes % p.kind.width != 0 || (r.bytes != 0 && r.data.ptr == 0)) {
      *error = "block of " + std::to_string(r.bytes) + " bytes is not whole elements";
      return false;
    }
    p.buffer = WD_FROM_UPTR(uint8_t*, r.data.ptr);
    p.count = r.bytes / p.kind.width;
  }
  p.increment = p.kind.block && r.autoIncrement != 0;
  p.span = p.increment ? uint64_t{p.count} * p.kind.width : p.kind.width;
  *plan = p;
  return true;
}

// Moves each element through `access(offset, &value)`, from `offset` on, and stops at the first
// status it returns other than 0. A write hands each element's value to it; a read's values land
// in the elements (a single's in the record's value field, its low bytes).
template <class Access>
uint32_t RunTransfer(WdTransfer& r, const TransferPlan& p, uint64_t offset, Access&& access) {
  auto* single = reinterpret_cast<uint8_t*>(&r.data);
  for (uint32_t i = 0; i < p.count; ++i) {
    uint8_t* element = p.buffer != nullptr ? p.buffer + size_t{i} * p.kind.width : single;
    uint32_t value = 0;
    if (p.kind.write) std::memcpy(&value, element, p.kind.width);
    if (const uint32_t status = access(offset, &value)) return status;
    if (!p.kind.write) std::memcpy(element, &value, p.kind.width);
    if (p.increment) offset += p.kind.width;
  }
  return 0;
}

// One access of exactly `width` bytes at a mapping of a card's memory, never split or merged by
// the compiler.
template <typename T>
struct __attribute__((packed)) MappedCell {
  T value;
};

inline uint32_t LoadWidth(const uint8_t* at, unsigned width) {
  switch (width) {
    case 1:
      return reinterpret_cast<const volatile MappedCell<uint8_t>*>(at)->value;
    case 2:
      return reinterpret_cast<const volatile MappedCell<uint16_t>*>(at)->value;
    default:
      return reinterpret_cast<const volatile MappedCell<uint32_t>*>(at)->value;
  }
}

inline void StoreWidth(uint8_t* at, uint32_t value, unsigned width) {
  switch (width) {
    case 1:
      reinterpret_cast<volatile MappedCell<uint8_t>*>(at)->value = static_cast<uint8_t>(value);
      break;
    case 2:
      reinterpret_cast<volatile MappedCell<uint16_t>*>(at)->value = static_cast<uint16_t>(value);
      break;
    default:
      reinterpret_cast<volatile MappedCell<uint32_t>*>(at)->value = value;
      break;
  }
}

}  // namespace wd

#endif  // ZARERERA_DRIVER_TRANSFER_RUN_H
