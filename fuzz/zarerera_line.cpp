// The zarerera command's command line: the input split into arguments at NUL and newline bytes,
// parsed twice from two copies (as two runs would), and both parses must agree. A line that parses
// and names the simulated machine with nothing but board commands that touch no file (list, regs,
// di, do, read, write, counters, counter-set) is then run, in virtual time: its value parsers
// (slots, IDs, register assignments, bytes, offsets) see whatever the line holds. A run ends with
// an exit status of 0, 1 or 2, and leaves no device handle open.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/hosted_driver.h"
#include "fuzz_console.h"
#include "fuzz_words.h"
#include "zarerera/cli.h"
#include "zarerera/commands.h"

namespace {

struct Parsed {
  bool ok = false;
  std::string error;
  zcmd::Config config;
};

Parsed Parse(const std::vector<std::string>& args) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed p;
  CLI::App app{"", "zarerera"};
  zcmd::DefineCommandLine(app, p.config);
  try {
    app.parse(static_cast<int>(copy.size()), argv.data());
    p.ok = true;
  } catch (const CLI::ParseError& e) {
    p.error = e.what();
    p.ok = e.get_exit_code() == 0;  // --help, --version
    if (p.ok) p.config.command = zcmd::Command::kNone;
  }
  return p;
}

bool Runnable(const zcmd::Config& c) {
  using zcmd::Command;
  const bool boardCommand = c.command == Command::kList || c.command == Command::kRegs ||
                            c.command == Command::kDi || c.command == Command::kDo ||
                            c.command == Command::kRead || c.command == Command::kWrite ||
                            c.command == Command::kCounters || c.command == Command::kCounterSet;
  const zcmd::SimConfig& s = c.sim;
  return boardCommand && c.driver == zcmd::Driver::kSim && !s.options.realTime &&
         s.options.eepromFiles.empty() && s.options.vcdFiles.empty() && s.portLog.empty() &&
         s.registerLog.empty() && s.irqEveryMs == 0 && s.functions <= 8 && s.options.boards <= 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // What a run prints goes nowhere (its messages on standard error: -close_fd_mask=2 in its
  // options).
  static FILE* const quiet = std::freopen("/dev/null", "w", stdout);
  (void)quiet;
  const std::vector<std::string> args = fuzz::Words("zarerera", data, size);
  if (args.size() > 32) return -1;

  const Parsed first = Parse(args);
  const Parsed second = Parse(args);
  fuzz::Check(first.ok == second.ok && first.error == second.error, "zarerera_line",
              "two parses of one command line disagree");
  if (!first.ok) {
    fuzz::Check(!first.error.empty(), "zarerera_line", "a refused line without a message");
    return 0;
  }
  fuzz::Check(
      first.config.command == second.config.command && first.config.board == second.config.board &&
          first.config.slot == second.config.slot && first.config.ids == second.config.ids &&
          first.config.regArgs == second.config.regArgs,
      "zarerera_line", "two parses give different options");
  if (!Runnable(first.config)) return 0;
  const int status = zcmd::Run(first.config);
  std::clearerr(stdout);
  fuzz::Check(status >= 0 && status <= 2, "zarerera_line", "an exit status out of range");
  fuzz::Check(WdHosted_OpenHandles() == 0, "zarerera_line", "a run left a device handle open");
  return 0;
}
