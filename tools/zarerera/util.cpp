// Number parsing, names, formatting and checked output.
#include "util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "errors.h"
#include "machine/options.h"
#include "p9050_lib.h"

namespace zcmd {

namespace {

bool ParseDigits(const std::string& text, int base, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (v > max) return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

std::string LibraryError(const std::string& fallback) {
  std::string text = P9050_ErrorText;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? fallback : text;
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

uint32_t ParseHex(const std::string& text, uint32_t max, const std::string& what) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  uint32_t value = 0;
  if (digits.size() > 8 || !ParseDigits(digits, 16, max, &value)) {
    throw UsageError(what + " takes a hexadecimal number from 0 to " + Format("%x", max) +
                     ", not '" + machine::Shown(text) + "'");
  }
  return value;
}

void ParseMaskedValue(const std::string& text, uint32_t max, const std::string& name,
                      uint32_t* value, uint32_t* mask) {
  const size_t colon = text.find(':');
  *value = ParseHex(text.substr(0, colon), max, "the value for " + name);
  *mask = colon == std::string::npos
              ? max
              : ParseHex(text.substr(colon + 1), max, "the mask for " + name);
}

uint32_t ParseNumber(const std::string& text, uint32_t min, uint32_t max, const std::string& what) {
  uint32_t value = 0;
  if (!ParseDigits(text, 10, max, &value) || value < min) {
    throw UsageError(what + " takes a number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not '" + machine::Shown(text) + "'");
  }
  return value;
}

std::string ShownMessage(const std::string& message) {
  constexpr size_t kLongWord = 80;
  std::string shown;
  size_t at = 0;
  while (at < message.size()) {
    const size_t space = message.find(' ', at);
    const size_t end = space == std::string::npos ? message.size() : space;
    const std::string word = message.substr(at, end - at);
    shown += word.size() > kLongWord ? machine::Shown(word) : word;
    if (space == std::string::npos) break;
    shown += ' ';
    at = space + 1;
  }
  return shown;
}

namespace {

// One part of -d or -s: empty or "*" is any (-1), otherwise hexadecimal of at most `digits`
// digits and at most `max`.
bool ParsePart(const std::string& text, size_t digits, uint32_t max, int* part) {
  if (text.empty() || text == "*") {
    *part = -1;
    return true;
  }
  uint32_t value = 0;
  if (text.size() > digits || !ParseDigits(text, 16, max, &value)) return false;
  *part = static_cast<int>(value);
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t at = text.find(separator, begin);
    parts.push_back(text.substr(begin, at == std::string::npos ? std::string::npos : at - begin));
    if (at == std::string::npos) return parts;
    begin = at + 1;
  }
}

}  // namespace

bool IdFilter::Matches(uint32_t vendor, uint32_t device) const {
  return (vendorId < 0 || static_cast<uint32_t>(vendorId) == vendor) &&
         (deviceId < 0 || static_cast<uint32_t>(deviceId) == device);
}

IdFilter ParseIds(const std::string& text) {
  if (text.empty()) return {machine::kDefaultIds.vendorId, machine::kDefaultIds.deviceId};
  const std::vector<std::string> parts = Split(text, ':');
  IdFilter ids;
  if (parts.size() != 2 || !ParsePart(parts[0], 4, 0xFFFF, &ids.vendorId) ||
      !ParsePart(parts[1], 4, 0xFFFF, &ids.deviceId)) {
    throw UsageError("-d takes VVVV:DDDD, VVVV: or :DDDD in hexadecimal, not '" +
                     machine::Shown(text) + "'");
  }
  // An ID of 0 matches any, as the driver's scan takes it: no function has vendor or device 0.
  if (ids.vendorId == 0) ids.vendorId = -1;
  if (ids.deviceId == 0) ids.deviceId = -1;
  return ids;
}

std::string IdFilterText(const IdFilter& ids) {
  const auto part = [](int id) { return id < 0 ? std::string("*") : Format("%04x", id); };
  return part(ids.vendorId) + ":" + part(ids.deviceId);
}

bool SlotFilter::Matches(const WdPciSlot& s) const {
  return (domain < 0 || domain == 0) && (bus < 0 || static_cast<uint32_t>(bus) == s.bus) &&
         (slot < 0 || static_cast<uint32_t>(slot) == s.slot) &&
         (function < 0 || static_cast<uint32_t>(function) == s.function);
}

SlotFilter ParseSlot(const std::string& text) {
  SlotFilter filter;
  const std::vector<std::string> halves = Split(text, '.');
  std::vector<std::string> parts = Split(halves[0], ':');
  bool ok = halves.size() <= 2 && parts.size() <= 3 && !text.empty();
  if (ok && halves.size() == 2) ok = ParsePart(halves[1], 1, 7, &filter.function);
  if (ok) ok = ParsePart(parts.back(), 2, 0x1F, &filter.slot);
  if (ok && parts.size() >= 2) ok = ParsePart(parts[parts.size() - 2], 2, 0xFF, &filter.bus);
  if (ok && parts.size() == 3) ok = ParsePart(parts[0], 4, 0xFFFF, &filter.domain);
  if (!ok) {
    throw UsageError(
        "-s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot 00-1f, function 0-7; a "
        "part left out or * matches any), not '" +
        machine::Shown(text) + "'");
  }
  return filter;
}

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string SlotText(const WdPciSlot& slot) {
  return Format("%02x:%02x.%x", static_cast<unsigned>(slot.bus), static_cast<unsigned>(slot.slot),
                static_cast<unsigned>(slot.function));
}

std::string IdsText(uint32_t vendorId, uint32_t deviceId) {
  return Format("%04x:%04x", static_cast<unsigned>(vendorId), static_cast<unsigned>(deviceId));
}

namespace {

[[noreturn]] void OutputFailed() {
  if (errno == EPIPE) throw OutputGone();
  throw Failure(SystemError("standard output"));
}

}  // namespace

void Print(const std::string& text) {
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) {
    OutputFailed();
  }
}

std::string JsonText(const nlohmann::ordered_json& document, int indent) {
  // A string that is not UTF-8 (a file name can be any bytes) is written with U+FFFD in place of
  // each bad byte rather than failing what has been done already.
  return document.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {
enum class Printed { kNothing, kDocument, kLines };
Printed g_printed = Printed::kNothing;
}  // namespace

void PrintJson(const nlohmann::ordered_json& document) {
  g_printed = Printed::kDocument;
  Print(JsonText(document, 2) + "\n");
}

void PrintJsonLine(const nlohmann::ordered_json& object) {
  g_printed = Printed::kLines;
  Print(JsonText(object, -1) + "\n");
}

void PrintJsonError(const std::string& message, int status) {
  if (g_printed == Printed::kDocument) return;
  const nlohmann::ordered_json error = {{"error", message}, {"exit_status", status}};
  const std::string text = JsonText(error, g_printed == Printed::kLines ? -1 : 2);
  std::fputs((text + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Count(size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void FlushOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) OutputFailed();
}

}  // namespace zcmd
