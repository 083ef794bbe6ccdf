// The reason an in-process driver gives for a failed request, as text: kept as the latest (the
// driver's LastError) and handed to the reporter a host sets (the tools print it on standard
// error). The driver keeps its own lock around it.
#ifndef ZARERERA_DRIVER_FAILURE_REASONS_H
#define ZARERERA_DRIVER_FAILURE_REASONS_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "driver/wd_records.h"
#include "driver/wd_status.h"

namespace wd {

class FailureReasons {
 public:
  // Keeps `reason` and hands it to the reporter; returns `status`, for `return Fail(...)`.
  uint32_t Fail(uint32_t status, const std::string& reason) {
    last_ = reason;
    if (reporter_) reporter_(reason);
    return status;
  }
  // A request the decoder refused before any handler ran: a code not known, or a record too
  // short for its code.
  uint32_t Refused(uint32_t code, uint32_t status) {
    if (status != WD_STATUS_UNKNOWN_REQUEST) return Fail(status, "record too short");
    char text[40];
    std::snprintf(text, sizeof text, "unknown request 0x%lx", static_cast<unsigned long>(code));
    return Fail(status, text);
  }
  const std::string& last() const { return last_; }
  void set_reporter(std::function<void(const std::string&)> reporter) {
    reporter_ = std::move(reporter);
  }

 private:
  std::string last_;
  std::function<void(const std::string&)> reporter_;
};

// strerror's text with a lower-case first letter, as a reason quotes it ("no such device: ...").
inline std::string ErrnoText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

// A number as a reason shows an address or offset: "0x1f4".
inline std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

// The configuration space a function has at most (PCI Express).
constexpr uint32_t kConfigLimit = 4096;

// Why a configuration request is refused before it reaches the function: 1 to 4 bytes, inside the
// first `limit`, and a buffer. "" when none of that is wrong.
inline std::string ConfigRefusal(const WdPciConfigDump& r, uint32_t limit = kConfigLimit) {
  if (r.bytes == 0 || r.bytes > 4 || r.offset >= limit || r.bytes > limit - r.offset ||
      r.buffer == 0) {
    return "configuration access of " + std::to_string(r.bytes) + " bytes at " + Hex(r.offset) +
           " is out of range";
  }
  return "";
}

// The reason a card is refused whose range `r` no function under `root` has as a BAR.
inline std::string NoBarAt(const std::string& root, bool memory, uint32_t start, uint32_t bytes) {
  return "no function under " + root + " has " + (memory ? "a memory" : "an I/O") + " BAR at " +
         Hex(start) + " of " + std::to_string(bytes) + " bytes";
}

// The reason for a transfer of `span` bytes at `address` that no registered range covers.
inline std::string NotCovered(bool memory, uint32_t address, uint64_t span) {
  return std::string("no registered ") + (memory ? "memory" : "I/O") + " range covers " +
         Hex(address) + "-" + Hex(address + span - 1);
}

}  // namespace wd

#endif  // ZARERERA_DRIVER_FAILURE_REASONS_H
