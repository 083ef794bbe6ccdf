// What the sysfs driver reads from a PCI function's directory, parsed: the directory's name
// (DDDD:BB:SS.F), the `resource` file (one "start end flags" line per resource, the line index
// being the BAR number for lines 0-5), and the one-number files `irq`, `vendor` and `device`.
// Text in, values out: nothing here touches a file.
#ifndef ZARERERA_LINUX_SYSFS_TREE_H
#define ZARERERA_LINUX_SYSFS_TREE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sysfs {

struct FunctionAddress {
  uint32_t domain = 0;
  uint32_t bus = 0;
  uint32_t slot = 0;
  uint32_t function = 0;
  bool operator==(const FunctionAddress&) const = default;
  auto operator<=>(const FunctionAddress&) const = default;  // domain, bus, slot, function
};

// "DDDD:BB:SS.F" in hexadecimal, exactly: four, two and two digits, a slot below 0x20 and a
// function below 8. False for anything else.
bool ParseFunctionName(std::string_view name, FunctionAddress* address);
// The directory name of a function, e.g. "0000:00:05.0".
std::string FunctionName(const FunctionAddress& address);

// Resource flags the items are made from (the kernel's IORESOURCE_IO and IORESOURCE_MEM).
constexpr uint64_t kResourceIo = 0x100;
constexpr uint64_t kResourceMem = 0x200;
constexpr unsigned kBarLines = 6;  // lines 0-5 are BARs 0-5; later lines (ROM, windows) are not

struct ResourceLine {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t flags = 0;
  // An implemented BAR: an I/O or memory range with at least one byte.
  bool used() const {
    return (flags & (kResourceIo | kResourceMem)) != 0 && end >= start && end != 0;
  }
  bool io() const { return (flags & kResourceIo) != 0; }
  uint64_t bytes() const { return end - start + 1; }
  // Whether the driver records can carry the range: they have 32-bit addresses. A BAR above
  // 4 GiB is left out of a card's items.
  bool in_records() const { return end < (uint64_t{1} << 32); }
};

// The functions among a directory's `names` (others are skipped), in bus order. The records have
// no domain: functions of domains other than 0 cannot be named in them and are left out.
std::vector<FunctionAddress> FunctionsIn(const std::vector<std::string>& names);

// Parses a whole `resource` file. Each line is three numbers in C notation (0x... as the kernel
// writes them); a blank line is an unused resource and keeps its index. False, with the 1-based
// number of the first bad line in *badLine, when a line is anything else.
bool ParseResource(std::string_view text, std::vector<ResourceLine>* lines, unsigned* badLine);

// One number on a line of its own (`irq`: decimal; `vendor`, `device`: 0x-hexadecimal), as
// strtoul with base 0 reads it, below 2^32. False for anything else.
bool ParseNumberFile(std::string_view text, uint32_t* value);

}  // namespace sysfs

#endif  // ZARERERA_LINUX_SYSFS_TREE_H
