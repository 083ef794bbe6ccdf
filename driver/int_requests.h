/* Interrupt service requests: requests of this library's own, not the WinDriver kernel driver's.
 *
 * The kernel driver's requests (wd_records.h) let the library prepare an interrupt but not service
 * it. These three carry the service between the bridge library and an in-process driver on the
 * hosted channel (the simulator). Their codes lie outside the kernel driver's device type, and the
 * Win32 channel never sends them: it refuses them as a driver without them would, leaving the
 * status untouched. A driver that does not know them refuses them too (any status other than 0);
 * the library then services nothing, exactly as without them.
 *
 *   WD_CODE_INT_ENABLE   `intHandle`, `options` and the commands (`commands`, `commandCount`):
 *                        from now on, each interrupt of the card runs the commands, in order,
 *                        at interrupt time, then is counted. The driver keeps its own copy of
 *                        the commands.
 *   WD_CODE_INT_WAIT     `intHandle`, and `commands` / `commandCount` where the results go:
 *                        returns at the next interrupt not yet handed out, or at once when one
 *                        is pending, with `counter` (interrupts taken so far), `lost` (those that
 *                        came while the service was busy and so were never handed out) and
 *                        `stopped` 0. With option 2 set at enable, the data fields of the
 *                        commands as last run are copied into `commands`. Returns `stopped` 1
 *                        once the interrupt is disabled (also when that happens while it waits).
 *   WD_CODE_INT_DISABLE  `intHandle`: the interrupt is no longer serviced; a waiter wakes with
 *                        `stopped` 1.
 */
#ifndef ZARERERA_DRIVER_INT_REQUESTS_H
#define ZARERERA_DRIVER_INT_REQUESTS_H

#include <stdint.h>

#include "driver/wd_records.h"

/* Windows control codes of a device type of our own (0x5A52), transfer method 3. */
enum {
  WD_CODE_INT_ENABLE = 0x5A522007u,
  WD_CODE_INT_WAIT = 0x5A52200Bu,
  WD_CODE_INT_DISABLE = 0x5A52200Fu
};

/* Whether `code` is one of the requests above. */
#define WD_IS_INT_REQUEST(code) \
  ((code) == WD_CODE_INT_ENABLE || (code) == WD_CODE_INT_WAIT || (code) == WD_CODE_INT_DISABLE)

/* Option bit: copy what the read commands fetched back into the caller's commands. */
#define WD_INT_OPTION_COPY_DATA 0x2u

#pragma pack(push, 4)

typedef struct WdIntRequest {
  uint32_t intHandle;    /* the card's interrupt item's handle, from registration */
  uint32_t options;      /* enable: option bits */
  uint32_t commandCount; /* enable, wait: WdTransfer entries at `commands` */
  uint32_t counter;      /* wait, result */
  uint32_t lost;         /* wait, result */
  uint32_t stopped;      /* wait, result: 1 when the interrupt was disabled */
  WdUPtr commands;       /* enable: the commands; wait: where their data goes */
} WdIntRequest;

#pragma pack(pop)

WD_STATIC_ASSERT(offsetof(WdIntRequest, counter) == 12, "WdIntRequest.counter");
WD_STATIC_ASSERT(offsetof(WdIntRequest, commands) == 24, "WdIntRequest.commands");
WD_STATIC_ASSERT(sizeof(WdIntRequest) == 24 + sizeof(WdUPtr), "WdIntRequest size");

#endif /* ZARERERA_DRIVER_INT_REQUESTS_H */
