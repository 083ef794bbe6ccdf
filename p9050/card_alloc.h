/* How the bridge library allocates card handles.
 *
 * P9050_Open takes its zero-filled handle record from the allocator set here (calloc unless one
 * is set) and gives it back through the matching release (free). The seam exists so that a
 * refused allocation can be exercised; nothing in the product sets it.
 */
#ifndef ZARERERA_P9050_CARD_ALLOC_H
#define ZARERERA_P9050_CARD_ALLOC_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* (*P9050_AllocFn)(size_t count, size_t size); /* calloc's contract: zero-filled */
typedef void (*P9050_FreeFn)(void* block);

/* NULL for either restores calloc and free. */
void P9050_SetHandleAllocator(P9050_AllocFn alloc, P9050_FreeFn release);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_P9050_CARD_ALLOC_H */
