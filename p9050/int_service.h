/* The interrupt service of a card handle: what the bridge library runs for P9050_IntEnable when
 * the driver accepts the library's own interrupt requests (driver/int_requests.h).
 *
 * A service is a thread owned by the handle. It sends its requests on a device handle of its own,
 * so that waiting never holds up the card's other requests and the card's memory windows stay
 * with the thread that uses the card. Per interrupt it:
 *   1. waits for the interrupt; the driver has run the prepared commands at interrupt time (command
 *      0 fetched INTCSR, command 1 cleared the PCI interrupt enable, masking the card) and copies
 *      what command 0 fetched into the handle;
 *   2. stores `counter`, `lost` and `stopped` in the handle and calls P9050_IntDispatch;
 *   3. re-arms: reads INTCSR and writes it back with the PCI interrupt enable set, by driver
 *      transfers at the prepared commands' address.
 * The handler runs with the card masked. It is where a board-specific acknowledgement belongs:
 * a source it leaves active interrupts again as soon as step 3 re-arms the card, one it clears
 * stays quiet. Interrupts that come while the handler runs are the driver's to count as lost.
 */
#ifndef ZARERERA_P9050_INT_SERVICE_H
#define ZARERERA_P9050_INT_SERVICE_H

#include "p9050_lib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* For a handle whose commands P9050_IntEnable has prepared: asks the driver to enable the
 * interrupt and, when it accepts, marks the handle active and starts the service. Returns FALSE,
 * having changed nothing in the handle, when the driver refuses or the service cannot start (the
 * driver is then told to disable again). */
BOOL P9050_IntServiceStart(P9050_Handle* handle);

/* Ends the handle's service, if one runs: no re-arming from now on, the interrupt disabled at the
 * driver (which wakes the waiting thread), the thread joined and its device handle closed. On
 * return nothing runs for the handle any more and `stopped` is 1. */
void P9050_IntServiceStop(P9050_Handle* handle);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_P9050_INT_SERVICE_H */
