/* zarerera: access to the PLX 9050 PCI I/O board.
 *
 * Open a board with tamrelcheck, use its digital input and output bytes and its counter groups,
 * and release it with tamrelclose. The card handle is opaque.
 *
 * Every port access is bounded by the board's port window (32 bytes on this board): an offset, or
 * a counter group, whose bytes do not all lie inside the window touches nothing; a read gives 0 and
 * a write is dropped. Offsets and group numbers are never taken modulo 2^32, so no value reaches
 * the bridge's own registers or another port by wrapping. Counter groups 0-3 are the board's;
 * groups 4 and 5 lie on the digital ports and are not refused; groups 8 and above lie outside the
 * window and are not touched at all (tamreljs then leaves the caller's array as it was).
 */
#ifndef ZARERERA_H
#define ZARERERA_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ZARERERA_CALL __cdecl
#else
#define ZARERERA_CALL
#endif

#if defined(_WIN32)
#define ZARERERA_API
#else
#define ZARERERA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A handle of an opened board; NULL means no board. */
typedef struct P9050_Handle* ZarereraCard;

/* Finds and opens a board. vendorId 0 looks for the default board (vendor 0x9050, device 0x10B5).
 * With several matching boards the console asks for one, and cardNumber (counted from 1) is
 * opened. Returns NULL when no board could be opened. */
ZARERERA_API ZarereraCard ZARERERA_CALL tamrelcheck(uint32_t vendorId, uint32_t deviceId,
                                                    uint32_t reserved, uint32_t cardNumber);
/* Releases a board; returns 1. */
ZARERERA_API int ZARERERA_CALL tamrelclose(ZarereraCard card);

/* The digital input byte, 0-255. */
ZARERERA_API int ZARERERA_CALL tamreldi(ZarereraCard card);
/* Writes the low 8 bits of value to the digital output. */
ZARERERA_API void ZARERERA_CALL tamreldo(ZarereraCard card, uint32_t reserved, uint32_t value);
/* The byte at offset of the board's port window, 0-255. */
ZARERERA_API int ZARERERA_CALL tamrelread(ZarereraCard card, uint32_t reserved, uint32_t offset);
/* Writes the low 8 bits of value at offset of the board's port window. */
ZARERERA_API void ZARERERA_CALL tamrelwrite(ZarereraCard card, uint32_t reserved, uint32_t offset,
                                            uint32_t value);
/* Programs the three counters of a group: controls[i] is counter i's control byte, followed by a
 * count of zero. */
ZARERERA_API void ZARERERA_CALL tamreljsset(ZarereraCard card, uint32_t reserved,
                                            const uint8_t* controls, uint32_t group);
/* Reads the three counters of a group into values[3 * group + i]: the caller's array must hold
 * at least 3 * (group + 1) entries. Only groups inside the port window are read or stored. */
ZARERERA_API void ZARERERA_CALL tamreljs(ZarereraCard card, uint32_t reserved, uint32_t* values,
                                         uint32_t group);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_H */
