// The PCI IDs of the board this library drives: what tamrelcheck looks for when given vendor 0,
// what the console hosts open by default, and what the simulated board answers with. (Vendor and
// device are the other way round from the bare PLX 9050's own, 10B5:9050.)
#ifndef ZARERERA_DRIVER_BOARD_IDS_H
#define ZARERERA_DRIVER_BOARD_IDS_H

#include <cstdint>

namespace product_ids {

constexpr uint16_t kVendorId = 0x9050;
constexpr uint16_t kDeviceId = 0x10B5;

}  // namespace product_ids

#endif  // ZARERERA_DRIVER_BOARD_IDS_H
