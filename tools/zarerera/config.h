// What the command line asked for: the global options (driver, board, simulated machine, output
// form) and the chosen subcommand with its arguments. Filled by the definitions in cli.cpp.
#ifndef ZARERERA_TOOLS_ZARERERA_CONFIG_H
#define ZARERERA_TOOLS_ZARERERA_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

#include "machine/options.h"

namespace zcmd {

// The driver the command talks to: by default the one that reaches this system's hardware.
using machine::Driver;
using machine::DriverName;

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
  kBind,
  kUnbind,
  kConfig,
};

// kDetect: an image read is told by its content, an image written is text.
enum class EepromFormat { kDetect, kText, kHex, kBin };

// The simulated machine: the options both tools take (machine/options.h), and a few of this
// command's own for scripted tests and benchmarks.
struct SimConfig {
  machine::SimMachineOptions options;
  bool given = false;                  // any of the options above on the command line
  std::string digitalIn;               // hex byte the first board's input shows
  std::vector<unsigned> wornOutWords;  // EEPROM cells of the first board that keep their value
  unsigned functions = 0;              // fill the bus up to this many functions
  std::string portLog;                 // file for the first board's port accesses
  std::string registerLog;             // file for the first board's bridge register writes
  unsigned irqEveryMs = 0;             // pulse the first board's LINTi1 this often; 0: never
};

struct Config {
  // Global.
  Driver driver = machine::kSystemDriver;
  int board = -1;    // index among the boards with `ids`; -1: not given (0, or -s)
  std::string slot;  // BB:SS.F
  std::string ids;   // VVVV:DDDD; empty: 9050:10b5
  bool json = false;
  bool anyFunction = false;  // --force: open a function that does not look like the bridge
  SimConfig sim;
  std::string sysfsRoot = "/sys/bus/pci/devices";  // --driver=sysfs: the PCI devices directory
  bool readOnly = false;                           // --driver=sysfs: scan and config reads only

  Command command = Command::kNone;

  // list
  bool all = false;
  bool verbose = false;
  // regs
  bool raw = false;
  bool dryRun = false;  // regs, bind, unbind: only show
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
  // config (and regs' -n)
  int configDump = 0;  // how many -x: 64, 64, 256 or 4096 bytes
  std::vector<std::string> configArgs;
  // eeprom
  std::string file;
  EepromFormat format = EepromFormat::kDetect;
  bool noBackup = false;
  bool force = false;     // eeprom write; bind: take the function from the driver that holds it
  std::string backupDir;  // empty: the current directory
};

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_CONFIG_H
