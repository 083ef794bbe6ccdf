// The bridge's PCI interrupt enable (INTCSR bit 6) and what an interrupt service needs from the
// card handle: two prepared transfer commands that fetch INTCSR and write it back with the enable
// cleared (masking the bridge's interrupt until it is serviced), the option bits and the user's
// handler. The service itself (enabling at the driver, waiting, counting) is int_service.cpp; it
// calls P9050_IntDispatch once per interrupt after the commands have run.
#include <string.h>

#include "driver/int_requests.h"
#include "p9050/int_service.h"
#include "p9050_lib.h"

namespace {

constexpr uint32_t kPreparedCommands = 2;

}  // namespace

extern "C" BOOL P9050_IntEnable(P9050_Handle* handle, P9050_IntHandler handler) {
  if (handle->active) return FALSE;
  const uint32_t intcsr = P9050_ReadReg(handle, P9050_INTCSR);

  memset(handle->transfers, 0, sizeof handle->transfers);
  const P9050_AddrDesc* regs = &handle->addrDesc[P9050_SPACE_REGS];
  const uint32_t address = regs->transferAddress + P9050_INTCSR;
  WdTransfer* fetch = &handle->transfers[P9050_INT_CMD_READ];
  fetch->address = address;
  fetch->command = regs->isMemory ? WD_RM_DWORD : WD_RP_DWORD;
  WdTransfer* mask = &handle->transfers[P9050_INT_CMD_WRITE];
  mask->address = address;
  mask->command = regs->isMemory ? WD_WM_DWORD : WD_WP_DWORD;
  mask->data.dword = intcsr & ~P9050_INTCSR_PCI_INT_ENABLE;

  handle->commandCount = kPreparedCommands;
  handle->commands = handle->transfers;
  // The driver copies what the read command fetches back into it, so that the dispatch sees the
  // INTCSR value of the interrupt.
  handle->options |= WD_INT_OPTION_COPY_DATA;
  handle->handler = handler;

  P9050_WriteReg(handle, P9050_INTCSR, intcsr | P9050_INTCSR_PCI_INT_ENABLE);
  // With a driver that services interrupts, a service now runs and the handle is active; with one
  // that refuses, nothing more happens.
  (void)P9050_IntServiceStart(handle);
  return TRUE;
}

// A handle enabled with a NULL handler has nothing to call: the interrupt is dropped rather than
// jumping through a null pointer.
extern "C" void P9050_IntDispatch(P9050_Handle* handle) {
  P9050_IntResult result;
  result.counter = handle->counter;
  result.lost = handle->lost;
  result.stopped = handle->stopped;
  result.status = handle->transfers[P9050_INT_CMD_READ].data.dword;
  if (handle->handler != NULL) handle->handler(handle, &result);
}
