/* The standard PCI type-0 configuration header: register offsets and widths. Only the registers
 * the bus diagnostics show are named; capability lists and device-specific space beyond 0x40 are
 * left out. */
#ifndef ZARERERA_DIAG_PCI_CONFIG_H
#define ZARERERA_DIAG_PCI_CONFIG_H

#define PCI_CFG_VENDOR_ID 0x00     /* 2 bytes */
#define PCI_CFG_DEVICE_ID 0x02     /* 2 bytes */
#define PCI_CFG_COMMAND 0x04       /* 2 bytes */
#define PCI_CFG_STATUS 0x06        /* 2 bytes */
#define PCI_CFG_REVISION_ID 0x08   /* 1 byte */
#define PCI_CFG_CLASS_CODE 0x09    /* 3 bytes: programming interface, subclass, base class */
#define PCI_CFG_CACHE_LINE 0x0C    /* 1 byte */
#define PCI_CFG_LATENCY_TIMER 0x0D /* 1 byte */
#define PCI_CFG_HEADER_TYPE 0x0E   /* 1 byte */
#define PCI_CFG_BIST 0x0F          /* 1 byte */
#define PCI_CFG_BAR0 0x10          /* six 4-byte base address registers */
#define PCI_CFG_BAR_STRIDE 4
#define PCI_CFG_BARS 6
#define PCI_CFG_EXPANSION_ROM 0x30  /* 4 bytes */
#define PCI_CFG_CAPABILITIES 0x34   /* 1 byte: offset of the first capability */
#define PCI_CFG_INTERRUPT_LINE 0x3C /* 1 byte */
#define PCI_CFG_INTERRUPT_PIN 0x3D  /* 1 byte */
#define PCI_CFG_MIN_GNT 0x3E        /* 1 byte */
#define PCI_CFG_MAX_LAT 0x3F        /* 1 byte */

#define PCI_CFG_CLASS_CODE_BYTES 3

#endif /* ZARERERA_DIAG_PCI_CONFIG_H */
