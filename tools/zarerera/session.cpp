// Starting the driver and opening the board.
#include "session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/driver_calls.h"
#include "driver/hosted_driver.h"
#include "errors.h"
#include "machine/files.h"
#include "machine/sim_machine.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/pci_function.h"
#ifdef __linux__
#include "machine/sysfs_host.h"
#endif

namespace zcmd {

namespace {

// Plain functions that fill the simulated bus for --sim-functions: network controllers on buses
// 1 and up, each with registers in memory, a small I/O range and an interrupt.
sim::FunctionConfig FillerFunction(unsigned index) {
  sim::FunctionConfig s;
  s.vendor_id = 0x8086;
  s.device_id = 0x100e;
  s.class_code = 0x020000;
  s.revision = static_cast<uint8_t>(index);
  s.bars[0] = {sim::BarKind::kMemory, 128 * 1024};
  s.bars[1] = {sim::BarKind::kIo, 64};
  s.irq = static_cast<uint8_t>(16 + index % 8);
  s.interrupt_pin = 1;
  return s;
}

constexpr unsigned kSlotsPerBus = 32;

// What a PLX 9050 bridge's resources are: its registers in BAR0 (memory, or I/O) and again in
// BAR1 (I/O), 128 bytes each. The reason a function's are not, or empty when they are.
std::string NotABridge(const WdCard& card) {
  constexpr uint32_t kRegisterBytes = 128;
  std::string bar0 = "it has no BAR0";
  bool bar0Ok = false;
  bool bar1Ok = false;
  const uint32_t items = WdDriver_ItemCount(&card);
  for (uint32_t i = 0; i < items; ++i) {
    const WdItem& item = card.items[i];
    if (item.kind == WD_ITEM_MEMORY && item.u.mem.bar == 0) {
      bar0Ok = item.u.mem.bytes == kRegisterBytes;
      bar0 = Format("its BAR0 is %u bytes of memory", static_cast<unsigned>(item.u.mem.bytes));
    } else if (item.kind == WD_ITEM_IO && item.u.io.bar == 0) {
      bar0Ok = item.u.io.bytes == kRegisterBytes;
      bar0 = Format("its BAR0 is %u I/O ports", static_cast<unsigned>(item.u.io.bytes));
    } else if (item.kind == WD_ITEM_IO && item.u.io.bar == 1) {
      bar1Ok = item.u.io.bytes == kRegisterBytes;
    }
  }
  if (!bar0Ok) return bar0 + ", not the bridge's 128-byte registers";
  if (!bar1Ok) return "its BAR1 is not the bridge's 128 I/O ports of registers";
  return "";
}

// --sim-register-log keeps the latest writes only: a long watch of interrupts writes INTCSR twice
// for each.
constexpr size_t kRegisterLogWrites = 65536;

// Writes one line per entry to `path`, the file a --sim-...-log option names (none: nothing), as
// every file the tools write (machine/files.h).
template <class Entries, class Line>
void WriteLog(const std::string& path, const Entries& entries, Line line) {
  if (path.empty()) return;
  std::string text;
  for (const auto& entry : entries) text += line(entry);
  std::string error;
  if (!machine::ReplaceFile(path, text, &error)) throw Failure(error);
}

}  // namespace

Session::Session(const Config& config) : config_(config) {
  if (config.driver != Driver::kSim && config.sim.given) {
    throw UsageError("the simulated machine's options go with --driver=sim");
  }
  if (!machine::IsLinuxDriver(config.driver) &&
      (config.readOnly || config.sysfsRoot != Config().sysfsRoot)) {
    throw UsageError("--sysfs-root and --read-only go with --driver=sysfs");
  }
  if (config.driver == Driver::kVfio && config.readOnly) {
    throw UsageError("--read-only goes with --driver=sysfs, not vfio");
  }
  switch (config.driver) {
    case Driver::kSim:
      StartSim();
      break;
    case Driver::kSysfs:
    case Driver::kVfio:
    case Driver::kAuto:
      StartSysfs();
      break;
    case Driver::kWindows:
#ifndef _WIN32
      throw Failure(
          "the Windows kernel driver is reachable only from the Windows build; use "
          "--driver=sim");
#endif
      break;  // the device channel reaches it when no in-process driver is installed
  }
}

void Session::StartSysfs() {
#ifdef __linux__
  // The system's reason for each failed request goes before the library's own text.
  sysfs_ = std::make_unique<machine::SysfsHost>(config_.sysfsRoot, config_.readOnly, "zarerera",
                                                config_.driver);
#else
  throw Failure("the sysfs driver is reachable only on Linux; use --driver=sim");
#endif
}

Session::~Session() {
  StopPulser();
  if (board_ != nullptr) P9050_Close(board_);
  StopSysfs();
}

void Session::StopSysfs() {
#ifdef __linux__
  sysfs_.reset();  // uninstalls the driver, which releases what is still registered
#endif
}

void Session::StartSim() {
  const SimConfig& s = config_.sim;
  std::string error;
  if (!machine::CheckSimMachineOptions(s.options, &error)) throw UsageError(error);
  const bool touchesFirstBoard = !s.digitalIn.empty() || !s.wornOutWords.empty() ||
                                 !s.portLog.empty() || !s.registerLog.empty() ||
                                 s.irqEveryMs != 0 || s.options.firstEepromMissing;
  if (touchesFirstBoard && s.options.boards == 0) {
    throw UsageError(
        "--sim-di, --sim-worn-out-word, --sim-no-eeprom, --sim-port-log, --sim-register-log and "
        "--sim-irq-every need a board");
  }
  if (s.options.firstEepromMissing && !s.wornOutWords.empty()) {
    throw UsageError("--sim-worn-out-word needs the EEPROM that --sim-no-eeprom leaves out");
  }
  const uint8_t digitalIn =
      s.digitalIn.empty() ? 0 : static_cast<uint8_t>(ParseHex(s.digitalIn, 0xFF, "--sim-di"));
  for (unsigned word : s.wornOutWords) {
    if (word >= sim::Eeprom93C46::kWords) {
      throw UsageError("--sim-worn-out-word takes a word number from 0 to 63, not " +
                       std::to_string(word));
    }
  }

  machine_ = std::make_unique<machine::SimMachine>();
  std::vector<std::string> notes;
  if (!machine_->Start(s.options, &notes, &error)) throw Failure(error);
  for (const std::string& note : notes) std::fprintf(stderr, "zarerera: %s\n", note.c_str());

  sim::Simulator& simulator = machine_->simulator();
  for (unsigned i = 0; simulator.functions().size() < s.functions; ++i) {
    simulator.AddFunction(1 + i / kSlotsPerBus, i % kSlotsPerBus, 0, FillerFunction(i));
  }
  if (!machine_->boards().empty()) {
    const sim::SimBoard& first = machine_->boards().front();
    if (!s.digitalIn.empty()) first.ports->set_digital_in(digitalIn);
    first.ports->set_logging(!s.portLog.empty());
    for (unsigned word : s.wornOutWords) first.eeprom->set_worn_out(word, true);
    if (!s.registerLog.empty()) first.bridge->set_register_write_capacity(kRegisterLogWrites);
    // As a board's EEPROM would set it up: LINTi1 passed on, active low, which each pulse drives.
    if (s.irqEveryMs != 0) first.bridge->Poke(sim::plx9050::kIntcsr, sim::plx9050::kIntLint1Enable);
  }
}

void Session::StartPulser() {
  if (!machine_ || config_.sim.irqEveryMs == 0 || machine_->boards().empty()) return;
  // Only a handle on the first board is pulsed (PulseInterrupt finds the board it is open on).
  if (machine_->simulator().Find(slot_) == nullptr ||
      machine_->simulator().Find(slot_)->model() != machine_->boards().front().bridge) {
    return;
  }
  const auto every = std::chrono::milliseconds(config_.sim.irqEveryMs);
  pulser_ = std::thread([this, every, board = board_] {
    std::unique_lock<std::mutex> lock(pulserLock_);
    while (!pulserWake_.wait_for(lock, every, [this] { return pulserStop_; })) {
      lock.unlock();
      machine_->PulseInterrupt(board);
      lock.lock();
    }
  });
}

void Session::StopPulser() {
  if (!pulser_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(pulserLock_);
    pulserStop_ = true;
  }
  pulserWake_.notify_all();
  pulser_.join();
}

std::vector<Session::HighRegion> Session::HighRegions(const WdPciSlot& slot) const {
  std::vector<HighRegion> regions;
#ifdef __linux__
  if (sysfs_) {
    for (const machine::HighRegion& r : machine::HighRegions(config_.sysfsRoot, slot)) {
      regions.push_back({r.bar, r.memory, r.start, r.bytes});
    }
  }
#else
  (void)slot;
#endif
  return regions;
}

WdDeviceHandle Session::OpenDevice() {
  WdVersion version;
  uint32_t status = 0;
  WdDeviceHandle device = WdDriver_OpenWithVersion(&version, &status);
  if (device == WD_INVALID_HANDLE) throw Failure("cannot open the driver device");
  if (status != 0 || !WdDriver_VersionAccepted(&version)) {
    WdChannel_Close(device);
    throw Failure(Format("the driver's version %u.%02u is older than %u.%02u",
                         static_cast<unsigned>(version.version / 100),
                         static_cast<unsigned>(version.version % 100), WD_MIN_VERSION / 100,
                         WD_MIN_VERSION % 100));
  }
  return device;
}

P9050_Handle* Session::Board() {
  if (board_ != nullptr) return board_;
  const IdFilter ids = ParseIds(config_.ids);
  const bool bySlot = !config_.slot.empty();
  const SlotFilter wanted = bySlot ? ParseSlot(config_.slot) : SlotFilter{};
  uint32_t vendor = static_cast<uint32_t>(ids.vendorId);
  uint32_t device = static_cast<uint32_t>(ids.deviceId);
  uint32_t index = config_.board < 0 ? 0 : static_cast<uint32_t>(config_.board);
  if (bySlot || !ids.Exact()) {
    // The board is found on a scan of every function; the library opens it by its exact IDs and
    // its index among the functions with those.
    WdPciScan scan;
    WdDeviceHandle scanDevice = OpenDevice();
    const uint32_t status = WdDriver_Scan(scanDevice, 0, 0, &scan);
    WdChannel_Close(scanDevice);
    if (status != 0) throw Failure(Format("the bus scan failed (status 0x%08x)", status));
    const uint32_t count = WdDriver_ScanCount(&scan);
    std::vector<uint32_t> candidates;  // scan positions with the IDs, in `list` order
    for (uint32_t i = 0; i < count; ++i) {
      if (ids.Matches(scan.ids[i].vendorId, scan.ids[i].deviceId)) candidates.push_back(i);
    }
    std::vector<uint32_t> chosen;
    for (uint32_t n = 0; n < candidates.size(); ++n) {
      if (wanted.Matches(scan.slots[candidates[n]])) chosen.push_back(n);
    }
    const std::string where = bySlot ? " at " + config_.slot : "";
    if (config_.board >= 0) {
      if (static_cast<size_t>(config_.board) >= candidates.size()) {
        throw Failure("no board " + std::to_string(config_.board) + " with IDs " +
                      IdFilterText(ids) + " (" + std::to_string(candidates.size()) + " found)");
      }
      if (std::find(chosen.begin(), chosen.end(), static_cast<uint32_t>(config_.board)) ==
          chosen.end()) {
        throw UsageError("--board " + std::to_string(config_.board) + " and -s " + config_.slot +
                         " name different boards");
      }
      chosen = {static_cast<uint32_t>(config_.board)};
    }
    if (chosen.empty()) throw Failure("no board with IDs " + IdFilterText(ids) + where);
    if (chosen.size() > 1 && bySlot) {
      std::string slots;
      for (uint32_t n : chosen)
        slots += (slots.empty() ? "" : ", ") + SlotText(scan.slots[candidates[n]]);
      throw Failure("-s " + config_.slot + " matches " + std::to_string(chosen.size()) +
                    " boards (" + slots + "); name one");
    }
    const uint32_t at = candidates[chosen.front()];
    vendor = scan.ids[at].vendorId;
    device = scan.ids[at].deviceId;
    index = 0;
    for (uint32_t i = 0; i < at; ++i) {
      if (scan.ids[i].vendorId == vendor && scan.ids[i].deviceId == device) ++index;
    }
  }
  if (!config_.anyFunction)
    CheckBridge(machine::BoardIds{static_cast<uint16_t>(vendor), static_cast<uint16_t>(device)},
                index);
  P9050_Handle* handle = nullptr;
  if (!P9050_Open(&handle, vendor, device, index, 0) || handle == nullptr) {
    throw Failure("cannot open board " + std::to_string(index) + " with IDs " +
                  IdsText(vendor, device) + ": " + LibraryError("no reason given"));
  }
  board_ = handle;
  P9050_GetPciSlot(board_, &slot_);
  StartPulser();
  return board_;
}

// The function a board command would open must look like the bridge before anything of it is
// registered: the bridge library takes any function with an address range, and its EEPROM and
// register commands would write into whatever the function's BAR0 holds.
void Session::CheckBridge(const machine::BoardIds& ids, uint32_t index) {
  WdPciScan scan;
  WdDeviceHandle device = WD_INVALID_HANDLE;
  try {
    device = OpenDevice();
  } catch (const Failure&) {
    return;  // no driver to ask: the library's open says so in its own words
  }
  const uint32_t status = WdDriver_Scan(device, ids.vendorId, ids.deviceId, &scan);
  const uint32_t count = WdDriver_ScanCount(&scan);
  if (status != 0 || index >= count) {
    WdChannel_Close(device);
    return;  // the library's open says why there is no such board
  }
  WdPciCardInfo info;
  const uint32_t infoStatus = WdDriver_CardInfo(device, scan.slots[index], &info);
  WdChannel_Close(device);
  const std::string reason =
      infoStatus != 0 ? std::string("its resources cannot be read") : NotABridge(info.card);
  if (reason.empty()) return;
  throw Failure(SlotText(scan.slots[index]) + " (" +
                IdsText(scan.ids[index].vendorId, scan.ids[index].deviceId) +
                ") is not a PLX 9050 bridge: " + reason + "; --force opens it anyway");
}

void Session::WriteLogs() {
  if (!machine_ || machine_->boards().empty()) return;
  const sim::SimBoard& first = machine_->boards().front();
  WriteLog(config_.sim.portLog, first.ports->log(), [](const sim::BoardPorts::Access& a) {
    return Format("%s %02x %02x\n", a.write ? "write" : "read", static_cast<unsigned>(a.offset),
                  static_cast<unsigned>(a.value));
  });
  WriteLog(config_.sim.registerLog, first.bridge->register_writes(),
           [](const sim::Plx9050::RegisterWrite& w) {
             return Format("%02x %08x\n", static_cast<unsigned>(w.offset),
                           static_cast<unsigned>(w.value));
           });
}

void Session::Finish() {
  if (finished_) return;
  finished_ = true;
  StopPulser();
  if (board_ != nullptr) {
    P9050_Close(board_);
    board_ = nullptr;
  }
  StopSysfs();
  if (machine_) {
    WriteLogs();
    std::vector<std::string> errors;
    if (!machine_->Stop(&errors)) {
      std::string message;
      for (const std::string& e : errors) message += (message.empty() ? "" : "; ") + e;
      throw Failure(message);
    }
  }
}

}  // namespace zcmd
