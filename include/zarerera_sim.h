/* zarerera_sim: the board API of zarerera.h on a simulated machine, for an application's own tests.
 *
 * Link libzarerera_sim instead of libzarerera (CMake: zarerera::zarerera_sim, pkg-config:
 * zarerera-sim) and the same application code opens simulated boards: PLX 9050 cards with their
 * port window (four 8254-style counter groups, the digital input and the output latch) and their
 * serial EEPROM, on a simulated PCI bus. Nothing reaches real hardware.
 *
 * The machine is made when the process first opens the device or calls a function below: by
 * default one board with the default IDs (vendor 0x9050, device 0x10B5) at bus 0, slot 5, its
 * counters clocked at 1 MHz in real time. It stays until the process ends, or until
 * ZarereraSim_Reset or a set-up call replaces it with a fresh one, so that each test of a suite can
 * start from the same machine.
 *
 * Boards are numbered from 0 in the order they were set up; counter groups 0-3 and counters 0-2 as
 * on the board. A call with a number outside those ranges changes nothing and returns
 * ZARERERA_SIM_BAD_ARGUMENT (a call without a result then returns 0).
 *
 * Call these functions from one thread while no board function runs in another.
 *
 * Not modelled here: the board's access timing (the board API's own delay loop still runs), DMA,
 * more than one PCI function per card, and the console prompt of tamrelcheck: with several boards
 * of the IDs it looks for it asks on standard input which one to take, as on a real machine, so a
 * test that does not want to answer gives each board IDs of its own.
 *
 * The header is C89 and C++98 clean.
 */
#ifndef ZARERERA_SIM_H
#define ZARERERA_SIM_H

#include <stdint.h>

#include "zarerera.h"

#if defined(_WIN32)
#define ZARERERA_SIM_API
#else
#define ZARERERA_SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What a call that can be refused returns. */
typedef enum ZarereraSimResult {
  ZARERERA_SIM_OK = 0,
  ZARERERA_SIM_BOARD_OPEN = 1,   /* refused: a board is open (tamrelcheck without tamrelclose) */
  ZARERERA_SIM_BAD_ARGUMENT = 2, /* a board, group, counter, word or input number out of range,
                                    a null pointer, or a slot another board has */
  ZARERERA_SIM_REAL_TIME = 3     /* refused: the machine runs in real time */
} ZarereraSimResult;

#define ZARERERA_SIM_MAX_BOARDS 8

/* ---- The machine ----
 * Each set-up call changes what the machine is made of and replaces the machine with a fresh one
 * so made (as ZarereraSim_Reset does); it is refused with ZARERERA_SIM_BOARD_OPEN while a board is
 * open. Call them first, before setting inputs or faults. */

/* How many boards sit on the bus, 0 to ZARERERA_SIM_MAX_BOARDS. New boards get the default IDs and
 * the next free slot on bus 0 from 5 on; boards kept keep their IDs and slots. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetBoardCount(unsigned count);
/* The PCI vendor and device ID of a board. tamrelcheck(0, ...) looks for 0x9050:0x10B5. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetBoardIds(unsigned board, uint16_t vendorId,
                                                           uint16_t deviceId);
/* Where a board sits: PCI bus 0-255, slot 0-31, function 0. The bus is scanned in bus and slot
 * order, which is the order tamrelcheck counts boards in. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetBoardSlot(unsigned board, unsigned bus,
                                                            unsigned slot);
/* Virtual time (on non-zero) or real time (0, the default). In virtual time the simulated clock
 * stands still until ZarereraSim_AdvanceMicroseconds moves it (the board API never waits on it),
 * so counters give the same values in every run. In real time it follows the monotonic clock. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetVirtualTime(int on);

/* A fresh machine as set up: every board's registers, ports, counters, EEPROM (the default
 * contents) and pins as at power-on, the clock at 0, every fault and the write history cleared.
 * The set-up above stays. Refused with ZARERERA_SIM_BOARD_OPEN while a board is open. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_Reset(void);

/* ---- Time ---- */

/* Moves virtual time on; every counter clocked from it counts the pulses of that time at once.
 * ZARERERA_SIM_REAL_TIME in real time, where nothing moves. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_AdvanceMicroseconds(uint64_t microseconds);
/* Simulated time since the machine was made, in microseconds (rounded down). */
ZARERERA_SIM_API uint64_t ZarereraSim_ElapsedMicroseconds(void);

/* ---- Digital ports ---- */

/* The byte tamreldi reads from now on on board 0 (ZarereraSim_SetBoardDigitalIn: on any board). */
ZARERERA_SIM_API void ZarereraSim_SetDigitalIn(uint8_t value);
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetBoardDigitalIn(unsigned board, uint8_t value);
/* Board 0's output latch, and how many writes reached it since the machine was made. */
ZARERERA_SIM_API uint8_t ZarereraSim_DigitalOut(void);
ZARERERA_SIM_API uint32_t ZarereraSim_DigitalOutWrites(void);
/* A board's output latch writes, oldest first: copies the latest of them, at most `capacity` and
 * at most the 4096 the board keeps, into values[], and returns how many it copied (0 for a board
 * that does not exist). The latch itself is the last of them. */
ZARERERA_SIM_API uint32_t ZarereraSim_DigitalOutHistory(unsigned board, uint8_t* values,
                                                        uint32_t capacity);

/* ---- Counters ----
 * Each group's three counters share one clock input, derived from the simulated clock at a rate
 * (1 MHz at power-on). Each counter has its own GATE input, high at power-on. */

/* The rate of a group's clock input in Hz; 0 disconnects it from the simulated clock, so that only
 * ZarereraSim_PulseCounterClock moves the group. The pulses of the time before count at the old
 * rate. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetCounterClock(unsigned board, unsigned group,
                                                               uint32_t hz);
/* `pulses` falling edges on a group's clock input now, beside those of its rate. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_PulseCounterClock(unsigned board, unsigned group,
                                                                 uint32_t pulses);
/* A counter's GATE input: high (non-zero) or low. Level gating in modes 0, 2, 3 and 4, a rising
 * edge triggers modes 1 and 5 and restarts modes 2 and 3, as on an 8254. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetCounterGate(unsigned board, unsigned group,
                                                              unsigned counter, int high);
/* Puts `count` into a counter's counting element without a port access, as reads show it (BCD in
 * BCD mode; 0 is the top count): a counter whose count was written but not yet loaded counts on
 * from there; one that was never given a count only shows it. Its mode, OUT, count register and
 * latches stay; it expires again when it reaches zero. For tests that start at a count near an
 * edge without waiting for it. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_PreloadCount(unsigned board, unsigned group,
                                                            unsigned counter, uint16_t count);

/* A counter as the chip holds it now, read without disturbing it (no latch is taken or released,
 * no byte flip-flop moves). */
typedef struct ZarereraSimCounterState {
  uint16_t count; /* the counting element as a read shows it (BCD-encoded in BCD mode) */
  uint8_t status; /* the 8254 read-back status: bit 7 OUT, bit 6 null count, bits 5-0 the
                     control word's read/write mode, counting mode and BCD bit */
  uint8_t mode;   /* counting mode 0-5 (control words with 6 and 7 select 2 and 3) */
  int out;        /* the OUT pin, 1 high */
  int gate;       /* the GATE input, 1 high */
} ZarereraSimCounterState;
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_GetCounterState(unsigned board, unsigned group,
                                                               unsigned counter,
                                                               ZarereraSimCounterState* state);

/* ---- Faults ---- */

/* What the next opening of a board (the next tamrelcheck) meets. */
typedef enum ZarereraSimOpenFault {
  ZARERERA_SIM_OPEN_NORMALLY = 0,            /* no fault: cancels one set before */
  ZARERERA_SIM_OPEN_NO_DRIVER = 1,           /* the driver device cannot be opened, as on a machine
                                                without the kernel driver */
  ZARERERA_SIM_OPEN_NO_BOARD = 2,            /* the bus scan finds no card */
  ZARERERA_SIM_OPEN_REGISTRATION_REFUSED = 3 /* the driver refuses to register the card (its
                                                resources are taken) */
} ZarereraSimOpenFault;
/* Arms one fault for the next tamrelcheck only; the opening after it works again. NO_DRIVER is
 * refused with ZARERERA_SIM_BOARD_OPEN while a board is open, since it takes the driver away from
 * the whole process until that opening. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_FailNextOpen(ZarereraSimOpenFault fault);
/* The next `count` port transfers (each tamreldi, tamreldo, tamrelread, tamrelwrite and each byte
 * of tamreljs and tamreljsset is one) fail with an error status and never reach the board: a read
 * then gives 0, a write is lost. 0 cancels what is left. Models a driver error, not a bus error;
 * a failing board is not modelled. */
ZARERERA_SIM_API void ZarereraSim_FailTransfers(uint32_t count);
/* Marks word 0-63 of a board's serial EEPROM worn out (non-zero) or good again: a worn-out cell
 * keeps its old value when written or erased, as a cell past its endurance does; reads work. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetEepromWornOut(unsigned board, unsigned word,
                                                                int worn);
/* A word of a board's serial EEPROM as its cells hold it now (a write still programming is not
 * yet in). The board API itself does not reach the EEPROM. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_GetEepromWord(unsigned board, unsigned word,
                                                             uint16_t* value);

/* ---- Interrupts ----
 * The bridge's local interrupt inputs LINTi1 and LINTi2 are pins that rest high. At the bridge's
 * power-on polarity (active low, INTCSR bits 1 and 4 clear) a low pin asks for an interrupt; INTCSR
 * passes it on when the input's enable (bit 0 / bit 3) and the PCI interrupt enable (bit 6) are
 * set. On the board LINTi1 is also pulled low while OUT of counter 0 in group 0 is high. */

/* Sets pin `input` (1: LINTi1, 2: LINTi2) of a board to `level` (non-zero high, 0 low). */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetLocalInterruptPin(unsigned board, unsigned input,
                                                                    int level);
/* A board's INTCSR as a read shows it (the input status bits 2 and 5 included), 0 for a board that
 * does not exist; and whether its PCI interrupt line is asserted now (1) or not (0). Interrupt
 * delivery to the application is not modelled: the board API has no interrupt calls. */
ZARERERA_SIM_API uint32_t ZarereraSim_Intcsr(unsigned board);
/* Sets a board's INTCSR enables and polarities (bits 0, 1, 3, 4), PCI interrupt enable (bit 6)
 * and software interrupt (bit 7); other bits are ignored (the status bits are the pins'). As a
 * board whose serial EEPROM loads interrupt enables at power-on has them: the board API itself
 * cannot write the bridge's registers. */
ZARERERA_SIM_API ZarereraSimResult ZarereraSim_SetIntcsr(unsigned board, uint32_t value);
ZARERERA_SIM_API int ZarereraSim_PciInterruptAsserted(unsigned board);

/* ---- Leaks ---- */

/* Boards opened and not closed (0 after every tamrelcheck has had its tamrelclose), and device
 * handles of the driver open now (0 when nothing leaks). */
ZARERERA_SIM_API int ZarereraSim_Registrations(void);
ZARERERA_SIM_API int ZarereraSim_OpenHandles(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_SIM_H */
