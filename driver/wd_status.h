/* Error statuses the in-process drivers answer with (0 is success). The library reads results from
 * the records and mostly does not look at a status; tests and tools do, so every in-process driver
 * (the simulator, the Linux sysfs driver) uses the same few. */
#ifndef ZARERERA_DRIVER_WD_STATUS_H
#define ZARERERA_DRIVER_WD_STATUS_H

#define WD_STATUS_UNKNOWN_REQUEST 0x20000001u   /* no such request code */
#define WD_STATUS_RECORD_TOO_SHORT 0x20000002u  /* record shorter than the code's record */
#define WD_STATUS_INVALID_PARAMETER 0x20000003u /* a field out of its range; a failed access */
#define WD_STATUS_NO_SUCH_CARD 0x20000004u      /* no function at the slot; unknown card handle */
#define WD_STATUS_RESOURCE_BUSY 0x20000005u     /* refused: registration, permission, read-only */
#define WD_STATUS_NO_MEMORY 0x20000006u         /* a window could not be mapped */

#endif /* ZARERERA_DRIVER_WD_STATUS_H */
