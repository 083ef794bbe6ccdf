/* Request records exchanged with the WinDriver kernel driver.
 *
 * These records are a wire format: the driver reads and writes them in place, so every offset and
 * size is pinned below. On 32-bit targets the layout is the driver's native one. On 64-bit targets
 * the two fields that carry an address in the calling process (the memory item's user address and
 * the configuration-access buffer) widen to 64 bits; the memory item's user address absorbs the
 * unused word after it, so only WdPciConfigDump changes size.
 *
 * Every record is zeroed in full before its input fields are set; a field the driver does not
 * answer therefore reads as 0.
 */
#ifndef ZARERERA_DRIVER_WD_RECORDS_H
#define ZARERERA_DRIVER_WD_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define WD_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define WD_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
#define WD_POINTER_BITS 32
typedef uint32_t WdUPtr; /* an address in the calling process */
#else
#define WD_POINTER_BITS 64
typedef uint64_t WdUPtr;
#endif

/* Request codes: Windows control codes with transfer method 3 (the driver uses the record in
 * place). Macros: they lie above INT_MAX, which a C enumerator cannot hold. */
#define WD_CODE_VERSION 0x95382443u
#define WD_CODE_PCI_SCAN 0x9538243bu
#define WD_CODE_PCI_CARD_INFO 0x9538243fu
#define WD_CODE_CARD_REGISTER 0x9538264bu
#define WD_CODE_CARD_UNREGISTER 0x953824afu
#define WD_CODE_PCI_CONFIG 0x9538246bu
#define WD_CODE_TRANSFER 0x95382633u
#define WD_CODE_SLEEP 0x9538249fu

/* Oldest driver accepted, in hundredths (6.22). */
#define WD_MIN_VERSION 622u

/* Status returned when the request was not sent or the driver wrote no status. */
#define WD_STATUS_NONE 0xFFFFFFFFu

/* Transfer command codes. Each memory code is its port counterpart plus 20. */
enum {
  WD_RP_BYTE = 10,
  WD_RP_WORD = 11,
  WD_RP_DWORD = 12,
  WD_WP_BYTE = 13,
  WD_WP_WORD = 14,
  WD_WP_DWORD = 15,
  WD_RP_SBYTE = 20, /* port block reads */
  WD_RP_SWORD = 21,
  WD_RP_SDWORD = 22,
  WD_WP_SBYTE = 23, /* port block writes */
  WD_WP_SWORD = 24,
  WD_WP_SDWORD = 25,
  WD_RM_BYTE = 30,
  WD_RM_WORD = 31,
  WD_RM_DWORD = 32,
  WD_WM_BYTE = 33,
  WD_WM_WORD = 34,
  WD_WM_DWORD = 35,
  WD_RM_SBYTE = 40, /* memory block reads */
  WD_RM_SWORD = 41,
  WD_RM_SDWORD = 42,
  WD_WM_SBYTE = 43, /* memory block writes */
  WD_WM_SWORD = 44,
  WD_WM_SDWORD = 45
};
#define WD_MEMORY_COMMAND_OFFSET 20

/* Item kinds of a card's resource list. */
enum { WD_ITEM_INTERRUPT = 1, WD_ITEM_MEMORY = 2, WD_ITEM_IO = 3, WD_ITEM_BUS = 5 };

#define WD_PCI_CARDS 100 /* slots in a scan result */
#define WD_CARD_ITEMS 20 /* items in a card's resource list */

#pragma pack(push, 4)

typedef struct WdVersion {
  uint32_t version; /* hundredths: 622 is 6.22 */
  char text[128];
} WdVersion;

typedef struct WdPciSlot {
  uint32_t bus;
  uint32_t slot;
  uint32_t function;
} WdPciSlot;

typedef struct WdPciId {
  uint32_t vendorId;
  uint32_t deviceId;
} WdPciId;

typedef struct WdPciScan {
  uint32_t vendorId; /* 0 with deviceId 0: every card */
  uint32_t deviceId;
  uint32_t cardCount;
  WdPciId ids[WD_PCI_CARDS];
  WdPciSlot slots[WD_PCI_CARDS];
} WdPciScan;

typedef struct WdItemMemory {
  uint32_t physAddress;
  uint32_t bytes;
  uint32_t transferAddress; /* used by the driver for kernel transfers */
  WdUPtr userAddress;       /* the process mapping, valid after registration */
#if WD_POINTER_BITS == 32
  uint32_t reserved;
#endif
  uint32_t bar;
} WdItemMemory;

typedef struct WdItemIo {
  uint32_t port;
  uint32_t bytes;
  uint32_t bar;
  uint32_t reserved[3];
} WdItemIo;

typedef struct WdItemInterrupt {
  uint32_t irq;
  uint32_t reserved;
  uint32_t intHandle; /* filled by registration */
  uint32_t reserved2[3];
} WdItemInterrupt;

typedef struct WdItemBus {
  uint32_t busType;
  uint32_t busNumber;
  uint32_t slotFunction;
  uint32_t reserved[3];
} WdItemBus;

typedef struct WdItem {
  uint32_t kind;
  uint32_t reserved[3];
  union {
    WdItemMemory mem;
    WdItemIo io;
    WdItemInterrupt interrupt;
    WdItemBus bus;
  } u;
} WdItem;

typedef struct WdCard {
  uint32_t itemCount;
  WdItem items[WD_CARD_ITEMS];
} WdCard;

typedef struct WdPciCardInfo {
  WdPciSlot pciSlot;
  WdCard card;
} WdPciCardInfo;

typedef struct WdCardRegister {
  WdCard card;
  uint32_t checkLockOnly; /* 0: register for real */
  uint32_t cardHandle;    /* non-zero after a successful registration */
  uint8_t reserved[136];
} WdCardRegister;

typedef struct WdPciConfigDump {
  WdPciSlot pciSlot;
  WdUPtr buffer; /* where the bytes are read to or written from */
  uint32_t offset;
  uint32_t bytes; /* 1 to 4 */
  uint32_t isRead;
  uint32_t result;
} WdPciConfigDump;

typedef union WdTransferData {
  uint8_t byte;
  uint16_t word;
  uint32_t dword;
  uint64_t qword;
  WdUPtr ptr; /* block transfers: the caller's buffer */
} WdTransferData;

typedef struct WdTransfer {
  uint32_t address;
  uint32_t command;
  uint32_t bytes;         /* block length; 0 for a single transfer */
  uint32_t autoIncrement; /* 1 for blocks */
  uint32_t options;
  uint32_t reserved;
  WdTransferData data;
} WdTransfer;

typedef struct WdSleep {
  uint32_t microseconds;
  uint32_t options;
} WdSleep;

#pragma pack(pop)

/* Converts between a pointer and the address field that carries it. */
#define WD_TO_UPTR(p) ((WdUPtr)(uintptr_t)(p))
#define WD_FROM_UPTR(type, a) ((type)(uintptr_t)(a))

/* Layout, for both widths. */
WD_STATIC_ASSERT(sizeof(WdVersion) == 132, "WdVersion size");
WD_STATIC_ASSERT(sizeof(WdPciSlot) == 12, "WdPciSlot size");
WD_STATIC_ASSERT(offsetof(WdPciScan, cardCount) == 8, "WdPciScan.cardCount");
WD_STATIC_ASSERT(offsetof(WdPciScan, ids) == 12, "WdPciScan.ids");
WD_STATIC_ASSERT(offsetof(WdPciScan, slots) == 812, "WdPciScan.slots");
WD_STATIC_ASSERT(sizeof(WdPciScan) == 2012, "WdPciScan size");
WD_STATIC_ASSERT(offsetof(WdItem, u) == 16, "WdItem kind-specific part");
WD_STATIC_ASSERT(offsetof(WdItem, u.mem.physAddress) == 16, "memory start");
WD_STATIC_ASSERT(offsetof(WdItem, u.mem.bytes) == 20, "memory bytes");
WD_STATIC_ASSERT(offsetof(WdItem, u.mem.transferAddress) == 24, "memory transfer address");
WD_STATIC_ASSERT(offsetof(WdItem, u.mem.userAddress) == 28, "memory user address");
WD_STATIC_ASSERT(offsetof(WdItem, u.mem.bar) == 36, "memory bar");
WD_STATIC_ASSERT(offsetof(WdItem, u.io.port) == 16, "io port");
WD_STATIC_ASSERT(offsetof(WdItem, u.io.bytes) == 20, "io bytes");
WD_STATIC_ASSERT(offsetof(WdItem, u.io.bar) == 24, "io bar");
WD_STATIC_ASSERT(offsetof(WdItem, u.interrupt.irq) == 16, "interrupt irq");
WD_STATIC_ASSERT(offsetof(WdItem, u.interrupt.intHandle) == 24, "interrupt handle");
WD_STATIC_ASSERT(offsetof(WdItem, u.bus.busType) == 16, "bus type");
WD_STATIC_ASSERT(offsetof(WdItem, u.bus.busNumber) == 20, "bus number");
WD_STATIC_ASSERT(offsetof(WdItem, u.bus.slotFunction) == 24, "bus slot/function");
WD_STATIC_ASSERT(sizeof(WdItem) == 40, "WdItem size");
WD_STATIC_ASSERT(offsetof(WdCard, items) == 4, "WdCard.items");
WD_STATIC_ASSERT(sizeof(WdCard) == 804, "WdCard size");
WD_STATIC_ASSERT(offsetof(WdPciCardInfo, card) == 12, "WdPciCardInfo.card");
WD_STATIC_ASSERT(sizeof(WdPciCardInfo) == 816, "WdPciCardInfo size");
WD_STATIC_ASSERT(offsetof(WdCardRegister, checkLockOnly) == 804, "check-lock-only flag");
WD_STATIC_ASSERT(offsetof(WdCardRegister, cardHandle) == 808, "card handle");
WD_STATIC_ASSERT(sizeof(WdCardRegister) == 948, "WdCardRegister size");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, buffer) == 12, "config buffer");
WD_STATIC_ASSERT(offsetof(WdTransfer, command) == 4, "transfer command");
WD_STATIC_ASSERT(offsetof(WdTransfer, bytes) == 8, "transfer bytes");
WD_STATIC_ASSERT(offsetof(WdTransfer, autoIncrement) == 12, "transfer autoIncrement");
WD_STATIC_ASSERT(offsetof(WdTransfer, options) == 16, "transfer options");
WD_STATIC_ASSERT(offsetof(WdTransfer, data) == 24, "transfer data");
WD_STATIC_ASSERT(sizeof(WdTransferData) == 8, "transfer data size");
WD_STATIC_ASSERT(sizeof(WdTransfer) == 32, "WdTransfer size");
WD_STATIC_ASSERT(sizeof(WdSleep) == 8, "WdSleep size");

#if WD_POINTER_BITS == 32
WD_STATIC_ASSERT(sizeof(WdItemMemory) == 24, "memory item part");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, offset) == 16, "config offset");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, bytes) == 20, "config bytes");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, isRead) == 24, "config isRead");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, result) == 28, "config result");
WD_STATIC_ASSERT(sizeof(WdPciConfigDump) == 32, "WdPciConfigDump size");
#else
WD_STATIC_ASSERT(sizeof(WdItemMemory) == 24, "memory item part");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, offset) == 20, "config offset");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, bytes) == 24, "config bytes");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, isRead) == 28, "config isRead");
WD_STATIC_ASSERT(offsetof(WdPciConfigDump, result) == 32, "config result");
WD_STATIC_ASSERT(sizeof(WdPciConfigDump) == 36, "WdPciConfigDump size");
#endif

#endif /* ZARERERA_DRIVER_WD_RECORDS_H */
