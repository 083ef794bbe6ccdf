// What the command line asked for: the global options (driver, board, simulated machine, output
// form) and the chosen subcommand with its arguments. Filled by the definitions in cli.cpp.
#ifndef ZARERERA_TOOLS_ZARERERA_CONFIG_H
#define ZARERERA_TOOLS_ZARERERA_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

#include "p9050diag/options.h"

namespace zcmd {

// The driver the command talks to, as the console host names them: the simulated machine, the real
// bus through Linux sysfs, or the Windows kernel driver's device. The command's default is the
// platform's real driver.
using Driver = p9050diag::Driver;
#ifdef _WIN32
constexpr Driver kDefaultDriver = Driver::kWindows;
#else
constexpr Driver kDefaultDriver = Driver::kSysfs;
#endif
const char* DriverName(Driver driver);

enum class Command {
  kNone,
  kList,
  kRegs,
  kDi,
  kDo,
  kCounters,
  kCounterSet,
  kRead,
  kWrite,
  kEepromDump,
  kEepromWrite,
  kEepromVerify,
  kWatch,
};

enum class EepromFormat { kText, kHex, kBin };

// The simulated machine: p9050diag's options, and a few of this command's own for scripted tests
// and benchmarks.
struct SimConfig {
  int boards = 1;
  std::string ids;  // V:D[,V:D...], as p9050diag takes it; empty: the default board
  std::string space0;
  bool fast = false;
  bool realTime = false;
  std::vector<std::string> eepromFiles;
  std::vector<std::string> vcdFiles;
  std::string simState;                // the whole machine kept in this file between runs
  std::string digitalIn;               // hex byte the first board's input shows
  std::vector<unsigned> wornOutWords;  // EEPROM cells of the first board that keep their value
  unsigned functions = 0;              // fill the bus up to this many functions
  std::string portLog;                 // file for the first board's port accesses
  std::string registerLog;             // file for the first board's bridge register writes
  unsigned irqEveryMs = 0;             // pulse the first board's LINTi1 this often; 0: never
};

struct Config {
  // Global.
  Driver driver = kDefaultDriver;
  int board = -1;    // index among the boards with `ids`; -1: not given (0, or -s)
  std::string slot;  // BB:SS.F
  std::string ids;   // VVVV:DDDD; empty: 9050:10b5
  bool json = false;
  SimConfig sim;
  std::string sysfsRoot = "/sys/bus/pci/devices";  // --driver=sysfs: the PCI devices directory
  bool readOnly = false;                           // --driver=sysfs: scan and config reads only

  Command command = Command::kNone;

  // list
  bool all = false;
  bool verbose = false;
  // regs
  bool raw = false;
  bool dryRun = false;
  std::vector<std::string> regArgs;
  // do, counter-set, read, write, counters, watch
  std::string value;
  std::string offset;
  std::vector<std::string> controls;
  int group = 0;
  std::string watchWhat;  // di or counters; empty with --irq
  bool irq = false;       // watch the board's interrupts
  unsigned intervalMs = 1000;
  unsigned count = 0;      // 0: until interrupted
  unsigned timeoutMs = 0;  // watch --irq: 0: no limit
  // eeprom
  std::string file;
  EepromFormat format = EepromFormat::kText;
  bool noBackup = false;
  bool force = false;
  std::string backupDir;  // empty: the current directory
};

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_CONFIG_H
