// The bridge library against a hostile driver: any version, any scan result (card count beyond the
// table included), any resource list for the scanned slots, and for every request code a fault
// chosen by the input (pass, an error status from the n-th request on, or silence). Behind the
// faults sits the simulator with the default board, so a card that gets through opens for real.
// The input then runs open, every access function with any space, offset, width and block mode,
// the EEPROM, the interrupt switch, and close.
//
// Checked after every input: no device handle is left open, and no registration is left unless the
// driver refused the unregistration itself.
//
// Not fuzzed: the user addresses of memory items. They are pointers into this process that the
// library loads and stores through; the simulator's own mappings are the only ones handed over
// (card items given here have userAddress 0, and registration fills in the mapping). Memory items
// of more than 64 KiB but at most 64 MiB are cut to their low 16 bits so that one input cannot map
// gigabytes; larger ones are refused by the driver as they come.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "driver/wd_records.h"
#include "fuzz_bus.h"
#include "p9050_lib.h"

namespace {

constexpr uint32_t kCodes[] = {
    WD_CODE_VERSION,         WD_CODE_PCI_SCAN,   WD_CODE_PCI_CARD_INFO, WD_CODE_CARD_REGISTER,
    WD_CODE_CARD_UNREGISTER, WD_CODE_PCI_CONFIG, WD_CODE_TRANSFER,      WD_CODE_SLEEP};
constexpr uint32_t kLargestMapped = 64u << 20;
constexpr uint32_t kMemoryCap = 0x10000;
constexpr uint32_t kMaxBlock = 512;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "hostile_driver: %s\n", what);
    std::abort();
  }
}

// What the driver does with one request code.
struct Fault {
  enum Kind : uint8_t { kPass, kFail, kSilent } kind = kPass;
  uint32_t from = 0;  // the fault starts with this request of the code (0: the first)
  uint32_t status = 0;
};

class HostileDriver : public WdHostedDriver {
 public:
  explicit HostileDriver(sim::Simulator& simulator) : simulator_(simulator) {}

  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    const uint32_t seen = seen_[code]++;
    if (auto it = faults_.find(code); it != faults_.end() && seen >= it->second.from) {
      if (it->second.kind == Fault::kSilent) return false;
      if (it->second.kind == Fault::kFail) {
        *status = it->second.status;
        return true;
      }
    }
    return simulator_.Control(code, record, size, status);
  }

  void Set(uint32_t code, const Fault& fault) { faults_[code] = fault; }
  // Whether an unregistration could have been refused.
  bool UnregisterFaulted() const { return faults_.count(WD_CODE_CARD_UNREGISTER) != 0; }

 private:
  sim::Simulator& simulator_;
  std::map<uint32_t, Fault> faults_;
  std::map<uint32_t, uint32_t> seen_;
};

WdCard AnyCard(FuzzedDataProvider& in) {
  WdCard card{};
  card.itemCount = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, WD_CARD_ITEMS + 2)
                                    : in.ConsumeIntegral<uint32_t>();
  const uint32_t filled = in.ConsumeIntegralInRange<uint32_t>(0, WD_CARD_ITEMS);
  for (uint32_t i = 0; i < filled; ++i) {
    WdItem& item = card.items[i];
    item.kind = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 6)
                                 : in.ConsumeIntegral<uint32_t>();
    const uint32_t a = in.ConsumeIntegral<uint32_t>();
    uint32_t bytes = in.ConsumeBool() ? uint32_t{1} << in.ConsumeIntegralInRange<int>(0, 31)
                                      : in.ConsumeIntegral<uint32_t>();
    const uint32_t bar = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 7)
                                          : in.ConsumeIntegral<uint32_t>();
    switch (item.kind) {
      case WD_ITEM_MEMORY:
        if (bytes > kMemoryCap && bytes <= kLargestMapped) bytes &= kMemoryCap - 1;
        item.u.mem = {a, bytes, in.ConsumeBool() ? a : in.ConsumeIntegral<uint32_t>(), 0, bar};
        break;
      case WD_ITEM_IO:
        item.u.io.port = a;
        item.u.io.bytes = bytes;
        item.u.io.bar = bar;
        break;
      case WD_ITEM_INTERRUPT:
        item.u.interrupt.irq = a;
        item.u.interrupt.intHandle = bytes;
        break;
      default:
        item.u.bus = {a, bytes, bar, {}};
        break;
    }
  }
  return card;
}

void Handler(P9050_Handle*, P9050_IntResult* result) {
  Check(result != nullptr, "handler without a result");
}

uint32_t AnySpace(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 8)
                          : in.ConsumeIntegral<uint32_t>();
}

uint32_t AnyOffset(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return in.ConsumeIntegralInRange<uint32_t>(0, 0x60);
    case 1:
      return 0u - in.ConsumeIntegralInRange<uint32_t>(0, 8);
    case 2:
      return in.ConsumeIntegralInRange<uint32_t>(0, 0x20000);
    default:
      return in.ConsumeIntegral<uint32_t>();
  }
}

void RunOperations(FuzzedDataProvider& in, P9050_Handle* h) {
  std::vector<uint8_t> buffer;
  for (int op = 0; op < 48 && in.remaining_bytes() > 0; ++op) {
    const uint32_t space = AnySpace(in);
    const uint32_t offset = AnyOffset(in);
    const uint32_t value = in.ConsumeIntegral<uint32_t>();
    switch (in.ConsumeIntegralInRange<int>(0, 31)) {
      case 0:
        (void)P9050_ReadByte(h, space, offset);
        break;
      case 1:
        P9050_WriteByte(h, space, offset, static_cast<uint8_t>(value));
        break;
      case 2:
        (void)P9050_ReadWord(h, space, offset);
        break;
      case 3:
        P9050_WriteWord(h, space, offset, static_cast<uint16_t>(value));
        break;
      case 4:
        (void)P9050_ReadDword(h, space, offset);
        break;
      case 5:
        P9050_WriteDword(h, space, offset, value);
        break;
      case 6:
        (void)P9050_ReadReg(h, offset);
        break;
      case 7:
        P9050_WriteReg(h, offset, value);
        break;
      case 8:
        (void)P9050_ReadPciReg(h, offset);
        break;
      case 9:
        (void)P9050_WritePciReg(h, offset, value);
        break;
      case 10:
      case 11:
      case 12:
      case 13: {
        // The caller's buffer is exactly as long as the block it asks for.
        const uint32_t bytes = in.ConsumeIntegralInRange<uint32_t>(0, kMaxBlock);
        buffer.assign(bytes, static_cast<uint8_t>(value));
        const uint32_t mode = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 3)
                                               : in.ConsumeIntegral<uint32_t>();
        void* data = buffer.empty() ? nullptr : buffer.data();
        const int kind = static_cast<int>(value & 3);
        if (kind == 0) (void)P9050_ReadBlock(h, offset, data, bytes, space, mode);
        if (kind == 1) (void)P9050_WriteBlock(h, offset, data, bytes, space, mode);
        if (kind == 2) (void)P9050_ReadSpaceBlock(h, offset, data, bytes, space, mode);
        if (kind == 3) (void)P9050_WriteSpaceBlock(h, offset, data, bytes, space, mode);
        break;
      }
      case 14:
        P9050_SetLocalBase(h, space, offset);
        break;
      case 15:
        (void)P9050_ReadSpaceByte(h, space, offset);
        break;
      case 16:
        (void)P9050_ReadSpaceWord(h, space, offset);
        break;
      case 17:
        (void)P9050_ReadSpaceDword(h, space, offset);
        break;
      case 18:
        P9050_WriteSpaceByte(h, space, offset, static_cast<uint8_t>(value));
        break;
      case 19:
        P9050_WriteSpaceWord(h, space, offset, static_cast<uint16_t>(value));
        break;
      case 20:
        P9050_WriteSpaceDword(h, space, offset, value);
        break;
      case 21: {
        uint16_t word = 0;
        (void)P9050_EEPROMReadWord(h, offset, &word);
        break;
      }
      case 22:
        (void)P9050_EEPROMWriteWord(h, offset, static_cast<uint16_t>(value));
        break;
      case 23: {
        uint32_t dword = 0;
        (void)P9050_EEPROMReadDword(h, offset, &dword);
        break;
      }
      case 24:
        (void)P9050_EEPROMWriteDword(h, offset, value);
        break;
      case 25:
        (void)P9050_EEPROMValid(h);
        break;
      case 26:
        P9050_EEPROMWriteEnable(h, value & 1);
        break;
      case 27:
        (void)P9050_IntEnable(h, (value & 1) != 0 ? Handler : nullptr);
        break;
      case 28:
        P9050_IntDisable(h);
        break;
      case 29:
        (void)P9050_IntIsEnabled(h);
        P9050_IntDispatch(h);
        break;
      case 30: {
        (void)P9050_IsAddrSpaceActive(h, space);
        WdPciSlot slot;
        P9050_GetPciSlot(h, &slot);
        break;
      }
      default:
        (void)P9050_DetectCardElements(h);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  sim::Simulator simulator;
  simulator.set_logging(false);
  fuzz::AddBoard(simulator, in);
  HostileDriver driver(simulator);
  WdHosted_Install(&driver);

  // The driver's answers.
  if (in.ConsumeBool()) simulator.SetVersion(in.ConsumeIntegral<uint32_t>());
  if (in.ConsumeBool()) {
    WdPciScan scan{};
    scan.cardCount = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, WD_PCI_CARDS + 2)
                                      : in.ConsumeIntegral<uint32_t>();
    const uint32_t listed = in.ConsumeIntegralInRange<uint32_t>(0, 4);
    for (uint32_t i = 0; i < listed; ++i) {
      scan.ids[i] = {in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint16_t>()};
      const bool board = in.ConsumeBool();
      scan.slots[i] =
          board ? WdPciSlot{0, 5, 0}
                : WdPciSlot{in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>(),
                            in.ConsumeIntegral<uint32_t>()};
      if (in.ConsumeBool()) simulator.OverrideCardItems(scan.slots[i], AnyCard(in));
    }
    simulator.OverrideScan(scan);
  } else if (in.ConsumeBool()) {
    simulator.OverrideCardItems(WdPciSlot{0, 5, 0}, AnyCard(in));
  }
  const uint32_t faulted = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  for (uint32_t i = 0; i < faulted; ++i) {
    const uint32_t code = kCodes[in.ConsumeIntegralInRange<size_t>(0, std::size(kCodes) - 1)];
    Fault fault;
    fault.kind = in.ConsumeBool() ? Fault::kFail : Fault::kSilent;
    fault.from = in.ConsumeIntegralInRange<uint32_t>(0, 40);
    fault.status = in.ConsumeBool() ? sim::kStatusInvalidParameter : in.ConsumeIntegral<uint32_t>();
    driver.Set(code, fault);
  }

  // The library's calls.
  const uint32_t vendor =
      in.ConsumeBool() ? sim::wiring::kVendorId : in.ConsumeIntegral<uint32_t>();
  const uint32_t device =
      in.ConsumeBool() ? sim::wiring::kDeviceId : in.ConsumeIntegral<uint32_t>();
  (void)P9050_CountCards(vendor, device);
  Check(WdHosted_OpenHandles() == 0, "counting left a device handle open");
  const uint32_t index =
      in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 3) : in.ConsumeIntegral<uint32_t>();
  const uint32_t options = in.ConsumeIntegral<uint8_t>();
  P9050_Handle* handle = reinterpret_cast<P9050_Handle*>(uintptr_t{1});
  const BOOL opened = P9050_Open(&handle, vendor, device, index, options);
  Check(opened ? handle != nullptr : handle == nullptr, "open's result and handle disagree");
  if (opened) {
    RunOperations(in, handle);
    P9050_Close(handle);
  }
  Check(WdHosted_OpenHandles() == 0, "a device handle is left open");
  Check(driver.UnregisterFaulted() || simulator.registrations() == 0, "a registration is left");
  WdHosted_Install(nullptr);
  return 0;
}
