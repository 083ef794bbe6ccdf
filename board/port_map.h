/* The board's ports in address space 3 (BAR3, the bridge's local address space 1), and the pacing
 * between accesses. Internal to the board API: applications see only zarerera.h. */
#ifndef ZARERERA_BOARD_PORT_MAP_H
#define ZARERERA_BOARD_PORT_MAP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BOARD_SPACE 3u          /* the address space holding every port */
#define BOARD_GROUP_STRIDE 4u   /* counter group g: counters at 4 * g + 0..2 */
#define BOARD_GROUP_CONTROL 3u  /* ... and its control port at 4 * g + 3 */
#define BOARD_GROUP_COUNTERS 3u /* counters in a group */
#define BOARD_DIGITAL_IN 0x10u
#define BOARD_DIGITAL_OUT 0x14u

/* The IDs tamrelcheck looks for when given vendor 0. */
#define BOARD_DEFAULT_VENDOR 0x9050u
#define BOARD_DEFAULT_DEVICE 0x10B5u

/* Iterations bound of the access delay (the loop runs from 1 while below it). */
extern int32_t AccessDelayCount;

/* One access delay: AccessDelayCount - 1 iterations, never shortened by the compiler. It is the
 * only time that passes between the board accesses it separates. */
void Board_AccessDelay(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_BOARD_PORT_MAP_H */
