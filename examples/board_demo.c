/* board_demo: what an application does with the board, through zarerera.h alone.
 *
 * Opens the first board, writes the digital output, reads the digital input, programs counter
 * group 0 as three free-running rate generators and reads it twice to see that it counts.
 * Prints what it saw; exits 1 when the board cannot be opened or does not behave. */
#include <stdio.h>

#include "zarerera.h"

/* Counter i of the group: select i, low byte then high byte, mode 2 (rate generator), binary. */
#define RATE_GENERATOR(i) ((uint8_t)(((i) << 6) | 0x30 | (2 << 1)))
#define OUTPUT_PATTERN 0xA5u

int main(void) {
  const uint8_t controls[3] = {RATE_GENERATOR(0), RATE_GENERATOR(1), RATE_GENERATOR(2)};
  uint32_t first[3];
  uint32_t second[3];
  ZarereraCard card;
  int input;
  int failed = 0;
  int i;

  card = tamrelcheck(0, 0, 0, 1);
  if (card == NULL) {
    fprintf(stderr, "board_demo: no board could be opened\n");
    return 1;
  }

  tamreldo(card, 0, OUTPUT_PATTERN);
  printf("digital output 0x%02x\n", OUTPUT_PATTERN);
  input = tamreldi(card);
  printf("digital input 0x%02x\n", (unsigned)input);
  if (input < 0 || input > 0xFF) {
    fprintf(stderr, "board_demo: digital input out of range\n");
    failed = 1;
  }

  tamreljsset(card, 0, controls, 0);
  tamreljs(card, 0, first, 0);
  tamreljs(card, 0, second, 0);
  for (i = 0; i < 3; ++i) {
    printf("counter %d: %u then %u\n", i, (unsigned)first[i], (unsigned)second[i]);
    if (first[i] > 0xFFFFu || second[i] > 0xFFFFu || first[i] == second[i]) {
      fprintf(stderr, "board_demo: counter %d is not counting\n", i);
      failed = 1;
    }
  }
  if (!failed) printf("counters are counting\n");

  if (tamrelclose(card) != 1) {
    fprintf(stderr, "board_demo: closing the board failed\n");
    failed = 1;
  }
  return failed;
}
