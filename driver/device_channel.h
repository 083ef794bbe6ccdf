/* The device channel: how the library reaches the kernel driver.
 *
 * Three calls with the shape of the Win32 device API. Exactly one implementation is linked, chosen
 * at build time: channel_win32.cpp (CreateFileA / DeviceIoControl / CloseHandle) or
 * channel_hosted.cpp (an in-process driver object, see hosted_driver.h). Nothing above driver/
 * knows which one it talks to.
 */
#ifndef ZARERERA_DRIVER_DEVICE_CHANNEL_H
#define ZARERERA_DRIVER_DEVICE_CHANNEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A pointer-sized device handle; all ones (Win32's INVALID_HANDLE_VALUE) is invalid. */
typedef void* WdDeviceHandle;
#define WD_INVALID_HANDLE ((WdDeviceHandle)(intptr_t)-1)

/* Opens the driver device "\\.\WINDRVR6" with read access, read and write sharing, open-existing
 * and the overlapped flag. Returns WD_INVALID_HANDLE when the driver is not there. */
WdDeviceHandle WdChannel_Open(void);

/* Sends one control request: `record` (recordSize bytes) is the input buffer, which the driver
 * also writes its results into; `status` receives the driver's 4-byte status. No overlapped
 * structure is passed, so the call returns when the driver has finished. Returns the system's own
 * success flag (non-zero on success); a driver may leave *status untouched. */
int WdChannel_Control(WdDeviceHandle device, uint32_t code, void* record, uint32_t recordSize,
                      uint32_t* status);

/* Closes a handle that WdChannel_Open returned. */
void WdChannel_Close(WdDeviceHandle device);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_DRIVER_DEVICE_CHANNEL_H */
