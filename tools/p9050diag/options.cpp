// Command-line parsing of the console host, with getopt_long.
#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace p9050diag {

namespace {

// Long options without a short form.
enum { kDriverOption = 256, kSysfsRootOption, kReadOnlyOption };

const option kLongOptions[] = {
    {"boards", required_argument, nullptr, 'b'},
    {"ids", required_argument, nullptr, 'i'},
    {"space0", required_argument, nullptr, 's'},
    {"fast", no_argument, nullptr, 'f'},
    {"real-time", no_argument, nullptr, 'r'},
    {"eeprom-file", required_argument, nullptr, 'e'},
    {"vcd", required_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"driver", required_argument, nullptr, kDriverOption},
    {"sysfs-root", required_argument, nullptr, kSysfsRootOption},
    {"read-only", no_argument, nullptr, kReadOnlyOption},
    {nullptr, 0, nullptr, 0},
};
const char kShortOptions[] = ":b:i:s:fre:v:h";  // leading colon: a missing value returns ':'

bool ParseHex16(const std::string& text, uint16_t* value) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  *value = static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
  return true;
}

// "VVVV:DDDD[,VVVV:DDDD...]"
bool ParseIds(const std::string& text, std::vector<BoardIds>* ids) {
  std::vector<BoardIds> parsed;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    size_t colon = item.find(':');
    if (colon == std::string::npos) return false;
    BoardIds pair{};
    if (!ParseHex16(item.substr(0, colon), &pair.vendorId) ||
        !ParseHex16(item.substr(colon + 1), &pair.deviceId)) {
      return false;
    }
    parsed.push_back(pair);
  }
  if (parsed.empty()) return false;
  *ids = parsed;
  return true;
}

bool ParseBoards(const std::string& text, int* boards) {
  if (text.empty() || text.size() > 3) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  int n = std::atoi(text.c_str());
  if (n > kMaxBoards) return false;
  *boards = n;
  return true;
}

}  // namespace

BoardIds Options::IdsOf(int board) const {
  if (ids.empty()) return kDefaultIds;
  return ids[std::min(static_cast<size_t>(board), ids.size() - 1)];
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  opterr = 0;  // messages of our own
  optind = 1;
  const char* sysfsOnly = nullptr;  // an option that needs --driver=sysfs
  for (;;) {
    int index = 0;
    int c = getopt_long(argc, argv, kShortOptions, kLongOptions, &index);
    if (c == -1) break;
    std::string arg = optarg != nullptr ? optarg : "";
    switch (c) {
      case 'b':
        if (!ParseBoards(arg, &options->boards)) {
          *error = "--boards takes a number from 0 to " + std::to_string(kMaxBoards) + ", not '" +
                   arg + "'";
          return false;
        }
        break;
      case 'i':
        if (!ParseIds(arg, &options->ids)) {
          *error =
              "--ids takes VVVV:DDDD pairs in hexadecimal separated by commas, not '" + arg + "'";
          return false;
        }
        break;
      case 's':
        if (arg == "mem" || arg == "memory") {
          options->space0Io = false;
        } else if (arg == "io") {
          options->space0Io = true;
        } else {
          *error = "--space0 takes 'mem' or 'io', not '" + arg + "'";
          return false;
        }
        break;
      case 'f':
        options->realTime = false;
        break;
      case 'r':
        options->realTime = true;
        break;
      case 'e':
        options->eepromFiles.push_back(arg);
        break;
      case 'v':
        options->vcdFiles.push_back(arg);
        break;
      case 'h':
        options->help = true;
        break;
      case kDriverOption:
        if (arg == "sim") {
          options->driver = Driver::kSim;
        } else if (arg == "sysfs") {
          options->driver = Driver::kSysfs;
        } else {
          *error = "--driver takes 'sim' or 'sysfs', not '" + arg + "'";
          return false;
        }
        break;
      case kSysfsRootOption:
        options->sysfsRoot = arg;
        sysfsOnly = "--sysfs-root";
        break;
      case kReadOnlyOption:
        options->readOnly = true;
        sysfsOnly = "--read-only";
        break;
      case ':':
        *error = std::string("option ") + argv[optind - 1] + " needs a value";
        return false;
      default:
        *error = std::string("unknown option ") + argv[optind - 1];
        return false;
    }
  }
  if (optind < argc) {
    *error = std::string("unexpected argument '") + argv[optind] + "'";
    return false;
  }
  if (sysfsOnly != nullptr && options->driver != Driver::kSysfs) {
    *error = std::string(sysfsOnly) + " needs --driver=sysfs";
    return false;
  }
  if (options->eepromFiles.size() > static_cast<size_t>(options->boards)) {
    *error = "more --eeprom-file options than boards";
    return false;
  }
  if (options->vcdFiles.size() > static_cast<size_t>(options->boards)) {
    *error = "more --vcd options than boards";
    return false;
  }
  return true;
}

std::string Usage(const char* program) {
  std::string text = "Usage: ";
  text += program;
  text +=
      " [options]\n"
      "Console diagnostics for PLX 9050 cards, run on a simulated PCI bus. The menus read one\n"
      "line per answer from standard input, so a script can be piped in; the program ends at\n"
      "the end of its input or when 99 is chosen in the main menu.\n"
      "\n"
      "  -b, --boards=N          boards on the simulated bus, 0 to 16 (default 1)\n"
      "  -i, --ids=V:D[,V:D...]  vendor and device ID of each board in hexadecimal; the last\n"
      "                          pair is used for the remaining boards (default 9050:10b5)\n"
      "  -s, --space0=mem|io     decode the bridge registers (space 0, BAR0) as a memory or an\n"
      "                          I/O range (default mem)\n"
      "  -r, --real-time         sleeps take real time, as on the hardware (default): an EEPROM\n"
      "                          dword read takes about 0.1 s, a full display about 7 s\n"
      "  -f, --fast              virtual time: sleeps take no time\n"
      "  -e, --eeprom-file=FILE  keep a board's EEPROM contents in FILE (64 hexadecimal words):\n"
      "                          loaded at start when it exists, saved at exit (99, end of input,\n"
      "                          Ctrl-C or SIGTERM); once per board, in board order\n"
      "  -v, --vcd=FILE          record a board's EEPROM pins (chip select, clock, data in, data\n"
      "                          out) to FILE in VCD format; once per board, in board order\n"
      "      --driver=sim|sysfs  the simulated bus (default), or this machine's real PCI bus\n"
      "                          through Linux sysfs; the simulator's options then do nothing\n"
      "      --sysfs-root=DIR    with --driver=sysfs: the PCI devices directory (default\n"
      "                          /sys/bus/pci/devices)\n"
      "      --read-only         with --driver=sysfs: scan and read configuration only; no card\n"
      "                          is registered and no configuration register written\n"
      "  -h, --help              show this text and exit\n"
      "\n"
      "At start the program opens the board with IDs 9050:10b5 when exactly one is on the bus.\n";
  return text;
}

}  // namespace p9050diag
