// The request log and fault injection around any in-process driver (recording_driver.h).
#include "sim/recording_driver.h"

#include <algorithm>
#include <iterator>

#include "driver/wd_records.h"

namespace sim {

bool RecordingDriver::ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                                uint32_t* status) {
  // Nothing to look at or keep: the hot path of a benchmark.
  if (!logging_ && failures_.empty() && silenced_.empty()) {
    return inner_.ControlOn(device, code, record, size, status);
  }
  std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
  if (serialised_ == Serialised::kHere) guard.lock();
  bool answered = true;
  uint32_t result = WD_STATUS_NONE;
  if (!Faulted(code, &answered, &result)) {
    if (guard.owns_lock()) guard.unlock();
    answered = inner_.ControlOn(device, code, record, size, &result);
    if (serialised_ == Serialised::kHere) guard.lock();
  }
  if (answered) *status = result;
  Log(code, record, size, answered, result);
  return answered;
}

bool RecordingDriver::Faulted(uint32_t code, bool* answered, uint32_t* status) {
  if (!silenced_.empty() && silenced_.count(code) != 0) {
    *answered = false;
    return true;
  }
  auto it = failures_.find(code);
  if (it == failures_.end()) return false;
  *status = it->second;
  return true;
}

void RecordingDriver::Log(uint32_t code, const void* record, uint32_t size, bool answered,
                          uint32_t status) {
  if (!logging_ || log_capacity_ == 0) return;
  if (log_.size() >= log_capacity_) {
    log_.erase(log_.begin(), log_.end() - static_cast<std::ptrdiff_t>(log_capacity_ - 1));
  }
  LoggedRequest r{code, {}, answered ? status : WD_STATUS_NONE, answered};
  if (record != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    r.record.assign(bytes, bytes + size);
  }
  log_.push_back(std::move(r));
}

size_t RecordingDriver::Count(uint32_t code) const {
  return static_cast<size_t>(std::count_if(
      log_.begin(), log_.end(), [code](const LoggedRequest& r) { return r.code == code; }));
}

void RecordingDriver::set_log_capacity(size_t requests) {
  log_capacity_ = requests;
  if (log_.size() > requests) {
    log_.erase(log_.begin(), log_.end() - static_cast<std::ptrdiff_t>(requests));
  }
}

void RecordingDriver::FailRequests(uint32_t code, uint32_t status) {
  failures_[code] = status;
}

void RecordingDriver::SilenceRequests(uint32_t code) {
  silenced_.insert(code);
}

void RecordingDriver::ClearFaults() {
  failures_.clear();
  silenced_.clear();
}

}  // namespace sim
