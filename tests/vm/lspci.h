// What pciutils' lspci, which no one here wrote, says about the guest's bus: `lspci -n -v -D`
// read into one record per function, in lspci's order.
#ifndef ZARERERA_TESTS_VM_LSPCI_H
#define ZARERERA_TESTS_VM_LSPCI_H

#include <cstdint>
#include <string>
#include <vector>

namespace vm_test {

struct ListedRange {
  bool io = false;
  uint64_t start = 0;
  uint64_t bytes = 0;
  bool operator==(const ListedRange&) const = default;
  auto operator<=>(const ListedRange&) const = default;
};

struct ListedFunction {
  std::string name;  // "0000:00:02.0"
  uint32_t vendor = 0;
  uint32_t device = 0;
  std::vector<ListedRange> ranges;  // "Memory at" and "I/O ports at" lines, in order; no ROM
  uint32_t irq = 0;                 // "IRQ n" of the Flags line; 0 when not shown
};

// Parses `lspci -n -v -D` output.
std::vector<ListedFunction> ParseLspci(const std::string& text);
// Runs lspci in the guest and parses its output (empty when it failed).
std::vector<ListedFunction> Lspci();

}  // namespace vm_test

#endif  // ZARERERA_TESTS_VM_LSPCI_H
