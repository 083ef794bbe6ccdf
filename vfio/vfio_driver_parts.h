// The VFIO driver's own records and helpers, shared by its source files (vfio_driver.cpp: the
// requests; vfio_groups.cpp: opening a function through its group; vfio_interrupts.cpp: the INTx
// interrupt service). Not for the driver's users.
#ifndef ZARERERA_VFIO_VFIO_DRIVER_PARTS_H
#define ZARERERA_VFIO_VFIO_DRIVER_PARTS_H

#include <cstdio>
#include <string>
#include <vector>

#include "driver/transfer_kind.h"
#include "linux/sysfs_tree.h"
#include "vfio/vfio_driver.h"

namespace vfio {

namespace parts {

constexpr char kVersionText[] = "zarerera Linux VFIO driver";
using wd::Hex;

// "0000:00:03.0" as the tools' -s option spells it: "00:03.0".
inline std::string ShortName(const std::string& name) {
  return name.size() > 5 ? name.substr(5) : name;
}

inline bool SingleTransfer(const WdTransfer& t) {
  const wd::TransferKind k = wd::KindOf(t.command);
  return k.width != 0 && !k.block;
}

using wd::IsRange;

// The BAR of `lines` a range is: the one with its start, kind and at least its bytes, the range's
// own BAR number first; -1 for none.
inline int BarOf(const std::vector<sysfs::ResourceLine>& lines, bool memory, uint32_t start,
                 uint32_t bytes, uint32_t hint) {
  auto fits = [&](uint32_t b) {
    return b < kBarRegions && b < lines.size() && lines[b].used() && lines[b].io() != memory &&
           lines[b].start == start && uint64_t{bytes} <= lines[b].bytes();
  };
  if (fits(hint)) return static_cast<int>(hint);
  for (uint32_t b = 0; b < kBarRegions; ++b) {
    if (fits(b)) return static_cast<int>(b);
  }
  return -1;
}

}  // namespace parts

struct VfioDriver::Group {
  std::string number;
  int fd = -1;
  int uses = 0;
};

struct VfioDriver::Device {
  std::string name;
  Group* group = nullptr;
  int fd = -1;
  RegionInfo bars[kBarRegions];
  RegionInfo config;
  bool intx = false;
  int uses = 0;
};

struct VfioDriver::Range {
  bool memory = false;
  uint32_t start = 0;
  uint32_t bytes = 0;
  Device* device = nullptr;
  uint64_t region_offset = 0;  // in the device file
  uint8_t* user = nullptr;     // a mapped memory region's first byte
  size_t map_length = 0;
};

struct VfioDriver::Registration {
  uint32_t card_handle = 0;
  uint32_t int_handle = 0;  // 0: no interrupt item
  Device* device = nullptr;
  std::vector<Range> ranges;
};

struct VfioDriver::Line {
  uint32_t int_handle = 0;
  Device* device = nullptr;
  int eventfd = -1;  // signalled by the kernel at each interrupt
  int wakefd = -1;   // signalled by disable
  std::vector<WdTransfer> commands;
  uint32_t options = 0;
  uint64_t generation = 0;
  bool enabled = false;
  bool in_service = false;  // handed out, the service not yet back (the line masked)
  uint32_t counter = 0;
  uint32_t lost = 0;
  int waiters = 0;
};

}  // namespace vfio

#endif  // ZARERERA_VFIO_VFIO_DRIVER_PARTS_H
