// zarerera.exe and p9050diag.exe as Windows users run them: the kernel driver's device by default
// (absent here, so every request fails as on a machine without the driver), the simulated
// machine with --driver=sim. The console host's sessions are the same transcripts the Linux
// build is held to.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "run_program.h"
#include "support/param_name.h"

namespace {

using wintest::Result;

// The C runtime writes text-mode streams with CR LF line ends.
std::string Lines(std::string text) {
  std::string lf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
  }
  return lf;
}

Result Zarerera(const std::vector<std::string>& args) {
  Result r = wintest::Run(ZARERERA_EXE, args);
  r.out = Lines(r.out);
  r.err = Lines(r.err);
  return r;
}

Result P9050diag(const std::vector<std::string>& args, const std::string& input) {
  Result r = wintest::Run(P9050DIAG_EXE, args, input);
  r.out = Lines(r.out);
  r.err = Lines(r.err);
  return r;
}

using testsupport::ReadFile;

struct CommandCase {
  const char* name;
  std::vector<std::string> args;
  DWORD exitCode;
  std::string out;
  std::string err;
};

void PrintTo(const CommandCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTest, OutputAndExitStatus) {
  const CommandCase& c = GetParam();
  const Result r = Zarerera(c.args);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

const std::string kTryHelp = "Run with --help for more information.\n";

INSTANTIATE_TEST_SUITE_P(
    Windows, CommandTest,
    ::testing::Values(
        CommandCase{"SimulatedBus",
                    {"--driver=sim", "--fast", "--boards=2", "list", "-v"},
                    0,
                    "0 00:05.0 9050:10b5\n"
                    "\tRegion 0: Memory at fe021800 [size=128]\n"
                    "\tRegion 1: I/O ports at c080 [size=128]\n"
                    "\tRegion 3: I/O ports at c100 [size=32]\n"
                    "\tIRQ 10\n"
                    "1 00:06.0 9050:10b5\n"
                    "\tRegion 0: Memory at fe021880 [size=128]\n"
                    "\tRegion 1: I/O ports at c180 [size=128]\n"
                    "\tRegion 3: I/O ports at c200 [size=32]\n"
                    "\tIRQ 10\n",
                    ""},
        CommandCase{"InputAsJson",
                    {"--driver=sim", "--fast", "--sim-di=5a", "--json", "di"},
                    0,
                    "{\n  \"slot\": \"00:05.0\",\n  \"di\": \"5a\"\n}\n",
                    ""},
        CommandCase{
            "KernelDriverByDefault", {"list"}, 1, "", "zarerera: cannot open the driver device\n"},
        CommandCase{"KernelDriverByName",
                    {"--driver=windows", "di"},
                    1,
                    "",
                    "zarerera: cannot open board 0 with IDs 9050:10b5: Failed opening WinDriver "
                    "device\n"},
        CommandCase{"NoSysfsOnWindows",
                    {"--driver=sysfs", "list"},
                    1,
                    "",
                    "zarerera: the sysfs driver is reachable only on Linux; use --driver=sim\n"},
        CommandCase{
            "UsageError",
            {"--driver=sim", "do", "1ff"},
            2,
            "",
            "zarerera: do takes a hexadecimal number from 0 to ff, not '1ff'\n" + kTryHelp}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

// The interrupt service on the system's own threads: each interrupt of the simulated board one
// line, in order, and the watch ends at its count.
TEST(WindowsWatchTest, PrintsEachInterrupt) {
  const Result r =
      Zarerera({"--driver=sim", "--fast", "--sim-irq-every=5", "watch", "--irq", "-c", "2"});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.err, "");
  const std::string line = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} interrupt )";
  EXPECT_TRUE(std::regex_match(
      r.out, std::regex(line + "1 lost 0 INTCSR 00000045\n" + line + "2 lost 0 INTCSR 00000045\n")))
      << r.out;
}

// eeprom write: the backup made first (its name from the local time), only the differing word
// written, the simulated part's file replaced with the new image, which then verifies.
TEST(WindowsEepromTest, WriteBacksUpAndReplacesTheFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zarerera_win_" + std::to_string(GetTickCount()));
  std::filesystem::create_directories(dir);
  const std::string part = (dir / "part.txt").string();
  const std::string image = (dir / "image.txt").string();
  const Result dump = Zarerera({"--driver=sim", "--fast", "eeprom", "dump", image});
  ASSERT_EQ(dump.exitCode, 0u) << dump.err;
  const std::string before = ReadFile(image);
  ASSERT_EQ(before.substr(0, 5), "10b5 ");
  std::string changed = before;
  changed.replace(0, 4, "10b6");
  std::ofstream(image, std::ios::binary) << changed;

  const Result write = Zarerera({"--driver=sim", "--fast", "--eeprom-file=" + part, "eeprom",
                                 "write", image, "--backup-dir=" + dir.string()});
  EXPECT_EQ(write.exitCode, 0u) << write.err;
  EXPECT_NE(write.out.find("wrote 1 of 64 words, read back and verified\n"), std::string::npos)
      << write.out;
  std::vector<std::filesystem::path> backups;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("eeprom-00_05_0-", 0) == 0) {
      backups.push_back(entry.path());
    }
  }
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(Lines(ReadFile(backups[0].string())), Lines(before));
  EXPECT_EQ(Lines(ReadFile(part)), Lines(changed));

  const Result verify =
      Zarerera({"--driver=sim", "--fast", "--eeprom-file=" + part, "eeprom", "verify", image});
  EXPECT_EQ(verify.exitCode, 0u) << verify.out << verify.err;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// A console host session file: "$ p9050diag OPTIONS" and the transcript. EEPROM in the options
// stands for `eeprom`.
struct HostSession {
  std::vector<std::string> args;
  testsupport::Transcript transcript;
};

HostSession LoadSession(const std::string& name, const std::string& eeprom = "") {
  std::string text = ReadFile(std::string(P9050DIAG_SESSIONS) + "/" + name);
  const size_t eol = text.find('\n');
  HostSession s;
  s.args.push_back("--driver=sim");  // Windows' default is the kernel driver
  std::istringstream words(text.substr(0, eol));
  std::string word;
  words >> word >> word;  // "$ p9050diag"
  while (words >> word) s.args.push_back(word == "EEPROM" ? eeprom : word);
  std::string body = text.substr(eol + 1);
  if (body.size() >= 1 && body.back() == '\n' &&
      (body.size() < 3 || body.compare(body.size() - 3, 2, "»") != 0)) {
    body.pop_back();
  }
  s.transcript = testsupport::ParseTranscript(body);
  return s;
}

class HostSessionTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HostSessionTest, OutputMatches) {
  const HostSession s = LoadSession(GetParam());
  const Result r = P9050diag(s.args, s.transcript.input);
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, s.transcript.output);
}

INSTANTIATE_TEST_SUITE_P(Sessions, HostSessionTest,
                         ::testing::Values("no_board.txt", "two_boards.txt", "other_ids.txt",
                                           "pci_bus.txt", "interrupts.txt"),
                         testsupport::ByText());

// The EEPROM written in one session is in the file (replaced, not appended to) for the next.
TEST(HostEepromTest, KeptAcrossSessions) {
  testsupport::TempFile eeprom("win_eeprom");
  HostSession s = LoadSession("whole_session.txt", eeprom.path());
  Result r = P9050diag(s.args, s.transcript.input);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, s.transcript.output);
  const std::string saved = Lines(eeprom.Read());
  EXPECT_EQ(saved.substr(0, 80),
            "10b5 9050 0680 0001 0000 0000 0100 0000\n"
            "1234 5678 ffe1 0000 0000 0000 0000 0000\n");
  s = LoadSession("eeprom_kept.txt", eeprom.path());
  r = P9050diag(s.args, s.transcript.input);
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, s.transcript.output);
  EXPECT_EQ(Lines(eeprom.Read()), saved);
}

// With no --driver the host talks to the kernel driver, which is not there.
TEST(HostDriverTest, KernelDriverByDefault) {
  const Result r = P9050diag({"--fast"}, "1\n\n\n99\n");
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_NE(r.out.find("Failed opening WinDriver device"), std::string::npos) << r.out;
  const Result bad = P9050diag({"--driver=sysfs"}, "");
  EXPECT_EQ(bad.exitCode, 2u);
  EXPECT_EQ(bad.err,
            "p9050diag: --driver takes 'sim' or 'windows', not 'sysfs'\n"
            "Try 'p9050diag --help' for more information.\n");
}

}  // namespace
