// How the console host ends and what it leaves on disk: every way out saves the EEPROM file (99,
// end of input, SIGINT, SIGTERM, SIGHUP, a reader of the output that went away), one Ctrl-C ends
// the program wherever it is, output errors give a failing status, files that cannot be written
// are refused before any menu, and a save replaces the file safely (mode, symbolic links, no path
// followed that someone planted) and only when the image changed.
#ifdef P9050DIAG_PATH

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_process.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using TempDir = testsupport::ScratchDir;
using hosttest::HostProcess;

using testsupport::ReadFile;

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The part's default image as the file holds it, with words 8 and 9 (dword 0x10) as given.
std::string ImageWith(const char* word8, const char* word9) {
  return std::string("10b5 9050 0680 0001 0000 0000 0100 0000\n") + word8 + " " + word9 +
         " ffe1 0000 0000 0000 0000 0000\n"
         "0000 0000 0000 0000 0001 0000 0000 0000\n"
         "0000 0000 0000 0000 0000 0000 0000 0000\n"
         "0000 0000 0000 0000 0000 0000 0000 0000\n"
         "0000 0000 0000 0000 0000 0000 0003 0000\n"
         "0000 ffff ffff ffff ffff ffff ffff ffff\n"
         "ffff ffff ffff ffff ffff ffff ffff ffff\n";
}
const std::string kDefaultImage = ImageWith("0000", "ffff");

std::string MissingNote(const std::string& path) {
  return "p9050diag: " + path +
         " does not exist: the EEPROM starts with its default contents, and the file is made "
         "when the program ends\n";
}

// Typed into a fresh host: the EEPROM menu, dword 0x10 written; the menu then shows again.
const char kWriteDword[] = "6\n3\n10\n12345678\n";
const char kEepromMenuPrompt[] = "99. Back to main menu\n\nEnter option: ";

std::string Describe(int status) {
  if (status == -1) return "still running after the patience ran out";
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return "status " + std::to_string(status);
}
std::string Killed(int signo) {
  return "killed by signal " + std::to_string(signo);
}
std::string Exited(int code) {
  return "exit status " + std::to_string(code);
}

// --- Every way out saves -------------------------------------------------------------------

enum class Way { kExit99, kEndOfInput, kSignal };

struct WayOut {
  const char* name;
  Way way;
  int signo;
  std::string ends;  // how the process ends
};

void PrintTo(const WayOut& w, std::ostream* os) {
  *os << w.name;
}

class WayOutTest : public ::testing::TestWithParam<WayOut> {};

// After an EEPROM write, waiting at the EEPROM menu's prompt (input still open), the way out ends
// the program at once with the write in the file, and in the machine's state file: one Ctrl-C,
// not one per menu.
TEST_P(WayOutTest, EndsTheProgramAndSavesTheImage) {
  const WayOut& w = GetParam();
  TempDir dir;
  const std::string eeprom = dir / "eeprom.txt";
  const std::string state = dir / "machine.state";
  HostProcess host(P9050DIAG_PATH, {"--fast", "-e", eeprom, "--sim-state", state});
  ASSERT_TRUE(host.started());
  host.Type(kWriteDword);
  ASSERT_TRUE(host.WaitForOutput(kEepromMenuPrompt, 2)) << host.output();
  switch (w.way) {
    case Way::kExit99:
      host.Type("99\n99\n");
      break;
    case Way::kEndOfInput:
      host.CloseInput();
      break;
    case Way::kSignal:
      host.Signal(w.signo);
      break;
  }
  EXPECT_EQ(Describe(host.Wait()), w.ends);
  EXPECT_EQ(ReadFile(eeprom), ImageWith("1234", "5678"));
  EXPECT_NE(ReadFile(state).find("\neeprom 10b5 9050 0680 0001 0000 0000 0100 0000 1234 5678 "),
            std::string::npos)
      << ReadFile(state);
  EXPECT_EQ(host.errors(), "p9050diag: " + state +
                               " does not exist: the machine starts fresh, and the file is made "
                               "when the program ends\n" +
                               MissingNote(eeprom));
  // No temporary file left.
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"eeprom.txt", "machine.state"}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, WayOutTest,
    ::testing::Values(WayOut{"Exit99", Way::kExit99, 0, Exited(0)},
                      WayOut{"EndOfInput", Way::kEndOfInput, 0, Exited(0)},
                      WayOut{"Interrupt", Way::kSignal, SIGINT, Killed(SIGINT)},
                      WayOut{"Terminate", Way::kSignal, SIGTERM, Killed(SIGTERM)},
                      WayOut{"HangUp", Way::kSignal, SIGHUP, Killed(SIGHUP)}),
    [](const ::testing::TestParamInfo<WayOut>& info) { return std::string(info.param.name); });

// A Ctrl-C in the middle of a real-time EEPROM display (some 7 s of 500 us sleeps, its output
// held in the pipe's buffer until it ends) ends the program there, with the image saved; the
// input stays open, so a program that let the display run on would wait at the next prompt.
TEST(HostEndTest, InterruptDuringARealTimeDisplayEndsAtOnce) {
  TempDir dir;
  const std::string eeprom = dir / "eeprom.txt";
  HostProcess host(P9050DIAG_PATH, {"-e", eeprom});
  ASSERT_TRUE(host.started());
  host.Type(kWriteDword);
  ASSERT_TRUE(host.WaitForOutput(kEepromMenuPrompt, 2)) << host.output();
  host.Type("1\n");
  sleep(1);
  host.Signal(SIGINT);
  EXPECT_EQ(Describe(host.Wait()), Killed(SIGINT));
  EXPECT_EQ(ReadFile(eeprom), ImageWith("1234", "5678"));
  EXPECT_EQ(host.output().find("\n f0: "), std::string::npos) << "the display ran to its end";
}

struct ReaderGone {
  const char* name;
  bool pipeSignalIgnored;
  std::string ends;
  std::string lastError;  // the last line of standard error
};

void PrintTo(const ReaderGone& r, std::ostream* os) {
  *os << r.name;
}

class ReaderGoneTest : public ::testing::TestWithParam<ReaderGone> {};

// The reader of the output goes away (`p9050diag | head`): the next prompt ends the program with
// the image saved, by SIGPIPE, or with status 1 and the reason when SIGPIPE is ignored.
TEST_P(ReaderGoneTest, EndsTheProgramAndSavesTheImage) {
  const ReaderGone& r = GetParam();
  TempDir dir;
  const std::string eeprom = dir / "eeprom.txt";
  hosttest::HostSetup setup;
  setup.pipeSignalIgnored = r.pipeSignalIgnored;
  HostProcess host(P9050DIAG_PATH, {"--fast", "-e", eeprom}, setup);
  ASSERT_TRUE(host.started());
  host.Type(kWriteDword);
  ASSERT_TRUE(host.WaitForOutput(kEepromMenuPrompt, 2)) << host.output();
  host.CloseOutput();
  host.Type("2\n10\n");
  EXPECT_EQ(Describe(host.Wait()), r.ends);
  EXPECT_EQ(ReadFile(eeprom), ImageWith("1234", "5678"));
  EXPECT_EQ(host.errors(), MissingNote(eeprom) + r.lastError);
}

INSTANTIATE_TEST_SUITE_P(Signal, ReaderGoneTest,
                         ::testing::Values(ReaderGone{"PipeSignal", false, Killed(SIGPIPE), ""},
                                           ReaderGone{"PipeSignalIgnored", true, Exited(1),
                                                      "p9050diag: standard output: Broken pipe\n"}),
                         [](const ::testing::TestParamInfo<ReaderGone>& info) {
                           return std::string(info.param.name);
                         });

// Runs a shell command line; its exit status (-1 when the shell did not exit).
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An output that cannot be written ends the session with status 1 and the reason; the file is
// still saved (made, here).
TEST(HostEndTest, OutputErrorsFailTheRun) {
  for (const auto& [redirect, reason] :
       {std::pair<std::string, std::string>{">/dev/full", "No space left on device"},
        std::pair<std::string, std::string>{">&-", "Bad file descriptor"}}) {
    TempDir dir;
    const std::string eeprom = dir / "eeprom.txt";
    const std::string err = dir / "err";
    const int code = Shell("printf '6\\n1\\n99\\n99\\n' | '" + std::string(P9050DIAG_PATH) +
                           "' --fast -e '" + eeprom + "' " + redirect + " 2>'" + err + "'");
    EXPECT_EQ(code, 1) << redirect;
    EXPECT_EQ(ReadFile(err), MissingNote(eeprom) + "p9050diag: standard output: " + reason + "\n")
        << redirect;
    EXPECT_EQ(ReadFile(eeprom), kDefaultImage) << redirect;
    EXPECT_EQ(Shell("'" + std::string(P9050DIAG_PATH) + "' --help " + redirect + " 2>/dev/null"), 1)
        << redirect;
  }
}

// --- Files checked before any menu ---------------------------------------------------------

struct BadFile {
  const char* name;
  const char* option;
  std::string path;  // in the test's directory
  std::string reason;
};

void PrintTo(const BadFile& b, std::ostream* os) {
  *os << b.name;
}

class BadFileTest : public ::testing::TestWithParam<BadFile> {};

// The directory holds "dir/", "file" (a regular file), "readonly" (an image, mode 0444) and
// "loop" (a link to itself). A file the host could not write at the end is refused at the start
// with its name and the system's reason, before any menu, and left as it was.
TEST_P(BadFileTest, IsRefusedBeforeAnyMenu) {
  const BadFile& b = GetParam();
  TempDir dir;
  fs::create_directory(dir / "dir");
  Write(dir / "file", "x");
  Write(dir / "readonly", kDefaultImage);
  fs::permissions(dir / "readonly", fs::perms(0444));
  fs::create_symlink("loop", dir / "loop");
  const std::set<std::string> before = dir.Names();
  HostProcess host(P9050DIAG_PATH, {"--fast", b.option, b.path}, {dir.path(), false});
  ASSERT_TRUE(host.started());
  host.Type("6\n3\n10\n12345678\n99\n99\n");
  EXPECT_EQ(Describe(host.Wait()), Exited(1));
  EXPECT_EQ(host.output(), "");
  EXPECT_EQ(host.errors(), "p9050diag: " + b.path + ": " + b.reason + "\n");
  EXPECT_EQ(dir.Names(), before);
  EXPECT_EQ(ReadFile(dir / "readonly"), kDefaultImage);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileTest,
    ::testing::Values(BadFile{"NoDirectory", "-e", "none/eeprom.txt", "No such file or directory"},
                      BadFile{"UnderAFile", "-e", "file/eeprom.txt", "Not a directory"},
                      BadFile{"ADirectory", "-e", "dir", "Is a directory"},
                      BadFile{"ReadOnly", "-e", "readonly", "Permission denied"},
                      BadFile{"LinkLoop", "-e", "loop", "Too many levels of symbolic links"},
                      BadFile{"NotARegularFile", "-e", "/dev/null", "not a regular file"},
                      BadFile{"RecordingInNoDirectory", "--vcd", "none/pins.vcd",
                              "No such file or directory"},
                      BadFile{"ReadOnlyRecording", "--vcd", "readonly", "Permission denied"},
                      BadFile{"StateInNoDirectory", "--sim-state", "none/machine.state",
                              "No such file or directory"},
                      BadFile{"ReadOnlyState", "--sim-state", "readonly", "Permission denied"}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

// One file for two purposes is refused, however it is named.
TEST(HostEndTest, OneFileForTwoPurposesIsRefused) {
  TempDir dir;
  Write(dir / "eeprom.txt", kDefaultImage);
  fs::create_symlink("eeprom.txt", dir / "link");
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-e", "eeprom.txt", "--vcd", "eeprom.txt"},
            "--eeprom-file eeprom.txt and --vcd eeprom.txt name the same file"},
           {{"-b2", "-e", "eeprom.txt", "--vcd", "./link"},
            "--eeprom-file eeprom.txt and --vcd ./link name the same file"},
           {{"-b2", "-e", "eeprom.txt", "-e",
             "../" + fs::path(dir.path()).filename().string() + "/eeprom.txt"},
            "--eeprom-file eeprom.txt and --eeprom-file ../" +
                fs::path(dir.path()).filename().string() + "/eeprom.txt name the same file"}}) {
    std::vector<std::string> all{"--fast"};
    all.insert(all.end(), args.begin(), args.end());
    HostProcess host(P9050DIAG_PATH, all, {dir.path(), false});
    ASSERT_TRUE(host.started());
    host.CloseInput();
    EXPECT_EQ(Describe(host.Wait()), Exited(1)) << message;
    EXPECT_EQ(host.errors(), "p9050diag: " + message + "\n");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"eeprom.txt", "link"}));
    EXPECT_EQ(ReadFile(dir / "eeprom.txt"), kDefaultImage);
  }
}

// --- How a file is replaced ----------------------------------------------------------------

// A missing file is said once and made with the usual mode; relative paths are the working
// directory's.
TEST(HostEndTest, MissingFileIsMadeInTheWorkingDirectory) {
  TempDir dir;
  HostProcess host(P9050DIAG_PATH, {"--fast", "-e", "mine.txt"}, {dir.path(), false});
  ASSERT_TRUE(host.started());
  host.Type("6\n1\n99\n99\n");
  EXPECT_EQ(Describe(host.Wait()), Exited(0));
  EXPECT_EQ(host.errors(), MissingNote("mine.txt"));
  EXPECT_EQ(ReadFile(dir / "mine.txt"), kDefaultImage);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(dir / "mine.txt").permissions(), fs::perms(0666 & ~mask));
}

// FILE is a link to the image, and links at FILE.tmp and TARGET.tmp lead to a victim: the image
// gets the write and keeps its mode, the link stays, the victim and the planted links are
// untouched, and no temporary file is left.
TEST(HostEndTest, SaveKeepsModeAndLinkAndFollowsNoPlantedPath) {
  TempDir dir;
  Write(dir / "image.txt", kDefaultImage);
  fs::permissions(dir / "image.txt", fs::perms(0640));
  fs::create_symlink("image.txt", dir / "link");
  Write(dir / "victim", "keep me");
  fs::create_symlink("victim", dir / "link.tmp");
  fs::create_symlink("victim", dir / "image.txt.tmp");
  const std::set<std::string> before = dir.Names();

  HostProcess host(P9050DIAG_PATH, {"--fast", "-e", dir / "link"});
  ASSERT_TRUE(host.started());
  host.Type(std::string(kWriteDword) + "99\n99\n");
  EXPECT_EQ(Describe(host.Wait()), Exited(0));
  EXPECT_EQ(host.errors(), "");

  EXPECT_EQ(ReadFile(dir / "image.txt"), ImageWith("1234", "5678"));
  EXPECT_EQ(fs::status(dir / "image.txt").permissions(), fs::perms(0640));
  ASSERT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(fs::read_symlink(dir / "link"), "image.txt");
  EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
  EXPECT_TRUE(fs::is_symlink(dir / "link.tmp"));
  EXPECT_TRUE(fs::is_symlink(dir / "image.txt.tmp"));
  EXPECT_EQ(dir.Names(), before);
}

// A session that leaves the image as the file has it does not rewrite the file: its own layout
// stays, and so does the file itself (same inode).
TEST(HostEndTest, UnchangedImageIsNotRewritten) {
  TempDir dir;
  std::string oneWordALine;
  {
    std::istringstream words(kDefaultImage);
    std::string word;
    while (words >> word) oneWordALine += word + "\n";
  }
  Write(dir / "image.txt", oneWordALine);
  struct stat before {};
  ASSERT_EQ(stat((dir / "image.txt").c_str(), &before), 0);

  HostProcess host(P9050DIAG_PATH, {"--fast", "-e", dir / "image.txt"});
  ASSERT_TRUE(host.started());
  host.Type("6\n1\n2\n10\n99\n99\n");
  EXPECT_EQ(Describe(host.Wait()), Exited(0));
  EXPECT_NE(host.output().find("Value read: 0000ffff"), std::string::npos);
  struct stat after {};
  ASSERT_EQ(stat((dir / "image.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadFile(dir / "image.txt"), oneWordALine);
}

// --- Memory ---------------------------------------------------------------------------------

// Peak memory of a session of `displays` EEPROM displays in virtual time.
long PeakKbOfDisplays(int displays) {
  HostProcess host(P9050DIAG_PATH, {"--fast"});
  std::string input = "6\n";
  for (int i = 0; i < displays; ++i) input += "1\n";
  host.Type(input + "99\n99\n");
  EXPECT_EQ(Describe(host.Wait()), Exited(0));
  int shown = 0;
  for (size_t at = host.output().find("\n f0: "); at != std::string::npos;
       at = host.output().find("\n f0: ", at + 1)) {
    ++shown;
  }
  EXPECT_EQ(shown, displays);
  return host.maxRssKb();
}

// A display sends some 20,000 requests: a log of them would grow the host by about 1 MB a display,
// a log of the bridge's register writes by about 0.2 MB. Fourteen more
// displays stay within 1 MB of two (under the sanitizers too, which add a fixed amount).
TEST(HostEndTest, LongSessionsStayInBoundedMemory) {
#ifdef ZARERERA_TESTS_EMULATED
  // Under a user-mode emulator the peak is the emulator's own, its translation cache included.
  GTEST_SKIP() << "peak memory is the emulator's, not the program's";
#endif
  const long few = PeakKbOfDisplays(2);
  const long many = PeakKbOfDisplays(16);
  EXPECT_LT(many - few, 1024) << few << " KB after 2 displays, " << many << " KB after 16";
}

// scripts/diag.sh runs the program in the caller's directory: a relative EEPROM file is the
// caller's, not the checkout's.
TEST(HostEndTest, DiagScriptKeepsTheCallersDirectory) {
  TempDir dir;
  const int code =
      Shell("cd '" + dir.path() + "' && printf '6\\n3\\n10\\n12345678\\n99\\n99\\n' | " +
            "P9050DIAG_PROGRAM='" + P9050DIAG_PATH + "' bash '" + DIAG_SCRIPT +
            "' --fast --eeprom-file=mine.txt >/dev/null 2>&1");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(dir / "mine.txt"), ImageWith("1234", "5678"));
  EXPECT_FALSE(fs::exists(fs::path(DIAG_SCRIPT).parent_path().parent_path() / "mine.txt"));
}

}  // namespace

#endif  // P9050DIAG_PATH
