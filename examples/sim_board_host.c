/* sim_board_host: runs board_demo, unchanged, on the simulated board of libzarerera_sim.
 *
 * Linked into the program beside board_demo.c, it sets the board's digital input before main
 * starts and, when the program ends, prints what reached the board: the output latch, the number of
 * writes to it, the boards left open and the driver handles left open (both 0 when the program
 * released everything). This is how an application's own tests run its code on the simulated
 * board. */
#include <stdio.h>
#include <stdlib.h>

#include "zarerera_sim.h"

#define DIGITAL_INPUT 0x5Au

static void report(void) {
  printf(
      "simulated board: output latch 0x%02x after %u write(s), %d registration(s) left, "
      "%d handle(s) open\n",
      (unsigned)ZarereraSim_DigitalOut(), (unsigned)ZarereraSim_DigitalOutWrites(),
      ZarereraSim_Registrations(), ZarereraSim_OpenHandles());
}

__attribute__((constructor)) static void set_up_board(void) {
  ZarereraSim_SetDigitalIn(DIGITAL_INPUT);
  atexit(report);
}
