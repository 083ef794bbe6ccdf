// The command against hostile files and arguments: dump targets that are no regular file, planted
// links, read-only files, backups at taken names, inputs too large or not files at all, images one
// byte off, wildcard IDs that name a function other than the bridge, and numbers out of range.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "run_command.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using Private = testsupport::ScratchDir;
using cmdtest::kTryHelp;
using cmdtest::Result;
using cmdtest::Zarerera;
using testsupport::ReadFile;

using testsupport::Put;

// The simulated part's default contents as text, hex and bin.
std::string DefaultImage(const std::string& format) {
  const Result r = Zarerera({"--fast", "eeprom", "dump", "--format=" + format});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

const char* const kFormats[] = {"text", "hex", "bin"};

// --- Dump targets ------------------------------------------------------------------------------

struct Target {
  const char* name;
  const char* reason;
};

void PrintTo(const Target& t, std::ostream* os) {
  *os << t.name;
}

class DumpTargetTest : public ::testing::TestWithParam<Target> {};

// In every form, a dump onto anything but a regular file or a new name is refused before the
// EEPROM is read, and the target is left as it was (a FIFO stays a FIFO, no file appears where a
// dangling link leads).
TEST_P(DumpTargetTest, IsRefused) {
  const Target& t = GetParam();
  for (const char* format : kFormats) {
    Private dir;
    const std::string target = dir / t.name;
    const std::string name = t.name;
    if (name == "fifo") {
      ASSERT_EQ(mkfifo(target.c_str(), 0666), 0);
    } else if (name == "device") {
      if (mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "no mknod";
    } else if (name == "dangling") {
      fs::create_symlink("victim", target);
    } else if (name == "readonly") {
      Put(target, "old");
      fs::permissions(target, fs::perms(0444));
    } else if (name == "directory") {
      fs::create_directory(target);
    }
    const fs::file_type type = fs::symlink_status(target).type();
    const Result r =
        Zarerera({"--fast", "eeprom", "dump", target, std::string("--format=") + format});
    EXPECT_EQ(r.exitCode, 1) << format;
    const std::string reason =
        name == "dangling" ? "a symbolic link to nothing (" + dir.path() + "/victim); not followed"
                           : t.reason;
    EXPECT_EQ(r.err, "zarerera: " + target + ": " + reason + "\n") << format;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fs::symlink_status(target).type(), type) << format;
    EXPECT_EQ(dir.Names(), std::set<std::string>{t.name}) << format;
    if (name == "readonly") {
      EXPECT_EQ(ReadFile(target), "old");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, DumpTargetTest,
    ::testing::Values(Target{"fifo", "not a regular file"}, Target{"device", "not a regular file"},
                      Target{"dangling", ""}, Target{"readonly", "Permission denied"},
                      Target{"directory", "Is a directory"}),
    [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

// Every form keeps the file's mode, and links planted at the names a temporary file might have
// lead nowhere: the victim is untouched and no file is left beside the dump.
TEST(DumpTest, KeepsTheModeAndFollowsNoPlantedLink) {
  for (const char* format : kFormats) {
    Private dir;
    Put(dir / "victim", "keep me");
    Put(dir / "out", "old");
    fs::permissions(dir / "out", fs::perms(0640));
    fs::create_symlink("victim", dir / "out.tmp");
    const Result r =
        Zarerera({"--fast", "eeprom", "dump", dir / "out", std::string("--format=") + format});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out"), DefaultImage(format)) << format;
    EXPECT_EQ(fs::status(dir / "out").permissions(), fs::perms(0640)) << format;
    EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"out", "out.tmp", "victim"}));
  }
}

// "-" is standard output; with --json, which prints its document there, it is refused.
TEST(DumpTest, DashIsStandardOutput) {
  Result r = Zarerera({"--fast", "eeprom", "dump", "-", "--format=hex"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, DefaultImage("hex"));
  r = Zarerera({"--fast", "--json", "eeprom", "dump", "-"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "zarerera: --json prints a document: the image goes to a file, not to '-'\n" +
                       kTryHelp);
}

// --- Backups -----------------------------------------------------------------------------------

std::string BackupName(std::time_t t, int n) {
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string("eeprom-00_05_0-") + stamp + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt";
}

// Dangling links planted at the backup's first names for the next seconds are passed over: two
// backups made within those seconds get names of their own, each reported as made and holding
// the former contents, and no file appears where a link leads.
TEST(BackupTest, TakenNamesArePassedOverAndTheRealNameReported) {
  Private dir;
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t < now + 4; ++t) {
    fs::create_symlink(dir / ("victim" + std::to_string(t - now)), dir / BackupName(t, 1));
  }
  Private machine;
  const std::string eeprom = machine / "eeprom.txt";
  Put(machine / "image.txt", DefaultImage("text"));
  std::vector<std::string> reported;
  for (int run = 0; run < 2; ++run) {
    const Result r = Zarerera({"--fast", "--eeprom-file", eeprom, "--json", "eeprom", "write",
                               machine / "image.txt", "--backup-dir", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    reported.push_back(nlohmann::json::parse(r.out)["backup"]);
  }
  ASSERT_EQ(std::time(nullptr) < now + 4, true) << "too slow to tell";
  EXPECT_NE(reported[0], reported[1]);
  for (const std::string& backup : reported) {
    EXPECT_FALSE(fs::is_symlink(backup)) << backup;
    EXPECT_EQ(ReadFile(backup), DefaultImage("text")) << backup;
    EXPECT_EQ(fs::path(backup).parent_path(), fs::path(dir.path()));
    const std::string name = fs::path(backup).filename().string();
    bool known = false;
    for (std::time_t t = now; t < now + 4; ++t) {
      known = known || name == BackupName(t, 2) || name == BackupName(t, 3);
    }
    EXPECT_TRUE(known) << name;
  }
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(fs::exists(dir / ("victim" + std::to_string(i))));
}

// --- Inputs ------------------------------------------------------------------------------------

struct Input {
  const char* name;
  const char* format;
  std::string content;
  std::string error;  // after "zarerera: PATH: "; empty: accepted
};

void PrintTo(const Input& i, std::ostream* os) {
  *os << i.name;
}

class InputTest : public ::testing::TestWithParam<Input> {};

std::string Bytes(size_t n, char c = '\x12') {
  return std::string(n, c);
}

std::string HexLines(size_t bytes, const std::string& byte = "12") {
  std::string text;
  for (size_t b = 0; b < bytes; ++b) {
    if (b % 16 == 0) {
      char offset[24];
      std::snprintf(offset, sizeof offset, "%04zx:", b);
      text += offset;
    }
    text += " " + byte;
    if (b % 16 == 15) text += "\n";
  }
  return text;
}

// verify reads the image and compares: an accepted image differs from the part (status 1, "the
// EEPROM differs"), a refused one is named with its reason.
TEST_P(InputTest, IsReadOrRefused) {
  const Input& in = GetParam();
  Private dir;
  const std::string path = dir / "image";
  Put(path, in.content);
  const Result r =
      Zarerera({"--fast", "eeprom", "verify", path, std::string("--format=") + in.format});
  EXPECT_EQ(r.exitCode, 1);
  if (in.error.empty()) {
    EXPECT_EQ(r.err.rfind("zarerera: the EEPROM differs from " + path + " in ", 0), 0u) << r.err;
  } else {
    EXPECT_EQ(r.err, "zarerera: " + path + ": " + in.error + "\n");
  }
}

const std::string kCapped = "larger than 16384 bytes, more than any image; not read";

INSTANTIATE_TEST_SUITE_P(
    Images, InputTest,
    ::testing::Values(
        Input{"Bin128", "bin", Bytes(128), ""},
        Input{"Bin129", "bin", Bytes(129), "129 bytes, expected 128"},
        Input{"Bin127", "bin", Bytes(127), "127 bytes, expected 128"},
        Input{"BinHuge", "bin", Bytes(16385), kCapped}, Input{"Hex128", "hex", HexLines(128), ""},
        Input{"Hex129", "hex", HexLines(129), "line 9: more than 128 bytes"},
        Input{"HexOneDigit", "hex", "0000: 1" + HexLines(128).substr(8),
              "line 1: '1' is not a byte of two hexadecimal digits"},
        Input{"HexThreeDigits", "hex", "0000: 123" + HexLines(128).substr(8),
              "line 1: '123' is not a byte of two hexadecimal digits"},
        Input{"HexLongTokenCut", "hex", "0000: " + std::string(5000, 'z'),
              "line 1: '" + std::string(40, 'z') + "...' is not a byte of two hexadecimal digits"},
        Input{"HexImageThenBlanks", "hex", HexLines(128) + std::string(17000, ' '), kCapped},
        Input{"TextImageThenBlanks", "text", std::string(64 * 5, '0') + std::string(17000, ' '),
              kCapped},
        Input{"TextLongTokenCut", "text", std::string(3000, 'q'),
              "word 0 is not 1-4 hexadecimal digits: '" + std::string(40, 'q') + "...'"},
        Input{"TextControlShown", "text", "\x1b[2J",
              "word 0 is not 1-4 hexadecimal digits: '\\x1b[2J'"}),
    [](const ::testing::TestParamInfo<Input>& info) { return std::string(info.param.name); });

// write and verify refuse what is not a regular file, a FIFO with no writer at once instead of
// waiting on it; "-" reads standard input, capped as a file is.
TEST(InputTest, SpecialFilesAreRefusedAndDashIsStandardInput) {
  Private dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
  for (const char* command : {"write", "verify"}) {
    const Result r = Zarerera({"--fast", "eeprom", command, dir / "fifo"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "zarerera: " + dir / "fifo" + ": not a regular file\n");
    const Result zero = Zarerera({"--fast", "eeprom", command, "/dev/zero"});
    EXPECT_EQ(zero.err, "zarerera: /dev/zero: not a regular file\n");
  }
  Put(dir / "image.txt", DefaultImage("text"));
  Result r = Zarerera({"--fast", "eeprom", "verify", "-"}, "", false, dir / "image.txt");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = Zarerera({"--fast", "eeprom", "verify", "-"}, "", false, "/dev/zero");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "zarerera: standard input: " + kCapped + "\n");
}

// A file name that is not UTF-8: the write is done and reported as done, the name in the JSON
// with U+FFFD for the bad byte.
TEST(JsonNameTest, NameThatIsNotUtf8) {
  Private dir;
  const std::string path = dir / "image\xff.txt";
  Put(path, DefaultImage("text"));
  const Result r =
      Zarerera({"--fast", "--json", "eeprom", "write", path, "--backup-dir", dir.path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["file"], dir / "image\xef\xbf\xbd.txt");
  EXPECT_EQ(doc["written"], nlohmann::json::array());
  EXPECT_EQ(dir.Names().size(), 2u);  // the image and its backup
}

// --- Functions that are not the bridge ---------------------------------------------------------

struct Function {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;
};

void PrintTo(const Function& f, std::ostream* os) {
  *os << f.name;
}

class FunctionTest : public ::testing::TestWithParam<Function> {};

TEST_P(FunctionTest, BoardCommandsOnlyOnTheBridge) {
  const Function& f = GetParam();
  std::vector<std::string> args = {"--fast", "-d", "0000:0000"};
  args.insert(args.end(), f.args.begin(), f.args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, f.exitCode);
  EXPECT_EQ(r.out, f.out);
  EXPECT_EQ(r.err, f.err);
}

const std::string kNetwork =
    "zarerera: 00:19.0 (8086:1502) is not a PLX 9050 bridge: its BAR0 is 131072 bytes of memory, "
    "not the bridge's 128-byte registers; --force opens it anyway\n";

INSTANTIATE_TEST_SUITE_P(
    Wildcards, FunctionTest,
    ::testing::Values(
        Function{"NetworkEepromDump", {"--board", "2", "eeprom", "dump"}, 1, "", kNetwork},
        Function{"NetworkDo", {"--board=2", "do", "1"}, 1, "", kNetwork},
        Function{"SataRegsWrite",
                 {"--board", "3", "regs", "CNTRL=12345678"},
                 1,
                 "",
                 "zarerera: 00:1f.2 (8086:1c02) is not a PLX 9050 bridge: its BAR0 is 8 I/O "
                 "ports, not the bridge's 128-byte registers; --force opens it anyway\n"},
        Function{"HostBridgeBySlot",
                 {"-s", "00:00.0", "di"},
                 1,
                 "",
                 "zarerera: 00:00.0 (8086:0104) is not a PLX 9050 bridge: it has no BAR0, not "
                 "the bridge's 128-byte registers; --force opens it anyway\n"},
        Function{"TheBridgeItself", {"--board", "1", "regs", "LAS1RR"}, 0, "0fffffe1\n", ""},
        Function{"ForcedOnTheNetwork",
                 {"--force", "--board", "2", "regs", "LAS1RR"},
                 0,
                 "ffffffff\n",
                 ""},
        Function{"ListTakesWildcards",
                 {"list"},
                 0,
                 "0 00:00.0 8086:0104\n1 00:05.0 9050:10b5\n2 00:19.0 8086:1502\n"
                 "3 00:1f.2 8086:1c02\n",
                 ""}),
    [](const ::testing::TestParamInfo<Function>& info) { return std::string(info.param.name); });

// A zero through a mask clears just the mask's bits; a mask of zero changes nothing.
TEST(RegsTest, ZeroWithAMaskClearsOnlyTheMasksBits) {
  const Result r = Zarerera(
      {"--fast", "regs", "LAS1BA=ff", "LAS1BA=0:f0", "LAS1BA=0:0", "INTCSR=41", "INTCSR=0:40"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "18 LAS1BA  00000001 -> 000000ff, reads 000000ff\n"
            "18 LAS1BA  000000ff -> 0000000f, reads 0000000f\n"
            "18 LAS1BA  0000000f -> 0000000f, reads 0000000f\n"
            "4c INTCSR  00000000 -> 00000041, reads 00000041\n"
            "4c INTCSR  00000041 -> 00000001, reads 00000001\n");
}

// (The network function's registers read as all ones: it is reached, as asked.)

// With the registers in I/O space (BAR0 an I/O range) the bridge is still the bridge.
TEST(FunctionTest, RegistersInIoAreTheBridge) {
  const Result r = Zarerera({"--fast", "--space0=io", "regs", "CNTRL"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "18000000\n");
}

// --- Numbers -----------------------------------------------------------------------------------

struct BadNumber {
  const char* name;
  std::vector<std::string> args;
  std::string message;
};

void PrintTo(const BadNumber& b, std::ostream* os) {
  *os << b.name;
}

class BadNumberTest : public ::testing::TestWithParam<BadNumber> {};

TEST_P(BadNumberTest, IsAUsageErrorWithItsRange) {
  std::vector<std::string> args = {"--fast"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "zarerera: " + GetParam().message + "\n" + kTryHelp);
}

const std::string kLong(100, '7');

INSTANTIATE_TEST_SUITE_P(
    Options, BadNumberTest,
    ::testing::Values(
        BadNumber{"BoardNegative",
                  {"--board", "-1", "di"},
                  "--board takes a number from 0 to 99, not '-1'"},
        BadNumber{
            "BoardEmpty", {"--board", "", "di"}, "--board takes a number from 0 to 99, not ''"},
        BadNumber{"BoardPastTheScan",
                  {"--board=100", "di"},
                  "--board takes a number from 0 to 99, not '100'"},
        BadNumber{"IrqEveryZero",
                  {"--sim-irq-every", "0", "di"},
                  "--sim-irq-every takes a number from 1 to 3600000, not '0'"},
        BadNumber{"IrqEveryNegative",
                  {"--sim-irq-every=-5", "di"},
                  "--sim-irq-every takes a number from 1 to 3600000, not '-5'"},
        BadNumber{
            "SlotEmpty",
            {"-s", "", "di"},
            "-s takes [[DDDD:]BB:]SS[.F] (domain 0000-ffff, bus 00-ff, slot 00-1f, function 0-7; a "
            "part left out or * matches any), not ''"},
        BadNumber{"IntervalNegative",
                  {"watch", "di", "-i", "-5"},
                  "--interval takes a number from 0 to 4294967295, not '-5'"},
        BadNumber{"CountNegative",
                  {"watch", "di", "-c", "-1"},
                  "--count takes a number from 0 to 4294967295, not '-1'"},
        BadNumber{"TimeoutSigned",
                  {"watch", "--irq", "-t", "+5"},
                  "--timeout takes a number from 0 to 4294967295, not '+5'"},
        BadNumber{"FunctionsTooMany",
                  {"--sim-functions", "1001", "list"},
                  "--sim-functions takes a number from 0 to 1000, not '1001'"},
        BadNumber{"LongValueCut",
                  {"--board", kLong, "di"},
                  "--board takes a number from 0 to 99, not '" + kLong.substr(0, 40) + "...'"},
        BadNumber{"LongWordOfTheParserCut",
                  {"watch", std::string(100, 'w')},
                  "what: " + std::string(40, 'w') + "... not in {di,counters}"},
        BadNumber{"LongIdsCut",
                  {"-d", std::string(60, 'f'), "list"},
                  "-d takes VVVV:DDDD, VVVV: or :DDDD in hexadecimal, not '" +
                      std::string(40, 'f') + "...'"}),
    [](const ::testing::TestParamInfo<BadNumber>& info) { return std::string(info.param.name); });

// The smallest and largest values are taken.
TEST(BadNumberTest, BoundsAreTaken) {
  EXPECT_EQ(Zarerera({"--fast", "--board", "0", "di"}).exitCode, 0);
  EXPECT_EQ(Zarerera({"--fast", "--board", "99", "di"}).err,
            "zarerera: cannot open board 99 with IDs 9050:10b5: Card out of range of available "
            "cards\n");
  EXPECT_EQ(Zarerera({"--fast", "--sim-irq-every", "1", "di"}).exitCode, 0);
}

}  // namespace
