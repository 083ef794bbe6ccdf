// `list`: the boards on the bus, like lspci: one line each, and with -v their resources.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "driver/driver_calls.h"
#include "errors.h"

namespace zcmd {

namespace {

struct Region {
  uint32_t bar;
  bool memory;
  uint64_t address;
  uint64_t bytes;
  bool reachable = true;  // false: above 4 GiB, where the driver's records cannot reach it
};

struct Function {
  size_t index = 0;
  WdPciSlot slot;
  WdPciId ids;
  std::vector<Region> regions;
  bool hasIrq = false;
  uint32_t irq = 0;
};

// lspci's sizes: bytes, or K, M, G, T when the size is a whole number of them.
std::string SizeText(uint64_t bytes) {
  static const char* const kUnits[] = {"", "K", "M", "G", "T"};
  uint64_t value = bytes;
  size_t unit = 0;
  while (value != 0 && value % 1024 == 0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  return std::to_string(value) + kUnits[unit];
}

void ReadResources(const Session& session, WdDeviceHandle device, Function* f) {
  WdPciCardInfo info;
  if (WdDriver_CardInfo(device, f->slot, &info) != 0) {
    throw Failure("cannot read the resources of " + SlotText(f->slot));
  }
  const uint32_t items = WdDriver_ItemCount(&info.card);
  for (uint32_t i = 0; i < items; ++i) {
    const WdItem& item = info.card.items[i];
    switch (item.kind) {
      case WD_ITEM_MEMORY:
        f->regions.push_back({item.u.mem.bar, true, item.u.mem.physAddress, item.u.mem.bytes});
        break;
      case WD_ITEM_IO:
        f->regions.push_back({item.u.io.bar, false, item.u.io.port, item.u.io.bytes});
        break;
      case WD_ITEM_INTERRUPT:
        f->hasIrq = true;
        f->irq = item.u.interrupt.irq;
        break;
      default:
        break;
    }
  }
  for (const Session::HighRegion& r : session.HighRegions(f->slot)) {
    f->regions.push_back({r.bar, r.memory, r.start, r.bytes, false});
  }
  std::stable_sort(f->regions.begin(), f->regions.end(),
                   [](const Region& a, const Region& b) { return a.bar < b.bar; });
}

// The bridge chip's own IDs, which it shows when no EEPROM (or a blank one) loads the board's.
constexpr uint32_t kChipVendorId = 0x10b5;
constexpr uint32_t kChipDeviceId = 0x9050;

// When `list` finds no board: why it may be, on standard error, one line each. Standard output
// stays empty (or the empty JSON list), as a script expects of a bus without the board.
void PrintNoBoardHints(const Session& session, const Config& config, const IdFilter& ids,
                       const WdPciScan& scan) {
  const uint32_t count = WdDriver_ScanCount(&scan);
  std::vector<std::string> hints;
  if (count == 0) {
    hints.push_back(
        config.driver == Driver::kSysfs
            ? "the bus scan found no PCI function at all under " + config.sysfsRoot +
                  ": is it the PCI devices directory, and is this user permitted to read it?"
            : "the bus scan found no PCI function at all");
  } else {
    hints.push_back("no function with IDs " + IdFilterText(ids) + " among the " +
                    Count(count, "function") + " on the bus; list --all shows them");
  }
  for (uint32_t i = 0; i < count; ++i) {
    const WdPciSlot& slot = scan.slots[i];
    const WdPciId& id = scan.ids[i];
    if (id.vendorId == kChipVendorId && id.deviceId == kChipDeviceId &&
        !ids.Matches(id.vendorId, id.deviceId)) {
      hints.push_back(SlotText(slot) +
                      " is a PLX 9050 showing the chip's own IDs 10b5:9050, as it does when no "
                      "EEPROM sets the board's (this board's EEPROM gives 9050:10b5); -d "
                      "10b5:9050 reaches it");
    }
    if (!session.HighRegions(slot).empty()) {
      hints.push_back(SlotText(slot) + " " + IdsText(id.vendorId, id.deviceId) +
                      " has BARs above 4 GiB, which the driver cannot reach (list --all -v "
                      "shows them)");
    }
  }
  for (const std::string& hint : hints) std::fprintf(stderr, "zarerera: %s\n", hint.c_str());
}

// The functions as JSON, one object each.
nlohmann::ordered_json FunctionsJson(const std::vector<Function>& functions) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (size_t i = 0; i < functions.size(); ++i) {
    const Function& f = functions[i];
    nlohmann::ordered_json regions = nlohmann::ordered_json::array();
    for (const Region& r : f.regions) {
      regions.push_back({{"region", r.bar},
                         {"type", r.memory ? "memory" : "io"},
                         {"address", Hex(r.address, r.memory ? 8 : 4)},
                         {"size", r.bytes},
                         {"reachable", r.reachable}});
    }
    list.push_back({{"index", f.index},
                    {"slot", SlotText(f.slot)},
                    {"bus", Hex(f.slot.bus, 2)},
                    {"device", Hex(f.slot.slot, 2)},
                    {"function", Hex(f.slot.function, 1)},
                    {"vendor_id", Hex(f.ids.vendorId, 4)},
                    {"device_id", Hex(f.ids.deviceId, 4)},
                    {"regions", regions},
                    {"irq", f.hasIrq ? nlohmann::ordered_json(f.irq) : nullptr}});
  }
  return list;
}

// The functions as lines, each with its regions and interrupt under -v.
std::string FunctionsText(const std::vector<Function>& functions, bool verbose) {
  std::string text;
  for (size_t i = 0; i < functions.size(); ++i) {
    const Function& f = functions[i];
    text += Format("%zu %s %s\n", f.index, SlotText(f.slot).c_str(),
                   IdsText(f.ids.vendorId, f.ids.deviceId).c_str());
    if (!verbose) continue;
    for (const Region& r : f.regions) {
      text += Format(r.memory ? "\tRegion %u: Memory at %08llx [size=%s]"
                              : "\tRegion %u: I/O ports at %04llx [size=%s]",
                     r.bar, static_cast<unsigned long long>(r.address), SizeText(r.bytes).c_str());
      text += r.reachable ? "\n" : " (above 4 GiB: not reachable)\n";
    }
    if (f.hasIrq) text += Format("\tIRQ %u\n", f.irq);
  }
  return text;
}

}  // namespace

int RunList(Session& session, const Config& config) {
  const IdFilter ids = ParseIds(config.ids);
  const SlotFilter slots = config.slot.empty() ? SlotFilter{} : ParseSlot(config.slot);
  WdPciScan scan;
  WdDeviceHandle device = session.OpenDevice();
  std::vector<Function> functions;
  try {
    const uint32_t status = WdDriver_Scan(device, 0, 0, &scan);
    if (status != 0) throw Failure(Format("the bus scan failed (status 0x%08x)", status));
    const uint32_t count = WdDriver_ScanCount(&scan);
    size_t listed = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (!config.all && !ids.Matches(scan.ids[i].vendorId, scan.ids[i].deviceId)) continue;
      // The index stays the one --board takes: among the functions with the IDs.
      const size_t index = listed++;
      if (!slots.Matches(scan.slots[i])) continue;
      Function f;
      f.index = index;
      f.slot = scan.slots[i];
      f.ids = scan.ids[i];
      if (config.verbose || config.json) ReadResources(session, device, &f);
      functions.push_back(f);
    }
  } catch (...) {
    WdChannel_Close(device);
    throw;
  }
  WdChannel_Close(device);
  if (functions.empty() && !config.all && config.slot.empty()) {
    PrintNoBoardHints(session, config, ids, scan);
  }

  if (config.json) {
    PrintJson({{"driver", DriverName(config.driver)}, {"functions", FunctionsJson(functions)}});
  } else {
    Print(FunctionsText(functions, config.verbose));
  }
  return kExitOk;
}

}  // namespace zcmd
