// The simulated driver's request entry point, Simulator::Control, fed a sequence of requests of
// any code, size and record bytes against a bus with two boards (port window behind an I/O BAR3
// on one, behind a memory BAR3 on the other), with stores into the memory windows it maps in
// between.
//
// Records carry addresses in this process that the driver dereferences, as a kernel driver would
// the caller's; a fuzzer must not hand it arbitrary pointers. These fields are neutralised before
// each request (everything else is sent as the input gives it):
// - WdPciConfigDump.buffer: the harness's 4-byte scratch, or 0 (which the driver must refuse);
// - WdTransfer.data of a block command (20-25, 40-45): the harness's scratch or 0, and
//   WdTransfer.bytes reduced modulo (scratch size + 1) so that the block fits the scratch;
// - WdCardRegister memory items of more than 64 KiB but at most 64 MiB (the largest the driver
//   maps) are cut to their low 16 bits, so that one input cannot allocate gigabytes; larger ones
//   are sent as given and must be refused.
//
// Checked on every request: a request answered with an error status leaves the record exactly as
// it came; a transfer changes nothing of its record but the data field; a request not answered
// leaves the status as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/driver_calls.h"
#include "driver/wd_records.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace {

constexpr uint32_t kCodes[] = {
    WD_CODE_VERSION,         WD_CODE_PCI_SCAN,   WD_CODE_PCI_CARD_INFO, WD_CODE_CARD_REGISTER,
    WD_CODE_CARD_UNREGISTER, WD_CODE_PCI_CONFIG, WD_CODE_TRANSFER,      WD_CODE_SLEEP};
constexpr size_t kScratchBytes = 4096;
constexpr uint32_t kLargestMapped = 64u << 20;
constexpr uint32_t kMemoryCap = 0x10000;

uint32_t RecordSize(uint32_t code) {
  switch (code) {
    case WD_CODE_VERSION:
      return sizeof(WdVersion);
    case WD_CODE_PCI_SCAN:
      return sizeof(WdPciScan);
    case WD_CODE_PCI_CARD_INFO:
      return sizeof(WdPciCardInfo);
    case WD_CODE_CARD_REGISTER:
    case WD_CODE_CARD_UNREGISTER:
      return sizeof(WdCardRegister);
    case WD_CODE_PCI_CONFIG:
      return sizeof(WdPciConfigDump);
    case WD_CODE_TRANSFER:
      return sizeof(WdTransfer);
    case WD_CODE_SLEEP:
      return sizeof(WdSleep);
    default:
      return 0;
  }
}

bool IsBlockCommand(uint32_t command) {
  return (command >= WD_RP_SBYTE && command <= WD_WP_SDWORD) ||
         (command >= WD_RM_SBYTE && command <= WD_WM_SDWORD);
}

template <class T>
T Get(const std::vector<uint8_t>& record) {
  T out;
  std::memcpy(&out, record.data(), sizeof out);
  return out;
}

template <class T>
void Put(std::vector<uint8_t>& record, const T& value) {
  std::memcpy(record.data(), &value, sizeof value);
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "sim_request: %s\n", what);
    std::abort();
  }
}

struct MappedWindow {
  uint32_t cardHandle;
  uint8_t* memory;
  uint32_t bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  sim::Simulator simulator;
  simulator.set_logging(in.ConsumeBool());
  sim::AddBoard(simulator);
  sim::BoardConfig memoryBoard;
  memoryBoard.slot = 6;
  memoryBoard.ports_in_memory = true;
  sim::AddBoard(simulator, memoryBoard);

  static uint8_t scratch[kScratchBytes];
  std::vector<MappedWindow> windows;

  for (int requests = 0; requests < 64 && in.remaining_bytes() > 0; ++requests) {
    // Now and then a store into a mapped window, as the library makes them.
    if (!windows.empty() && in.ConsumeIntegralInRange<int>(0, 3) == 0) {
      const MappedWindow& w = windows[in.ConsumeIntegralInRange<size_t>(0, windows.size() - 1)];
      const uint32_t offset = in.ConsumeIntegralInRange<uint32_t>(0, w.bytes - 1);
      const uint32_t value = in.ConsumeIntegral<uint32_t>();
      const uint32_t width = std::min<uint32_t>(w.bytes - offset, 4);
      std::memcpy(w.memory + offset, &value, width);
    }

    const uint8_t pick = in.ConsumeIntegral<uint8_t>();
    const uint32_t code =
        pick < 240 ? kCodes[pick % std::size(kCodes)] : in.ConsumeIntegral<uint32_t>();
    uint32_t recordSize = RecordSize(code);
    const uint8_t sizing = in.ConsumeIntegral<uint8_t>();
    if (sizing >= 224) recordSize = in.ConsumeIntegralInRange<uint32_t>(0, 2100);
    const bool nullRecord = sizing == 223;

    std::vector<uint8_t> record = in.ConsumeBytes<uint8_t>(recordSize);
    record.resize(recordSize, 0);

    if (code == WD_CODE_PCI_CONFIG && recordSize >= sizeof(WdPciConfigDump)) {
      auto r = Get<WdPciConfigDump>(record);
      r.buffer = (r.buffer & 1) != 0 ? 0 : WD_TO_UPTR(scratch);
      Put(record, r);
    }
    if (code == WD_CODE_TRANSFER && recordSize >= sizeof(WdTransfer)) {
      auto r = Get<WdTransfer>(record);
      if (IsBlockCommand(r.command)) {
        r.data.ptr = (r.data.ptr & 1) != 0 ? 0 : WD_TO_UPTR(scratch);
        r.bytes %= kScratchBytes + 1;
        Put(record, r);
      }
    }
    if (code == WD_CODE_CARD_REGISTER && recordSize >= sizeof(WdCardRegister)) {
      auto r = Get<WdCardRegister>(record);
      for (WdItem& item : r.card.items) {
        if (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes > kMemoryCap &&
            item.u.mem.bytes <= kLargestMapped) {
          item.u.mem.bytes &= kMemoryCap - 1;
        }
      }
      Put(record, r);
    }

    const std::vector<uint8_t> sent = record;
    uint32_t status = 0x5A5A5A5Au;
    void* pointer = nullRecord ? nullptr : (record.empty() ? nullptr : record.data());
    const bool answered = simulator.Control(code, pointer, recordSize, &status);
    if (!answered) {
      Check(status == 0x5A5A5A5Au, "an unanswered request wrote a status");
      continue;
    }
    if (status != 0) {
      Check(record == sent, "a refused request changed its record");
      continue;
    }
    if (nullRecord || record.empty()) continue;
    if (code == WD_CODE_TRANSFER) {
      constexpr size_t kData = offsetof(WdTransfer, data);
      Check(std::memcmp(record.data(), sent.data(), kData) == 0 &&
                std::memcmp(record.data() + sizeof(WdTransfer), sent.data() + sizeof(WdTransfer),
                            recordSize - sizeof(WdTransfer)) == 0,
            "a transfer changed more than its data field");
    }
    if (code == WD_CODE_CARD_REGISTER) {
      const auto r = Get<WdCardRegister>(record);
      if (r.checkLockOnly == 0) {
        const uint32_t count = WdDriver_ItemCount(&r.card);
        for (uint32_t i = 0; i < count; ++i) {
          const WdItem& item = r.card.items[i];
          if (item.kind == WD_ITEM_MEMORY && item.u.mem.bytes != 0) {
            Check(item.u.mem.userAddress != 0, "a registered memory item has no mapping");
            windows.push_back(
                {r.cardHandle, WD_FROM_UPTR(uint8_t*, item.u.mem.userAddress), item.u.mem.bytes});
          }
        }
      }
    }
    if (code == WD_CODE_CARD_UNREGISTER) {
      const uint32_t handle = Get<WdCardRegister>(record).cardHandle;
      std::erase_if(windows, [handle](const MappedWindow& w) { return w.cardHandle == handle; });
    }
  }
  return 0;
}
