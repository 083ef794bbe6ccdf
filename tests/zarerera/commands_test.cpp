// The zarerera command run as a program on the simulated machine: every subcommand's whole output
// for given arguments, its exit status, and what reached the simulated board's ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_command.h"
#include "zarerera_version.h"

namespace {

using cmdtest::Result;
using cmdtest::Zarerera;
using testsupport::TempFile;

// The default machine: the chipset's three functions and one board at 00:05.0.
const char kListAllVerbose[] =
    "0 00:00.0 8086:0104\n"
    "1 00:05.0 9050:10b5\n"
    "\tRegion 0: Memory at fe021800 [size=128]\n"
    "\tRegion 1: I/O ports at c080 [size=128]\n"
    "\tRegion 3: I/O ports at c100 [size=32]\n"
    "\tIRQ 10\n"
    "2 00:19.0 8086:1502\n"
    "\tRegion 0: Memory at fe000000 [size=128K]\n"
    "\tRegion 1: Memory at fe020000 [size=4K]\n"
    "\tRegion 2: I/O ports at c000 [size=32]\n"
    "\tIRQ 11\n"
    "3 00:1f.2 8086:1c02\n"
    "\tRegion 0: I/O ports at c020 [size=8]\n"
    "\tRegion 1: I/O ports at c028 [size=4]\n"
    "\tRegion 2: I/O ports at c030 [size=8]\n"
    "\tRegion 3: I/O ports at c038 [size=4]\n"
    "\tRegion 4: I/O ports at c040 [size=32]\n"
    "\tRegion 5: Memory at fe021000 [size=2K]\n"
    "\tIRQ 10\n";

const char kRegisters[] =
    "00 LAS0RR  00000000\n"
    "04 LAS1RR  0fffffe1\n"
    "08 LAS2RR  00000000\n"
    "0c LAS3RR  00000000\n"
    "10 EROMRR  00000000\n"
    "14 LAS0BA  00000000\n"
    "18 LAS1BA  00000001\n"
    "1c LAS2BA  00000000\n"
    "20 LAS3BA  00000000\n"
    "24 EROMBA  00000000\n"
    "28 LAS0BRD 00000000\n"
    "2c LAS1BRD 00000000\n"
    "30 LAS2BRD 00000000\n"
    "34 LAS3BRD 00000000\n"
    "38 EROMBRD 00000000\n"
    "3c CS0BASE 00000000\n"
    "40 CS1BASE 00000000\n"
    "44 CS2BASE 00000000\n"
    "48 CS3BASE 00000000\n"
    "4c INTCSR  00000000\n"
    "50 CNTRL   18000000\n";

const char kRegistersRaw[] =
    "00: 00000000 0fffffe1 00000000 00000000\n"
    "10: 00000000 00000000 00000001 00000000\n"
    "20: 00000000 00000000 00000000 00000000\n"
    "30: 00000000 00000000 00000000 00000000\n"
    "40: 00000000 00000000 00000000 00000000\n"
    "50: 18000000\n";

// The simulated part's default contents.
const char kDefaultEeprom[] =
    "10b5 9050 0680 0001 0000 0000 0100 0000\n"
    "0000 ffff ffe1 0000 0000 0000 0000 0000\n"
    "0000 0000 0000 0000 0001 0000 0000 0000\n"
    "0000 0000 0000 0000 0000 0000 0000 0000\n"
    "0000 0000 0000 0000 0000 0000 0000 0000\n"
    "0000 0000 0000 0000 0000 0000 0003 0000\n"
    "0000 ffff ffff ffff ffff ffff ffff ffff\n"
    "ffff ffff ffff ffff ffff ffff ffff ffff\n";

const char kDefaultEepromHex[] =
    "0000: 10 b5 90 50 06 80 00 01 00 00 00 00 01 00 00 00\n"
    "0010: 00 00 ff ff ff e1 00 00 00 00 00 00 00 00 00 00\n"
    "0020: 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00\n"
    "0030: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "0040: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "0050: 00 00 00 00 00 00 00 00 00 00 00 00 00 03 00 00\n"
    "0060: 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n"
    "0070: ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n";

std::string AllOnesHex() {
  std::string text;
  for (unsigned line = 0; line < 8; ++line) {
    char offset[8];
    std::snprintf(offset, sizeof offset, "%04x:", line * 16);
    text += offset;
    for (int i = 0; i < 16; ++i) text += " ff";
    text += "\n";
  }
  return text;
}
const std::string kNoEepromHex = AllOnesHex();

struct TranscriptCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;
};

void PrintTo(const TranscriptCase& c, std::ostream* os) {
  *os << c.name;
}

class TranscriptTest : public ::testing::TestWithParam<TranscriptCase> {};

TEST_P(TranscriptTest, OutputAndExitStatus) {
  const TranscriptCase& c = GetParam();
  std::vector<std::string> args = {"--fast"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

using cmdtest::kTryHelp;

INSTANTIATE_TEST_SUITE_P(
    Commands, TranscriptTest,
    ::testing::Values(
        TranscriptCase{"ListTheBoard", {"list"}, 0, "0 00:05.0 9050:10b5\n", ""},
        TranscriptCase{"ListEveryFunctionVerbose", {"list", "--all", "-v"}, 0, kListAllVerbose, ""},
        TranscriptCase{"ListOtherIds",
                       {"--boards=3", "--ids=9050:10b5,1234:abcd", "list", "-d", "1234:ABCD"},
                       0,
                       "0 00:06.0 1234:abcd\n1 00:07.0 1234:abcd\n",
                       ""},
        TranscriptCase{"ListNoBoard",
                       {"--boards=0", "list"},
                       0,
                       "",
                       "zarerera: no function with IDs 9050:10b5 among the 3 functions on the bus; "
                       "list --all shows them\n"},
        TranscriptCase{"RegsAll", {"regs"}, 0, kRegisters, ""},
        TranscriptCase{"RegsRaw", {"regs", "--raw"}, 0, kRegistersRaw, ""},
        TranscriptCase{"RegsOneByName", {"regs", "cntrl"}, 0, "18000000\n", ""},
        TranscriptCase{"RegsTwoByName",
                       {"regs", "LAS1RR", "las1ba"},
                       0,
                       "04 LAS1RR  0fffffe1\n18 LAS1BA  00000001\n",
                       ""},
        TranscriptCase{"RegsSetWithMask",
                       {"regs", "INTCSR=41:40"},
                       0,
                       "4c INTCSR  00000000 -> 00000040, reads 00000040\n",
                       ""},
        TranscriptCase{"RegsSetNameValue",
                       {"regs", "LAS1BA", "0x201"},
                       0,
                       "18 LAS1BA  00000001 -> 00000201, reads 00000201\n",
                       ""},
        TranscriptCase{"RegsSetThenRead",
                       {"regs", "INTCSR=40", "INTCSR"},
                       0,
                       "4c INTCSR  00000000 -> 00000040, reads 00000040\n4c INTCSR  00000040\n",
                       ""},
        TranscriptCase{"RegsDryRunWritesNothing",
                       {"regs", "-n", "INTCSR=40", "INTCSR"},
                       0,
                       "4c INTCSR  00000000 -> 00000040 (dry run: not written)\n"
                       "4c INTCSR  00000000\n",
                       ""},
        TranscriptCase{"Di", {"--sim-di=a5", "di"}, 0, "a5\n", ""},
        TranscriptCase{"Read", {"--sim-di", "3c", "read", "0x10"}, 0, "3c\n", ""},
        TranscriptCase{"Counters", {"counters", "--group", "2"}, 0, "0 0 0\n", ""},
        TranscriptCase{"SecondBoardBySlot",
                       {"--boards=2", "-s", "00:06.0", "regs", "LAS1RR"},
                       0,
                       "0fffffe1\n",
                       ""},
        TranscriptCase{"DumpText", {"eeprom", "dump"}, 0, kDefaultEeprom, ""},
        TranscriptCase{"DumpHex", {"eeprom", "dump", "--format=hex"}, 0, kDefaultEepromHex, ""},
        // No part on the pins: the words are shown as read, and a note says what they mean.
        TranscriptCase{"DumpWithoutAnEeprom",
                       {"--sim-no-eeprom", "eeprom", "dump", "--format=hex"},
                       0,
                       kNoEepromHex,
                       "zarerera: no EEPROM answered: every word read ffff and the bridge's "
                       "EEPROM valid bit is clear\n"},
        // Operations that fail: exit status 1 and the reason.
        TranscriptCase{"NoBoard",
                       {"--boards=0", "di"},
                       1,
                       "",
                       "zarerera: cannot open board 0 with IDs 9050:10b5: Could not find PCI "
                       "card\n"},
        TranscriptCase{"BoardOutOfRange",
                       {"--board", "1", "di"},
                       1,
                       "",
                       "zarerera: cannot open board 1 with IDs 9050:10b5: Card out of range of "
                       "available cards\n"},
        TranscriptCase{"NoBoardAtSlot",
                       {"-s", "00:06.0", "di"},
                       1,
                       "",
                       "zarerera: no board with IDs 9050:10b5 at 00:06.0\n"},
        TranscriptCase{"OffsetOutsideTheWindow",
                       {"read", "20"},
                       1,
                       "",
                       "zarerera: offset 0x20 is outside the board's port window (32 bytes)\n"},
        TranscriptCase{
            "SimOptionsNeedTheSimulator",
            {"--driver=windows", "list"},
            2,
            "",
            "zarerera: the simulated machine's options go with --driver=sim\n" + kTryHelp},
        TranscriptCase{"VerifyMissingFile",
                       {"eeprom", "verify", "/nonexistent/image.txt"},
                       1,
                       "",
                       "zarerera: /nonexistent/image.txt: No such file or directory\n"},
        // Usage errors: exit status 2, nothing done.
        TranscriptCase{"NoCommand",
                       {},
                       2,
                       "",
                       "zarerera: a command is needed: list, regs, di, do, counters, "
                       "counter-set, read, write, eeprom, watch, bind, unbind, config\n" +
                           kTryHelp},
        TranscriptCase{
            "DoValueTooBig",
            {"do", "1ff"},
            2,
            "",
            "zarerera: do takes a hexadecimal number from 0 to ff, not '1ff'\n" + kTryHelp},
        TranscriptCase{"DoWithoutValue", {"do"}, 2, "", "zarerera: value is required\n" + kTryHelp},
        TranscriptCase{
            "UnknownRegister",
            {"regs", "NOPE=1"},
            2,
            "",
            "zarerera: no bridge register 'NOPE' (the names are LAS0RR to CNTRL)\n" + kTryHelp},
        // An offset is not a name: `regs LAS1RR 18` writes 18, so `regs 18` must not read.
        TranscriptCase{
            "OffsetIsNoRegisterName",
            {"regs", "18"},
            2,
            "",
            "zarerera: no bridge register '18' (the names are LAS0RR to CNTRL)\n" + kTryHelp},
        TranscriptCase{"RawWithNames",
                       {"regs", "--raw", "CNTRL"},
                       2,
                       "",
                       "zarerera: --raw shows every register; it takes no names\n" + kTryHelp},
        TranscriptCase{"DryRunWithoutWrite",
                       {"regs", "-n"},
                       2,
                       "",
                       "zarerera: --dry-run goes with a register write\n" + kTryHelp},
        TranscriptCase{"BadSlot",
                       {"-s", "00:20.0", "di"},
                       2,
                       "",
                       "zarerera: -s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot "
                       "00-1f, function 0-7; a part left out or * matches any), not '00:20.0'\n" +
                           kTryHelp},
        TranscriptCase{
            "BadIds",
            {"-d", "9050", "list"},
            2,
            "",
            "zarerera: -d takes VVVV:DDDD, VVVV: or :DDDD in hexadecimal, not '9050'\n" + kTryHelp},
        TranscriptCase{"GroupOutOfRange",
                       {"counters", "-g", "4"},
                       2,
                       "",
                       "zarerera: --group: Value 4 not in range 0 to 3\n" + kTryHelp},
        TranscriptCase{"CounterSetNeedsThree",
                       {"counter-set", "34", "74"},
                       2,
                       "",
                       "zarerera: controls: At least 3 required but received 2\n" + kTryHelp},
        TranscriptCase{"WatchWhat",
                       {"watch", "temp"},
                       2,
                       "",
                       "zarerera: what: temp not in {di,counters}\n" + kTryHelp},
        TranscriptCase{"WatchWhatAndIrq",
                       {"watch", "di", "--irq"},
                       2,
                       "",
                       "zarerera: what excludes --irq\n" + kTryHelp},
        TranscriptCase{"WatchTimeoutNeedsIrq",
                       {"watch", "di", "--timeout", "5"},
                       2,
                       "",
                       "zarerera: --timeout requires --irq\n" + kTryHelp},
        TranscriptCase{"WatchNothing",
                       {"watch"},
                       2,
                       "",
                       "zarerera: watch needs di, counters or --irq\n" + kTryHelp},
        // LINTi1 is not enabled on the simulated board unless it is made to interrupt.
        TranscriptCase{"WatchIrqTimesOut",
                       {"--fast", "watch", "--irq", "-c", "2", "-t", "50"},
                       1,
                       "",
                       "zarerera: 0 of 2 interrupts came within 50 ms\n"},
        TranscriptCase{"FastAndRealTime",
                       {"--real-time", "di"},
                       2,
                       "",
                       "zarerera: --fast excludes --real-time\n" + kTryHelp},
        TranscriptCase{"UnknownDriver",
                       {"--driver=foo", "di"},
                       2,
                       "",
                       "zarerera: --driver: foo not in {auto,sim,sysfs,vfio,windows}\n" + kTryHelp},
        TranscriptCase{"EepromWithoutCommand",
                       {"eeprom"},
                       2,
                       "",
                       "zarerera: eeprom needs a command: dump, write, verify\n" + kTryHelp},
        TranscriptCase{"UnknownFormat",
                       {"eeprom", "dump", "--format=xml"},
                       2,
                       "",
                       "zarerera: --format: xml not in {bin,hex,text}\n" + kTryHelp},
        TranscriptCase{"MachineOptionsCheckedByTheHost",
                       {"--boards=17", "di"},
                       2,
                       "",
                       "zarerera: --boards takes a number from 0 to 16, not '17'\n" + kTryHelp},
        TranscriptCase{"WornOutWordWithoutAnEeprom",
                       {"--sim-no-eeprom", "--sim-worn-out-word=3", "eeprom", "dump"},
                       2,
                       "",
                       "zarerera: --sim-worn-out-word needs the EEPROM that --sim-no-eeprom "
                       "leaves out\n" +
                           kTryHelp},
        TranscriptCase{"EepromFileWithoutAnEeprom",
                       {"--sim-no-eeprom", "--eeprom-file=e.txt", "eeprom", "dump"},
                       2,
                       "",
                       "zarerera: the first board has no EEPROM to keep in an --eeprom-file or "
                       "record with --vcd\n" +
                           kTryHelp},
        TranscriptCase{
            "WornOutWordOutOfRange",
            {"--sim-worn-out-word=64", "di"},
            2,
            "",
            "zarerera: --sim-worn-out-word takes a word number from 0 to 63, not 64\n" + kTryHelp}),
    [](const ::testing::TestParamInfo<TranscriptCase>& info) { return info.param.name; });

// What reached the board's ports, in order, for the commands that drive them.
struct PortCase {
  const char* name;
  std::vector<std::string> args;
  std::string accesses;  // "write OO VV" / "read OO VV" lines
  int exitCode = 0;
};

void PrintTo(const PortCase& c, std::ostream* os) {
  *os << c.name;
}

class PortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortTest, AccessesReachTheBoard) {
  TempFile log("port_log");
  std::vector<std::string> args = {"--fast", "--sim-port-log", log.path()};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
  EXPECT_EQ(log.Read(), GetParam().accesses);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PortTest,
    ::testing::Values(
        PortCase{"DoWritesTheOutputLatch", {"do", "0x5a"}, "write 14 5a\n"},
        PortCase{"WriteOneByte", {"write", "0x7", "ff"}, "write 07 ff\n"},
        PortCase{"DiReadsTheInput", {"--sim-di=81", "di"}, "read 10 81\n"},
        // The read-back command latches the three counts, then each is read low byte first.
        PortCase{"CountersLatchThenRead",
                 {"counters", "-g", "2"},
                 "write 0b de\nread 08 00\nread 08 00\nread 09 00\nread 09 00\nread 0a 00\n"
                 "read 0a 00\n"},
        PortCase{"CounterSetProgramsEachCounter",
                 {"counter-set", "34", "74", "0xb4", "--group", "1"},
                 "write 07 34\nwrite 04 00\nwrite 04 00\nwrite 07 74\nwrite 05 00\nwrite 05 00\n"
                 "write 07 b4\nwrite 06 00\nwrite 06 00\n"},
        PortCase{"UsageErrorTouchesNothing", {"do", "100"}, "", 2},
        PortCase{"OffsetOutsideTheWindowTouchesNothing", {"write", "20", "1"}, "", 1}),
    [](const ::testing::TestParamInfo<PortCase>& info) { return info.param.name; });

TEST(OutputTest, AnOutputErrorIsAFailure) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--fast", "list"},
                                               {"--fast", "--json", "di"},
                                               {"--help"},
                                               {"--fast", "eeprom", "dump", "--format=bin"},
                                               {"--sim-irq-every=5", "watch", "--irq"}}) {
    const Result r = Zarerera(args, "/dev/full");
    EXPECT_EQ(r.exitCode, 1) << args.back();
    EXPECT_EQ(r.err, "zarerera: standard output: No space left on device\n") << args.back();
  }
}

// `zarerera watch di | head -1`: once the reader has gone the command ends as other tools do, by
// SIGPIPE and without a word, after the machine has been stopped (the port log is written).
TEST(OutputTest, AClosedPipeEndsQuietly) {
  TempFile log("port_log");
  const cmdtest::Ending e = cmdtest::ZarereraIntoClosedPipe(
      {"--fast", "--sim-di=3c", "--sim-port-log", log.path(), "watch", "di", "-i", "5"});
  EXPECT_TRUE(std::regex_match(e.out, std::regex(R"(\S+ 3c\n)"))) << e.out;
  ASSERT_TRUE(WIFSIGNALED(e.status)) << "status " << e.status << ": " << e.err;
  EXPECT_EQ(WTERMSIG(e.status), SIGPIPE);
  EXPECT_EQ(e.err, "");
  EXPECT_EQ(log.Read().rfind("read 10 3c\n", 0), 0u) << log.Read();
}

TEST(OutputTest, EeprombinDumpIsTheBytesHighFirst) {
  const Result r = Zarerera({"--fast", "eeprom", "dump", "--format", "bin"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.size(), 128u);
  EXPECT_EQ(r.out.substr(0, 4), std::string("\x10\xb5\x90\x50", 4));
  EXPECT_EQ(r.out.substr(0x5c, 4), std::string("\x00\x03\x00\x00", 4));
}

TEST(OutputTest, VersionAndHelpExitZero) {
  Result r = Zarerera({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "zarerera " ZARERERA_VERSION_STRING "\n");
  r = Zarerera({"eeprom", "write", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("write FILE's image", 0), 0u) << r.out;
}

// One line per sample: the time to the millisecond, then the value.
TEST(WatchTest, OneTimestampedLinePerSample) {
  Result r = Zarerera({"--fast", "--sim-di=c3", "watch", "di", "--count", "3", "--interval", "20"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string line = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )";
  EXPECT_TRUE(std::regex_match(r.out, std::regex("(" + line + "c3\n){3}"))) << r.out;
  r = Zarerera({"--fast", "watch", "counters", "-c", "2", "-i", "0", "-g", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::regex_match(r.out, std::regex("(" + line + "0 0 0\n){2}"))) << r.out;
}

// How a watch of interrupts ends: with its count, on Ctrl-C, or at its timeout while
// interrupts keep coming.
struct IrqCase {
  const char* name;
  std::vector<std::string> args;
  bool ctrlC;
  size_t lines;  // printed; 0: at least one
};

void PrintTo(const IrqCase& c, std::ostream* os) {
  *os << c.name;
}

class WatchIrqTest : public ::testing::TestWithParam<IrqCase> {};

// One line per interrupt, numbered from 1 without a gap; INTCSR as read at the interrupt has
// LINTi1's status (bit 2) beside its enable and the PCI interrupt enable. What reached the bridge:
// the enable, then per interrupt the mask at interrupt time and the service's re-arm, and at exit
// the enable cleared. An interrupt taken while the watch stops is masked and not re-armed; a
// store that leaves a memory-mapped register as it was never reaches the bridge.
TEST_P(WatchIrqTest, PrintsEachInterruptAndDisablesAtExit) {
  const IrqCase& c = GetParam();
#ifdef ZARERERA_TESTS_EMULATED
  // qemu-user (7.2) fails the join of any thread in a program that has caught a signal
  // (pthread_join: EDEADLK), so under it the program aborts on its way out of a Ctrl-C.
  if (c.ctrlC) GTEST_SKIP() << "qemu-user cannot join a thread after a caught signal";
#endif
  TempFile log("register_log");
  std::vector<std::string> args = {"--fast", "--sim-irq-every=5", "--sim-register-log", log.path()};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Result r = Zarerera(args, "", c.ctrlC);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} interrupt (\d+) lost 0 )"
                        R"(INTCSR 00000045)");
  std::istringstream out(r.out);
  size_t n = 0;
  for (std::string text; std::getline(out, text); ++n) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    EXPECT_EQ(std::stoul(m[1]), n + 1);
  }
  if (c.lines != 0) {
    EXPECT_EQ(n, c.lines);
  }
  EXPECT_GE(n, 1u);
  const std::string writes = log.Read();
  EXPECT_TRUE(std::regex_match(
      writes,
      std::regex("4c 00000041\n(4c 00000001\n4c 00000041\n)*4c 00000001\n(4c 00000001\n)?")))
      << writes;
  EXPECT_GE(std::count(writes.begin(), writes.end(), '\n'), static_cast<long>(2 * n)) << writes;
}

INSTANTIATE_TEST_SUITE_P(
    Watch, WatchIrqTest,
    ::testing::Values(
        IrqCase{"Count", {"watch", "--irq", "--count", "3"}, false, 3},
        IrqCase{"CountRegistersInIo", {"--space0=io", "watch", "--irq", "-c", "2"}, false, 2},
        IrqCase{"CtrlC", {"watch", "--irq"}, true, 0},
        IrqCase{"Timeout", {"watch", "--irq", "--timeout", "100"}, false, 0}),
    [](const ::testing::TestParamInfo<IrqCase>& info) { return info.param.name; });

}  // namespace
