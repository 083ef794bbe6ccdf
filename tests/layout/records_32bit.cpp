// Compiled with -m32 by the test suite: the static assertions in the record headers then prove the
// driver's 32-bit layout, and these pin the width-dependent parts.
#include "driver/wd_records.h"
#include "p9050_lib.h"

static_assert(WD_POINTER_BITS == 32, "compiled for a 32-bit target");
static_assert(sizeof(WdPciConfigDump) == 32, "configuration access record");
static_assert(offsetof(WdItem, u.mem.reserved) == 32, "unread word after the user address");
static_assert(sizeof(P9050_AddrDesc) == 24, "address-space entry");
