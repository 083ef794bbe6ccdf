/* The board's ports in address space 3 (BAR3, the bridge's local address space 1), and the pacing
 * between accesses. Internal to the board API: applications see only zarerera.h. */
#ifndef ZARERERA_BOARD_PORT_MAP_H
#define ZARERERA_BOARD_PORT_MAP_H

#include <stdint.h>

#ifdef __cplusplus
namespace port_map {
constexpr uint32_t kSpace = 3;          // the address space holding every port
constexpr uint32_t kGroupStride = 4;    // counter group g: counters at 4 * g + 0..2
constexpr uint32_t kGroupControl = 3;   // ... and its control port at 4 * g + 3
constexpr uint32_t kGroupCounters = 3;  // counters in a group
constexpr uint32_t kCounterGroups = 4;  // groups on the board
// The 8254's read-back command written to a group's control port: latch the counts (not the
// status) of all three counters at once, so that the three values belong to one instant and no
// count changes between its two bytes.
constexpr uint8_t kReadBackLatchCounts = 0xC0 | 0x10 | 0x0E;
constexpr uint32_t kDigitalIn = 0x10;
constexpr uint32_t kDigitalOut = 0x14;
}  // namespace port_map

extern "C" {
#endif

/* Iterations bound of the access delay (the loop runs from 1 while below it). */
extern int32_t AccessDelayCount;

/* One access delay: AccessDelayCount - 1 iterations, never shortened by the compiler. It is the
 * only time that passes between the board accesses it separates. */
void Board_AccessDelay(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_BOARD_PORT_MAP_H */
