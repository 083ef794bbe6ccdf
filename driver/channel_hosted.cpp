// The device channel served by an in-process driver object (hosted_driver.h).
//
// Opening succeeds while a driver is installed (or a fallback supplies one) and hands out a fresh
// handle; every open handle is counted so that tests can prove nothing leaks. Requests on a handle
// that is not open, or sent after the driver was removed, are not delivered and leave the status
// untouched. Handles are never reused, so a stale handle is never taken for a newer one.
//
// One mutex guards the open handles and the driver; a request holds it only to look its handle up
// (a hash set: a few nanoseconds against the driver's own work), not while the driver serves it.
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "driver/device_channel.h"
#include "driver/hosted_driver.h"

namespace {

constexpr uintptr_t kFirstHandle = 0x1000;
constexpr uintptr_t kHandleStep = 4;

struct HostedState {
  std::mutex lock;
  WdHostedDriver* driver = nullptr;
  std::unordered_set<uintptr_t> open;
  uintptr_t next = kFirstHandle;
  WdHostedDriver* (*fallback)() = nullptr;  // used by opening while no driver is installed
};

HostedState& State() {
  static HostedState state;
  return state;
}

}  // namespace

void WdHosted_Install(WdHostedDriver* driver) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.driver = driver;
}

void WdHosted_SetFallback(WdHostedDriver* (*make)()) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.fallback = make;
}

int WdHosted_OpenHandles() {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return static_cast<int>(s.open.size());
}

extern "C" WdDeviceHandle WdChannel_Open(void) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.driver == nullptr && s.fallback != nullptr) s.driver = s.fallback();
  if (s.driver == nullptr) return WD_INVALID_HANDLE;
  const uintptr_t h = s.next;
  s.next += kHandleStep;
  s.open.insert(h);
  return reinterpret_cast<WdDeviceHandle>(h);
}

extern "C" int WdChannel_Control(WdDeviceHandle device, uint32_t code, void* record,
                                 uint32_t recordSize, uint32_t* status) {
  HostedState& s = State();
  const uintptr_t h = reinterpret_cast<uintptr_t>(device);
  WdHostedDriver* driver = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.open.count(h) == 0) return 0;
    driver = s.driver;
  }
  if (driver == nullptr) return 0;
  return driver->ControlOn(h, code, record, recordSize, status) ? 1 : 0;
}

extern "C" void WdChannel_Close(WdDeviceHandle device) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.open.erase(reinterpret_cast<uintptr_t>(device));  // closing twice changes nothing
}
