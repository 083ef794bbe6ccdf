// The device channel served by an in-process driver object (hosted_driver.h).
//
// Opening succeeds while a driver is installed (or a fallback supplies one) and hands out a fresh
// handle; every open handle is counted so that tests can prove nothing leaks. Requests on a handle
// that is not open, or sent after the driver was removed, are not delivered and leave the status
// untouched. Handles are never reused, so a stale handle is never taken for a newer one.
//
// One mutex guards the open handles and the driver; a request holds it only to look its handle up,
// not while the driver serves it. Each thread remembers the last handle it found open and the
// driver it found, with the count of changes (a close, an install) seen then: while that count
// stands, a request on the same handle needs no lock (a thread sends request after request on one
// handle, and the lock and the lookup cost as much as a simulated register read).
#include <atomic>
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
  std::atomic<uint64_t> changes{1};  // closes and driver changes so far; changed under the lock
};

// The last handle this thread found open, and its driver, while `changes` stood at that count.
struct LastFound {
  uintptr_t handle = 0;
  uint64_t changes = 0;
  WdHostedDriver* driver = nullptr;
};
thread_local LastFound t_last;

HostedState& State() {
  static HostedState state;
  return state;
}

}  // namespace

void WdHosted_Install(WdHostedDriver* driver) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.driver = driver;
  s.changes.fetch_add(1, std::memory_order_release);
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
  if (s.driver == nullptr && s.fallback != nullptr) {
    s.driver = s.fallback();
    s.changes.fetch_add(1, std::memory_order_release);
  }
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
  if (h != 0 && t_last.handle == h && t_last.changes == s.changes.load(std::memory_order_acquire)) {
    driver = t_last.driver;
  } else {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.open.count(h) == 0) return 0;
    driver = s.driver;
    t_last = {h, s.changes.load(std::memory_order_relaxed), driver};
  }
  if (driver == nullptr) return 0;
  return driver->ControlOn(h, code, record, recordSize, status) ? 1 : 0;
}

extern "C" void WdChannel_Close(WdDeviceHandle device) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.open.erase(reinterpret_cast<uintptr_t>(device));  // closing twice changes nothing
  s.changes.fetch_add(1, std::memory_order_release);
}
