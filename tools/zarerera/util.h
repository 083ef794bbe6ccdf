// Small pieces every command uses: parsing the numbers and names of the command line, writing
// standard output with its errors checked, and printf-style formatting into a string.
#ifndef ZARERERA_TOOLS_ZARERERA_UTIL_H
#define ZARERERA_TOOLS_ZARERERA_UTIL_H

#include <cstdint>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "driver/wd_records.h"
#include "machine/options.h"

namespace zcmd {

// Hexadecimal with or without "0x", at most `max`; a UsageError naming `what` otherwise.
uint32_t ParseHex(const std::string& text, uint32_t max, const std::string& what);
// A register write's VALUE or VALUE:MASK (setpci's form), each hexadecimal up to `max`; without a
// mask every bit changes (the mask is `max`). UsageErrors name `name`'s value or mask.
void ParseMaskedValue(const std::string& text, uint32_t max, const std::string& name,
                      uint32_t* value, uint32_t* mask);
// Decimal, from `min` to `max`: digits only (no sign, no blanks, not empty).
uint32_t ParseNumber(const std::string& text, uint32_t min, uint32_t max, const std::string& what);
// A message with every word of more than 80 characters cut as machine::Shown cuts a value: the
// command line parser's own messages quote what they were given whole.
std::string ShownMessage(const std::string& message);

// -d as lspci takes it: "VVVV:DDDD", "VVVV:" or ":DDDD" in hexadecimal, an empty or "*" part
// matching any ID, and so does an ID of 0 (as the driver's scan takes it); empty text gives the
// board's IDs.
struct IdFilter {
  int vendorId = -1;  // -1: any
  int deviceId = -1;
  bool Matches(uint32_t vendor, uint32_t device) const;
  bool Exact() const { return vendorId >= 0 && deviceId >= 0; }
};
IdFilter ParseIds(const std::string& text);
std::string IdFilterText(const IdFilter& ids);  // "9050:10b5", "9050:*"

// -s as lspci takes it: "[[domain:]bus:]slot[.func]" in hexadecimal, any part left out (or "*")
// matching any: "05.0", "00:05", "0000:00:05.0", ".1". The records carry no domain: a domain
// other than 0000 matches nothing.
struct SlotFilter {
  int domain = -1;  // -1: any
  int bus = -1;
  int slot = -1;
  int function = -1;
  bool Matches(const WdPciSlot& s) const;
};
SlotFilter ParseSlot(const std::string& text);

#ifdef __MINGW_PRINTF_FORMAT
#define ZCMD_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define ZCMD_PRINTF_FORMAT printf
#endif
std::string Format(const char* format, ...) __attribute__((format(ZCMD_PRINTF_FORMAT, 1, 2)));
std::string SlotText(const WdPciSlot& slot);                // "BB:SS.F"
std::string IdsText(uint32_t vendorId, uint32_t deviceId);  // "vvvv:dddd"
// A value in JSON documents: IDs, addresses, offsets and register values are hexadecimal strings
// of `digits` digits (or more), as lspci -mm prints them; counts and sizes stay numbers.
using machine::Hex;
// "1 word", "2 words": `count` and the noun, plural unless the count is one.
std::string Count(size_t count, const std::string& noun);

// The local time of `t` (thread-safe).
std::tm LocalTime(std::time_t t);

// Standard output. A write that fails (a full disk, a closed pipe) is a Failure.
void Print(const std::string& text);
// A document's text: pretty with `indent` > 0, one line with -1; never throws, whatever bytes its
// strings hold (bytes that are no UTF-8 become U+FFFD).
std::string JsonText(const nlohmann::ordered_json& document, int indent);
void PrintJson(const nlohmann::ordered_json& document);    // one document, pretty, with a newline
void PrintJsonLine(const nlohmann::ordered_json& object);  // one object of a stream, on one line
// With --json, a failure's object {"error": message, "exit_status": status} on standard output:
// pretty when nothing was printed, one line after a stream's lines, nothing after a document (the
// document tells the result). Errors of standard output itself are ignored here.
void PrintJsonError(const std::string& message, int status);
void FlushOutput();

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_UTIL_H
