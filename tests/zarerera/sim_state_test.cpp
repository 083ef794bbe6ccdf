// --sim-state: the simulated machine kept in a file from one run of the command to the next, with
// the EEPROM file's rules (checked before the command runs, replaced whole at the end).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "run_command.h"
#include "support/console_files.h"

namespace {

using cmdtest::Zarerera;
using testsupport::TempFile;

class StateTest : public ::testing::Test {
 protected:
  cmdtest::Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--fast", "--sim-state=" + state_.path()});
    return Zarerera(args);
  }
  TempFile state_{"sim_state"};
};

TEST_F(StateTest, RegistersAndEepromCarryOverToTheNextRun) {
  cmdtest::Result r = Run({"regs", "INTCSR=41"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("does not exist: the machine starts fresh"), std::string::npos) << r.err;
  r = Run({"regs", "INTCSR"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "00000041\n");
  EXPECT_EQ(r.err, "");
  r = Zarerera({"--fast", "regs", "INTCSR"});
  EXPECT_EQ(r.out, "00000000\n") << "without the file each run starts a fresh machine";

  const cmdtest::Result dump = Zarerera({"--fast", "eeprom", "dump"});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  std::string image = dump.out;
  image.replace(20 * 5, 4, "beef");  // word 20: each word is four digits and a blank or newline
  TempFile file("sim_state_image");
  file.Write(image);
  r = Run({"eeprom", "write", "--no-backup", file.path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"eeprom", "dump"});
  EXPECT_EQ(r.out, image);
  EXPECT_EQ(Zarerera({"--fast", "eeprom", "dump"}).out, dump.out);
  r = Run({"regs", "INTCSR"});
  EXPECT_EQ(r.out, "00000041\n") << "the EEPROM write kept the registers";
}

TEST_F(StateTest, ABadFileStopsTheRunBeforeTheCommandAndIsKept) {
  state_.Write("zarerera-sim-state 1\nclock-ns x\n");
  const cmdtest::Result r = Run({"do", "5a"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "zarerera: " + state_.path() +
                       ": line 2: clock-ns: 'x' is not a decimal number up to "
                       "18446744073709551615\n");
  EXPECT_EQ(state_.Read(), "zarerera-sim-state 1\nclock-ns x\n");
}

TEST_F(StateTest, AFileThatCannotBeWrittenIsRefusedAtStart) {
  ASSERT_EQ(Run({"do", "5a"}).exitCode, 0);
  const std::string saved = state_.Read();
  ASSERT_EQ(chmod(state_.path().c_str(), 0444), 0);
  const cmdtest::Result r = Run({"do", "a5"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "zarerera: " + state_.path() + ": Permission denied\n");
  EXPECT_EQ(state_.Read(), saved);
  EXPECT_NE(saved.find("\ndigital-out 5a 1\n"), std::string::npos) << saved;
}

TEST_F(StateTest, OtherMachinesAreRefused) {
  ASSERT_EQ(Run({"di"}).exitCode, 0);
  cmdtest::Result r = Run({"--boards=2", "di"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("line 3: holds 1 board(s); the machine has 2 (--boards)"), std::string::npos)
      << r.err;
  r = Run({"--ids=1234:5678", "-d", "1234:5678", "di"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("board 0 of the machine is 1234:5678 (--ids)"), std::string::npos) << r.err;
  r = Zarerera({"--driver=sysfs", "--sim-state=" + state_.path(), "list"});
  EXPECT_EQ(r.exitCode, 2) << "a simulated machine's option";
}

TEST(StateHelpTest, SaysThatEachRunStartsFresh) {
  const cmdtest::Result r = Zarerera({"--help"});
  EXPECT_NE(r.out.find("--sim-state"), std::string::npos);
  EXPECT_NE(r.out.find("without it each run starts a fresh machine"), std::string::npos);
}

}  // namespace
