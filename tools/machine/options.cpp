// The machine's options on CLI11: each value is checked in its option's callback, run as the
// option is parsed, so that the first bad value on the line is the one reported.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

namespace machine {

namespace {

// "VVVV:DDDD[,VVVV:DDDD...]"
bool ParseIds(const std::string& text, std::vector<BoardIds>* ids) {
  std::vector<BoardIds> parsed;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    const size_t colon = item.find(':');
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
  const int n = std::atoi(text.c_str());
  if (n > kMaxBoards) return false;
  *boards = n;
  return true;
}

bool ParseSpace0(const std::string& text, bool* io) {
  if (text != "mem" && text != "memory" && text != "io") return false;
  *io = text == "io";
  return true;
}

// "-b,--boards" or "--boards".
std::string Names(bool shortNames, char shortName, const std::string& longName) {
  return shortNames ? std::string("-") + shortName + ",--" + longName : "--" + longName;
}

// An option of one value, handed to `apply` as it is parsed; `apply` throws the message.
CLI::Option* AddValue(CLI::App& app, const std::string& names, const std::string& valueName,
                      const std::string& description,
                      std::function<void(const std::string&)> apply) {
  return app.add_option_function<std::string>(names, std::move(apply), description)
      ->type_name(valueName)
      ->trigger_on_parse();
}

CLI::Option* AddSwitch(CLI::App& app, const std::string& names, const std::string& description,
                       std::function<void()> apply) {
  return app.add_flag_callback(names, std::move(apply), description)->trigger_on_parse();
}

}  // namespace

const char* DriverName(Driver driver) {
  switch (driver) {
    case Driver::kSim:
      return "sim";
    case Driver::kSysfs:
      return "sysfs";
    case Driver::kWindows:
      return "windows";
    case Driver::kVfio:
      return "vfio";
    case Driver::kAuto:
      return "auto";
  }
  return "?";
}

bool ParseHexWord(const std::string& text, uint16_t* word) {
  if (text.empty() || text.size() > 4) return false;
  if (!std::all_of(text.begin(), text.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
    return false;
  }
  *word = static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
  return true;
}

std::string Hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string Shown(const std::string& text) {
  constexpr size_t kMaxShown = 40;
  size_t end = text.size();
  bool cut = false;
  if (end > kMaxShown) {
    end = kMaxShown;
    // Not in the middle of a UTF-8 sequence: back to the byte that starts it.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    cut = true;
  }
  std::string shown;
  for (size_t i = 0; i < end; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 0xF];
    } else {
      shown += static_cast<char>(c);
    }
  }
  return cut ? shown + "..." : shown;
}

BoardIds SimMachineOptions::IdsOf(int board) const {
  if (ids.empty()) return kDefaultIds;
  return ids[std::min(static_cast<size_t>(board), ids.size() - 1)];
}

std::vector<CLI::Option*> AddSimMachineOptions(CLI::App& app, SimMachineOptions& o,
                                               const SimOptionNames& names) {
  const bool s = names.shortNames;
  std::vector<CLI::Option*> added = {
      AddValue(app, Names(s, 'b', "boards"), "N",
               "boards on the simulated bus, 0 to " + std::to_string(kMaxBoards) + " (default 1)",
               [&o](const std::string& v) {
                 if (!ParseBoards(v, &o.boards)) {
                   throw CLI::ValidationError("--boards takes a number from 0 to " +
                                              std::to_string(kMaxBoards) + ", not '" + Shown(v) +
                                              "'");
                 }
               }),
      AddValue(app, "--ids", "V:D[,V:D...]",
               "vendor and device ID of each board in hexadecimal; the last pair is used for the "
               "remaining boards (default 9050:10b5)",
               [&o](const std::string& v) {
                 if (!ParseIds(v, &o.ids)) {
                   throw CLI::ValidationError(
                       "--ids takes VVVV:DDDD pairs in hexadecimal separated by commas, not '" +
                       Shown(v) + "'");
                 }
               }),
      AddValue(app, "--space0", "mem|io",
               "decode the bridge registers (space 0, BAR0) as a memory or an I/O range "
               "(default mem)",
               [&o](const std::string& v) {
                 if (!ParseSpace0(v, &o.space0Io)) {
                   throw CLI::ValidationError("--space0 takes 'mem' or 'io', not '" + Shown(v) +
                                              "'");
                 }
               }),
      AddSwitch(app, Names(s, 'f', "fast"), "virtual time: sleeps take no time",
                [&o] { o.realTime = false; }),
      AddSwitch(app, Names(s, 'r', "real-time"),
                "sleeps take real time, as on the hardware (default): an EEPROM word read takes "
                "about 50 ms, a word write about 120 ms",
                [&o] { o.realTime = true; }),
      AddValue(app, Names(s, 'e', "eeprom-file"), "FILE",
               "keep a board's EEPROM contents in FILE (64 hexadecimal words): loaded at start "
               "when it exists, saved when the program ends, however it ends (the end of its "
               "work or input, Ctrl-C, SIGTERM, SIGHUP, a closed output), if changed; once per "
               "board, in board order",
               [&o](const std::string& v) { o.eepromFiles.push_back(v); }),
      AddValue(app, "--vcd", "FILE",
               "record a board's EEPROM pins (chip select, clock, data in, data out) to FILE in "
               "VCD format; once per board, in board order",
               [&o](const std::string& v) { o.vcdFiles.push_back(v); }),
      AddValue(app, "--sim-state", "FILE",
               "keep the whole simulated machine in FILE (bridge registers, ports, counters, "
               "EEPROM, clock): loaded at start when it exists, saved however the program ends; "
               "without it each run starts a fresh machine",
               [&o](const std::string& v) { o.simState = v; }),
  };
  if (!names.group.empty()) {
    for (CLI::Option* option : added) option->group(names.group);
  }
  return added;
}

bool CheckSimMachineOptions(const SimMachineOptions& options, std::string* error) {
  if (options.eepromFiles.size() > static_cast<size_t>(options.boards)) {
    *error = "more --eeprom-file options than boards";
    return false;
  }
  if (options.vcdFiles.size() > static_cast<size_t>(options.boards)) {
    *error = "more --vcd options than boards";
    return false;
  }
  if (options.firstEepromMissing && (!options.eepromFiles.empty() || !options.vcdFiles.empty())) {
    *error = "the first board has no EEPROM to keep in an --eeprom-file or record with --vcd";
    return false;
  }
  return true;
}

}  // namespace machine
