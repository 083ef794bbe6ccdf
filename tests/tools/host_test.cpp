// The console host p9050diag, run as a program: whole sessions with their input on standard input
// compared with the exact output (tests/tools/sessions/*.txt, terminal sessions whose first line
// is the command), what a session leaves in the EEPROM file, and the command line.
#ifdef P9050DIAG_PATH

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/fake_sysfs.h"
#include "support/param_name.h"
#include "support/transcript.h"
#include "zarerera_version.h"

namespace {

using testsupport::TempFile;

struct HostRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs the host with `args` and `input` on standard input. A host that kept reading past the end
// of its input would be stopped by the timeout and fail the test.
HostRun RunHost(const std::string& args, const std::string& input) {
  TempFile in("host_in");
  TempFile out("host_out");
  TempFile err("host_err");
  in.Write(input);
  const std::string command = "timeout 120 '" + std::string(P9050DIAG_PATH) + "' " + args + " < '" +
                              in.path() + "' > '" + out.path() + "' 2> '" + err.path() + "'";
  const int status = std::system(command.c_str());
  HostRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = out.Read();
  run.err = err.Read();
  return run;
}

using testsupport::ReadFile;

// A session file: "$ p9050diag ARGS" on the first line, then the transcript. The words EEPROM and
// SYSFS in ARGS stand for `eepromPath` and `sysfsRoot`. The file's final line feed is its own
// unless it ends typed input.
struct Session {
  std::string args;
  testsupport::Transcript transcript;
};

Session LoadSession(const std::string& name, const std::string& eepromPath = "",
                    const std::string& sysfsRoot = "") {
  std::string text = ReadFile(std::string(P9050DIAG_SESSIONS) + "/" + name);
  const std::string prefix = "$ p9050diag";
  EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << name;
  const size_t eol = text.find('\n');
  Session s;
  s.args = text.substr(prefix.size(), eol - prefix.size());
  const size_t placeholder = s.args.find("EEPROM");
  if (placeholder != std::string::npos) s.args.replace(placeholder, 6, "'" + eepromPath + "'");
  const size_t root = s.args.find("SYSFS");
  if (root != std::string::npos) s.args.replace(root, 5, "'" + sysfsRoot + "'");
  std::string body = text.substr(eol + 1);
  if (body.size() >= 1 && body.back() == '\n' &&
      (body.size() < 3 || body.compare(body.size() - 3, 2, "»") != 0)) {
    body.pop_back();
  }
  s.transcript = testsupport::ParseTranscript(body);
  return s;
}

void ExpectSession(const std::string& name, const std::string& eepromPath = "",
                   const std::string& expectedErr = "") {
  Session s = LoadSession(name, eepromPath);
  HostRun run = RunHost(s.args, s.transcript.input);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, expectedErr);
  EXPECT_EQ(run.out, s.transcript.output) << name;
}

// Open at start, the register editor, an EEPROM write read back, exit; the next run finds the
// written dword in the EEPROM file and on the simulated part. The first run says once that the
// file is new.
TEST(HostTest, WholeSessionAndTheEepromKeptAcrossRuns) {
  TempFile eeprom("eeprom");
  ExpectSession("whole_session.txt", eeprom.path(),
                "p9050diag: " + eeprom.path() +
                    " does not exist: the EEPROM starts with its default contents, and the file "
                    "is made when the program ends\n");
  const std::string saved = eeprom.Read();
  EXPECT_EQ(saved.substr(0, 80),
            "10b5 9050 0680 0001 0000 0000 0100 0000\n"
            "1234 5678 ffe1 0000 0000 0000 0000 0000\n");
  ExpectSession("eeprom_kept.txt", eeprom.path());
  EXPECT_EQ(eeprom.Read(), saved);
}

// Sessions that start without a usable default board, or end in the middle of a menu, and one
// that makes the board interrupt with the interrupt menu on and off.
class HostSessionTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HostSessionTest, OutputMatches) {
  ExpectSession(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Sessions, HostSessionTest,
                         ::testing::Values("no_board.txt", "two_boards.txt", "other_ids.txt",
                                           "pci_bus.txt", "interrupts.txt"),
                         testsupport::ByText());

// Every menu and prompt of the host ends at the end of input: a script cut anywhere exits 0.
TEST(HostTest, EveryCutOfAScriptEnds) {
  const std::string script =
      "11\n\n\n\n\n12\n1234\n5678\nn\n12\n8086\n1502\n13\n14\n8\n40\n99\n"
      "2\n16\n1f\n99\n3\n2\n3\n10\n99\n4\n3\n10\n99\n5\n1\n99\n6\n3\n10\n1\n";
  for (size_t cut = 0; cut <= script.size(); cut += 2) {
    HostRun run = RunHost("--fast", script.substr(0, cut));
    EXPECT_EQ(run.exitCode, 0) << "cut at " << cut << ": " << run.err;
  }
}

TEST(HostTest, HelpListsTheOptions) {
  HostRun run = RunHost("--help", "");
  EXPECT_EQ(run.exitCode, 0);
  for (const char* option :
       {"--boards", "--ids", "--space0", "--real-time", "--fast", "--eeprom-file", "--vcd",
        "--help", "--driver", "--sysfs-root", "--read-only", "--sim-state"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST(HostTest, VersionIsTheLibrarysVersion) {
  for (const char* option : {"--version", "-V"}) {
    HostRun run = RunHost(option, "");
    EXPECT_EQ(run.exitCode, 0) << option;
    EXPECT_EQ(run.out, "p9050diag " ZARERERA_VERSION_STRING "\n") << option;
  }
}

struct BadCommandLine {
  const char* args;
  const char* message;
};

void PrintTo(const BadCommandLine& c, std::ostream* os) {
  *os << c.args;
}

class BadCommandLineTest : public ::testing::TestWithParam<BadCommandLine> {};

// A bad command line is refused before anything runs, with exit code 2 and the reason.
TEST_P(BadCommandLineTest, IsRefused) {
  HostRun run = RunHost(GetParam().args, "99\n");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string("p9050diag: ") + GetParam().message +
                         "\nTry 'p9050diag --help' for more information.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadCommandLineTest,
    ::testing::Values(
        BadCommandLine{"--bogus", "unknown option --bogus"},
        BadCommandLine{"--boards", "option --boards needs a value"},
        BadCommandLine{"--boards=17", "--boards takes a number from 0 to 16, not '17'"},
        BadCommandLine{"-b x", "--boards takes a number from 0 to 16, not 'x'"},
        BadCommandLine{"--ids 9050",
                       "--ids takes VVVV:DDDD pairs in hexadecimal separated by "
                       "commas, not '9050'"},
        BadCommandLine{"--ids 9050:10b5,12345:1",
                       "--ids takes VVVV:DDDD pairs in hexadecimal "
                       "separated by commas, not '9050:10b5,12345:1'"},
        BadCommandLine{"--space0 rom", "--space0 takes 'mem' or 'io', not 'rom'"},
        BadCommandLine{"-b 1 -e a -e b", "more --eeprom-file options than boards"},
        BadCommandLine{"-b 0 --vcd a", "more --vcd options than boards"},
        BadCommandLine{"-v a", "unknown option -v"}, BadCommandLine{"-s io", "unknown option -s"},
        BadCommandLine{"stray", "unexpected argument 'stray'"},
        BadCommandLine{"-f -- stray", "unexpected argument 'stray'"},
        // The option of a cluster that failed, not the program or the cluster.
        BadCommandLine{"-xf", "unknown option -x"}, BadCommandLine{"-fx", "unknown option -x"},
        BadCommandLine{"-fb", "option -b needs a value"},
        BadCommandLine{"--bogus=1", "unknown option --bogus"},
        BadCommandLine{"--fast=1", "option --fast takes no value"},
        BadCommandLine{"--boards=", "--boards takes a number from 0 to 16, not ''"},
        BadCommandLine{"--b", "option --boards needs a value"},
        BadCommandLine{"--driver=wd", "--driver takes 'sim', 'auto', 'sysfs' or 'vfio', not 'wd'"},
        BadCommandLine{"--read-only", "--read-only needs --driver=sysfs"},
        BadCommandLine{"--driver=sysfs --sim-state=f", "--sim-state needs --driver=sim"},
        BadCommandLine{"--sysfs-root=/tmp --driver=sim", "--sysfs-root needs --driver=sysfs"}),
    // Several lines differ only in punctuation, so the index keeps the names apart.
    [](const ::testing::TestParamInfo<BadCommandLine>& info) {
      return "Line" + std::to_string(info.index) + "_" +
             testsupport::NameFromWords(info.param.args);
    });

// An EEPROM file that is not 64 hexadecimal words stops the host before it starts, and is left
// as it was.
TEST(HostTest, BadEepromFileIsRefusedAndKept) {
  TempFile eeprom("eeprom");
  const std::string words63 = [] {
    std::string s;
    for (int i = 0; i < 63; ++i) s += "abcd ";
    return s;
  }();
  for (const std::string& content :
       {words63, words63 + "abcd abcd", words63 + "12345", words63 + "xyz"}) {
    eeprom.Write(content);
    HostRun run = RunHost("--fast -e '" + eeprom.path() + "'", "99\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("p9050diag: " + eeprom.path() + ": ", 0), 0u) << run.err;
    EXPECT_EQ(eeprom.Read(), content);
  }
}

// The pin recording is a value change dump of the EEPROM's four pins.
TEST(HostTest, VcdRecordsTheEepromPins) {
  TempFile vcd("vcd");
  HostRun run = RunHost("--fast --vcd '" + vcd.path() + "'", "6\n2\n0\n99\n99\n");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Value read: 10b59050\n"), std::string::npos);
  const std::string dump = vcd.Read();
  EXPECT_NE(dump.find("$timescale"), std::string::npos);
  EXPECT_NE(dump.find("$enddefinitions"), std::string::npos);
  // A dword read clocks 2 x 27 rising edges with chip select high: far more than a few changes.
  EXPECT_GT(std::count(dump.begin(), dump.end(), '#'), 100);
}

// The bus scan over the sysfs driver, read-only, on a fabricated tree: a host bridge, a virtio
// function whose 64-bit BAR above 4 GiB the records cannot carry (shown as not reachable), the
// board, and a function of another domain, which the records cannot name. The board is found but,
// read-only, not opened: the driver's reason goes to standard error.
TEST(HostTest, BusScanOnAFabricatedSysfsTree) {
  using Bar = testsupport::FakeSysfs::Bar;
  constexpr uint64_t kIo = testsupport::FakeSysfs::kIo;
  constexpr uint64_t kMem = testsupport::FakeSysfs::kMem;
  testsupport::FakeSysfs tree;
  ASSERT_TRUE(tree.ok());
  tree.AddFunction("0000:00:00.0", 0x8086, 0x0d57);
  tree.AddFunction("0000:00:03.0", 0x1af4, 0x1041,
                   {Bar{0xc000, 0x20, kIo}, {}, {}, {}, Bar{0x4000100000ull, 0x80000, 0x140204}},
                   11);
  tree.AddFunction("0000:00:05.0", 0x9050, 0x10b5,
                   {Bar{0xfe000000, 128, kMem}, Bar{0xc080, 128, kIo}, {}, Bar{0xc100, 32, kIo}},
                   10);
  tree.AddFunction("0001:00:00.0", 0x9050, 0x10b5);
  const std::string before = tree.Read("0000:00:05.0/config");

  Session s = LoadSession("sysfs_bus.txt", "", tree.root());
  HostRun run = RunHost(s.args, s.transcript.input);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, s.transcript.output);
  EXPECT_EQ(run.err, "p9050diag: read-only: card registration refused\n");
  EXPECT_EQ(tree.Read("0000:00:05.0/config"), before);
}

}  // namespace

#endif  // P9050DIAG_PATH
