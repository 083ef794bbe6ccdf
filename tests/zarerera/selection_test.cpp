// Choosing functions as lspci does (-s with parts left out, -d with one ID left any) and the
// messages of a mistyped command: what `list` shows, which board a command reached.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

using cmdtest::kTryHelp;
using cmdtest::Result;
using cmdtest::Zarerera;

// Three boards at 00:05.0-00:07.0 among the chipset's functions, and plain functions on bus 1
// from 01:00.0 to 01:05.0: two functions sit in slot 5.
const std::vector<std::string> kMachine = {"--fast", "--boards=3", "--sim-functions=12"};

struct SelectionCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;
};

void PrintTo(const SelectionCase& c, std::ostream* os) {
  *os << c.name;
}

class SelectionTest : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionTest, OutputAndExitStatus) {
  const SelectionCase& c = GetParam();
  std::vector<std::string> args = kMachine;
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

std::string ChipIdsHint(const std::string& slot) {
  return "zarerera: " + slot +
         " is a PLX 9050 showing the chip's own IDs 10b5:9050, as it does when no EEPROM sets "
         "the board's (this board's EEPROM gives 9050:10b5); -d 10b5:9050 reaches it\n";
}

const char kAnySlot5[] = "1 00:05.0 9050:10b5\n11 01:05.0 8086:100e\n";

INSTANTIATE_TEST_SUITE_P(
    Slots, SelectionTest,
    ::testing::Values(
        // The index stays the one --board takes, whatever -s leaves out.
        SelectionCase{"SlotAndFunction", {"list", "-s", "06.0"}, 0, "1 00:06.0 9050:10b5\n", ""},
        SelectionCase{"SlotOnly", {"list", "-s", "7"}, 0, "2 00:07.0 9050:10b5\n", ""},
        SelectionCase{"BusAndSlot", {"list", "-s", "00:05"}, 0, "0 00:05.0 9050:10b5\n", ""},
        SelectionCase{"Full", {"list", "-s", "0000:00:06.0"}, 0, "1 00:06.0 9050:10b5\n", ""},
        SelectionCase{"SlotOnEveryBus", {"list", "-a", "-s", "05"}, 0, kAnySlot5, ""},
        SelectionCase{"WildcardBus", {"list", "-a", "-s", "*:05.0"}, 0, kAnySlot5, ""},
        SelectionCase{"EmptyBus", {"list", "-a", "-s", ":05.0"}, 0, kAnySlot5, ""},
        SelectionCase{"BusOnly",
                      {"list", "-a", "-s", "01:"},
                      0,
                      "6 01:00.0 8086:100e\n7 01:01.0 8086:100e\n8 01:02.0 8086:100e\n"
                      "9 01:03.0 8086:100e\n10 01:04.0 8086:100e\n11 01:05.0 8086:100e\n",
                      ""},
        SelectionCase{"FunctionOnly", {"list", "-a", "-s", ".2"}, 0, "5 00:1f.2 8086:1c02\n", ""},
        // The records carry domain 0000 only.
        SelectionCase{"OtherDomain", {"list", "-a", "-s", "0001:00:05.0"}, 0, "", ""},
        SelectionCase{"NothingThere", {"list", "-s", "1e"}, 0, "", ""},
        SelectionCase{
            "SlotTooBig",
            {"list", "-s", "20"},
            2,
            "",
            "zarerera: -s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot 00-1f, "
            "function 0-7; a part left out or * matches any), not '20'\n" +
                kTryHelp},
        SelectionCase{
            "FunctionTooBig",
            {"list", "-s", "05.8"},
            2,
            "",
            "zarerera: -s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot 00-1f, "
            "function 0-7; a part left out or * matches any), not '05.8'\n" +
                kTryHelp},
        SelectionCase{
            "TooManyParts",
            {"list", "-s", "0:0:0:5"},
            2,
            "",
            "zarerera: -s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot 00-1f, "
            "function 0-7; a part left out or * matches any), not '0:0:0:5'\n" +
                kTryHelp},
        // A command works on the one board -s names.
        SelectionCase{"BoardBySlot",
                      {"--json", "-s", "7", "di"},
                      0,
                      "{\n  \"slot\": \"00:07.0\",\n  \"di\": \"00\"\n}\n",
                      ""},
        SelectionCase{"BoardByBusAndSlot", {"--sim-di=a5", "-s", "00:05", "di"}, 0, "a5\n", ""},
        SelectionCase{"SecondBoardInputIsItsOwn", {"--sim-di=a5", "-s", "06", "di"}, 0, "00\n", ""},
        SelectionCase{"TwoBoardsInTheSlot",
                      {"-d", ":", "-s", "05", "di"},
                      1,
                      "",
                      "zarerera: -s 05 matches 2 boards (00:05.0, 01:05.0); name one\n"},
        SelectionCase{"NoBoardThere",
                      {"-s", "1e", "di"},
                      1,
                      "",
                      "zarerera: no board with IDs 9050:10b5 at 1e\n"},
        SelectionCase{"BoardAndSlotDisagree",
                      {"--board", "0", "-s", "06", "di"},
                      2,
                      "",
                      "zarerera: --board 0 and -s 06 name different boards\n" + kTryHelp},
        SelectionCase{"BoardAndSlotAgree",
                      {"--sim-di=3c", "--board", "0", "-s", "05", "di"},
                      0,
                      "3c\n",
                      ""}));

INSTANTIATE_TEST_SUITE_P(
    Ids, SelectionTest,
    ::testing::Values(
        SelectionCase{"VendorOnly",
                      {"list", "-d", "8086:", "-s", "00:"},
                      0,
                      "0 00:00.0 8086:0104\n1 00:19.0 8086:1502\n2 00:1f.2 8086:1c02\n",
                      ""},
        SelectionCase{"DeviceOnly", {"list", "-d", ":1502"}, 0, "0 00:19.0 8086:1502\n", ""},
        SelectionCase{"StarIsAny",
                      {"list", "-d", "*:10b5"},
                      0,
                      "0 00:05.0 9050:10b5\n1 00:06.0 9050:10b5\n2 00:07.0 9050:10b5\n",
                      ""},
        SelectionCase{
            "NoColon",
            {"list", "-d", "9050"},
            2,
            "",
            "zarerera: -d takes VVVV:DDDD, VVVV: or :DDDD in hexadecimal, not '9050'\n" + kTryHelp},
        SelectionCase{
            "TooLong",
            {"list", "-d", "90501:"},
            2,
            "",
            "zarerera: -d takes VVVV:DDDD, VVVV: or :DDDD in hexadecimal, not '90501:'\n" +
                kTryHelp},
        // No board: why, on standard error; a PLX 9050 whose EEPROM did not load the board's IDs.
        SelectionCase{"NoBoardHint",
                      {"list", "-d", "1234:5678"},
                      0,
                      "",
                      "zarerera: no function with IDs 1234:5678 among the 12 functions on the "
                      "bus; list --all shows them\n"},
        SelectionCase{"ChipsOwnIdsHint",
                      {"--ids=10b5:9050", "list"},
                      0,
                      "",
                      "zarerera: no function with IDs 9050:10b5 among the 12 functions on the "
                      "bus; list --all shows them\n" +
                          ChipIdsHint("00:05.0") + ChipIdsHint("00:06.0") + ChipIdsHint("00:07.0")},
        SelectionCase{"ChipsOwnIdsListed",
                      {"--ids=10b5:9050", "list", "-d", "10b5:9050"},
                      0,
                      "0 00:05.0 10b5:9050\n1 00:06.0 10b5:9050\n2 00:07.0 10b5:9050\n",
                      ""},
        // A filter by slot finding nothing is an answer, not a puzzle.
        SelectionCase{"NoHintForAnEmptySlot", {"list", "-s", "1e"}, 0, "", ""},
        // A board found by its vendor alone is opened by its own IDs.
        SelectionCase{"BoardByVendor", {"--sim-di=77", "-d", "9050:", "di"}, 0, "77\n", ""}));

INSTANTIATE_TEST_SUITE_P(
    Commands, SelectionTest,
    ::testing::Values(
        SelectionCase{"Transposed",
                      {"lsit"},
                      2,
                      "",
                      "zarerera: unknown command 'lsit'; did you mean 'list'?\n" + kTryHelp},
        SelectionCase{"AfterOptions",
                      {"--board", "1", "-s", "06", "regz"},
                      2,
                      "",
                      "zarerera: unknown command 'regz'; did you mean 'regs'?\n" + kTryHelp},
        SelectionCase{"LetterLeftOut",
                      {"wach", "di"},
                      2,
                      "",
                      "zarerera: unknown command 'wach'; did you mean 'watch'?\n" + kTryHelp},
        SelectionCase{
            "LongerNameTwoEdits",
            {"countr-st", "1", "2", "3"},
            2,
            "",
            "zarerera: unknown command 'countr-st'; did you mean 'counter-set'?\n" + kTryHelp},
        SelectionCase{"EepromCommand",
                      {"eeprom", "dmp"},
                      2,
                      "",
                      "zarerera: unknown eeprom command 'dmp'; did you mean 'dump'?\n" + kTryHelp},
        SelectionCase{"NothingClose",
                      {"frobnicate"},
                      2,
                      "",
                      "zarerera: unknown command 'frobnicate'\n" + kTryHelp},
        SelectionCase{
            "ShortNameTwoEditsAway", {"ls"}, 2, "", "zarerera: unknown command 'ls'\n" + kTryHelp},
        // An option's value is not taken for a command.
        SelectionCase{
            "OptionValueIsNoCommand",
            {"-s", "lsit", "list"},
            2,
            "",
            "zarerera: -s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot 00-1f, "
            "function 0-7; a part left out or * matches any), not 'lsit'\n" +
                kTryHelp}));

}  // namespace
