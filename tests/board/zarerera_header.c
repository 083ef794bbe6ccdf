/* zarerera.h as an application written in C sees it: every declaration must compile as C. */
#include "zarerera.h"

typedef ZarereraCard (*CheckFn)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef int (*CloseFn)(ZarereraCard);
typedef void (*CountersFn)(ZarereraCard, uint32_t, uint32_t*, uint32_t);

CheckFn zarerera_header_check = tamrelcheck;
CloseFn zarerera_header_close = tamrelclose;
CountersFn zarerera_header_counters = tamreljs;
