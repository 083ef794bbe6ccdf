/* Every header with a C interface, as a C11 program sees it (-pedantic: request codes above
 * INT_MAX cannot be enumerators there). */
#include "board/port_map.h"
#include "console/console.h"
#include "diag/p9050_diag.h"
#include "diag/pci_diag.h"
#include "driver/device_channel.h"
#include "driver/driver_calls.h"
#include "driver/driver_request.h"
#include "driver/wd_records.h"
#include "hooks/test_hooks.h"
#include "p9050_lib.h"
#include "zarerera.h"

/* A record type and a request code, used as C uses them. */
static const uint32_t kCode = WD_CODE_TRANSFER;
uint32_t c_headers_code(void) {
  return kCode;
}
