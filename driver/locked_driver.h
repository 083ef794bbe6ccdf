// The base of the in-process drivers for real hardware (sysfs, VFIO): requests served one at a
// time under the driver's lock, except those a driver serves unlocked (a sleep holds up no other
// request; a handler that locks for itself, around its blocking); the reason of each failure kept
// (LastError) and handed to the reporter a host sets.
#ifndef ZARERERA_DRIVER_LOCKED_DRIVER_H
#define ZARERERA_DRIVER_LOCKED_DRIVER_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "driver/failure_reasons.h"
#include "driver/int_requests.h"
#include "driver/request_driver.h"
#include "driver/wd_records.h"

namespace wd {

class LockedDriver : public RequestDriver {
 public:
  bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                 uint32_t* status) final {
    std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
    if (!ServedUnlocked(code)) guard.lock();
    *status = Serve(device, code, record, size);
    return true;
  }

  // The reason for the latest failed request ("" when none failed yet).
  std::string LastError() const {
    std::lock_guard<std::mutex> guard(lock_);
    return reasons_.last();
  }
  // Called with the reason each time a request fails (under the driver's lock: it must not send
  // requests). Null: none.
  void SetErrorReporter(std::function<void(const std::string&)> reporter) {
    std::lock_guard<std::mutex> guard(lock_);
    reasons_.set_reporter(std::move(reporter));
  }

 protected:
  // Whether requests of `code` are served without the lock: WD_CODE_SLEEP, or an interrupt
  // request whose handler locks for itself.
  virtual bool ServedUnlocked(uint32_t code) const { return code == WD_CODE_SLEEP; }

  // A refused request that came unlocked (its record too short) keeps its reason under the lock,
  // as every other failure does.
  uint32_t Refuse(uint32_t code, uint32_t status) override {
    std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
    if (ServedUnlocked(code)) guard.lock();
    return reasons_.Refused(code, status);
  }
  // Keeps `reason` as the latest failure's; returns `status`, for `return Fail(...)`.
  uint32_t Fail(uint32_t status, const std::string& reason) {
    return reasons_.Fail(status, reason);
  }

  mutable std::mutex lock_;  // held while a request is served (the unlocked ones aside)

 private:
  FailureReasons reasons_;
};

}  // namespace wd

#endif  // ZARERERA_DRIVER_LOCKED_DRIVER_H
