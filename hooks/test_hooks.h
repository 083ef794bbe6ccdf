/* Seams the tests reach into the product through. No product header declares these and no
 * application can see them: only the libraries that define them and the test programs have this
 * header on their include path. Nothing in the product calls them.
 */
#ifndef ZARERERA_HOOKS_TEST_HOOKS_H
#define ZARERERA_HOOKS_TEST_HOOKS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Board API: access delays run so far in this process, modulo 2^32 (take differences); lets the
 * pacing of each export be checked. Safe to call while boards are used from other threads. */
uint32_t Board_AccessDelays(void);

/* Bridge library: how card handles are allocated. P9050_Open takes its zero-filled handle record
 * from the allocator set here (calloc unless one is set) and gives it back through the matching
 * release (free), so that a refused allocation can be exercised. */
typedef void* (*P9050_AllocFn)(size_t count, size_t size); /* calloc's contract: zero-filled */
typedef void (*P9050_FreeFn)(void* block);

/* NULL for either restores calloc and free. */
void P9050_SetHandleAllocator(P9050_AllocFn alloc, P9050_FreeFn release);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_HOOKS_TEST_HOOKS_H */
