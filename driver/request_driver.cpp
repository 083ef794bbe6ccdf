// Request decoding for the in-process drivers (request_driver.h), and the card item builders.
#include "driver/request_driver.h"

#include <cstring>

#include "driver/wd_status.h"

namespace wd {

namespace {

constexpr uint32_t kBusTypePci = 5;
constexpr uint32_t kSlotShift = 3;  // slot/function of a bus item: slot << 3 | function

WdItem* AddItem(WdCard& card, uint32_t kind) {
  if (card.itemCount >= WD_CARD_ITEMS) return nullptr;
  WdItem& item = card.items[card.itemCount++];
  std::memset(&item, 0, sizeof item);
  item.kind = kind;
  return &item;
}

}  // namespace

template <class T, class Handler>
uint32_t RequestDriver::OnCopy(uint32_t code, void* record, uint32_t size, Handler handler) {
  if (record == nullptr || size < sizeof(T)) return Refuse(code, WD_STATUS_RECORD_TOO_SHORT);
  T copy;
  std::memcpy(&copy, record, sizeof copy);
  const uint32_t status = handler(copy);
  if (status == 0) std::memcpy(record, &copy, sizeof copy);
  return status;
}

uint32_t RequestDriver::ServeOnCopy(uintptr_t device, uint32_t code, void* record, uint32_t size) {
  switch (code) {
    case WD_CODE_TRANSFER:  // not aligned for serving in place
      return OnCopy<WdTransfer>(code, record, size, [this](WdTransfer& r) { return Transfer(r); });
    case WD_CODE_VERSION:
      return OnCopy<WdVersion>(code, record, size, [this](WdVersion& r) { return Version(r); });
    case WD_CODE_PCI_SCAN:
      return OnCopy<WdPciScan>(code, record, size, [this](WdPciScan& r) { return Scan(r); });
    case WD_CODE_PCI_CARD_INFO:
      return OnCopy<WdPciCardInfo>(code, record, size,
                                   [this](WdPciCardInfo& r) { return CardInfo(r); });
    case WD_CODE_CARD_REGISTER:
      return OnCopy<WdCardRegister>(
          code, record, size, [this, device](WdCardRegister& r) { return Register(r, device); });
    case WD_CODE_CARD_UNREGISTER:
      return OnCopy<WdCardRegister>(code, record, size,
                                    [this](WdCardRegister& r) { return Unregister(r); });
    case WD_CODE_PCI_CONFIG:
      return OnCopy<WdPciConfigDump>(code, record, size,
                                     [this](WdPciConfigDump& r) { return Config(r); });
    case WD_CODE_SLEEP:
      return OnCopy<WdSleep>(code, record, size, [this](WdSleep& r) { return Sleep(r); });
    case WD_CODE_INT_ENABLE:
    case WD_CODE_INT_WAIT:
    case WD_CODE_INT_DISABLE:
      return Interrupt(code, record, size);
    default:
      return Refuse(code, WD_STATUS_UNKNOWN_REQUEST);
  }
}

uint32_t RequestDriver::Interrupt(uint32_t code, void* record, uint32_t size) {
  // A driver without the service does not know these codes, whatever their records.
  if (!ServesInterrupts()) return Refuse(code, WD_STATUS_UNKNOWN_REQUEST);
  return OnCopy<WdIntRequest>(code, record, size, [this, code](WdIntRequest& r) {
    if (code == WD_CODE_INT_ENABLE) return IntEnable(r);
    if (code == WD_CODE_INT_WAIT) return IntWait(r);
    return IntDisable(r);
  });
}

uint32_t RequestDriver::IntEnable(WdIntRequest& r) {
  (void)r;
  return Refuse(WD_CODE_INT_ENABLE, WD_STATUS_UNKNOWN_REQUEST);
}

uint32_t RequestDriver::IntWait(WdIntRequest& r) {
  (void)r;
  return Refuse(WD_CODE_INT_WAIT, WD_STATUS_UNKNOWN_REQUEST);
}

uint32_t RequestDriver::IntDisable(WdIntRequest& r) {
  (void)r;
  return Refuse(WD_CODE_INT_DISABLE, WD_STATUS_UNKNOWN_REQUEST);
}

uint32_t RequestDriver::Refuse(uint32_t code, uint32_t status) {
  (void)code;
  return status;
}

WdItem* AddMemoryItem(WdCard& card, uint32_t bar, uint32_t start, uint32_t bytes) {
  WdItem* item = AddItem(card, WD_ITEM_MEMORY);
  if (item == nullptr) return nullptr;
  item->u.mem.physAddress = start;
  item->u.mem.bytes = bytes;
  item->u.mem.transferAddress = start;
  item->u.mem.bar = bar;
  return item;
}

WdItem* AddIoItem(WdCard& card, uint32_t bar, uint32_t port, uint32_t bytes) {
  WdItem* item = AddItem(card, WD_ITEM_IO);
  if (item == nullptr) return nullptr;
  item->u.io.port = port;
  item->u.io.bytes = bytes;
  item->u.io.bar = bar;
  return item;
}

WdItem* AddInterruptItem(WdCard& card, uint32_t irq) {
  WdItem* item = AddItem(card, WD_ITEM_INTERRUPT);
  if (item == nullptr) return nullptr;
  item->u.interrupt.irq = irq;
  return item;
}

WdItem* AddBusItem(WdCard& card, const WdPciSlot& slot) {
  WdItem* item = AddItem(card, WD_ITEM_BUS);
  if (item == nullptr) return nullptr;
  item->u.bus.busType = kBusTypePci;
  item->u.bus.busNumber = slot.bus;
  item->u.bus.slotFunction = slot.slot << kSlotShift | slot.function;
  return item;
}

const WdItem* FirstRange(const WdCard& card) {
  const uint32_t count = card.itemCount < WD_CARD_ITEMS ? card.itemCount : WD_CARD_ITEMS;
  for (uint32_t i = 0; i < count; ++i) {
    if (IsRange(card.items[i])) return &card.items[i];
  }
  return nullptr;
}

void ClearScan(WdPciScan& r) {
  r.cardCount = 0;
  std::memset(r.ids, 0, sizeof r.ids);
  std::memset(r.slots, 0, sizeof r.slots);
}

bool AddScanned(WdPciScan& r, const WdPciId& id, const WdPciSlot& slot) {
  if (r.cardCount < WD_PCI_CARDS && (r.vendorId == 0 || r.vendorId == id.vendorId) &&
      (r.deviceId == 0 || r.deviceId == id.deviceId)) {
    r.ids[r.cardCount] = id;
    r.slots[r.cardCount] = slot;
    ++r.cardCount;
  }
  return r.cardCount < WD_PCI_CARDS;
}

}  // namespace wd
