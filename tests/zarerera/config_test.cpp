// zarerera config: configuration space dumped as lspci -x shows it, registers read and set as
// setpci takes them, on the simulated bus (each write read back, and the dump after the writes
// shows what reached the function) and on a fabricated sysfs tree (what reached its config file).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "run_command.h"
#include "support/fake_sysfs.h"

namespace {

using cmdtest::kTryHelp;
using cmdtest::Result;
using cmdtest::Zarerera;

// The default machine's board at 00:05.0, as the bus set it up.
const std::string kBoardHeader =
    "00: 50 90 b5 10 03 00 00 00 01 00 80 06 00 00 00 00\n"
    "10: 00 18 02 fe 81 c0 00 00 00 00 00 00 01 c1 00 00\n"
    "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
const std::string kBoardLine30 = "30: 00 00 00 00 00 00 00 00 00 00 00 00 0a 01 00 00\n";
const std::string kZeros = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";

std::string ZeroLines(unsigned from, unsigned to, int digits) {
  std::string text;
  char offset[8];
  for (unsigned o = from; o < to; o += 16) {
    std::snprintf(offset, sizeof offset, "%0*x:", digits, o);
    text += offset + kZeros;
  }
  return text;
}

const std::string kBadOffsetForm =
    "zarerera: config takes a register name (VENDOR_ID to MAX_LAT) or OFFSET.B, OFFSET.W or "
    "OFFSET.L, not ";

struct ConfigCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;
};

void PrintTo(const ConfigCase& c, std::ostream* os) {
  *os << c.name;
}

class ConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigTest, OutputAndExitStatus) {
  const ConfigCase& c = GetParam();
  std::vector<std::string> args = {"--fast", "--sim-functions=5"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Dumps, ConfigTest,
    ::testing::Values(
        ConfigCase{"HeaderByDefault",
                   {"config"},
                   0,
                   "00:05.0 9050:10b5\n" + kBoardHeader + kBoardLine30 + "\n",
                   ""},
        ConfigCase{
            "ConventionalSpace",
            {"config", "-xxx"},
            0,
            "00:05.0 9050:10b5\n" + kBoardHeader + kBoardLine30 + ZeroLines(0x40, 0x100, 2) + "\n",
            ""},
        // Offsets of three digits; a conventional function ends after its 256 bytes.
        ConfigCase{"ExtendedSpaceOfAConventionalFunction",
                   {"config", "-xxxx"},
                   0,
                   "00:05.0 9050:10b5\n"
                   "000: 50 90 b5 10 03 00 00 00 01 00 80 06 00 00 00 00\n"
                   "010: 00 18 02 fe 81 c0 00 00 00 00 00 00 01 c1 00 00\n" +
                       ZeroLines(0x20, 0x30, 3) +
                       "030: 00 00 00 00 00 00 00 00 00 00 00 00 0a 01 00 00\n" +
                       ZeroLines(0x40, 0x100, 3) + "\n",
                   "zarerera: 00:05.0 has no extended configuration space: 256 bytes shown\n"},
        // -s names any function, whatever its IDs.
        ConfigCase{"AnyFunction",
                   {"-s", "00:19", "config", "vendor_id", "DEVICE_ID"},
                   0,
                   "00 VENDOR_ID 8086\n02 DEVICE_ID 1502\n",
                   ""},
        ConfigCase{"FunctionOnAnotherBus", {"-s", "01:00.0", "config", "0.L"}, 0, "100e8086\n", ""},
        ConfigCase{"OneRegisterIsItsValue", {"config", "INTERRUPT_PIN"}, 0, "01\n", ""}));

INSTANTIATE_TEST_SUITE_P(
    Writes, ConfigTest,
    ::testing::Values(
        // Each write read back; the dump after the writes shows them.
        ConfigCase{"ByNameAndOffset",
                   {"config", "LATENCY_TIMER=40", "3c.b=5", "-x"},
                   0,
                   "0d LATENCY_TIMER 00 -> 40, reads 40\n"
                   "3c 3c.B 0a -> 05, reads 05\n"
                   "00:05.0 9050:10b5\n"
                   "00: 50 90 b5 10 03 00 00 00 01 00 80 06 00 40 00 00\n"
                   "10: 00 18 02 fe 81 c0 00 00 00 00 00 00 01 c1 00 00\n"
                   "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                   "30: 00 00 00 00 00 00 00 00 00 00 00 00 05 01 00 00\n\n",
                   ""},
        // Only the mask's bits change; a read-only register keeps its value.
        ConfigCase{"MaskKeepsTheOtherBits",
                   {"config", "COMMAND=0:2", "command"},
                   0,
                   "04 COMMAND 0003 -> 0001, reads 0001\n04 COMMAND 0001\n",
                   ""},
        ConfigCase{"DwordWrite",
                   {"config", "14.L=c200", "BASE_ADDRESS_1"},
                   0,
                   "14 14.L 0000c081 -> 0000c200, reads 0000c201\n14 BASE_ADDRESS_1 0000c201\n",
                   ""},
        ConfigCase{"ReadOnlyRegisterIgnoresTheWrite",
                   {"config", "VENDOR_ID=1234"},
                   0,
                   "00 VENDOR_ID 9050 -> 1234, reads 9050\n",
                   ""},
        ConfigCase{"DryRunWritesNothing",
                   {"config", "-n", "LATENCY_TIMER=40", "-x"},
                   0,
                   "0d LATENCY_TIMER 00 -> 40 (dry run: not written)\n00:05.0 9050:10b5\n" +
                       kBoardHeader + kBoardLine30 + "\n",
                   ""}));

INSTANTIATE_TEST_SUITE_P(
    Refusals, ConfigTest,
    ::testing::Values(
        ConfigCase{"UnknownName",
                   {"config", "LATENCY=40"},
                   2,
                   "",
                   kBadOffsetForm + "'LATENCY'\n" + kTryHelp},
        ConfigCase{"NoWidth", {"config", "0d=40"}, 2, "", kBadOffsetForm + "'0d'\n" + kTryHelp},
        ConfigCase{
            "Unaligned",
            {"config", "0d.W=40"},
            2,
            "",
            "zarerera: 0d.W: offset d is not a multiple of the width (2 bytes)\n" + kTryHelp},
        ConfigCase{
            "ValueWiderThanTheRegister",
            {"config", "LATENCY_TIMER=100"},
            2,
            "",
            "zarerera: the value for LATENCY_TIMER takes a hexadecimal number from 0 to ff, not "
            "'100'\n" +
                kTryHelp},
        ConfigCase{"PastTheSpace",
                   {"config", "ffe.L"},
                   2,
                   "",
                   "zarerera: the offset of ffe.L takes a hexadecimal number from 0 to ffc, not "
                   "'ffe'\n" +
                       kTryHelp},
        ConfigCase{"DryRunWithoutWrite",
                   {"config", "-n", "COMMAND"},
                   2,
                   "",
                   "zarerera: -n goes with a register write\n" + kTryHelp},
        ConfigCase{"TooManyX",
                   {"config", "-xxxxx"},
                   2,
                   "",
                   "zarerera: -x is given at most four times (-xxxx)\n" + kTryHelp},
        ConfigCase{"NoFunctionThere",
                   {"-s", "1e", "config"},
                   1,
                   "",
                   "zarerera: no function at 1e with IDs *:*\n"},
        ConfigCase{"TwoFunctionsInTheSlot",
                   {"-s", "0", "config"},
                   1,
                   "",
                   "zarerera: -s 0 matches 2 functions (00:00.0, 01:00.0); name one\n"}));

TEST(ConfigJsonTest, BytesAndWritesAsHexStrings) {
  const Result r = Zarerera({"--fast", "--json", "config", "CACHE_LINE_SIZE=10", "-x"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["slot"], "00:05.0");
  EXPECT_EQ(doc["writes"], nlohmann::json::array({{{"name", "CACHE_LINE_SIZE"},
                                                   {"offset", "0c"},
                                                   {"width", 1},
                                                   {"old", "00"},
                                                   {"new", "10"},
                                                   {"written", true},
                                                   {"read_back", "10"}}}));
  ASSERT_EQ(doc["config"].size(), 64u);
  EXPECT_EQ(doc["config"][0], "50");
  EXPECT_EQ(doc["config"][1], "90");
  EXPECT_EQ(doc["config"][0x0c], "10");
  EXPECT_EQ(doc["config"][0x3c], "0a");
}

// On the real bus's driver: a write reaches the function's config file at its offset and
// width, nothing else; read-only mode refuses before any access, -n still shows.
class ConfigSysfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    tree_.AddFunction("0000:00:05.0", 0x9050, 0x10b5, {{0xfe000000, 128, tree_.kMem}}, 10);
    tree_.AddFunction("0000:00:1f.0", 0x8086, 0x1c44);
    before_ = tree_.Read(kFile);
  }
  Result Run(std::vector<std::string> args) const {
    args.insert(args.begin(), "--sysfs-root=" + tree_.root());
    return Zarerera(args);
  }
  static constexpr char kFile[] = "0000:00:1f.0/config";
  testsupport::FakeSysfs tree_;
  std::string before_;
};

TEST_F(ConfigSysfsTest, WriteReachesTheConfigFile) {
  const Result r = Run({"-s", "1f.0", "config", "COMMAND=0146", "LATENCY_TIMER=20"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "04 COMMAND 0000 -> 0146, reads 0146\n0d LATENCY_TIMER 00 -> 20, reads 20\n");
  std::string expected = before_;
  expected[4] = '\x46';
  expected[5] = '\x01';
  expected[0x0d] = '\x20';
  EXPECT_EQ(tree_.Read(kFile), expected);
}

TEST_F(ConfigSysfsTest, ReadOnlyRefusesWritesButShowsThem) {
  Result r = Run({"--read-only", "-s", "1f.0", "config", "COMMAND=0146"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "zarerera: configuration writes are refused in read-only mode (--read-only); -n "
            "shows them\n");
  r = Run({"--read-only", "-s", "1f.0", "config", "-n", "COMMAND=0146"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "04 COMMAND 0000 -> 0146 (dry run: not written)\n");
  r = Run({"--read-only", "-s", "1f.0", "config", "-xxx"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "00:1f.0 8086:1c44\n00: 86 80 44 1c 00 00 00 00 00 00 00 00 00 00 00 00\n" +
                       ZeroLines(0x10, 0x100, 2) + "\n");
  EXPECT_EQ(tree_.Read(kFile), before_);
}

}  // namespace
