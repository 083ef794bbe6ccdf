// Building the simulated machine and keeping its EEPROM contents.
#include "sim_machine.h"

#include <type_traits>

#include "eeprom_file.h"
#include "sim/eeprom93c46.h"
#include "sim/typical_machine.h"

namespace p9050diag {

namespace {

constexpr uint32_t kFirstBoardSlot = 5;  // after the chipset's host bridge, before its slots 0x19+

}  // namespace

// The file holds exactly the part's contents.
static_assert(std::is_same_v<EepromImage, sim::Eeprom93C46::Image>);

SimMachine::~SimMachine() = default;

bool SimMachine::Start(const Options& options, std::string* error) {
  simulator_ = std::make_unique<sim::Simulator>(options.realTime ? sim::Clock::Mode::kReal
                                                                 : sim::Clock::Mode::kVirtual);
  sim::AddTypicalMachine(*simulator_);
  for (int i = 0; i < options.boards; ++i) {
    sim::BoardSpec cfg;
    cfg.slot = kFirstBoardSlot + static_cast<uint32_t>(i);
    const BoardIds ids = options.IdsOf(i);
    cfg.bridge.vendorId = ids.vendorId;
    cfg.bridge.deviceId = ids.deviceId;
    if (options.space0Io) {
      cfg.bridge.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
    }
    boards_.push_back(sim::AddBoard(*simulator_, cfg));
  }

  eeprom_files_ = options.eepromFiles;
  for (size_t i = 0; i < eeprom_files_.size(); ++i) {
    EepromImage image{};
    switch (LoadEepromFile(eeprom_files_[i], &image, error)) {
      case LoadResult::kLoaded:
        boards_[i].eeprom->set_image(image);
        break;
      case LoadResult::kMissing:  // made at exit from the part's default contents
        break;
      case LoadResult::kBad:
        return false;
    }
  }
  vcd_files_ = options.vcdFiles;
  for (size_t i = 0; i < vcd_files_.size(); ++i) boards_[i].eeprom->StartTrace();

  install_ = std::make_unique<sim::ScopedInstall>(*simulator_);
  return true;
}

bool SimMachine::Stop(std::string* error) {
  bool ok = true;
  for (size_t i = 0; i < eeprom_files_.size(); ++i) {
    std::string message;
    if (!SaveEepromFile(eeprom_files_[i], boards_[i].eeprom->image(), &message)) {
      if (ok) *error = message;
      ok = false;
    }
  }
  for (size_t i = 0; i < vcd_files_.size(); ++i) {
    boards_[i].eeprom->StopTrace();
    if (!boards_[i].eeprom->WriteTraceVcd(vcd_files_[i])) {
      if (ok) *error = vcd_files_[i] + ": cannot write the recording";
      ok = false;
    }
  }
  return ok;
}

}  // namespace p9050diag
