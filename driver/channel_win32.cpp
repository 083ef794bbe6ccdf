// The device channel on Windows: the WinDriver device through the Win32 API.
#include <windows.h>

#include "driver/device_channel.h"
#include "driver/int_requests.h"

namespace {
constexpr char kDevicePath[] = "\\\\.\\WINDRVR6";
}

extern "C" WdDeviceHandle WdChannel_Open(void) {
  HANDLE h = CreateFileA(kDevicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return h == INVALID_HANDLE_VALUE ? WD_INVALID_HANDLE : static_cast<WdDeviceHandle>(h);
}

extern "C" int WdChannel_Control(WdDeviceHandle device, uint32_t code, void* record,
                                 uint32_t recordSize, uint32_t* status) {
  // The interrupt service's requests are ours, not the kernel driver's: they never reach it.
  if (WD_IS_INT_REQUEST(code)) return 0;
  DWORD returned = 0;
  return DeviceIoControl(static_cast<HANDLE>(device), code, record, recordSize, status,
                         sizeof(*status), &returned, nullptr)
             ? 1
             : 0;
}

extern "C" void WdChannel_Close(WdDeviceHandle device) {
  CloseHandle(static_cast<HANDLE>(device));
}
