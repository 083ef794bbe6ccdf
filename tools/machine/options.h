// The command-line options of the machine a tool runs on, shared by the console host (p9050diag)
// and the one-shot command (zarerera): which driver, and for the simulated machine how many
// boards, their IDs, how the bridge registers decode, the time base and the files kept.
//
// The options are defined on a CLI11 app. Each value is checked as it is parsed, left to right,
// and a bad one stops the parse with a CLI::ValidationError whose text is the whole message
// ("--boards takes a number from 0 to 16, not '17'"), so both tools print the same words.
#ifndef ZARERERA_TOOLS_MACHINE_OPTIONS_H
#define ZARERERA_TOOLS_MACHINE_OPTIONS_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/board_ids.h"

namespace machine {

// Which driver the tools talk to: the simulated machine; on Linux the real bus through sysfs,
// through VFIO (functions bound to vfio-pci, interrupts included), or each function through the one
// that suits it (auto: VFIO when it is bound to vfio-pci, sysfs otherwise); on Windows the kernel
// driver's device.
enum class Driver { kSim, kSysfs, kWindows, kVfio, kAuto };

// The driver that reaches this system's hardware: zarerera's default, and p9050diag's where the
// kernel driver is the ordinary way to the board (Windows).
#ifdef _WIN32
constexpr Driver kSystemDriver = Driver::kWindows;
#else
constexpr Driver kSystemDriver = Driver::kAuto;
#endif

// Whether `driver` is one of the Linux real-bus drivers (auto, sysfs, vfio).
constexpr bool IsLinuxDriver(Driver driver) {
  return driver == Driver::kAuto || driver == Driver::kSysfs || driver == Driver::kVfio;
}

// "sim", "sysfs", "windows", "vfio", "auto".
const char* DriverName(Driver driver);

struct BoardIds {
  uint16_t vendorId;
  uint16_t deviceId;
};

// The IDs a board's EEPROM gives it, which the board API looks for.
constexpr BoardIds kDefaultIds{product_ids::kVendorId, product_ids::kDeviceId};
constexpr int kMaxBoards = 16;

// What the simulated machine's start takes (SimMachine::Start).
struct SimMachineOptions {
  int boards = 1;
  std::vector<BoardIds> ids;  // board i gets ids[min(i, size - 1)]; empty: kDefaultIds
  bool space0Io = false;      // the bridge registers (BAR0) as an I/O range instead of memory
  bool realTime = true;       // sleeps take real time, as on the hardware
  std::vector<std::string> eepromFiles;  // one per board, in board order
  std::vector<std::string> vcdFiles;     // one per board, in board order
  std::string simState;  // the whole machine, loaded at start and saved at the end; empty: none
  // The first board has no EEPROM on its pins, as a board whose part is missing or dead: reads
  // give all ones and the bridge's valid bit is clear. No command-line option of its own here
  // (zarerera sets it for its tests).
  bool firstEepromMissing = false;

  BoardIds IdsOf(int board) const;
};

// How a tool names the options: with the console host's one-letter forms (-b, -f, -r, -e) or long
// names only, and the help group they are listed under (empty: the tool's options). --ids,
// --space0 and --vcd have none: -i, -s and -v mean interval, slot and verbose in zarerera (as in
// lspci), and a letter means one thing in both tools.
struct SimOptionNames {
  bool shortNames = false;
  std::string group;
};

// Defines --boards, --ids, --space0, --fast, --real-time, --eeprom-file, --vcd and --sim-state on
// `app`,
// parsed into `options`. --fast and --real-time set one value: the later one counts. Returns the
// options defined, so that a tool can tell whether any was given or add rules of its own.
std::vector<CLI::Option*> AddSimMachineOptions(CLI::App& app, SimMachineOptions& options,
                                               const SimOptionNames& names = {});

// The rules across options, checked once the line is parsed: no more files than boards, none for
// a board without an EEPROM. False with the message.
bool CheckSimMachineOptions(const SimMachineOptions& options, std::string* error);

// A 16-bit word as --ids and EEPROM files write it: 1-4 hexadecimal digits and nothing else (no
// sign, no "0x", no blanks).
bool ParseHexWord(const std::string& text, uint16_t* word);

// A value as a message quotes it: at most 40 characters, cut with "..." when it is longer, and
// control characters as \xNN, so that no value, however long or strange, makes a message long
// or moves a terminal's cursor.
std::string Shown(const std::string& text);
// `value` in lower-case hexadecimal, at least `digits` digits, zero-padded: "00c0".
std::string Hex(uint64_t value, int digits);

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_OPTIONS_H
