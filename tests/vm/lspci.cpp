#include "vm/lspci.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "vm/guest.h"

namespace vm_test {

namespace {

uint64_t SizeOf(const std::string& text) {  // "16M", "4K", "256"
  uint64_t value = std::strtoull(text.c_str(), nullptr, 10);
  switch (text.empty() ? ' ' : text.back()) {
    case 'K':
      return value << 10;
    case 'M':
      return value << 20;
    case 'G':
      return value << 30;
    default:
      return value;
  }
}

}  // namespace

std::vector<ListedFunction> ParseLspci(const std::string& text) {
  std::vector<ListedFunction> functions;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    unsigned domain, bus, slot, fn, vendor, device;
    char name[16];
    // "0000:00:04.0 0200: 8086:10d3"
    if (std::sscanf(line.c_str(), "%4x:%2x:%2x.%1x %*x: %4x:%4x", &domain, &bus, &slot, &fn,
                    &vendor, &device) == 6) {
      std::snprintf(name, sizeof name, "%04x:%02x:%02x.%x", domain, bus, slot, fn);
      functions.push_back({name, vendor, device, {}, 0});
      continue;
    }
    if (functions.empty() || line.empty() || line[0] != '\t') continue;
    ListedFunction& f = functions.back();
    const bool memory = line.rfind("\tMemory at ", 0) == 0;
    const bool io = line.rfind("\tI/O ports at ", 0) == 0;
    if (memory || io) {
      const size_t at = line.find(" at ") + 4;
      const size_t size = line.find("[size=");
      if (line.compare(at, 1, "<") == 0 || size == std::string::npos) continue;  // unassigned
      f.ranges.push_back({io, std::strtoull(line.c_str() + at, nullptr, 16),
                          SizeOf(line.substr(size + 6, line.find(']', size) - size - 6))});
    }
    const size_t irq = line.find("IRQ ");
    if (line.rfind("\tFlags: ", 0) == 0 && irq != std::string::npos) {
      f.irq = static_cast<uint32_t>(std::strtoul(line.c_str() + irq + 4, nullptr, 10));
    }
  }
  return functions;
}

std::vector<ListedFunction> Lspci() {
  const Command lspci = RunCommand("lspci -n -v -D");
  if (lspci.status != 0) return {};
  return ParseLspci(lspci.output);
}

}  // namespace vm_test
