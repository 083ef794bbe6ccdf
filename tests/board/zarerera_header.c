/* The installed headers as an application written in C sees them: every declaration must compile
 * as C. */
#include "zarerera.h"
#include "zarerera_sim.h"
#include "zarerera_version.h"

/* A version an application can compare at compile time. */
#if !(ZARERERA_VERSION_NUMBER >= 10000)
#error "ZARERERA_VERSION_NUMBER is not a number of 1.0.0 or later"
#endif

typedef ZarereraCard (*CheckFn)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef int (*CloseFn)(ZarereraCard);
typedef void (*CountersFn)(ZarereraCard, uint32_t, uint32_t*, uint32_t);

CheckFn zarerera_header_check = tamrelcheck;
CloseFn zarerera_header_close = tamrelclose;
CountersFn zarerera_header_counters = tamreljs;
void (*zarerera_header_set_input)(uint8_t) = ZarereraSim_SetDigitalIn;
ZarereraSimResult (*zarerera_header_advance)(uint64_t) = ZarereraSim_AdvanceMicroseconds;
ZarereraSimResult (*zarerera_header_state)(unsigned, unsigned, unsigned,
                                           ZarereraSimCounterState*) = ZarereraSim_GetCounterState;
ZarereraSimResult (*zarerera_header_open_fault)(ZarereraSimOpenFault) = ZarereraSim_FailNextOpen;
const char zarerera_header_version[] = ZARERERA_VERSION_STRING;
