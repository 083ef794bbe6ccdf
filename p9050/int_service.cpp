// The interrupt service thread of a card handle (see int_service.h).
#include "p9050/int_service.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "driver/driver_request.h"
#include "driver/int_requests.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace {

struct IntService;
void Serve(IntService* service);

// The thread and the lock, from the system's own threads on Windows (the DLL then links no thread
// library besides the system's), from the C++ library elsewhere. Locked and unlocked by hand, so
// that nothing here needs unwinding code (which would bring the C++ runtime's terminate handler
// and its own printf into the DLL).
#ifdef _WIN32
struct Lock {
  void Init() { InitializeCriticalSection(&section); }
  void Destroy() { DeleteCriticalSection(&section); }
  void lock() { EnterCriticalSection(&section); }
  void unlock() { LeaveCriticalSection(&section); }
  CRITICAL_SECTION section;
};
struct Thread {
  HANDLE handle = nullptr;
  static DWORD WINAPI Run(LPVOID service) {
    Serve(static_cast<IntService*>(service));
    return 0;
  }
  bool Start(IntService* service) {
    handle = CreateThread(nullptr, 0, Run, service, 0, nullptr);
    return handle != nullptr;
  }
  void Join() {
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
  }
};
#else
struct Lock {
  void Init() {}
  void Destroy() {}
  void lock() { mutex.lock(); }
  void unlock() { mutex.unlock(); }
  std::mutex mutex;
};
struct Thread {
  std::thread thread;
  bool Start(IntService* service) {
    try {
      thread = std::thread(Serve, service);
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }
  void Join() { thread.join(); }
};
#endif

struct IntService {
  P9050_Handle* handle = nullptr;
  WdDeviceHandle device = WD_INVALID_HANDLE;  // the service's own
  Lock lock;                                  // re-arming against stopping
  bool stopping = false;
  Thread thread;
};

// From malloc rather than the C++ library's nothrow new, and constructed without a call that could
// throw: no exception handling code here, which would bring the runtime's terminate handler (and
// MinGW's own printf) into the DLL.
IntService* NewService() {
  void* memory = malloc(sizeof(IntService));
  if (memory == nullptr) return nullptr;
  IntService* service = new (memory) IntService;
  service->lock.Init();
  return service;
}

void FreeService(IntService* service) {
  if (service == nullptr) return;
  service->lock.Destroy();
  service->~IntService();
  free(service);
}

WdIntRequest Request(const P9050_Handle* handle) {
  WdIntRequest r;
  memset(&r, 0, sizeof r);
  r.intHandle = handle->intHandle;
  r.options = handle->options;
  r.commandCount = handle->commandCount;
  r.commands = WD_TO_UPTR(handle->commands);
  return r;
}

void DisableAtDriver(P9050_Handle* handle) {
  WdIntRequest r = Request(handle);
  (void)DriverRequest(WD_CODE_INT_DISABLE, handle->device, &r, sizeof r, 0);
}

// Sets the PCI interrupt enable again: INTCSR read and written by transfers at the prepared
// commands' address, on the service's own device handle.
void ReArm(IntService* service) {
  const P9050_Handle* handle = service->handle;
  WdTransfer transfer;
  memset(&transfer, 0, sizeof transfer);
  transfer.address = handle->transfers[P9050_INT_CMD_READ].address;
  transfer.command = handle->transfers[P9050_INT_CMD_READ].command;
  (void)DriverRequest(WD_CODE_TRANSFER, service->device, &transfer, sizeof transfer, 0);
  const uint32_t intcsr = transfer.data.dword;
  memset(&transfer, 0, sizeof transfer);
  transfer.address = handle->transfers[P9050_INT_CMD_WRITE].address;
  transfer.command = handle->transfers[P9050_INT_CMD_WRITE].command;
  transfer.data.dword = intcsr | P9050_INTCSR_PCI_INT_ENABLE;
  (void)DriverRequest(WD_CODE_TRANSFER, service->device, &transfer, sizeof transfer, 0);
}

void Serve(IntService* service) {
  P9050_Handle* handle = service->handle;
  for (;;) {
    WdIntRequest wait = Request(handle);
    const uint32_t status = DriverRequest(WD_CODE_INT_WAIT, service->device, &wait, sizeof wait, 0);
    if (status != 0 || wait.stopped != 0) break;
    handle->counter = wait.counter;
    handle->lost = wait.lost;
    handle->stopped = 0;
    P9050_IntDispatch(handle);
    // No re-arming once stopping has begun: the lock orders a re-arm against P9050_IntDisable.
    service->lock.lock();
    const bool stopping = service->stopping;
    if (!stopping) ReArm(service);
    service->lock.unlock();
    if (stopping) break;
  }
  handle->stopped = 1;
}

}  // namespace

extern "C" BOOL P9050_IntServiceStart(P9050_Handle* handle) {
  WdIntRequest enable = Request(handle);
  if (DriverRequest(WD_CODE_INT_ENABLE, handle->device, &enable, sizeof enable, 0) != 0) {
    return FALSE;
  }
  IntService* service = NewService();
  if (service != nullptr) service->device = WdChannel_Open();
  if (service == nullptr || service->device == WD_INVALID_HANDLE) {
    DisableAtDriver(handle);
    FreeService(service);
    return FALSE;
  }
  service->handle = handle;
  handle->counter = 0;
  handle->lost = 0;
  handle->stopped = 0;
  handle->active = 1;  // before the thread exists, so that the caller sees it at once
  if (!service->thread.Start(service)) {
    handle->active = 0;
    DisableAtDriver(handle);
    WdChannel_Close(service->device);
    FreeService(service);
    return FALSE;
  }
  handle->service = service;
  return TRUE;
}

extern "C" void P9050_IntServiceStop(P9050_Handle* handle) {
  IntService* service = static_cast<IntService*>(handle->service);
  if (service == nullptr) return;
  service->lock.lock();
  service->stopping = true;
  service->lock.unlock();
  DisableAtDriver(handle);
  service->thread.Join();
  WdChannel_Close(service->device);
  FreeService(service);
  handle->service = nullptr;
}
