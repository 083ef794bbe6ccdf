// Command-line parsing of the console host: short options (clustered, "-b2" or "-b 2"), long
// options ("--boards=2" or "--boards 2", a unique prefix is enough), "--" ends the options. A
// parser of its own rather than getopt: getopt keeps state between calls (a second parse would
// start inside the first argv), and its error cases do not say which option of a cluster failed.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "diag/console.h"
#include "zarerera_version.h"

namespace p9050diag {

namespace {

struct OptionSpec {
  char shortName;
  const char* longName;
  bool takesValue;
};

const OptionSpec kOptions[] = {
    {'b', "boards", true},
    {'i', "ids", true},
    {'s', "space0", true},
    {'f', "fast", false},
    {'r', "real-time", false},
    {'e', "eeprom-file", true},
    {'v', "vcd", true},
    {'h', "help", false},
    {'V', "version", false},
    // Long options without a short form.
    {'\0', "driver", true},
    {'\0', "sim-state", true},
#ifndef _WIN32
    {'\0', "sysfs-root", true},
    {'\0', "read-only", false},
#endif
};

// "VVVV:DDDD[,VVVV:DDDD...]"
bool ParseIds(const std::string& text, std::vector<BoardIds>* ids) {
  std::vector<BoardIds> parsed;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    size_t colon = item.find(':');
    if (colon == std::string::npos) return false;
    BoardIds pair{};
    if (!ParseHexWord(item.substr(0, colon), &pair.vendorId) ||
        !ParseHexWord(item.substr(colon + 1), &pair.deviceId)) {
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

bool ParseHexWord(const std::string& text, uint16_t* word) {
  if (text.empty() || text.size() > 4) return false;
  if (!std::all_of(text.begin(), text.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
    return false;
  }
  uint32_t value = 0;
  (void)DiagConsole_ParseNumber(text.c_str(), DIAGCONSOLE_HEX, &value);
  *word = static_cast<uint16_t>(value);
  return true;
}

BoardIds Options::IdsOf(int board) const {
  if (ids.empty()) return kDefaultIds;
  return ids[std::min(static_cast<size_t>(board), ids.size() - 1)];
}

namespace {

const OptionSpec* FindShort(char name) {
  for (const OptionSpec& o : kOptions) {
    if (o.shortName == name) return &o;
  }
  return nullptr;
}

// The option `name` names exactly or as the prefix of one option only.
const OptionSpec* FindLong(const std::string& name, std::string* error) {
  const OptionSpec* found = nullptr;
  int prefixOf = 0;
  if (name.empty()) {
    *error = "unknown option --";
    return nullptr;
  }
  for (const OptionSpec& o : kOptions) {
    const std::string full = o.longName;
    if (full == name) return &o;
    if (full.compare(0, name.size(), name) == 0) {
      found = &o;
      ++prefixOf;
    }
  }
  if (prefixOf == 1) return found;
  *error = (prefixOf == 0 ? "unknown option --" : "ambiguous option --") + name;
  return nullptr;
}

bool Apply(const OptionSpec& o, const std::string& arg, Options* options, std::string* error) {
  switch (o.shortName) {
    case 'b':
      if (!ParseBoards(arg, &options->boards)) {
        *error = "--boards takes a number from 0 to " + std::to_string(kMaxBoards) + ", not '" +
                 arg + "'";
        return false;
      }
      return true;
    case 'i':
      if (!ParseIds(arg, &options->ids)) {
        *error =
            "--ids takes VVVV:DDDD pairs in hexadecimal separated by commas, not '" + arg + "'";
        return false;
      }
      return true;
    case 's':
      if (arg == "mem" || arg == "memory") {
        options->space0Io = false;
      } else if (arg == "io") {
        options->space0Io = true;
      } else {
        *error = "--space0 takes 'mem' or 'io', not '" + arg + "'";
        return false;
      }
      return true;
    case 'f':
      options->realTime = false;
      return true;
    case 'r':
      options->realTime = true;
      return true;
    case 'e':
      options->eepromFiles.push_back(arg);
      return true;
    case 'v':
      options->vcdFiles.push_back(arg);
      return true;
    case 'h':
      options->help = true;
      return true;
    case 'V':
      options->version = true;
      return true;
  }
  const std::string name = o.longName;
  if (name == "driver") {
    if (arg == "sim") {
      options->driver = Driver::kSim;
#ifdef _WIN32
    } else if (arg == "windows") {
      options->driver = Driver::kWindows;
    } else {
      *error = "--driver takes 'sim' or 'windows', not '" + arg + "'";
      return false;
    }
#else
    } else if (arg == "sysfs") {
      options->driver = Driver::kSysfs;
    } else {
      *error = "--driver takes 'sim' or 'sysfs', not '" + arg + "'";
      return false;
    }
#endif
  } else if (name == "sim-state") {
    options->simState = arg;
  } else if (name == "sysfs-root") {
    options->sysfsRoot = arg;
  } else if (name == "read-only") {
    options->readOnly = true;
  }
  return true;
}

// The options that mean something only on the real bus.
bool NeedsSysfs(const OptionSpec& o) {
  const std::string name = o.longName;
  return name == "sysfs-root" || name == "read-only";
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
  bool optionsEnded = false;
  const char* sysfsOnly = nullptr;  // an option that needs --driver=sysfs
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      *error = "unexpected argument '" + word + "'";
      return false;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word[1] == '-') {  // --name, --name=value, --name value
      const size_t equals = word.find('=');
      const std::string name =
          word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const OptionSpec* o = FindLong(name, error);
      if (o == nullptr) return false;
      const std::string shown = std::string("--") + o->longName;
      std::string arg;
      if (!o->takesValue) {
        if (equals != std::string::npos) {
          *error = "option " + shown + " takes no value";
          return false;
        }
      } else if (equals != std::string::npos) {
        arg = word.substr(equals + 1);
      } else if (i + 1 < argc) {
        arg = argv[++i];
      } else {
        *error = "option " + shown + " needs a value";
        return false;
      }
      if (!Apply(*o, arg, options, error)) return false;
      if (NeedsSysfs(*o)) sysfsOnly = o->longName;
      continue;
    }
    // -abc: flags, the last of which may take the rest of the word or the next word as its value
    for (size_t at = 1; at < word.size(); ++at) {
      const OptionSpec* o = FindShort(word[at]);
      if (o == nullptr) {
        *error = std::string("unknown option -") + word[at];
        return false;
      }
      std::string arg;
      if (o->takesValue) {
        if (at + 1 < word.size()) {
          arg = word.substr(at + 1);
        } else if (i + 1 < argc) {
          arg = argv[++i];
        } else {
          *error = std::string("option -") + o->shortName + " needs a value";
          return false;
        }
        at = word.size();
      }
      if (!Apply(*o, arg, options, error)) return false;
      if (NeedsSysfs(*o)) sysfsOnly = o->longName;
    }
  }
  if (sysfsOnly != nullptr && options->driver != Driver::kSysfs) {
    *error = std::string("--") + sysfsOnly + " needs --driver=sysfs";
    return false;
  }
  if (!options->simState.empty() && options->driver != Driver::kSim) {
    *error = "--sim-state needs --driver=sim";
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

std::string VersionText(const char* program) {
  return std::string(program) + " " + ZARERERA_VERSION_STRING + "\n";
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
      "                          loaded at start when it exists, saved when the program ends,\n"
      "                          however it ends (99, end of input, Ctrl-C, SIGTERM, SIGHUP, a\n"
      "                          closed output), if changed; once per board, in board order\n"
      "  -v, --vcd=FILE          record a board's EEPROM pins (chip select, clock, data in, data\n"
      "                          out) to FILE in VCD format; once per board, in board order\n"
      "      --sim-state=FILE    keep the whole simulated machine in FILE: bridge registers,\n"
      "                          ports, counters, EEPROM and clock, loaded at start when it\n"
      "                          exists and saved however the program ends; without it each run\n"
      "                          starts a fresh machine\n"
#ifdef _WIN32
      "      --driver=windows|sim  the kernel driver's device (default), or the simulated bus;\n"
      "                          with the kernel driver the simulator's options do nothing\n"
#else
      "      --driver=sim|sysfs  the simulated bus (default), or this machine's real PCI bus\n"
      "                          through Linux sysfs; the simulator's options then do nothing\n"
      "      --sysfs-root=DIR    with --driver=sysfs: the PCI devices directory (default\n"
      "                          /sys/bus/pci/devices)\n"
      "      --read-only         with --driver=sysfs: scan and read configuration only; no card\n"
      "                          is registered and no configuration register written\n"
#endif
      "  -h, --help              show this text and exit\n"
      "  -V, --version           show the program's version and exit\n"
      "\n"
      "At start the program opens the board with IDs 9050:10b5 when exactly one is on the bus.\n";
  return text;
}

}  // namespace p9050diag
