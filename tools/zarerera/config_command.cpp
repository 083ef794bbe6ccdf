// `config`: a function's configuration space, dumped as lspci -x shows it and its registers read
// or set as setpci takes them, on any function of the bus. Every access is one configuration
// request of the register's width; a write is read back.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "driver/driver_calls.h"
#include "driver/pci_config.h"
#include "errors.h"

namespace zcmd {

namespace {

// The standard header's registers (type 0), by setpci's names.
struct ConfigRegister {
  const char* name;
  uint32_t offset;
  uint32_t width;  // bytes
};

constexpr ConfigRegister kConfigRegisters[] = {
    {"VENDOR_ID", 0x00, 2},
    {"DEVICE_ID", 0x02, 2},
    {"COMMAND", 0x04, 2},
    {"STATUS", 0x06, 2},
    {"REVISION", 0x08, 1},
    {"CLASS_PROG", 0x09, 1},
    {"CLASS_DEVICE", 0x0a, 2},
    {"CACHE_LINE_SIZE", 0x0c, 1},
    {"LATENCY_TIMER", 0x0d, 1},
    {"HEADER_TYPE", 0x0e, 1},
    {"BIST", 0x0f, 1},
    {"BASE_ADDRESS_0", 0x10, 4},
    {"BASE_ADDRESS_1", 0x14, 4},
    {"BASE_ADDRESS_2", 0x18, 4},
    {"BASE_ADDRESS_3", 0x1c, 4},
    {"BASE_ADDRESS_4", 0x20, 4},
    {"BASE_ADDRESS_5", 0x24, 4},
    {"CARDBUS_CIS", 0x28, 4},
    {"SUBSYSTEM_VENDOR_ID", 0x2c, 2},
    {"SUBSYSTEM_ID", 0x2e, 2},
    {"ROM_ADDRESS", 0x30, 4},
    {"CAPABILITIES", 0x34, 1},
    {"INTERRUPT_LINE", 0x3c, 1},
    {"INTERRUPT_PIN", 0x3d, 1},
    {"MIN_GNT", 0x3e, 1},
    {"MAX_LAT", 0x3f, 1},
};

// Configuration space of a PCI Express function; a conventional one has the first 256 bytes.
constexpr uint32_t kConventionalConfigBytes = pci::kConfigSize;
constexpr uint32_t kExtendedConfigBytes = 4096;
// What -x, -xxx and -xxxx show, as lspci: the standard header, the whole conventional space, the
// extended space. (-xx shows the conventional space as well.)
constexpr uint32_t kDumpBytes[] = {64, 64, 256, 4096};
constexpr uint32_t kDumpLine = 16;

struct ConfigOp {
  std::string name;  // the register's name, or empty for OFFSET.W
  uint32_t offset = 0;
  uint32_t width = 0;
  bool write = false;
  uint32_t value = 0;
  uint32_t mask = 0;
};

// REGISTER, REGISTER=VALUE or REGISTER=VALUE:MASK, where REGISTER is a name (any case) or
// OFFSET.B, OFFSET.W, OFFSET.L (hexadecimal offset; a byte, word or dword). All checked first.
ConfigOp ParseConfigOp(const std::string& arg) {
  const size_t equals = arg.find('=');
  const std::string reg = arg.substr(0, equals);
  std::string upper = reg;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  ConfigOp op;
  const auto named = std::find_if(std::begin(kConfigRegisters), std::end(kConfigRegisters),
                                  [&upper](const ConfigRegister& r) { return upper == r.name; });
  if (named != std::end(kConfigRegisters)) {
    op.name = named->name;
    op.offset = named->offset;
    op.width = named->width;
  } else {
    const size_t dot = upper.find('.');
    const std::string suffix = dot == std::string::npos ? "" : upper.substr(dot + 1);
    op.width = suffix == "B" ? 1 : suffix == "W" ? 2 : suffix == "L" ? 4 : 0;
    if (op.width == 0) {
      throw UsageError(
          "config takes a register name (VENDOR_ID to MAX_LAT) or OFFSET.B, "
          "OFFSET.W or OFFSET.L, not '" +
          reg + "'");
    }
    op.offset =
        ParseHex(reg.substr(0, dot), kExtendedConfigBytes - op.width, "the offset of " + reg);
    if (op.offset % op.width != 0) {
      throw UsageError(Format("%s: offset %x is not a multiple of the width (%u bytes)",
                              reg.c_str(), op.offset, op.width));
    }
  }
  if (equals == std::string::npos) return op;
  op.write = true;
  ParseMaskedValue(arg.substr(equals + 1), pci::AllOnes(op.width), reg, &op.value, &op.mask);
  return op;
}

// The function -s (and -d, --board) name: without -s the board; with -s any function there,
// whatever its IDs, unless -d is given too. Exactly one must match.
WdPciSlot ChooseFunction(WdDeviceHandle device, const Config& config, WdPciId* ids) {
  const bool bySlot = !config.slot.empty();
  const IdFilter idFilter = bySlot && config.ids.empty() ? IdFilter{} : ParseIds(config.ids);
  const SlotFilter slotFilter = bySlot ? ParseSlot(config.slot) : SlotFilter{};
  WdPciScan scan;
  const uint32_t status = WdDriver_Scan(device, 0, 0, &scan);
  if (status != 0) throw Failure(Format("the bus scan failed (status 0x%08x)", status));
  std::vector<uint32_t> matches;
  uint32_t index = 0;  // among the functions with the IDs, as --board counts
  for (uint32_t i = 0; i < WdDriver_ScanCount(&scan); ++i) {
    if (!idFilter.Matches(scan.ids[i].vendorId, scan.ids[i].deviceId)) continue;
    const bool indexed = config.board < 0 || static_cast<uint32_t>(config.board) == index++;
    if (indexed && slotFilter.Matches(scan.slots[i])) matches.push_back(i);
  }
  const std::string what = bySlot ? "function at " + config.slot : "board";
  if (matches.empty()) {
    throw Failure("no " + what + " with IDs " + IdFilterText(idFilter) +
                  (config.board >= 0 ? " and index " + std::to_string(config.board) : ""));
  }
  if (matches.size() > 1 && bySlot) {
    std::string slots;
    for (uint32_t i : matches) {
      if (!slots.empty()) slots += ", ";
      slots += SlotText(scan.slots[i]);
    }
    throw Failure("-s " + config.slot + " matches " + std::to_string(matches.size()) +
                  " functions (" + slots + "); name one");
  }
  *ids = scan.ids[matches.front()];
  return scan.slots[matches.front()];
}

class ConfigSpace {
 public:
  ConfigSpace(WdDeviceHandle device, const WdPciSlot& slot) : device_(device), slot_(slot) {}

  uint32_t Read(uint32_t offset, uint32_t width) const {
    uint32_t value = 0;
    const uint32_t status = WdDriver_Config(device_, slot_, offset, &value, width, 1);
    if (status != 0) throw Failure(Failed("reading", offset, width, status));
    return value & pci::AllOnes(width);
  }
  void Write(uint32_t offset, uint32_t width, uint32_t value) const {
    const uint32_t status = WdDriver_Config(device_, slot_, offset, &value, width, 0);
    if (status != 0) throw Failure(Failed("writing", offset, width, status));
  }

 private:
  std::string Failed(const char* doing, uint32_t offset, uint32_t width, uint32_t status) const {
    return Format("%s %s of the configuration space of %s at 0x%03x: ", doing,
                  Count(width, "byte").c_str(), SlotText(slot_).c_str(), offset) +
           LibraryError(Format("status 0x%08x", status));
  }

  WdDeviceHandle device_;
  WdPciSlot slot_;
};

std::string OpName(const ConfigOp& op) {
  return op.name.empty() ? Format("%x.%c", op.offset,
                                  op.width == 1   ? 'B'
                                  : op.width == 2 ? 'W'
                                                  : 'L')
                         : op.name;
}

// One register of the line: read, or written (unless `dryRun`) and read back.
void ApplyOp(const ConfigSpace& space, const ConfigOp& op, size_t opCount, bool dryRun,
             nlohmann::ordered_json* registers, nlohmann::ordered_json* written,
             std::string* text) {
  const int digits = static_cast<int>(2 * op.width);
  const uint32_t old = space.Read(op.offset, op.width);
  nlohmann::ordered_json entry = {
      {"name", OpName(op)}, {"offset", Hex(op.offset, 2)}, {"width", op.width}};
  if (!op.write) {
    entry["value"] = Hex(old, digits);
    registers->push_back(entry);
    *text += opCount == 1
                 ? Hex(old, digits) + "\n"
                 : Format("%02x %s %s\n", op.offset, OpName(op).c_str(), Hex(old, digits).c_str());
    return;
  }
  const uint32_t value = (old & ~op.mask) | (op.value & op.mask);
  entry["old"] = Hex(old, digits);
  entry["new"] = Hex(value, digits);
  entry["written"] = !dryRun;
  *text += Format("%02x %s %s -> %s", op.offset, OpName(op).c_str(), Hex(old, digits).c_str(),
                  Hex(value, digits).c_str());
  if (dryRun) {
    *text += " (dry run: not written)\n";
  } else {
    space.Write(op.offset, op.width, value);
    const uint32_t readBack = space.Read(op.offset, op.width);
    entry["read_back"] = Hex(readBack, digits);
    *text += ", reads " + Hex(readBack, digits) + "\n";
  }
  written->push_back(entry);
}

// The first `dumpBytes` of the function's configuration space, as lspci -x shows them.
void DumpConfig(const ConfigSpace& space, const WdPciSlot& slot, const WdPciId& ids,
                uint32_t dumpBytes, nlohmann::ordered_json* doc, std::string* text) {
  nlohmann::ordered_json bytes = nlohmann::ordered_json::array();
  std::string dump = SlotText(slot) + " " + IdsText(ids.vendorId, ids.deviceId) + "\n";
  const int offsetDigits = dumpBytes > 256 ? 3 : 2;
  for (uint32_t offset = 0; offset < dumpBytes; offset += 4) {
    uint32_t dword = 0;
    try {
      dword = space.Read(offset, 4);
    } catch (const Failure&) {
      // A conventional function ends where its 256 bytes do, as lspci -xxxx shows it.
      if (offset != kConventionalConfigBytes) throw;
      std::fprintf(stderr, "zarerera: %s has no extended configuration space: %u bytes shown\n",
                   SlotText(slot).c_str(), kConventionalConfigBytes);
      break;
    }
    if (offset % kDumpLine == 0) dump += Format("%0*x:", offsetDigits, offset);
    for (uint32_t b = 0; b < 4; ++b) {
      const uint32_t byte = (dword >> (8 * b)) & 0xFF;
      bytes.push_back(Hex(byte, 2));
      dump += Format(" %02x", byte);
    }
    if (offset % kDumpLine == kDumpLine - 4) dump += "\n";
  }
  (*doc)["config"] = bytes;
  *text += dump + "\n";
}

}  // namespace

int RunConfig(Session& session, const Config& config) {
  std::vector<ConfigOp> ops;
  for (const std::string& arg : config.configArgs) ops.push_back(ParseConfigOp(arg));
  const bool writes =
      std::any_of(ops.begin(), ops.end(), [](const ConfigOp& op) { return op.write; });
  if (config.dryRun && !writes) throw UsageError("-n goes with a register write");
  if (config.configDump > 4) throw UsageError("-x is given at most four times (-xxxx)");
  if (writes && !config.dryRun && config.readOnly) {
    throw Failure(
        "configuration writes are refused in read-only mode (--read-only); -n shows them");
  }
  const uint32_t dumpBytes =
      config.configDump > 0 || ops.empty() ? kDumpBytes[std::max(config.configDump, 1) - 1] : 0;

  WdDeviceHandle device = session.OpenDevice();
  nlohmann::ordered_json doc;
  std::string text;
  try {
    WdPciId ids{};
    const WdPciSlot slot = ChooseFunction(device, config, &ids);
    const ConfigSpace space(device, slot);
    doc["slot"] = SlotText(slot);
    nlohmann::ordered_json registers = nlohmann::ordered_json::array();
    nlohmann::ordered_json written = nlohmann::ordered_json::array();
    for (const ConfigOp& op : ops) {
      ApplyOp(space, op, ops.size(), config.dryRun, &registers, &written, &text);
    }
    if (!registers.empty()) doc["registers"] = registers;
    if (!written.empty()) doc["writes"] = written;
    // The dump comes after the writes: it shows what they left.
    if (dumpBytes != 0) DumpConfig(space, slot, ids, dumpBytes, &doc, &text);
  } catch (...) {
    WdChannel_Close(device);
    throw;
  }
  WdChannel_Close(device);
  if (config.json) {
    PrintJson(doc);
  } else {
    Print(text);
  }
  return kExitOk;
}

}  // namespace zcmd
