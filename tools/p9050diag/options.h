// The console host's command line: the simulated bus it builds, its time base and the files it
// keeps. Parsing only; nothing here touches the simulator.
#ifndef ZARERERA_TOOLS_P9050DIAG_OPTIONS_H
#define ZARERERA_TOOLS_P9050DIAG_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "driver/board_ids.h"

namespace p9050diag {

struct BoardIds {
  uint16_t vendorId;
  uint16_t deviceId;
};

// The board the host opens at start when it is the only one of its kind.
constexpr BoardIds kDefaultIds{board_ids::kVendorId, board_ids::kDeviceId};
constexpr int kMaxBoards = 16;

// Which driver the diagnostics talk to: the simulated bus, the real one through Linux sysfs, or
// on Windows the kernel driver's device (the default there).
enum class Driver { kSim, kSysfs, kWindows };
#ifdef _WIN32
constexpr Driver kDefaultDriver = Driver::kWindows;
#else
constexpr Driver kDefaultDriver = Driver::kSim;
#endif

struct Options {
  int boards = 1;
  std::vector<BoardIds> ids;  // board i gets ids[min(i, size - 1)]; empty: kDefaultIds
  bool space0Io = false;      // the bridge registers (BAR0) as an I/O range instead of memory
  bool realTime = true;       // sleeps take real time, as on the hardware
  std::vector<std::string> eepromFiles;  // one per board, in board order
  std::vector<std::string> vcdFiles;     // one per board, in board order
  std::string simState;  // the whole machine, loaded at start and saved at the end; empty: none
  bool help = false;
  bool version = false;
  Driver driver = kDefaultDriver;
  std::string sysfsRoot = "/sys/bus/pci/devices";  // --driver=sysfs: the PCI devices directory
  bool readOnly = false;  // --driver=sysfs: scan and configuration reads only

  BoardIds IdsOf(int board) const;
};

// Parses argv[1..argc) into *options, over the values already there (getopt-style: short options
// clustered, long options or a unique prefix of one, "--" ends them). Returns false with a message
// in *error on a bad command line. Keeps no state between calls.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// A 16-bit word as --ids and EEPROM files write it: 1-4 hexadecimal digits and nothing else (no
// sign, no "0x", no blanks).
bool ParseHexWord(const std::string& text, uint16_t* word);

// The --help text.
std::string Usage(const char* program);

// The --version text: the program's name and the library's version, one line.
std::string VersionText(const char* program);

}  // namespace p9050diag

#endif  // ZARERERA_TOOLS_P9050DIAG_OPTIONS_H
