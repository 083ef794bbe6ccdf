// The console host's command line on CLI11. The options are defined once, on a CLI11 app: their
// names, values, checks and the --help text all come from there. The host's command line keeps
// getopt_long's rules, which scripts rely on and CLI11 does not follow (a unique prefix of a long
// option, an option's value the next word even when it starts with '-', "--boards=" an empty
// value): a first pass reads the words by those rules against the app's own option table and
// hands CLI11 each option as its long name with its value as a word of its own, which CLI11 takes
// as it stands.
#include "options.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "zarerera_version.h"

namespace p9050diag {

namespace {

// The options that mean something only on the real bus; the last one given is named when the
// driver is another.
struct SysfsOnly {
  std::string given;
};

void AddDriverOption(CLI::App& app, Options& o) {
#ifdef _WIN32
  const char* choices = "windows|sim";
  const std::string description =
      "the kernel driver's device (default), or the simulated bus; with the kernel driver the "
      "simulator's options do nothing";
  const std::string refusal = "--driver takes 'sim' or 'windows', not '";
#else
  const char* choices = "sim|sysfs";
  const std::string description =
      "the simulated bus (default), or this machine's real PCI bus through Linux sysfs; the "
      "simulator's options then do nothing";
  const std::string refusal = "--driver takes 'sim' or 'sysfs', not '";
#endif
  app.add_option_function<std::string>(
         "--driver",
         [&o, refusal](const std::string& v) {
           if (v == "sim") {
             o.driver = Driver::kSim;
           } else if (v == machine::DriverName(machine::kSystemDriver)) {
             o.driver = machine::kSystemDriver;
           } else {
             throw CLI::ValidationError(refusal + v + "'");
           }
         },
         description)
      ->type_name(choices)
      ->trigger_on_parse();
}

void DefineCommandLine(CLI::App& app, Options& o, [[maybe_unused]] SysfsOnly& sysfsOnly) {
  app.set_help_flag();  // --help is an option like the others: the host prints the text
  app.description(
      "Console diagnostics for PLX 9050 cards, run on a simulated PCI bus. The menus read one "
      "line per answer from standard input, so a script can be piped in; the program ends at "
      "the end of its input or when 99 is chosen in the main menu.");
  app.footer(
      "At start the program opens the board with IDs 9050:10b5 when exactly one is on the bus.");
  machine::AddSimMachineOptions(app, o, {true, ""});
  AddDriverOption(app, o);
#ifndef _WIN32
  app.add_option_function<std::string>(
         "--sysfs-root",
         [&o, &sysfsOnly](const std::string& v) {
           o.sysfsRoot = v;
           sysfsOnly.given = "--sysfs-root";
         },
         "with --driver=sysfs: the PCI devices directory (default /sys/bus/pci/devices)")
      ->type_name("DIR")
      ->trigger_on_parse();
  app.add_flag_callback(
         "--read-only",
         [&o, &sysfsOnly] {
           o.readOnly = true;
           sysfsOnly.given = "--read-only";
         },
         "with --driver=sysfs: scan and read configuration only; no card is registered and no "
         "configuration register written")
      ->trigger_on_parse();
#endif
  app.add_flag_callback(
         "-h,--help", [&o] { o.help = true; }, "show this text and exit")
      ->trigger_on_parse();
  app.add_flag_callback(
         "-V,--version", [&o] { o.version = true; }, "show the program's version and exit")
      ->trigger_on_parse();
}

bool TakesValue(const CLI::Option& option) {
  return option.get_items_expected_min() > 0;
}

// The option `name` names exactly or as the prefix of one option only.
const CLI::Option* FindLong(const CLI::App& app, const std::string& name, std::string* error) {
  const CLI::Option* found = nullptr;
  int prefixOf = 0;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& full : option->get_lnames()) {
      if (name.empty()) break;
      if (full == name) return option;
      if (full.compare(0, name.size(), name) == 0) {
        found = option;
        ++prefixOf;
      }
    }
  }
  if (prefixOf == 1) return found;
  *error = (prefixOf == 0 ? "unknown option --" : "ambiguous option --") + name;
  return nullptr;
}

const CLI::Option* FindShort(const CLI::App& app, char name) {
  for (const CLI::Option* option : app.get_options()) {
    const std::vector<std::string>& names = option->get_snames();
    if (std::find(names.begin(), names.end(), std::string(1, name)) != names.end()) return option;
  }
  return nullptr;
}

std::string LongName(const CLI::Option& option) {
  return "--" + option.get_lnames().front();
}

// Reads the command line's words, argv[at] on, into CLI11's; *at ends past the words read.
class WordReader {
 public:
  WordReader(const CLI::App& app, int argc, const char* const* argv)
      : app_(app), argc_(argc), argv_(argv) {}

  bool Read(std::vector<std::string>* words, std::string* error) {
    for (at_ = 1; at_ < argc_; ++at_) {
      const std::string word = argv_[at_];
      if (ended_ || word.size() < 2 || word[0] != '-') {
        *error = "unexpected argument '" + word + "'";
        return false;
      }
      if (word == "--") {
        ended_ = true;
      } else if (!(word[1] == '-' ? Long(word, words, error) : Cluster(word, words, error))) {
        return false;
      }
    }
    return true;
  }

 private:
  // --name, --name=value, --name value
  bool Long(const std::string& word, std::vector<std::string>* words, std::string* error) {
    const size_t equals = word.find('=');
    const bool joined = equals != std::string::npos;
    const CLI::Option* o = FindLong(app_, word.substr(2, joined ? equals - 2 : word.npos), error);
    if (o == nullptr) return false;
    const std::string shown = LongName(*o);
    words->push_back(shown);
    if (!TakesValue(*o)) {
      if (joined) *error = "option " + shown + " takes no value";
      return !joined;
    }
    if (joined) {
      words->push_back(word.substr(equals + 1));
      return true;
    }
    return NextWord("option " + shown, words, error);
  }

  // -abc: flags, the last of which may take the rest of the word or the next word as its value
  bool Cluster(const std::string& word, std::vector<std::string>* words, std::string* error) {
    for (size_t i = 1; i < word.size(); ++i) {
      const CLI::Option* o = FindShort(app_, word[i]);
      if (o == nullptr) {
        *error = std::string("unknown option -") + word[i];
        return false;
      }
      words->push_back(LongName(*o));
      if (!TakesValue(*o)) continue;
      if (i + 1 < word.size()) {
        words->push_back(word.substr(i + 1));
        return true;
      }
      return NextWord(std::string("option -") + word[i], words, error);
    }
    return true;
  }

  bool NextWord(const std::string& option, std::vector<std::string>* words, std::string* error) {
    if (at_ + 1 >= argc_) {
      *error = option + " needs a value";
      return false;
    }
    words->push_back(argv_[++at_]);
    return true;
  }

  const CLI::App& app_;
  int argc_;
  const char* const* argv_;
  int at_ = 1;
  bool ended_ = false;
};

// `text` as lines of at most `width` characters, each after `indent` (the first after `first`).
std::string Wrap(const std::string& text, const std::string& first, size_t indent, size_t width) {
  std::istringstream words(text);
  std::string out;
  std::string line = first;
  bool empty = true;
  for (std::string word; words >> word;) {
    if (!empty && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.assign(indent, ' ');
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  return out + line + "\n";
}

constexpr size_t kHelpWidth = 96;
constexpr size_t kHelpColumn = 26;  // where the options' descriptions start

std::string OptionHelp(const CLI::Option& o) {
  std::string names = "  ";
  const std::vector<std::string>& shortNames = o.get_snames();
  names += shortNames.empty() ? "    " : "-" + shortNames.front() + ", ";
  names += LongName(o);
  if (TakesValue(o)) names += "=" + o.get_type_name();
  names += std::string(names.size() < kHelpColumn ? kHelpColumn - names.size() : 2, ' ');
  return Wrap(o.get_description(), names, kHelpColumn, kHelpWidth);
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
  CLI::App app;
  SysfsOnly sysfsOnly;
  DefineCommandLine(app, *options, sysfsOnly);
  std::vector<std::string> words;
  if (!WordReader(app, argc, argv).Read(&words, error)) return false;
  std::reverse(words.begin(), words.end());  // CLI11 takes the last word first
  try {
    app.parse(words);
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return false;
  }
  if (!sysfsOnly.given.empty() && options->driver != Driver::kSysfs) {
    *error = sysfsOnly.given + " needs --driver=sysfs";
    return false;
  }
  if (!options->simState.empty() && options->driver != Driver::kSim) {
    *error = "--sim-state needs --driver=sim";
    return false;
  }
  return machine::CheckSimMachineOptions(*options, error);
}

std::string VersionText(const char* program) {
  return std::string(program) + " " + ZARERERA_VERSION_STRING + "\n";
}

std::string Usage(const char* program) {
  CLI::App app;
  Options options;
  SysfsOnly sysfsOnly;
  DefineCommandLine(app, options, sysfsOnly);
  std::string text = "Usage: " + std::string(program) + " [options]\n";
  text += Wrap(app.get_description(), "", 0, kHelpWidth) + "\n";
  for (const CLI::Option* option : app.get_options()) text += OptionHelp(*option);
  return text + "\n" + Wrap(app.get_footer(), "", 0, kHelpWidth);
}

}  // namespace p9050diag
