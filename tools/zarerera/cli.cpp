// The command-line definitions and the program's entry.
#include "cli.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <map>

#include "commands.h"
#include "errors.h"
#include "zarerera_version.h"

namespace zcmd {

#ifdef __linux__
void DefineBindCommands(CLI::App& app, Config& config);  // bind and unbind
#endif

namespace {

// vfio and auto are Linux's (on Windows the default is the kernel driver's device).
const std::map<std::string, Driver> kDrivers = {
    {"sim", Driver::kSim},   {"sysfs", Driver::kSysfs}, {"windows", Driver::kWindows},
#ifndef _WIN32
    {"vfio", Driver::kVfio}, {"auto", Driver::kAuto},
#endif
};
const std::map<std::string, EepromFormat> kFormats = {
    {"text", EepromFormat::kText}, {"hex", EepromFormat::kHex}, {"bin", EepromFormat::kBin}};

CLI::App* Subcommand(CLI::App& parent, const std::string& name, const std::string& description,
                     Config& config, Command command) {
  CLI::App* sub = parent.add_subcommand(name, description);
  sub->fallthrough();
  sub->footer(
      "Global options (--board, -s, -d, --driver, --json, the simulated machine's) go "
      "before or after the command: see zarerera --help.");
  sub->callback([&config, command] { config.command = command; });
  return sub;
}

template <class T>
std::vector<std::string> Names(const std::map<std::string, T>& map) {
  std::vector<std::string> names;
  for (const auto& entry : map) names.push_back(entry.first);
  return names;
}

// An option whose value is one of `map`'s names (any case), stored as the value it names.
template <class T>
CLI::Option* AddChoice(CLI::App* app, const std::string& name, T* target,
                       const std::map<std::string, T>& map, const std::string& description) {
  return app
      ->add_option_function<std::string>(
          name,
          [target, &map](const std::string& value) {
            std::string lower = value;
            for (char& c : lower)
              c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            *target = map.at(lower);
          },
          description)
      ->check(CLI::IsMember(Names(map), CLI::ignore_case));
}

void AddFormat(CLI::App* sub, Config& config) {
  AddChoice(sub, "--format", &config.format, kFormats,
            "the file's form: text (the console host's EEPROM file, 64 words of four "
            "hexadecimal digits), hex (byte offsets and bytes, each word high byte first) "
            "or bin (the 128 bytes in that order); an image read is told by its content "
            "unless this is given, one written is text");
}

CLI::Option* AddGroup(CLI::App* sub, Config& config) {
  return sub->add_option("-g,--group", config.group, "the counter group, 0 to 3")
      ->check(CLI::Range(0, 3))
      ->default_str("0");
}

// An option of a decimal number from `min` to `max`, checked as it is parsed with the message of
// ParseNumber (the parser's own range check would print its bounds as floating point).
template <class T>
CLI::Option* AddNumber(CLI::App* app, const std::string& names, T* target, uint32_t min,
                       uint32_t max, const std::string& description) {
  const std::string name = names.substr(names.rfind(',') + 1);
  return app
      ->add_option_function<std::string>(
          names,
          [target, name, min, max](const std::string& value) {
            try {
              *target = static_cast<T>(ParseNumber(value, min, max, name));
            } catch (const UsageError& e) {
              throw CLI::ValidationError(e.what());
            }
          },
          description)
      ->type_name("N");
}

// The highest board index: a scan reports at most this many cards and one more.
constexpr uint32_t kMaxBoardIndex = WD_PCI_CARDS - 1;
constexpr uint32_t kMaxIrqEveryMs = 3600 * 1000;
// Functions --sim-functions adds at most: more than a scan lists, far fewer than would fill memory.
constexpr uint32_t kMaxSimFunctions = 1000;

}  // namespace

namespace {

void DefineGlobalOptions(CLI::App& app, Config& config) {
  AddChoice(&app, "--driver", &config.driver, kDrivers,
            "the driver to talk to: sim (a simulated machine), on Linux auto (each board through "
            "VFIO when it is bound to vfio-pci, through sysfs otherwise), sysfs or vfio (that "
            "one alone), or windows (the kernel driver); the default is this system's real one")
      ->default_str(DriverName(machine::kSystemDriver));
  AddNumber(&app, "--board", &config.board, 0, kMaxBoardIndex,
            "the board to work on: its index in `list` (with the same -d), from 0 (default)");
  app.add_option_function<std::string>(
         "-s,--slot",
         [&config](const std::string& value) {
           try {
             (void)ParseSlot(value);
           } catch (const UsageError& e) {
             throw CLI::ValidationError(e.what());
           }
           config.slot = value;
         },
         "the board (or with `list`, the functions) at [[DDDD:]BB:]SS[.F] as lspci "
         "takes it, a part left out matching any: 05.0, 00:05, 0000:00:05.0")
      ->type_name("[[DDDD:]BB:]SS[.F]");
  app.add_option("-d,--device", config.ids,
                 "vendor and device ID VVVV:DDDD of the boards (default 9050:10b5); VVVV: or "
                 ":DDDD leaves the other any");
  app.add_flag("--json", config.json, "print the result as one JSON document");
  app.add_flag("--force", config.anyFunction,
               "work on a function whose resources are not a PLX 9050 bridge's (registers in "
               "BAR0 and BAR1, 128 bytes each), which a board command otherwise refuses: "
               "wildcard IDs (-d 0000:0000) match any function");
#ifndef _WIN32
  const std::string sysfs = "Real bus on Linux (--driver=sysfs)";
  app.add_option("--sysfs-root", config.sysfsRoot, "the PCI devices directory")
      ->default_str(config.sysfsRoot)
      ->group(sysfs);
  app.add_flag("--read-only", config.readOnly,
               "only scan the bus and read configuration space: no board is opened")
      ->group(sysfs);
#endif
}

// The machine's options both tools take, and this command's own for scripted tests.
void DefineSimOptions(CLI::App& app, Config& config) {
  const std::string group = "Simulated machine (--driver=sim)";
  SimConfig& s = config.sim;
  std::vector<CLI::Option*> options = machine::AddSimMachineOptions(app, s.options, {false, group});
  app.get_option("--fast")->excludes(app.get_option("--real-time"));
  options.push_back(
      app.add_option("--sim-di", s.digitalIn, "the byte the first board's digital input shows"));
  options.push_back(app.add_option("--sim-worn-out-word", s.wornOutWords,
                                   "an EEPROM cell (word 0-63) of the first board that keeps its "
                                   "value when written; repeatable"));
  options.push_back(app.add_flag("--sim-no-eeprom", s.options.firstEepromMissing,
                                 "the first board has no EEPROM on its pins: reads give all ones "
                                 "and the bridge's EEPROM valid bit is clear"));
  options.push_back(
      AddNumber(&app, "--sim-functions", &s.functions, 0, kMaxSimFunctions,
                "fill the bus with plain PCI functions up to this many (at most 100 are listed)"));
  options.push_back(
      app.add_option("--sim-port-log", s.portLog,
                     "write every byte access the first board's ports saw to FILE at exit"));
  options.push_back(app.add_option("--sim-register-log", s.registerLog,
                                   "write every bridge register write of the first board (the "
                                   "interrupt service's too, the latest 65536) to FILE at exit"));
  options.push_back(AddNumber(&app, "--sim-irq-every", &s.irqEveryMs, 1, kMaxIrqEveryMs,
                              "make the first board interrupt every MS milliseconds: its "
                              "LINTi1 is enabled (INTCSR bit 0, active low) and pulsed at "
                              "that rate")
                        ->type_name("MS"));
  for (CLI::Option* option : options) option->group(group);
  app.final_callback([options, &s] {
    s.given = std::any_of(options.begin(), options.end(),
                          [](const CLI::Option* o) { return o->count() > 0; });
  });
}

void DefineBoardCommands(CLI::App& app, Config& config) {
  CLI::App* list = Subcommand(app, "list", "list the boards (or every PCI function) on the bus",
                              config, Command::kList);
  list->add_flag("-a,--all", config.all, "every PCI function, whatever its IDs");
  list->add_flag("-v,--verbose", config.verbose, "each function's regions and interrupt");

  CLI::App* regs = Subcommand(app, "regs",
                              "show the bridge's registers, or set them like setpci: NAME VALUE "
                              "or NAME=VALUE[:MASK] (only the MASK bits change)",
                              config, Command::kRegs);
  regs->add_option("registers", config.regArgs,
                   "NAME to show one register, NAME=VALUE[:MASK] to set one, or NAME VALUE; "
                   "names LAS0RR to CNTRL as the register editor shows them, in any case");
  regs->add_flag("--raw", config.raw, "every register as a hexadecimal dump by offset");
  regs->add_flag("-n,--dry-run", config.dryRun, "show what would be written; write nothing");

  Subcommand(app, "di", "read the digital input byte", config, Command::kDi);

  CLI::App* out = Subcommand(app, "do", "set the digital output byte", config, Command::kDo);
  out->add_option("value", config.value, "the byte, 0-ff")->required();

  CLI::App* counters =
      Subcommand(app, "counters", "read the three counters of a group, latched together", config,
                 Command::kCounters);
  AddGroup(counters, config);

  CLI::App* counterSet = Subcommand(app, "counter-set",
                                    "program the three counters of a group: each gets its "
                                    "control byte and a count of zero",
                                    config, Command::kCounterSet);
  counterSet->add_option("controls", config.controls, "the control bytes of counters 0, 1, 2")
      ->expected(3)
      ->required();
  AddGroup(counterSet, config);

  CLI::App* read =
      Subcommand(app, "read", "read a byte of the board's port window", config, Command::kRead);
  read->add_option("offset", config.offset, "the offset in the port window")->required();

  CLI::App* write =
      Subcommand(app, "write", "write a byte of the board's port window", config, Command::kWrite);
  write->add_option("offset", config.offset, "the offset in the port window")->required();
  write->add_option("value", config.value, "the byte, 0-ff")->required();
}

void DefineEepromCommands(CLI::App& app, Config& config) {
  CLI::App* eeprom = app.add_subcommand("eeprom", "the bridge's serial configuration EEPROM");
  eeprom->fallthrough();
  eeprom->require_subcommand(1, 1);
  CLI::App* dump = Subcommand(*eeprom, "dump", "print the EEPROM's 64 words, or save them to FILE",
                              config, Command::kEepromDump);
  dump->add_option("file", config.file, "where to save the image (default: standard output)");
  AddFormat(dump, config);
  CLI::App* ewrite = Subcommand(*eeprom, "write",
                                "write FILE's image: back up the EEPROM first, write only the "
                                "words that differ and read each one back",
                                config, Command::kEepromWrite);
  ewrite->add_option("file", config.file, "the image to write; - reads standard input")->required();
  AddFormat(ewrite, config);
  ewrite->add_flag("--no-backup", config.noBackup, "do not back up the EEPROM first");
  ewrite->add_option("--backup-dir", config.backupDir,
                     "where the backup eeprom-BB_SS_F-YYYYMMDD-HHMMSS.txt goes (default: the "
                     "current directory)");
  ewrite->add_flag("--force", config.force,
                   "write an image whose ID words (0 and 1) are 0000 or ffff");
  CLI::App* verify =
      Subcommand(*eeprom, "verify", "compare the EEPROM with FILE; exit status 0 only when equal",
                 config, Command::kEepromVerify);
  verify->add_option("file", config.file, "the image to compare with; - reads standard input")
      ->required();
  AddFormat(verify, config);
}

void DefineWatch(CLI::App& app, Config& config) {
  CLI::App* watch = Subcommand(app, "watch",
                               "sample the digital input or a counter group, one timestamped "
                               "line per sample, or with --irq print each interrupt of the "
                               "board as it is serviced (with --json one JSON object per line)",
                               config, Command::kWatch);
  CLI::Option* what = watch->add_option("what", config.watchWhat, "di or counters")
                          ->check(CLI::IsMember({"di", "counters"}));
  CLI::Option* irq = watch->add_flag(
      "--irq", config.irq,
      "enable the board's interrupt and print each one: the time it was serviced, its number, "
      "how many were lost before it and INTCSR as read at the interrupt; the interrupt is "
      "disabled again at exit. The bridge passes on the local sources its INTCSR enables (see "
      "regs INTCSR); the driver must service interrupts: the simulator and, on Linux, VFIO "
      "for a board bound to vfio-pci (zarerera bind) do, sysfs and the Windows kernel driver "
      "do not (exit status 1)");
  constexpr uint32_t kMax = 0xFFFFFFFFu;
  CLI::Option* interval =
      AddNumber(watch, "-i,--interval", &config.intervalMs, 0, kMax, "milliseconds between samples")
          ->default_str("1000");
  AddNumber(watch, "-c,--count", &config.count, 0, kMax,
            "stop after this many samples or interrupts (default: until Ctrl-C)");
  AddNumber(watch, "-t,--timeout", &config.timeoutMs, 0, kMax,
            "with --irq: stop after this many milliseconds (default: no limit); with "
            "--count, fewer interrupts by then is a failure")
      ->needs(irq);
  CLI::Option* group = AddGroup(watch, config);
  irq->excludes(what)->excludes(interval)->excludes(group);
}

void DefineConfig(CLI::App& app, Config& config) {
  CLI::App* sub = Subcommand(app, "config",
                             "dump a PCI function's configuration space as lspci -x does, or "
                             "read and set its registers as setpci does; any function -s names",
                             config, Command::kConfig);
  sub->add_option("registers", config.configArgs,
                  "NAME or OFFSET.B|W|L to show a register, NAME=VALUE[:MASK] or "
                  "OFFSET.B|W|L=VALUE[:MASK] to set one (only the MASK bits change); names "
                  "as setpci's: VENDOR_ID, COMMAND, LATENCY_TIMER, BASE_ADDRESS_0 ...");
  sub->add_flag("-x,--dump", config.configDump,
                "dump the configuration space (after any writes): -x the first 64 bytes, -xxx "
                "256, -xxxx 4096 (the real bus shows more than 64 to root only)");
  sub->add_flag("-n,--dry-run", config.dryRun, "show what would be written; write nothing");
}

using CommandRun = int (*)(Session&, const Config&);

const std::map<Command, CommandRun> kRuns = {
    {Command::kList, RunList},
    {Command::kRegs, RunRegs},
    {Command::kDi, RunDi},
    {Command::kDo, RunDo},
    {Command::kCounters, RunCounters},
    {Command::kCounterSet, RunCounterSet},
    {Command::kRead, RunRead},
    {Command::kWrite, RunWrite},
    {Command::kEepromDump, RunEepromDump},
    {Command::kEepromWrite, RunEepromWrite},
    {Command::kEepromVerify, RunEepromVerify},
    {Command::kWatch, RunWatch},
#ifdef __linux__
    {Command::kBind, RunBind},
    {Command::kUnbind, RunUnbind},
#endif
    {Command::kConfig, RunConfig},
};

// The edit distance of two words, a swap of neighbours counting as one edit (optimal string
// alignment), so that "lsit" is one edit from "list".
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The option `name` ("-s", "--board") of `app` or of the commands it falls through to.
const CLI::Option* FindOption(const CLI::App* app, const std::string& name) {
  for (; app != nullptr; app = app->get_parent()) {
    if (const CLI::Option* option = app->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

// When the words of `args` name a command that does not exist: the message that says so, with
// the closest command's name when one is near (an edit for short names, two for longer ones).
// Without a command word where one is needed (`commandMissing`: the parser found none), the
// message naming the commands. Empty otherwise: the parser's own error is the one to show.
std::string UnknownCommand(const CLI::App& app, const std::vector<std::string>& args,
                           bool commandMissing) {
  const CLI::App* level = &app;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") return "";
    if (arg.size() > 1 && arg[0] == '-') {
      const bool joined = arg.find('=') != std::string::npos || (arg[1] != '-' && arg.size() > 2);
      const CLI::Option* option = joined ? nullptr : FindOption(level, arg);
      if (option != nullptr && option->get_items_expected_min() > 0) ++i;  // its value
      continue;
    }
    const std::vector<const CLI::App*> commands = level->get_subcommands({});
    const auto known = std::find_if(commands.begin(), commands.end(),
                                    [&arg](const CLI::App* c) { return c->get_name() == arg; });
    if (known != commands.end()) {
      if ((*known)->get_subcommands({}).empty()) return "";
      level = *known;
      continue;
    }
    std::string closest;
    size_t best = arg.size() <= 4 ? 2 : 3;  // farther is no suggestion
    for (const CLI::App* c : commands) {
      const size_t distance = EditDistance(arg, c->get_name());
      if (distance < best) {
        best = distance;
        closest = c->get_name();
      }
    }
    const std::string what = level == &app ? "command" : level->get_name() + " command";
    return "unknown " + what + " '" + arg + "'" +
           (closest.empty() ? "" : "; did you mean '" + closest + "'?");
  }
  // No command word at all where one is needed.
  if (!commandMissing) return "";
  std::string names;
  for (const CLI::App* c : level->get_subcommands({}))
    names += (names.empty() ? "" : ", ") + c->get_name();
  return (level == &app ? std::string("a command is needed")
                        : level->get_name() + " needs a command") +
         ": " + names;
}

}  // namespace

void DefineCommandLine(CLI::App& app, Config& config) {
  app.description(
      "One-shot commands for PLX 9050 I/O boards and the PCI bus: list the boards, show and set "
      "the bridge's registers, read the inputs and counters, set the outputs, back up, write "
      "and verify the serial EEPROM. Numbers and values are hexadecimal (with or without 0x) "
      "unless they are counts; results go to standard output, one JSON document with --json. "
      "Exit status: 0 success, 1 the operation failed, 2 usage error.");
  app.set_version_flag("-V,--version", std::string("zarerera ") + ZARERERA_VERSION_STRING);
  app.require_subcommand(1, 1);
  app.fallthrough();
  DefineGlobalOptions(app, config);
  DefineSimOptions(app, config);
  DefineBoardCommands(app, config);
  DefineEepromCommands(app, config);
  DefineWatch(app, config);
#ifdef __linux__
  DefineBindCommands(app, config);
#endif
  DefineConfig(app, config);
}

namespace {

// Ends the program as one whose output's reader has gone: by SIGPIPE where there is one, as
// other tools end, without a word.
int ReaderGone() {
#ifdef SIGPIPE
  std::fflush(stderr);
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
#endif
  return kExitFailed;
}

}  // namespace

#ifdef __linux__
void DefineBindCommands(CLI::App& app, Config& config) {
  CLI::App* bind = Subcommand(app, "bind",
                              "hand the board (-s, or -d and --board) to vfio-pci, for its "
                              "interrupts and use without root (needs root itself); prints its "
                              "IOMMU group",
                              config, Command::kBind);
  bind->add_flag("-n,--dry-run", config.dryRun, "only show what would be written");
  bind->add_flag("--force", config.force, "take the function from the driver that holds it");
  CLI::App* unbind = Subcommand(app, "unbind",
                                "give the board back from vfio-pci to the driver the kernel "
                                "chooses for it",
                                config, Command::kUnbind);
  unbind->add_flag("-n,--dry-run", config.dryRun, "only show what would be written");
}
#endif

int Run(const Config& config) {
  std::unique_ptr<Session> session;
  int status = kExitOk;
  std::string error;
  bool usage = false;
  bool readerGone = false;
  try {
    session = std::make_unique<Session>(config);
    const auto run = kRuns.find(config.command);
    if (run == kRuns.end()) throw UsageError("no command given");
    status = run->second(*session, config);
    FlushOutput();
  } catch (const UsageError& e) {
    error = e.what();
    usage = true;
  } catch (const Stopped& e) {
    error = e.what();
    status = e.status();
  } catch (const OutputGone&) {
    readerGone = true;
  } catch (const std::exception& e) {
    error = e.what();
    status = kExitFailed;
  }
  // The machine is stopped whatever happened: what reached the simulated board (a half-written
  // EEPROM too) is kept, as the hardware would keep it.
  if (session) {
    try {
      session->Finish();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zarerera: %s\n", e.what());
      if (error.empty()) status = kExitFailed;
    }
  }
  if (readerGone) return ReaderGone();
  if (usage) {
    std::fprintf(stderr, "zarerera: %s\nRun with --help for more information.\n", error.c_str());
    if (config.json) PrintJsonError(error, kExitUsage);
    return kExitUsage;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "zarerera: %s\n", error.c_str());
    if (config.json) PrintJsonError(error, status);
  }
  return status;
}

int Main(int argc, char** argv) {
#ifdef SIGPIPE
  // A closed pipe is seen as the write's EPIPE, so that the machine's files are saved before the
  // program ends as SIGPIPE would have ended it.
  signal(SIGPIPE, SIG_IGN);
#endif
  CLI::App app{"", "zarerera"};
  Config config;
  DefineCommandLine(app, config);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() != 0) {
      const std::string unknown =
          UnknownCommand(app, std::vector<std::string>(argv + std::min(argc, 1), argv + argc),
                         dynamic_cast<const CLI::RequiredError*>(&e) != nullptr);
      const std::string message = unknown.empty() ? ShownMessage(e.what()) : unknown;
      std::fprintf(stderr, "zarerera: %s\nRun with --help for more information.\n",
                   message.c_str());
      // The parse may have stopped before --json: the words tell.
      if (config.json || std::find(argv, argv + argc, std::string("--json")) != argv + argc) {
        PrintJsonError(message, kExitUsage);
      }
      return kExitUsage;
    }
    app.exit(e);  // the help or version text, on standard output
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "zarerera: %s\n", SystemError("standard output").c_str());
      return kExitFailed;
    }
    return kExitOk;
  }
  // Read-only, the automatic choice is the sysfs driver alone: the one that scans and reads
  // without opening anything.
  if (config.driver == Driver::kAuto && config.readOnly) config.driver = Driver::kSysfs;
  return Run(config);
}

}  // namespace zcmd
