/* counter_test: an application's own test, on the simulated board of libzarerera_sim.
 *
 * The code under test is elapsed_ticks(): it programs a counter group as free-running rate
 * generators and tells how many clock ticks a counter has counted since. With the simulated clock
 * in virtual time the test moves time on by exact amounts, so every count is known in advance and
 * the same in every run. Each case starts on a fresh machine (ZarereraSim_Reset). Prints one line
 * per case and exits 1 when any fails. */
#include <stdio.h>

#include "zarerera.h"
#include "zarerera_sim.h"

/* --- The application code under test. */

/* Counter i: select i, low byte then high byte, mode 2 (rate generator), binary. */
#define RATE_GENERATOR(i) ((uint8_t)(((i) << 6) | 0x30 | (2 << 1)))
#define FULL_COUNT 65536u /* a count of 0 runs the longest: 65536 ticks */

static void start_counting(ZarereraCard card, uint32_t group) {
  const uint8_t controls[3] = {RATE_GENERATOR(0), RATE_GENERATOR(1), RATE_GENERATOR(2)};
  tamreljsset(card, 0, controls, group);
}

/* Ticks counted by counter 0 of `group` since start_counting, modulo 65536: the first tick loads
 * the count, each later one counts it down. */
static uint32_t elapsed_ticks(ZarereraCard card, uint32_t group) {
  uint32_t values[12];
  uint32_t count;
  tamreljs(card, 0, values, group);
  count = values[3 * group] == 0 ? FULL_COUNT : values[3 * group];
  return (FULL_COUNT - count + 1) % FULL_COUNT;
}

/* --- The test. */

static int failures = 0;

static void expect(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) failures = 1;
}

static ZarereraCard fresh_board(void) {
  if (ZarereraSim_Reset() != ZARERERA_SIM_OK) return NULL;
  return tamrelcheck(0, 0, 0, 1);
}

int main(void) {
  ZarereraCard card;
  uint32_t values[12];

  if (ZarereraSim_SetVirtualTime(1) != ZARERERA_SIM_OK) {
    fprintf(stderr, "counter_test: no virtual time\n");
    return 1;
  }

  card = fresh_board();
  expect(card != NULL, "a board opens");
  start_counting(card, 0);
  ZarereraSim_AdvanceMicroseconds(1000);
  tamreljs(card, 0, values, 0);
  expect(values[0] == 64537 && values[1] == 64537 && values[2] == 64537,
         "after 1000 us at 1 MHz each counter reads 64537");
  expect(elapsed_ticks(card, 0) == 1000, "1000 ticks elapsed");
  tamrelclose(card);

  card = fresh_board();
  start_counting(card, 1);
  ZarereraSim_SetCounterClock(0, 1, 250000);
  ZarereraSim_AdvanceMicroseconds(1000);
  expect(elapsed_ticks(card, 1) == 250, "a group clocked at 250 kHz counts 250 ticks in 1 ms");
  tamrelclose(card);

  card = fresh_board();
  start_counting(card, 2);
  ZarereraSim_AdvanceMicroseconds(100);
  ZarereraSim_SetCounterGate(0, 2, 0, 0);
  ZarereraSim_AdvanceMicroseconds(500);
  expect(elapsed_ticks(card, 2) == 100, "a counter stops counting while its gate is low");
  tamrelclose(card);

  card = fresh_board();
  start_counting(card, 0);
  ZarereraSim_AdvanceMicroseconds(FULL_COUNT + 10);
  expect(elapsed_ticks(card, 0) == 10, "the count wraps after 65536 ticks");
  tamrelclose(card);

  ZarereraSim_FailNextOpen(ZARERERA_SIM_OPEN_NO_BOARD);
  card = fresh_board();
  expect(card != NULL, "a reset clears an armed fault");
  tamrelclose(card);
  ZarereraSim_FailNextOpen(ZARERERA_SIM_OPEN_NO_BOARD);
  expect(tamrelcheck(0, 0, 0, 1) == NULL, "without a board on the bus nothing opens");

  expect(ZarereraSim_Registrations() == 0 && ZarereraSim_OpenHandles() == 0,
         "every board was closed");
  return failures;
}
