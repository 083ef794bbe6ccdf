/* zarerera_sim: the board API of zarerera.h on a simulated board, for an application's own tests.
 *
 * Link libzarerera_sim instead of libzarerera (CMake: zarerera::zarerera_sim, pkg-config:
 * zarerera-sim) and the same application code opens a simulated board: one board with the default
 * IDs on a simulated PCI bus, its counters running in real time, created when the process first
 * opens the device or calls a function below, and kept until the process ends. Nothing reaches
 * real hardware. The functions below let a test set what the board shows and look at what reached
 * it; call them while no board function runs in another thread.
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

/* The byte tamreldi reads from now on. */
ZARERERA_SIM_API void ZarereraSim_SetDigitalIn(uint8_t value);
/* The board's digital output latch, and how many writes reached it since the start. */
ZARERERA_SIM_API uint8_t ZarereraSim_DigitalOut(void);
ZARERERA_SIM_API uint32_t ZarereraSim_DigitalOutWrites(void);
/* Boards opened and not closed (0 after every tamrelcheck has had its tamrelclose), and device
 * handles of the driver open now (0 when nothing leaks). */
ZARERERA_SIM_API int ZarereraSim_Registrations(void);
ZARERERA_SIM_API int ZarereraSim_OpenHandles(void);

#ifdef __cplusplus
}
#endif

#endif /* ZARERERA_SIM_H */
