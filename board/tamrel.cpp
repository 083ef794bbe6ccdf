// The board API: the eight exported functions. Each is a thin sequence of bridge-library byte
// accesses on address space 3, paced by the access delay exactly where the board needs it.
#include <stddef.h>
#include <stdint.h>

#include "board/port_map.h"
#include "console/console.h"
#include "driver/board_ids.h"
#include "p9050_lib.h"
#include "zarerera.h"

namespace {

// The choice typed at the card prompt, read as "%d" reads it; a line without a number, or with
// one beyond 32 bits, leaves the preset. The result is the choice's 32 bits, compared unsigned.
uint32_t ParseChoice(const char* text, uint32_t preset) {
  uint32_t choice = preset;
  (void)DiagConsole_ParseNumber(text, DIAGCONSOLE_DEC, &choice);
  return choice;
}

// Whether counter group `group`'s ports, 4 * group + 0..3, all lie in the board's port window.
// Summed in 64 bits, so that no group number lands modulo 2^32 on another group or on the digital
// ports. A group inside has a number below 2^30, so its ports and its entries of the caller's
// array, 3 * group + 0..2, are then computed without wrapping in 32 bits too.
BOOL GroupInWindow(ZarereraCard card, uint32_t group) {
  const uint64_t control = uint64_t{port_map::kGroupStride} * group + port_map::kGroupControl;
  return control < card->addrDesc[port_map::kSpace].bytes ? TRUE : FALSE;
}

}  // namespace

extern "C" {

ZARERERA_API ZarereraCard ZARERERA_CALL tamrelcheck(uint32_t vendorId, uint32_t deviceId,
                                                    uint32_t reserved, uint32_t cardNumber) {
  (void)reserved;
  if (vendorId == 0) {
    vendorId = product_ids::kVendorId;
    deviceId = product_ids::kDeviceId;
  }
  const uint32_t count = P9050_CountCards(vendorId, deviceId);
  if (count == 0) return NULL;

  uint32_t boardNumber = 1;
  if (count > 1) {
    DiagConsole_Printf("Found %d matching PCI cards\n", static_cast<int>(count));
    DiagConsole_Printf("Select card (1-%d): ", static_cast<int>(count));
    // Neither the read's result nor the parse is looked at: at end of input the buffer keeps the
    // previous line, and a line without a number leaves the preset.
    DiagConsole_ReadWholeLine();
    const uint32_t choice = ParseChoice(P9050_LineBuf, 2);
    if (choice < 1 || choice > count) {
      DiagConsole_Printf("Choice out of range\n");
      DiagConsole_Flush();
      return NULL;
    }
    // The typed choice only decides whether to go on; the caller's number picks the board.
    boardNumber = cardNumber;
  }

  P9050_Handle* handle = NULL;
  if (!P9050_Open(&handle, vendorId, deviceId, boardNumber - 1, 0)) return NULL;
  return handle;
}

ZARERERA_API int ZARERERA_CALL tamrelclose(ZarereraCard card) {
  if (card != NULL) P9050_Close(card);
  return 1;
}

ZARERERA_API int ZARERERA_CALL tamreldi(ZarereraCard card) {
  if (card == NULL) return 0;
  const uint8_t value = P9050_ReadByte(card, port_map::kSpace, port_map::kDigitalIn);
  Board_AccessDelay();
  return value;
}

ZARERERA_API void ZARERERA_CALL tamreldo(ZarereraCard card, uint32_t reserved, uint32_t value) {
  (void)reserved;
  if (card == NULL) return;
  P9050_WriteByte(card, port_map::kSpace, port_map::kDigitalOut, (uint8_t)value);
  Board_AccessDelay();
}

ZARERERA_API int ZARERERA_CALL tamrelread(ZarereraCard card, uint32_t reserved, uint32_t offset) {
  (void)reserved;
  if (card == NULL) return 0;
  return P9050_ReadByte(card, port_map::kSpace, offset);
}

ZARERERA_API void ZARERERA_CALL tamrelwrite(ZarereraCard card, uint32_t reserved, uint32_t offset,
                                            uint32_t value) {
  (void)reserved;
  if (card == NULL) return;
  P9050_WriteByte(card, port_map::kSpace, offset, (uint8_t)value);
}

ZARERERA_API void ZARERERA_CALL tamreljsset(ZarereraCard card, uint32_t reserved,
                                            const uint8_t* controls, uint32_t group) {
  (void)reserved;
  if (card == NULL || controls == NULL || !GroupInWindow(card, group)) return;
  const uint32_t base = port_map::kGroupStride * group;
  for (uint32_t i = 0; i < port_map::kGroupCounters; ++i) {
    // Control byte first, then the count as two zero bytes (low, high): a count of 0 is the
    // longest the counter can run.
    P9050_WriteByte(card, port_map::kSpace, base + port_map::kGroupControl, controls[i]);
    Board_AccessDelay();
    P9050_WriteByte(card, port_map::kSpace, base + i, 0);
    Board_AccessDelay();
    P9050_WriteByte(card, port_map::kSpace, base + i, 0);
    Board_AccessDelay();
  }
}

ZARERERA_API void ZARERERA_CALL tamreljs(ZarereraCard card, uint32_t reserved, uint32_t* values,
                                         uint32_t group) {
  (void)reserved;
  if (card == NULL || values == NULL || !GroupInWindow(card, group)) return;
  const uint32_t base = port_map::kGroupStride * group;
  const size_t first = static_cast<size_t>(port_map::kGroupCounters) * group;
  for (uint32_t i = 0; i < port_map::kGroupCounters; ++i) {
    // No latch command: the two bytes are read straight from the running counter, low first.
    Board_AccessDelay();
    const uint32_t low = P9050_ReadByte(card, port_map::kSpace, base + i);
    Board_AccessDelay();
    const uint32_t high = P9050_ReadByte(card, port_map::kSpace, base + i);
    Board_AccessDelay();
    values[first + i] = (high << 8) | low;
  }
}

}  // extern "C"
