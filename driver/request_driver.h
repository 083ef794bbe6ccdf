// The base of every in-process driver: one place that decodes a request, checks its record's size,
// serves it on a copy of the record and copies the copy back only when it succeeded, so that each
// driver writes only what a request does (a typed handler per request code).
//
// Decoding, for every code of driver/wd_records.h and driver/int_requests.h:
// - A null record, or one shorter than its code's record: Refuse(code, WD_STATUS_RECORD_TOO_SHORT).
// - An unknown code, and the interrupt requests while ServesInterrupts() is false (whatever the
//   record): Refuse(code, WD_STATUS_UNKNOWN_REQUEST).
// - Otherwise the handler runs on a copy; the copy goes back into the record when it returns 0.
//   A transfer is the hot request and writes at most its data field: it is served in place when
//   the record is aligned for it.
// The status the handler (or Refuse) returns is the request's status; Serve always answers.
#ifndef ZARERERA_DRIVER_REQUEST_DRIVER_H
#define ZARERERA_DRIVER_REQUEST_DRIVER_H

#include <cstdint>

#include "driver/hosted_driver.h"
#include "driver/int_requests.h"
#include "driver/wd_records.h"

namespace wd {

constexpr uintptr_t kNoDevice = 0;  // a request sent without a device handle (Control)

class RequestDriver : public WdHostedDriver {
 public:
  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    return ControlOn(kNoDevice, code, record, size, status);
  }
  // Serves the request; a driver that locks or synchronises around requests overrides this and
  // calls Serve inside.
  bool ControlOn(uintptr_t device, uint32_t code, void* record, uint32_t size,
                 uint32_t* status) override {
    *status = Serve(device, code, record, size);
    return true;
  }

 protected:
  // Decodes request `code` and calls its handler; returns the status. An aligned transfer is
  // decoded here, where a driver's own request path can inline it.
  uint32_t Serve(uintptr_t device, uint32_t code, void* record, uint32_t size) {
    if (code == WD_CODE_TRANSFER && record != nullptr && size >= sizeof(WdTransfer) &&
        reinterpret_cast<uintptr_t>(record) % alignof(WdTransfer) == 0) {
      return Transfer(*static_cast<WdTransfer*>(record));  // in place: the hot request
    }
    return ServeOnCopy(device, code, record, size);
  }

  virtual uint32_t Version(WdVersion& r) = 0;
  virtual uint32_t Scan(WdPciScan& r) = 0;
  virtual uint32_t CardInfo(WdPciCardInfo& r) = 0;
  virtual uint32_t Register(WdCardRegister& r, uintptr_t device) = 0;
  virtual uint32_t Unregister(WdCardRegister& r) = 0;
  virtual uint32_t Config(WdPciConfigDump& r) = 0;
  virtual uint32_t Transfer(WdTransfer& r) = 0;
  virtual uint32_t Sleep(WdSleep& r) = 0;
  // The interrupt requests, asked only while ServesInterrupts() holds.
  virtual bool ServesInterrupts() const { return false; }
  virtual uint32_t IntEnable(WdIntRequest& r);
  virtual uint32_t IntWait(WdIntRequest& r);
  virtual uint32_t IntDisable(WdIntRequest& r);
  // A request refused before any handler ran, with the status it gets (a driver that keeps the
  // reasons of failures overrides this); returns the status to answer.
  virtual uint32_t Refuse(uint32_t code, uint32_t status);

 private:
  uint32_t ServeOnCopy(uintptr_t device, uint32_t code, void* record, uint32_t size);
  template <class T, class Handler>
  uint32_t OnCopy(uint32_t code, void* record, uint32_t size, Handler handler);
  uint32_t Interrupt(uint32_t code, void* record, uint32_t size);
};

// Item builders for card information: each appends one item (zeroed, then its fields) and returns
// it, or returns null and leaves the card as it was when its list is full.
WdItem* AddMemoryItem(WdCard& card, uint32_t bar, uint32_t start, uint32_t bytes);
WdItem* AddIoItem(WdCard& card, uint32_t bar, uint32_t port, uint32_t bytes);
WdItem* AddInterruptItem(WdCard& card, uint32_t irq);
// A PCI bus item: bus type 5, slot/function as slot << 3 | function.
WdItem* AddBusItem(WdCard& card, const WdPciSlot& slot);

// A memory or I/O item with at least one byte: a range a registration maps.
inline bool IsRange(const WdItem& item) {
  return (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes != 0) ||
         (item.kind == WD_ITEM_IO && item.u.io.bytes != 0);
}
// The card's first range item (of its items, WD_CARD_ITEMS at most), or null when it has none.
const WdItem* FirstRange(const WdCard& card);
// Where a memory or I/O item lies: its kind, start (physical address or port), bytes and BAR.
struct ItemRange {
  bool memory;
  uint32_t start;
  uint32_t bytes;
  uint32_t bar;
};
inline ItemRange ItemRangeOf(const WdItem& item) {
  const bool memory = item.kind == WD_ITEM_MEMORY;
  return memory ? ItemRange{true, item.u.mem.physAddress, item.u.mem.bytes, item.u.mem.bar}
                : ItemRange{false, item.u.io.port, item.u.io.bytes, item.u.io.bar};
}

// Scan builders: ClearScan empties the list (the IDs asked for stay); AddScanned appends a function
// when its IDs match those asked for (a zero ID matches any) and returns whether the list has room
// for another, so that a scan stops once it is full.
void ClearScan(WdPciScan& r);
bool AddScanned(WdPciScan& r, const WdPciId& id, const WdPciSlot& slot);

}  // namespace wd

#endif  // ZARERERA_DRIVER_REQUEST_DRIVER_H
