// The simulated bus lays out configuration space by the standard header (driver/pci_config.h);
// sim code names it sim::pci.
#ifndef ZARERERA_SIM_PCI_CONFIG_H
#define ZARERERA_SIM_PCI_CONFIG_H

#include "driver/pci_config.h"

namespace sim {
namespace pci = ::pci;
}  // namespace sim

#endif  // ZARERERA_SIM_PCI_CONFIG_H
