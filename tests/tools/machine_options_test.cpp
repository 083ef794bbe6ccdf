// The simulated machine's options as both tools define them (machine/options.h), on a bare CLI11
// app: what each accepted line sets, with long names only (as zarerera names them) and with the
// console host's one-letter forms, and the message each bad value stops the parse with. Then the
// console host's own reading of getopt-style words over the same definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "machine/options.h"
#include "p9050diag/options.h"

namespace {

using machine::SimMachineOptions;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  std::reverse(words.begin(), words.end());  // CLI11 takes the last word first
  return words;
}

// Parses `line` with the options defined as `names` says; the parse error's text, or "".
std::string ParseMachine(const std::string& line, bool shortNames, SimMachineOptions* options) {
  CLI::App app;
  machine::AddSimMachineOptions(app, *options, {shortNames, ""});
  try {
    app.parse(Words(line));
  } catch (const CLI::ParseError& e) {
    return e.what();
  }
  return "";
}

// ids as "vvvv:dddd,..." for comparing.
std::string IdsText(const SimMachineOptions& o) {
  std::string text;
  for (const machine::BoardIds& ids : o.ids) {
    char pair[16];
    std::snprintf(pair, sizeof pair, "%s%04x:%04x", text.empty() ? "" : ",", ids.vendorId,
                  ids.deviceId);
    text += pair;
  }
  return text;
}

struct MachineLine {
  const char* name;
  const char* longLine;   // long names only
  const char* shortLine;  // the same with one-letter forms
  int boards;
  std::string ids;
  bool space0Io;
  bool realTime;
  std::vector<std::string> eepromFiles;
  std::vector<std::string> vcdFiles;
};

class MachineLineTest : public ::testing::TestWithParam<MachineLine> {};

TEST_P(MachineLineTest, SetsTheOptionsUnderEitherNaming) {
  const MachineLine& c = GetParam();
  for (const bool shortNames : {false, true}) {
    SimMachineOptions o;
    const char* line = shortNames ? c.shortLine : c.longLine;
    ASSERT_EQ(ParseMachine(line, shortNames, &o), "") << line;
    EXPECT_EQ(o.boards, c.boards) << line;
    EXPECT_EQ(IdsText(o), c.ids) << line;
    EXPECT_EQ(o.space0Io, c.space0Io) << line;
    EXPECT_EQ(o.realTime, c.realTime) << line;
    EXPECT_EQ(o.eepromFiles, c.eepromFiles) << line;
    EXPECT_EQ(o.vcdFiles, c.vcdFiles) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MachineLineTest,
    ::testing::Values(
        MachineLine{"Defaults", "", "", 1, "", false, true, {}, {}},
        // The later of --fast and --real-time counts.
        MachineLine{"FastThenRealTime", "--fast --real-time", "-f -r", 1, "", false, true, {}, {}},
        MachineLine{"RealTimeThenFast", "--real-time --fast", "-r -f", 1, "", false, false, {}, {}},
        MachineLine{
            "BoardsBothEnds", "--boards 0 --boards=16", "-b 0 -b16", 16, "", false, true, {}, {}},
        // A second --ids replaces the first; the digits may be upper case.
        MachineLine{"IdsReplaced",
                    "--ids 1:2 --ids=ABCD:0001,9050:10b5",
                    "--ids 1:2 --ids=ABCD:0001,9050:10b5",
                    1,
                    "abcd:0001,9050:10b5",
                    false,
                    true,
                    {},
                    {}},
        MachineLine{"Space0",
                    "--space0 io --space0=memory --space0 io",
                    "--space0 io --space0=memory --space0 io",
                    1,
                    "",
                    true,
                    true,
                    {},
                    {}},
        MachineLine{"FilesInOrder",
                    "--boards 2 --eeprom-file a --vcd c --eeprom-file=b --vcd d",
                    "-b 2 -e a --vcd c -eb --vcd d",
                    2,
                    "",
                    false,
                    true,
                    {"a", "b"},
                    {"c", "d"}}),
    [](const ::testing::TestParamInfo<MachineLine>& info) { return std::string(info.param.name); });

struct BadValue {
  const char* line;
  const char* message;
};

void PrintTo(const BadValue& c, std::ostream* os) {
  *os << c.line;
}

class BadValueTest : public ::testing::TestWithParam<BadValue> {};

// A bad value stops the parse with the tools' whole message, and the options keep what they had.
TEST_P(BadValueTest, StopsWithTheMessage) {
  SimMachineOptions o;
  EXPECT_EQ(ParseMachine(GetParam().line, false, &o), GetParam().message);
  EXPECT_EQ(o.boards, 1);
  EXPECT_TRUE(o.ids.empty());
  EXPECT_FALSE(o.space0Io);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadValueTest,
    ::testing::Values(BadValue{"--boards 17", "--boards takes a number from 0 to 16, not '17'"},
                      BadValue{"--boards 0016", "--boards takes a number from 0 to 16, not '0016'"},
                      BadValue{"--boards -1", "--boards takes a number from 0 to 16, not '-1'"},
                      BadValue{"--boards 1x", "--boards takes a number from 0 to 16, not '1x'"},
                      BadValue{"--ids 9050",
                               "--ids takes VVVV:DDDD pairs in hexadecimal separated by commas, "
                               "not '9050'"},
                      BadValue{"--ids 9050:10b5,12345:1",
                               "--ids takes VVVV:DDDD pairs in hexadecimal separated "
                               "by commas, not '9050:10b5,12345:1'"},
                      BadValue{"--ids 0x90:1",
                               "--ids takes VVVV:DDDD pairs in hexadecimal separated by commas, "
                               "not '0x90:1'"},
                      BadValue{"--space0 rom", "--space0 takes 'mem' or 'io', not 'rom'"},
                      // The first bad value on the line is the one reported.
                      BadValue{"--space0 rom --boards 17",
                               "--space0 takes 'mem' or 'io', not 'rom'"}),
    [](const ::testing::TestParamInfo<BadValue>& info) {
      return "Line" + std::to_string(info.index);
    });

TEST(MachineOptionsTest, NoMoreFilesThanBoards) {
  struct Case {
    int boards;
    size_t eepromFiles;
    size_t vcdFiles;
    const char* message;  // "" when accepted
  };
  for (const Case& c : {Case{1, 1, 1, ""}, Case{2, 2, 0, ""}, Case{0, 0, 0, ""},
                        Case{1, 2, 0, "more --eeprom-file options than boards"},
                        Case{0, 0, 1, "more --vcd options than boards"}}) {
    SimMachineOptions o;
    o.boards = c.boards;
    o.eepromFiles.assign(c.eepromFiles, "e");
    o.vcdFiles.assign(c.vcdFiles, "v");
    std::string error;
    EXPECT_EQ(machine::CheckSimMachineOptions(o, &error), *c.message == '\0') << c.boards;
    EXPECT_EQ(error, c.message) << c.boards;
  }
}

TEST(MachineOptionsTest, GroupAndNamesAsAsked) {
  CLI::App app;
  SimMachineOptions o;
  const std::vector<CLI::Option*> added = machine::AddSimMachineOptions(app, o, {false, "Machine"});
  ASSERT_EQ(added.size(), 8u);
  for (const CLI::Option* option : added) {
    EXPECT_EQ(option->get_group(), "Machine") << option->get_name();
    EXPECT_TRUE(option->get_snames().empty()) << option->get_name();
  }
  CLI::App host;
  std::string shortNames;
  for (const CLI::Option* option : machine::AddSimMachineOptions(host, o, {true, ""})) {
    shortNames += option->get_snames().empty() ? "-" : option->get_snames().at(0);
  }
  // --ids, --space0 and --vcd have no letter: zarerera's -i, -s and -v mean other things;
  // --sim-state has none either.
  EXPECT_EQ(shortNames, "b--fre--");
}

TEST(MachineOptionsTest, HexWords) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t word;
  };
  for (const Case& c :
       {Case{"0", true, 0}, Case{"ffff", true, 0xFFFF}, Case{"AbC", true, 0xABC},
        Case{"", false, 0}, Case{"10000", false, 0}, Case{"-1", false, 0}, Case{"+1", false, 0},
        Case{"0x1", false, 0}, Case{" 1", false, 0}, Case{"1g", false, 0}}) {
    uint16_t word = 0x5A5A;
    EXPECT_EQ(machine::ParseHexWord(c.text, &word), c.ok) << c.text;
    EXPECT_EQ(word, c.ok ? c.word : 0x5A5A) << c.text;
  }
}

// The console host reads getopt's words over these definitions: an option's value is the next
// word whatever it looks like, and a long option may be shortened to any unique prefix.
TEST(HostWordsTest, GetoptRules) {
  struct Case {
    std::vector<std::string> args;
    std::string error;   // "" when accepted
    std::string eeprom;  // the first --eeprom-file, when accepted
  };
  const Case cases[] = {
      {{"-e", "--fast"}, "", "--fast"},
      {{"--eeprom-file", "-b"}, "", "-b"},
      {{"--eep=x"}, "", "x"},
      {{"--re"}, "ambiguous option --re", ""},
      {{"--"}, "", ""},
      {{"-"}, "unexpected argument '-'", ""},
      {{"-e"}, "option -e needs a value", ""},
      {{"--=x"}, "unknown option --", ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"p9050diag"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    p9050diag::Options options;
    std::string error;
    const bool ok =
        p9050diag::ParseOptions(static_cast<int>(argv.size()), argv.data(), &options, &error);
    EXPECT_EQ(ok, c.error.empty()) << c.args.at(0);
    EXPECT_EQ(error, c.error) << c.args.at(0);
    if (ok && !c.eeprom.empty()) {
      ASSERT_EQ(options.eepromFiles.size(), 1u);
      EXPECT_EQ(options.eepromFiles[0], c.eeprom);
    }
  }
}

}  // namespace
