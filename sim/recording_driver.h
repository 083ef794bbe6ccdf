// A driver that wraps any in-process driver (the simulator, the sysfs driver, another) and keeps,
// for tests, a log of the requests that reach it and faults injected per request code.
//
// - The log holds every request (unless its capacity is set): the code, the record as the wrapped
//   driver left it, and the status, or WD_STATUS_NONE and answered false when none was written.
// - A failed code answers with its status without reaching the wrapped driver, the record
//   untouched; a silenced code is not answered at all (status untouched, record untouched).
//
// Requests may come from several threads: the log and the faults are looked at and written under
// a lock of this driver's own (not held while the wrapped driver serves, so a waiting or sleeping
// request holds up no other), unless the caller serialises requests already
// (Serialised::kByCaller: the simulator, which holds its own lock). The inspection and fault calls
// are for a test's own thread while no request is in flight.
#ifndef ZARERERA_SIM_RECORDING_DRIVER_H
#define ZARERERA_SIM_RECORDING_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "driver/hosted_driver.h"

namespace sim {

struct LoggedRequest {
  uint32_t code;
  std::vector<uint8_t> record;
  uint32_t status;  // as written, or WD_STATUS_NONE when not written
  bool answered;    // false when the status was left untouched
  template <class T>
  T As() const {
    T out{};
    std::memcpy(&out, record.data(), record.size() < sizeof out ? record.size() : sizeof out);
    return out;
  }
};

class RecordingDriver : public WdHostedDriver {
 public:
  enum class Serialised { kHere, kByCaller };
  explicit RecordingDriver(WdHostedDriver& inner, Serialised serialised = Serialised::kHere)
      : inner_(inner), serialised_(serialised) {}

  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    return ControlOn(0, code, record, size, status);
  }
  bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                 uint32_t* status) override;

  const std::vector<LoggedRequest>& log() const { return log_; }
  void ClearLog() { log_.clear(); }
  size_t Count(uint32_t code) const;
  void set_logging(bool on) { logging_ = on; }  // benchmarks switch it off
  // The log keeps the latest `requests` requests (0: none), so that a long-running host stays in
  // bounded memory; unbounded until set.
  void set_log_capacity(size_t requests);

  void FailRequests(uint32_t code, uint32_t status);  // error status, record untouched
  void SilenceRequests(uint32_t code);                // status not written, record untouched
  void ClearFaults();

 private:
  // What a request meets before it reaches the wrapped driver: true when a
  // fault answers it instead (`*answered`, `*status`).
  bool Faulted(uint32_t code, bool* answered, uint32_t* status);
  void Log(uint32_t code, const void* record, uint32_t size, bool answered, uint32_t status);

  WdHostedDriver& inner_;
  Serialised serialised_;
  std::mutex lock_;  // Serialised::kHere: guards the log and the faults
  std::vector<LoggedRequest> log_;
  bool logging_ = true;
  size_t log_capacity_ = SIZE_MAX;
  std::map<uint32_t, uint32_t> failures_;  // code -> status
  std::set<uint32_t> silenced_;
};

}  // namespace sim

#endif  // ZARERERA_SIM_RECORDING_DRIVER_H
