// The console host's command line: the simulated machine's options (machine/options.h), the
// driver and the real bus's options, --help and --version. Parsing only; nothing here touches the
// simulator.
#ifndef ZARERERA_TOOLS_P9050DIAG_OPTIONS_H
#define ZARERERA_TOOLS_P9050DIAG_OPTIONS_H

#include <string>

#include "machine/options.h"

namespace p9050diag {

using machine::BoardIds;
using machine::Driver;
using machine::kDefaultIds;

// The simulated bus, but on Windows, where the host goes to the kernel driver's device.
#ifdef _WIN32
constexpr Driver kDefaultDriver = machine::kSystemDriver;
#else
constexpr Driver kDefaultDriver = Driver::kSim;
#endif

struct Options : machine::SimMachineOptions {
  bool help = false;
  bool version = false;
  Driver driver = kDefaultDriver;
  std::string sysfsRoot = "/sys/bus/pci/devices";  // --driver=sysfs: the PCI devices directory
  bool readOnly = false;  // --driver=sysfs: scan and configuration reads only
};

// Parses argv[1..argc) into *options, over the values already there, as getopt_long would:
// short options clustered ("-fb2", "-b 2"), long options or a unique prefix of one ("--boards=2",
// "--boards 2", "--bo 2"), an option's value the next word whatever it looks like, "--" ends the
// options (the host takes no other arguments). Returns false with a message in *error on a bad
// command line. Keeps no state between calls.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// The --help text.
std::string Usage(const char* program);

// The --version text: the program's name and the library's version, one line.
std::string VersionText(const char* program);

}  // namespace p9050diag

#endif  // ZARERERA_TOOLS_P9050DIAG_OPTIONS_H
