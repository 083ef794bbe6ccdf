// The device channel served by an in-process driver object (hosted_driver.h).
//
// Opening succeeds while a driver is installed and hands out a fresh handle; every open handle is
// counted so that tests can prove nothing leaks. Requests on a handle that is not open, or sent
// after the driver was removed, are not delivered and leave the status untouched.
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "driver/device_channel.h"
#include "driver/hosted_driver.h"

namespace {

struct HostedState {
  std::mutex lock;
  WdHostedDriver* driver = nullptr;
  std::unordered_set<uintptr_t> open;
  uintptr_t next = 0x1000;
};

HostedState& State() {
  static HostedState state;
  return state;
}

}  // namespace

void WdHosted_Install(WdHostedDriver* driver) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().driver = driver;
}

int WdHosted_OpenHandles() {
  std::lock_guard<std::mutex> guard(State().lock);
  return static_cast<int>(State().open.size());
}

extern "C" WdDeviceHandle WdChannel_Open(void) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.driver == nullptr) return WD_INVALID_HANDLE;
  uintptr_t h = s.next;
  s.next += 4;
  s.open.insert(h);
  return reinterpret_cast<WdDeviceHandle>(h);
}

extern "C" int WdChannel_Control(WdDeviceHandle device, uint32_t code, void* record,
                                 uint32_t recordSize, uint32_t* status) {
  HostedState& s = State();
  WdHostedDriver* driver;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.open.count(reinterpret_cast<uintptr_t>(device)) == 0) return 0;
    driver = s.driver;
  }
  if (driver == nullptr) return 0;
  return driver->Control(code, record, recordSize, status) ? 1 : 0;
}

extern "C" void WdChannel_Close(WdDeviceHandle device) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.open.erase(reinterpret_cast<uintptr_t>(device));
}
