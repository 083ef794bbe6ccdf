// Number parsing, names, formatting and checked output.
#include "util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

uint32_t ParseDecimal(const std::string& text, uint32_t max, const std::string& what) {
  return ParseNumber(text, 0, max, what);
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

PciIds ParseIds(const std::string& text) {
  if (text.empty()) return kBoardIds;
  const size_t colon = text.find(':');
  uint32_t vendor = 0;
  uint32_t device = 0;
  if (colon == std::string::npos || colon > 4 || text.size() - colon - 1 > 4 ||
      !ParseDigits(text.substr(0, colon), 16, 0xFFFF, &vendor) ||
      !ParseDigits(text.substr(colon + 1), 16, 0xFFFF, &device)) {
    throw UsageError("-d takes VVVV:DDDD in hexadecimal, not '" + machine::Shown(text) + "'");
  }
  return {static_cast<uint16_t>(vendor), static_cast<uint16_t>(device)};
}

WdPciSlot ParseSlot(const std::string& text) {
  const size_t colon = text.find(':');
  const size_t dot = text.find('.');
  WdPciSlot slot{};
  if (colon == std::string::npos || dot == std::string::npos || dot < colon || colon > 2 ||
      dot - colon - 1 > 2 || text.size() - dot - 1 != 1 ||
      !ParseDigits(text.substr(0, colon), 16, 0xFF, &slot.bus) ||
      !ParseDigits(text.substr(colon + 1, dot - colon - 1), 16, 0x1F, &slot.slot) ||
      !ParseDigits(text.substr(dot + 1), 10, 7, &slot.function)) {
    throw UsageError("-s takes BB:SS.F (bus 00-ff, slot 00-1f, function 0-7), not '" +
                     machine::Shown(text) + "'");
  }
  return slot;
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

void PrintJson(const nlohmann::ordered_json& document) {
  Print(JsonText(document, 2) + "\n");
}

void FlushOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) OutputFailed();
}

}  // namespace zcmd
