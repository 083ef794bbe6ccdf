/* An application of libzarerera.so that makes no call besides the board API: it opens the board,
 * writes the digital output, reads the digital input and closes. Run by
 * shared_library_on_sysfs.sh with a fabricated board at /sys/bus/pci/devices. */
#include <stdio.h>

#include "zarerera.h"

int main(void) {
  ZarereraCard card = tamrelcheck(0, 0, 0, 1);
  if (card == NULL) {
    printf("no board\n");
    return 1;
  }
  tamreldo(card, 0, 0xa5);
  printf("digital input 0x%02x\n", (unsigned)tamreldi(card));
  tamrelclose(card);
  return 0;
}
