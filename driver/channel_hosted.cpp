// The device channel served by an in-process driver object (hosted_driver.h).
//
// Opening succeeds while a driver is installed and hands out a fresh handle; every open handle is
// counted so that tests can prove nothing leaks. Requests on a handle that is not open, or sent
// after the driver was removed, are not delivered and leave the status untouched.
//
// A request is on the path of every simulated port access, so it takes no lock: open handles sit
// in a fixed table of atomic slots, indexed by the handle's sequence number, that a request probes
// with one load. Opening and closing, which are rare, serialise on a mutex. Handles are never
// reused, so a stale handle finds its slot empty or holding another value. When the slot a new
// handle maps to is still taken by a long-lived handle, the new one goes to an overflow set that
// requests consult (under the mutex) only while it is not empty.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "driver/device_channel.h"
#include "driver/hosted_driver.h"

namespace {

constexpr uintptr_t kFirstHandle = 0x1000;
constexpr uintptr_t kHandleStep = 4;
constexpr size_t kSlots = 1024;  // a power of two

struct HostedState {
  std::mutex lock;  // serialises open, close and install
  std::atomic<WdHostedDriver*> driver{nullptr};
  std::atomic<uintptr_t> slots[kSlots] = {};
  std::unordered_set<uintptr_t> overflow;
  std::atomic<size_t> overflow_size{0};
  std::atomic<int> open_count{0};
  uintptr_t next = kFirstHandle;
};

HostedState& State() {
  static HostedState state;
  return state;
}

size_t SlotOf(uintptr_t handle) {
  return (handle / kHandleStep) & (kSlots - 1);
}

bool IsOpen(HostedState& s, uintptr_t handle) {
  if (s.slots[SlotOf(handle)].load(std::memory_order_acquire) == handle) return true;
  if (s.overflow_size.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> guard(s.lock);
  return s.overflow.count(handle) != 0;
}

}  // namespace

void WdHosted_Install(WdHostedDriver* driver) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.driver.store(driver, std::memory_order_release);
}

int WdHosted_OpenHandles() {
  return State().open_count.load(std::memory_order_acquire);
}

extern "C" WdDeviceHandle WdChannel_Open(void) {
  HostedState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.driver.load(std::memory_order_relaxed) == nullptr) return WD_INVALID_HANDLE;
  const uintptr_t h = s.next;
  s.next += kHandleStep;
  std::atomic<uintptr_t>& slot = s.slots[SlotOf(h)];
  if (slot.load(std::memory_order_relaxed) == 0) {
    slot.store(h, std::memory_order_release);
  } else {
    s.overflow.insert(h);
    s.overflow_size.store(s.overflow.size(), std::memory_order_release);
  }
  s.open_count.fetch_add(1, std::memory_order_release);
  return reinterpret_cast<WdDeviceHandle>(h);
}

extern "C" int WdChannel_Control(WdDeviceHandle device, uint32_t code, void* record,
                                 uint32_t recordSize, uint32_t* status) {
  HostedState& s = State();
  const uintptr_t h = reinterpret_cast<uintptr_t>(device);
  // Handle values outside what was handed out can never be open (0 would match an empty slot).
  if (h < kFirstHandle || h % kHandleStep != 0 || !IsOpen(s, h)) return 0;
  WdHostedDriver* driver = s.driver.load(std::memory_order_acquire);
  if (driver == nullptr) return 0;
  return driver->ControlOn(h, code, record, recordSize, status) ? 1 : 0;
}

extern "C" void WdChannel_Close(WdDeviceHandle device) {
  HostedState& s = State();
  const uintptr_t h = reinterpret_cast<uintptr_t>(device);
  if (h < kFirstHandle || h % kHandleStep != 0) return;
  std::lock_guard<std::mutex> guard(s.lock);
  std::atomic<uintptr_t>& slot = s.slots[SlotOf(h)];
  if (slot.load(std::memory_order_relaxed) == h) {
    slot.store(0, std::memory_order_release);
  } else if (s.overflow.erase(h) != 0) {
    s.overflow_size.store(s.overflow.size(), std::memory_order_release);
  } else {
    return;  // not open: closing twice changes nothing
  }
  s.open_count.fetch_sub(1, std::memory_order_release);
}
