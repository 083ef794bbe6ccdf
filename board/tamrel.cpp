// The board API: the eight exported functions. Each is a thin sequence of bridge-library byte
// accesses on address space 3, paced by the access delay exactly where the board needs it.
#include <stdio.h>
#include <stdlib.h>

#include "board/port_map.h"
#include "p9050/console_io.h"
#include "p9050_lib.h"
#include "zarerera.h"

namespace {

// The choice typed at the card prompt, read as "%d" would read it. A number beyond int's range
// (undefined behaviour for "%d") counts as out of range. Returns FALSE when nothing parses.
BOOL ParseChoice(const char* text, long long* choice) {
  char* end = NULL;
  const long long value = strtoll(text, &end, 10);
  if (end == text) return FALSE;
  *choice = value;
  return TRUE;
}

}  // namespace

extern "C" {

ZARERERA_API ZarereraCard ZARERERA_CALL tamrelcheck(uint32_t vendorId, uint32_t deviceId,
                                                    uint32_t reserved, uint32_t cardNumber) {
  (void)reserved;
  if (vendorId == 0) {
    vendorId = BOARD_DEFAULT_VENDOR;
    deviceId = BOARD_DEFAULT_DEVICE;
  }
  const uint32_t count = P9050_CountCards(vendorId, deviceId);
  if (count == 0) return NULL;

  uint32_t boardNumber = 1;
  if (count > 1) {
    FILE* out = P9050_ConsoleOut();
    fprintf(out, "Found %d matching PCI cards\n", (int)count);
    fprintf(out, "Select card (1-%d): ", (int)count);
    // Neither the read's result nor the parse is looked at: at end of input the buffer keeps the
    // previous line, and a line without a number leaves the preset.
    long long choice = 2;
    P9050_ConsoleReadWholeLine();
    ParseChoice(P9050_LineBuf, &choice);
    if (choice < 1 || choice > (long long)count) {
      fprintf(out, "Choice out of range\n");
      fflush(out);
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
  const uint8_t value = P9050_ReadByte(card, BOARD_SPACE, BOARD_DIGITAL_IN);
  Board_AccessDelay();
  return value;
}

ZARERERA_API void ZARERERA_CALL tamreldo(ZarereraCard card, uint32_t reserved, uint32_t value) {
  (void)reserved;
  if (card == NULL) return;
  P9050_WriteByte(card, BOARD_SPACE, BOARD_DIGITAL_OUT, (uint8_t)value);
  Board_AccessDelay();
}

ZARERERA_API int ZARERERA_CALL tamrelread(ZarereraCard card, uint32_t reserved, uint32_t offset) {
  (void)reserved;
  if (card == NULL) return 0;
  return P9050_ReadByte(card, BOARD_SPACE, offset);
}

ZARERERA_API void ZARERERA_CALL tamrelwrite(ZarereraCard card, uint32_t reserved, uint32_t offset,
                                            uint32_t value) {
  (void)reserved;
  if (card == NULL) return;
  P9050_WriteByte(card, BOARD_SPACE, offset, (uint8_t)value);
}

ZARERERA_API void ZARERERA_CALL tamreljsset(ZarereraCard card, uint32_t reserved,
                                            const uint8_t* controls, uint32_t group) {
  (void)reserved;
  if (card == NULL || controls == NULL) return;
  const uint32_t base = BOARD_GROUP_STRIDE * group;
  for (uint32_t i = 0; i < BOARD_GROUP_COUNTERS; ++i) {
    // Control byte first, then the count as two zero bytes (low, high): a count of 0 is the
    // longest the counter can run.
    P9050_WriteByte(card, BOARD_SPACE, base + BOARD_GROUP_CONTROL, controls[i]);
    Board_AccessDelay();
    P9050_WriteByte(card, BOARD_SPACE, base + i, 0);
    Board_AccessDelay();
    P9050_WriteByte(card, BOARD_SPACE, base + i, 0);
    Board_AccessDelay();
  }
}

ZARERERA_API void ZARERERA_CALL tamreljs(ZarereraCard card, uint32_t reserved, uint32_t* values,
                                         uint32_t group) {
  (void)reserved;
  if (card == NULL || values == NULL) return;
  const uint32_t base = BOARD_GROUP_STRIDE * group;
  for (uint32_t i = 0; i < BOARD_GROUP_COUNTERS; ++i) {
    // No latch command: the two bytes are read straight from the running counter, low first.
    Board_AccessDelay();
    const uint32_t low = P9050_ReadByte(card, BOARD_SPACE, base + i);
    Board_AccessDelay();
    const uint32_t high = P9050_ReadByte(card, BOARD_SPACE, base + i);
    Board_AccessDelay();
    values[BOARD_GROUP_COUNTERS * group + i] = high * 256 + low;
  }
}

}  // extern "C"
