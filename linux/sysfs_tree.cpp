// Parsing of the sysfs PCI function files: names, `resource` lines, one-number files.
#include "linux/sysfs_tree.h"

#include <algorithm>
#include <cstdio>

namespace sysfs {

namespace {

constexpr uint32_t kSlots = 0x20;
constexpr uint32_t kFunctions = 8;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly `digits` hexadecimal digits at `text[at]`.
bool FixedHex(std::string_view text, size_t at, size_t digits, uint32_t* value) {
  if (at + digits > text.size()) return false;
  uint32_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = HexDigit(text[at + i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

void SkipBlanks(std::string_view text, size_t* at) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t')) ++*at;
}

// One unsigned number in C notation (0x hexadecimal, 0 octal, else decimal) at text[*at], within
// 64 bits; *at moves past it.
bool Number(std::string_view text, size_t* at, uint64_t* value) {
  size_t i = *at;
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '0') {
    base = 8;
  }
  const size_t first = i;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0 || static_cast<unsigned>(d) >= base) break;
    if (v > (UINT64_MAX - static_cast<unsigned>(d)) / base) return false;
    v = v * base + static_cast<unsigned>(d);
  }
  if (i == first) return false;
  *at = i;
  *value = v;
  return true;
}

}  // namespace

bool ParseFunctionName(std::string_view name, FunctionAddress* address) {
  // DDDD:BB:SS.F
  constexpr size_t kLength = 12;
  if (name.size() != kLength || name[4] != ':' || name[7] != ':' || name[10] != '.') return false;
  FunctionAddress a;
  if (!FixedHex(name, 0, 4, &a.domain) || !FixedHex(name, 5, 2, &a.bus) ||
      !FixedHex(name, 8, 2, &a.slot) || !FixedHex(name, 11, 1, &a.function)) {
    return false;
  }
  if (a.slot >= kSlots || a.function >= kFunctions) return false;
  *address = a;
  return true;
}

std::vector<FunctionAddress> FunctionsIn(const std::vector<std::string>& names) {
  std::vector<FunctionAddress> functions;
  for (const std::string& name : names) {
    FunctionAddress a;
    if (ParseFunctionName(name, &a) && a.domain == 0) functions.push_back(a);
  }
  std::sort(functions.begin(), functions.end());
  return functions;
}

std::string FunctionName(const FunctionAddress& address) {
  char name[32];
  std::snprintf(name, sizeof name, "%04x:%02x:%02x.%x", static_cast<unsigned>(address.domain),
                static_cast<unsigned>(address.bus), static_cast<unsigned>(address.slot),
                static_cast<unsigned>(address.function));
  return name;
}

bool ParseResource(std::string_view text, std::vector<ResourceLine>* lines, unsigned* badLine) {
  std::vector<ResourceLine> parsed;
  size_t at = 0;
  unsigned number = 0;
  while (at < text.size()) {
    size_t eol = text.find('\n', at);
    if (eol == std::string_view::npos) eol = text.size();
    const std::string_view line = text.substr(at, eol - at);
    at = eol + 1;
    ++number;
    ResourceLine r;
    size_t i = 0;
    SkipBlanks(line, &i);
    if (i < line.size() && line[i] != '\r') {
      uint64_t* fields[] = {&r.start, &r.end, &r.flags};
      for (uint64_t* field : fields) {
        SkipBlanks(line, &i);
        if (!Number(line, &i, field)) {
          *badLine = number;
          return false;
        }
      }
      SkipBlanks(line, &i);
      if (i < line.size() && line[i] != '\r') {
        *badLine = number;
        return false;
      }
    }
    parsed.push_back(r);
  }
  *lines = std::move(parsed);
  return true;
}

bool ParseNumberFile(std::string_view text, uint32_t* value) {
  size_t at = 0;
  SkipBlanks(text, &at);
  uint64_t v = 0;
  if (!Number(text, &at, &v) || v > UINT32_MAX) return false;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at != text.size()) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace sysfs
