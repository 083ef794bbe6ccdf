/* A kernel-mode stand-in for the WinDriver device, for the tests of the Win32 device channel.
 *
 * It creates "\Device\ZarereraWd" with the link "\DosDevices\WINDRVR6", where the library looks
 * for the driver, and "\Device\ZarereraTestDriver" with a link of the same name, the test's own
 * line (test_driver_protocol.h). Every create, control request and close on the first device is
 * logged with what it brought; each request is answered by the table the test set.
 *
 * Requests of transfer method 3 hand the driver the caller's buffers as they are. This driver is
 * run under wine only, where winedevice receives copies of them, so it reads the input without
 * probing it; it is not meant for a real Windows kernel.
 */
#include <ntddk.h>

#include "test_driver_protocol.h"

static DEVICE_OBJECT* g_wdDevice;
static DEVICE_OBJECT* g_controlDevice;
static KSPIN_LOCK g_lock;
static TdAnswers g_answers;
static TdLog g_log;
static unsigned int g_nextFile;
static unsigned int g_opensNow;
static unsigned int g_linkPresent;

static UNICODE_STRING g_wdName = RTL_CONSTANT_STRING(L"\\Device\\ZarereraWd");
static UNICODE_STRING g_wdLink = RTL_CONSTANT_STRING(L"\\DosDevices\\WINDRVR6");
static UNICODE_STRING g_controlName = RTL_CONSTANT_STRING(L"\\Device\\ZarereraTestDriver");
static UNICODE_STRING g_controlLink = RTL_CONSTANT_STRING(L"\\DosDevices\\ZarereraTestDriver");

/* Appends an event; the caller holds the lock. */
static void Record(const TdEvent* event) {
  if (g_log.count < TD_LOG_EVENTS) {
    g_log.events[g_log.count++] = *event;
  } else {
    ++g_log.lost;
  }
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static unsigned int FileOf(const IO_STACK_LOCATION* stack) {
  return stack->FileObject != NULL ? (unsigned int)(ULONG_PTR)stack->FileObject->FsContext : 0;
}

static NTSTATUS WdCreate(IO_STACK_LOCATION* stack) {
  TdEvent event = {0};
  event.kind = TD_CREATE;
  event.access = stack->Parameters.Create.SecurityContext != NULL
                     ? stack->Parameters.Create.SecurityContext->DesiredAccess
                     : TD_NOT_CARRIED;
  event.sharing = stack->Parameters.Create.ShareAccess;
  event.options = stack->Parameters.Create.Options;
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  event.file = ++g_nextFile;
  ++g_opensNow;
  Record(&event);
  KeReleaseSpinLock(&g_lock, irql);
  if (stack->FileObject != NULL) stack->FileObject->FsContext = (void*)(ULONG_PTR)event.file;
  return STATUS_SUCCESS;
}

static NTSTATUS WdClose(IO_STACK_LOCATION* stack) {
  TdEvent event = {0};
  event.kind = TD_CLOSE;
  event.file = FileOf(stack);
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  --g_opensNow;
  Record(&event);
  KeReleaseSpinLock(&g_lock, irql);
  return STATUS_SUCCESS;
}

/* A request to the WinDriver device: logged, then answered by the table. */
static NTSTATUS WdControl(IRP* irp, IO_STACK_LOCATION* stack) {
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inputBytes = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outputBytes = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const unsigned char* input = stack->Parameters.DeviceIoControl.Type3InputBuffer;
  unsigned char* output = irp->UserBuffer;

  TdEvent event = {0};
  event.kind = TD_REQUEST;
  event.file = FileOf(stack);
  event.code = code;
  event.inputBytes = inputBytes;
  event.outputBytes = outputBytes;
  event.inputHash = input != NULL ? TdHash(input, inputBytes) : TD_NOT_CARRIED;
  event.outputPreset = TD_NOT_CARRIED;
  if (output != NULL && outputBytes >= 4) {
    event.outputPreset = (unsigned int)output[0] | (unsigned int)output[1] << 8 |
                         (unsigned int)output[2] << 16 | (unsigned int)output[3] << 24;
  }

  TdAnswer answer = {0};
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  Record(&event);
  for (unsigned int i = 0; i < g_answers.count; ++i) {
    if (g_answers.answers[i].code == code) {
      answer = g_answers.answers[i];
      break;
    }
  }
  KeReleaseSpinLock(&g_lock, irql);

  if (answer.action == TD_WRITE_NOTHING) return Complete(irp, STATUS_SUCCESS, 0);
  if (answer.action != TD_WRITE_STATUS && answer.action != TD_WRITE_STATUS_WARN) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  if (output == NULL || outputBytes < 4) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  for (int i = 0; i < 4; ++i) output[i] = (unsigned char)(answer.status >> (8 * i));
  return Complete(irp, answer.action == TD_WRITE_STATUS ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW,
                  4);
}

static NTSTATUS SetLink(unsigned int present) {
  NTSTATUS status = STATUS_SUCCESS;
  if (present && !g_linkPresent) {
    status = IoCreateSymbolicLink(&g_wdLink, &g_wdName);
    if (NT_SUCCESS(status)) g_linkPresent = 1;
  } else if (!present && g_linkPresent) {
    status = IoDeleteSymbolicLink(&g_wdLink);
    if (NT_SUCCESS(status)) g_linkPresent = 0;
  }
  return status;
}

/* A request on the test's line. */
static NTSTATUS TestControl(IRP* irp, IO_STACK_LOCATION* stack) {
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  const ULONG inputBytes = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outputBytes = stack->Parameters.DeviceIoControl.OutputBufferLength;
  KIRQL irql;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case TD_SET_ANSWERS: {
      if (inputBytes != sizeof(TdAnswers)) break;
      const TdAnswers* answers = buffer;
      if (answers->count > TD_ANSWERS) break;
      KeAcquireSpinLock(&g_lock, &irql);
      g_answers = *answers;
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case TD_TAKE_LOG: {
      if (outputBytes != sizeof(TdLog)) break;
      KeAcquireSpinLock(&g_lock, &irql);
      *(TdLog*)buffer = g_log;
      g_log.count = 0;
      g_log.lost = 0;
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, sizeof(TdLog));
    }
    case TD_GET_STATE: {
      if (outputBytes != sizeof(TdState)) break;
      TdState* state = buffer;
      KeAcquireSpinLock(&g_lock, &irql);
      state->opensNow = g_opensNow;
      state->linkPresent = g_linkPresent;
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, sizeof(TdState));
    }
    case TD_SET_LINK: {
      if (inputBytes != sizeof(unsigned int)) break;
      return Complete(irp, SetLink(*(const unsigned int*)buffer), 0);
    }
    default:
      break;
  }
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static NTSTATUS NTAPI Dispatch(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (device == g_controlDevice) {
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return TestControl(irp, stack);
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      return Complete(irp, WdCreate(stack), 0);
    case IRP_MJ_CLOSE:
      return Complete(irp, WdClose(stack), 0);
    case IRP_MJ_DEVICE_CONTROL:
      return WdControl(irp, stack);
    default:
      return Complete(irp, STATUS_SUCCESS, 0);
  }
}

static void NTAPI Unload(DRIVER_OBJECT* driver) {
  (void)driver;
  SetLink(0);
  IoDeleteSymbolicLink(&g_controlLink);
  if (g_controlDevice != NULL) IoDeleteDevice(g_controlDevice);
  if (g_wdDevice != NULL) IoDeleteDevice(g_wdDevice);
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
  /* A driver that imports KERNEL32 is first called here as a DLL entry, with the reason code
   * where the registry path goes. */
  if ((ULONG_PTR)registryPath < 0x10000) return STATUS_SUCCESS;

  KeInitializeSpinLock(&g_lock);
  NTSTATUS status =
      IoCreateDevice(driver, 0, &g_wdName, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_wdDevice);
  if (NT_SUCCESS(status)) {
    status =
        IoCreateDevice(driver, 0, &g_controlName, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_controlDevice);
  }
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&g_controlLink, &g_controlName);
  if (NT_SUCCESS(status)) status = SetLink(1);
  if (!NT_SUCCESS(status)) {
    Unload(driver);
    return status;
  }
  for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
  driver->DriverUnload = Unload;
  g_wdDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  g_controlDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
