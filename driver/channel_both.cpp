// The device channel of the Windows tools, which talk to either driver: an in-process one (the
// simulated machine of --driver=sim) or the kernel driver's device.
//
// Opening goes to the in-process driver while one is installed, and to the Win32 device
// otherwise. Each handle remembers where it came from: the in-process channel's handles are
// multiples of four, and so are the handles Windows gives out (their two low bits are free for
// the application's use), so the in-process ones are handed out with the lowest bit set and every
// later request and close goes back to the channel that opened the handle, whatever is installed
// by then.
//
// Both channels are compiled into this one file under names of their own; this file defines the
// channel's three calls. Linked as objects into a program, they take the place of the channel in
// the driver library, which is then not linked.
#include <cstdint>

#define WdChannel_Open WdHostedChannel_Open
#define WdChannel_Control WdHostedChannel_Control
#define WdChannel_Close WdHostedChannel_Close
#include "channel_hosted.cpp"
#undef WdChannel_Open
#undef WdChannel_Control
#undef WdChannel_Close

#define WdChannel_Open WdWin32Channel_Open
#define WdChannel_Control WdWin32Channel_Control
#define WdChannel_Close WdWin32Channel_Close
#include "channel_win32.cpp"
#undef WdChannel_Open
#undef WdChannel_Control
#undef WdChannel_Close

namespace {

constexpr uintptr_t kHostedTag = 1;

bool IsHosted(WdDeviceHandle device) {
  return device != WD_INVALID_HANDLE && (reinterpret_cast<uintptr_t>(device) & 3) == kHostedTag;
}

WdDeviceHandle Untagged(WdDeviceHandle device) {
  return reinterpret_cast<WdDeviceHandle>(reinterpret_cast<uintptr_t>(device) & ~kHostedTag);
}

}  // namespace

extern "C" WdDeviceHandle WdChannel_Open(void) {
  const WdDeviceHandle hosted = WdHostedChannel_Open();
  if (hosted != WD_INVALID_HANDLE) {
    return reinterpret_cast<WdDeviceHandle>(reinterpret_cast<uintptr_t>(hosted) | kHostedTag);
  }
  return WdWin32Channel_Open();
}

extern "C" int WdChannel_Control(WdDeviceHandle device, uint32_t code, void* record,
                                 uint32_t recordSize, uint32_t* status) {
  if (IsHosted(device)) {
    return WdHostedChannel_Control(Untagged(device), code, record, recordSize, status);
  }
  return WdWin32Channel_Control(device, code, record, recordSize, status);
}

extern "C" void WdChannel_Close(WdDeviceHandle device) {
  if (device == WD_INVALID_HANDLE) return;
  if (IsHosted(device)) {
    WdHostedChannel_Close(Untagged(device));
  } else {
    WdWin32Channel_Close(device);
  }
}
