// Small pieces every command uses: parsing the numbers and names of the command line, writing
// standard output with its errors checked, and printf-style formatting into a string.
#ifndef ZARERERA_TOOLS_ZARERERA_UTIL_H
#define ZARERERA_TOOLS_ZARERERA_UTIL_H

#include <cstdint>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "driver/board_ids.h"
#include "driver/wd_records.h"

namespace zcmd {

struct PciIds {
  uint16_t vendorId;
  uint16_t deviceId;
};
constexpr PciIds kBoardIds{product_ids::kVendorId, product_ids::kDeviceId};

// Hexadecimal with or without "0x", at most `max`; a UsageError naming `what` otherwise.
uint32_t ParseHex(const std::string& text, uint32_t max, const std::string& what);
// Decimal, at most `max`.
uint32_t ParseDecimal(const std::string& text, uint32_t max, const std::string& what);
// Decimal, from `min` to `max`: digits only (no sign, no blanks, not empty).
uint32_t ParseNumber(const std::string& text, uint32_t min, uint32_t max, const std::string& what);
// A message with every word of more than 80 characters cut as machine::Shown cuts a value: the
// command line parser's own messages quote what they were given whole.
std::string ShownMessage(const std::string& message);
// "VVVV:DDDD" in hexadecimal; empty text gives the board's IDs.
PciIds ParseIds(const std::string& text);
// "BB:SS.F" (bus and slot hexadecimal, function 0-7), as lspci prints it.
WdPciSlot ParseSlot(const std::string& text);

#ifdef __MINGW_PRINTF_FORMAT
#define ZCMD_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define ZCMD_PRINTF_FORMAT printf
#endif
std::string Format(const char* format, ...) __attribute__((format(ZCMD_PRINTF_FORMAT, 1, 2)));
std::string SlotText(const WdPciSlot& slot);                // "BB:SS.F"
std::string IdsText(uint32_t vendorId, uint32_t deviceId);  // "vvvv:dddd"

// The local time of `t` (thread-safe).
std::tm LocalTime(std::time_t t);

// Standard output. A write that fails (a full disk, a closed pipe) is a Failure.
void Print(const std::string& text);
// A document's text: pretty with `indent` > 0, one line with -1; never throws, whatever bytes its
// strings hold (bytes that are no UTF-8 become U+FFFD).
std::string JsonText(const nlohmann::ordered_json& document, int indent);
void PrintJson(const nlohmann::ordered_json& document);  // one document, pretty, with a newline
void FlushOutput();

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_UTIL_H
