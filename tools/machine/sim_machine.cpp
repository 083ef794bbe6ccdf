// Building the simulated machine and keeping its EEPROM contents.
#include "sim_machine.h"

#include <type_traits>

#include "driver/hosted_driver.h"
#include "files.h"
#include "sim/eeprom93c46.h"
#include "sim/typical_machine.h"
#include "sim_state.h"

namespace machine {

namespace {

constexpr uint32_t kFirstBoardSlot = 5;  // after the chipset's host bridge, before its slots 0x19+

// Whether any two of the files are one; the message names the pair.
bool NamesTwice(const SimMachineOptions& options, std::string* error) {
  struct Named {
    const std::string* path;
    const char* option;
  };
  std::vector<Named> files;
  for (const std::string& f : options.eepromFiles) files.push_back({&f, "--eeprom-file"});
  for (const std::string& f : options.vcdFiles) files.push_back({&f, "--vcd"});
  if (!options.simState.empty()) files.push_back({&options.simState, "--sim-state"});
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t j = i + 1; j < files.size(); ++j) {
      if (SameFile(*files[i].path, *files[j].path)) {
        *error = std::string(files[i].option) + " " + *files[i].path + " and " + files[j].option +
                 " " + *files[j].path + " name the same file";
        return true;
      }
    }
  }
  return false;
}

}  // namespace

// The file holds exactly the part's contents.
static_assert(std::is_same_v<EepromImage, sim::Eeprom93C46::Image>);

// The simulator as the process's driver, behind the host's hook.
struct SimMachine::Driver : WdHostedDriver {
  explicit Driver(SimMachine* owner) : machine(owner) { WdHosted_Install(this); }
  ~Driver() override { WdHosted_Install(nullptr); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool Control(uint32_t code, void* record, uint32_t size, uint32_t* status) override {
    if (machine->beforeRequest_ && std::this_thread::get_id() == machine->hostThread_) {
      machine->beforeRequest_();
    }
    return machine->simulator_->Control(code, record, size, status);
  }

  SimMachine* machine;
};

SimMachine::SimMachine() = default;
SimMachine::~SimMachine() = default;

void SimMachine::BuildBus(const SimMachineOptions& options) {
  simulator_ = std::make_unique<sim::Simulator>(options.realTime ? sim::Clock::Mode::kReal
                                                                 : sim::Clock::Mode::kVirtual);
  // Nothing here reads the logs the tests use: a long session stays in bounded memory.
  simulator_->set_log_capacity(0);
  simulator_->set_interrupt_service(true);
  hostThread_ = std::this_thread::get_id();
  sim::AddTypicalMachine(*simulator_);
  for (int i = 0; i < options.boards; ++i) {
    sim::BoardConfig cfg;
    cfg.slot = kFirstBoardSlot + static_cast<uint32_t>(i);
    const BoardIds ids = options.IdsOf(i);
    cfg.bridge.vendor_id = ids.vendorId;
    cfg.bridge.device_id = ids.deviceId;
    cfg.with_eeprom = !(i == 0 && options.firstEepromMissing);
    if (options.space0Io) {
      cfg.bridge.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
    }
    boards_.push_back(sim::AddBoard(*simulator_, cfg));
    boards_.back().bridge->set_register_write_capacity(0);
    boards_.back().ports->set_logging(false);
  }
}

bool SimMachine::Start(const SimMachineOptions& options, std::vector<std::string>* notes,
                       std::string* error) {
  // Every file is checked before anything runs, so that a session's work is never lost at exit.
  std::vector<bool> exists;
  for (const std::string& path : options.eepromFiles) {
    bool there = false;
    if (!CheckReplaceable(path, &there, error)) return false;
    exists.push_back(there);
  }
  for (const std::string& path : options.vcdFiles) {
    bool there = false;
    if (!CheckReplaceable(path, &there, error)) return false;
  }
  bool stateThere = false;
  if (!options.simState.empty() && !CheckReplaceable(options.simState, &stateThere, error)) {
    return false;
  }
  if (NamesTwice(options, error)) return false;

  BuildBus(options);

  stateFile_ = options.simState;
  if (!stateFile_.empty()) {
    switch (stateThere ? LoadSimStateFile(stateFile_, *simulator_, boards_, error)
                       : LoadResult::kMissing) {
      case LoadResult::kLoaded:
        break;
      case LoadResult::kMissing:
        notes->push_back(stateFile_ +
                         " does not exist: the machine starts fresh, and the file is made when "
                         "the program ends");
        break;
      case LoadResult::kBad:
        return false;
    }
  }

  eepromFiles_ = options.eepromFiles;
  onDisk_.assign(eepromFiles_.size(), std::nullopt);
  for (size_t i = 0; i < eepromFiles_.size(); ++i) {
    EepromImage image{};
    switch (exists[i] ? LoadEepromFile(eepromFiles_[i], &image, error) : LoadResult::kMissing) {
      case LoadResult::kLoaded:
        boards_[i].eeprom->set_image(image);
        onDisk_[i] = image;
        break;
      case LoadResult::kMissing:
        notes->push_back(eepromFiles_[i] +
                         " does not exist: the EEPROM starts with its default contents, and the "
                         "file is made when the program ends");
        break;
      case LoadResult::kBad:
        return false;
    }
  }
  vcdFiles_ = options.vcdFiles;
  for (size_t i = 0; i < vcdFiles_.size(); ++i) boards_[i].eeprom->StartTrace();

  driver_ = std::make_unique<Driver>(this);
  return true;
}

bool SimMachine::PulseInterrupt(P9050_Handle* board) {
  WdPciSlot slot{};
  P9050_GetPciSlot(board, &slot);
  for (const sim::SimBoard& b : boards_) {
    sim::PciFunction* f = simulator_->Find(slot);
    if (f == nullptr || f->model() != b.bridge) continue;
    b.bridge->PulseLocalInterrupt(sim::wiring::kCounterInput);
    (void)simulator_->WaitInterruptSettled(board->intHandle, std::chrono::seconds(1));
    return true;
  }
  return false;
}

bool SimMachine::Stop(std::vector<std::string>* errors) {
  if (stopped_) return true;
  stopped_ = true;
  bool ok = true;
  for (size_t i = 0; i < eepromFiles_.size(); ++i) {
    const EepromImage image = boards_[i].eeprom->image();
    if (onDisk_[i] == image) continue;  // the file already says so
    std::string message;
    if (SaveEepromFile(eepromFiles_[i], image, &message)) {
      onDisk_[i] = image;
    } else {
      errors->push_back(message);
      ok = false;
    }
  }
  if (!stateFile_.empty()) {
    std::string message;
    if (!ReplaceFile(stateFile_, FormatSimState(*simulator_, boards_), &message)) {
      errors->push_back(message);
      ok = false;
    }
  }
  for (size_t i = 0; i < vcdFiles_.size(); ++i) {
    boards_[i].eeprom->StopTrace();
    std::string message;
    if (!ReplaceFile(vcdFiles_[i], boards_[i].eeprom->TraceVcd(), &message)) {
      errors->push_back(message);
      ok = false;
    }
  }
  return ok;
}

}  // namespace machine
