// The whole library over the sysfs driver against the simulated board: the board's function is
// served to the driver's file operations by the simulator (sim_served_files.h), so opening the
// board, the board API, the EEPROM and the register editor run through the sysfs code path: the
// scan and items read from the tree, registration opening resourceN, every register and port
// access a pread/pwrite of its width, every EEPROM pacing sleep a real one. The same session on the
// simulated driver must put the same writes on the bridge, the same accesses on the board and the
// same words in the EEPROM.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "diag/p9050_diag.h"
#include "driver/hosted_driver.h"
#include "linux/sysfs_driver.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/simulator.h"
#include "sim_served_files.h"
#include "support/fake_sysfs.h"
#include "support/transcript.h"
#include "zarerera.h"

namespace linux_test {
namespace {

// The board with its bridge registers behind I/O BARs only (BAR0 and BAR1), so that every register
// access is a file access the simulator sees at once.
sim::BoardConfig IoBoard() {
  sim::BoardConfig config;
  config.bridge.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
  return config;
}

struct Outcome {
  bool opened = false;
  int digitalIn = -1;
  int readBack = -1;
  bool eepromOk = false;
  uint16_t word = 0;
  uint32_t dword = 0;
  std::string editor;
  bool operator==(const Outcome&) const = default;
};

// The session: the board API's open, output, input and counter set-up, EEPROM word and dword read
// and write, and the register editor writing CS0BASE.
Outcome RunSession(sim::SimBoard& board) {
  Outcome o;
  board.ports->set_digital_in(0x5a);
  ZarereraCard card = tamrelcheck(0, 0, 0, 1);
  o.opened = card != nullptr;
  if (card == nullptr) return o;
  tamreldo(card, 0, 0xa5);
  o.digitalIn = tamreldi(card);
  tamrelwrite(card, 0, 0x07, 0x3c);
  o.readBack = tamrelread(card, 0, sim::port_window::kDigitalIn);
  const uint8_t controls[3] = {0x34, 0x74, 0xb4};
  tamreljsset(card, 0, controls, 1);

  uint16_t w = 0;
  uint32_t d = 0;
  o.eepromOk = P9050_EEPROMWriteWord(card, 0x20, 0xbeef) && P9050_EEPROMReadWord(card, 0x20, &w) &&
               P9050_EEPROMWriteDword(card, 0x24, 0x12345678) &&
               P9050_EEPROMReadDword(card, 0x24, &d);
  o.word = w;
  o.dword = d;

  testsupport::ConsoleFiles console("16\n1234abcd\n99\n");
  P9050Diag_EditRegisters(card);
  o.editor = console.Output();
  tamrelclose(card);
  return o;
}

// The board's accesses with the values of reads left out: the counters run in real time in one
// run and in virtual time in the other.
std::vector<sim::BoardPorts::Access> Writes(const sim::BoardPorts& ports) {
  std::vector<sim::BoardPorts::Access> out;
  for (sim::BoardPorts::Access a : ports.log()) {
    if (!a.write) a.value = 0;
    out.push_back(a);
  }
  return out;
}

TEST(LibraryOverSysfsTest, SameWireResultsAsOnTheSimulatedDriver) {
  // On the simulated driver.
  sim::Simulator direct;
  sim::SimBoard directBoard = sim::AddBoard(direct, IoBoard());
  Outcome expected;
  {
    sim::ScopedInstall install(direct);
    expected = RunSession(directBoard);
  }

  // Over the sysfs driver: real time, as the driver's sleeps are real.
  sim::Simulator served(sim::Clock::Mode::kReal);
  sim::SimBoard servedBoard = sim::AddBoard(served, IoBoard());
  testsupport::FakeSysfs tree;
  ASSERT_TRUE(tree.ok());
  TreeOf(served, tree);
  SimServedFiles files(*served.Find(0, 5, 0), tree.root() + "/0000:00:05.0");
  sysfs::SysfsDriver driver(tree.root(), sysfs::Access::kFull, &files);
  Outcome got;
  {
    WdHosted_Install(&driver);
    got = RunSession(servedBoard);
    WdHosted_Install(nullptr);
  }
  EXPECT_EQ(driver.LastError(), "");
  EXPECT_EQ(driver.registrations(), 0);
  EXPECT_EQ(driver.open_files(), 0);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
  EXPECT_EQ(served.log().size(), 0u) << "nothing went through the simulated driver";
  EXPECT_GT(files.port_accesses(), 1000) << "the EEPROM's CNTRL edges went through the files";

  // What the session saw.
  EXPECT_TRUE(got.opened);
  EXPECT_EQ(got.digitalIn, 0x5a);
  EXPECT_EQ(got.readBack, 0x5a);
  EXPECT_TRUE(got.eepromOk);
  EXPECT_EQ(got.word, 0xbeef);
  EXPECT_EQ(got.dword, 0x12345678u);
  EXPECT_NE(got.editor.find("16. CS0BASE : 0234abcd"), std::string::npos) << got.editor;
  EXPECT_EQ(got, expected);

  // What reached the hardware.
  EXPECT_EQ(servedBoard.bridge->register_writes(), directBoard.bridge->register_writes());
  EXPECT_EQ(Writes(*servedBoard.ports), Writes(*directBoard.ports));
  EXPECT_EQ(servedBoard.ports->digital_out(), 0xa5);
  EXPECT_EQ(servedBoard.eeprom->image(), directBoard.eeprom->image());
  EXPECT_EQ(servedBoard.eeprom->image()[0x10], 0xbeef);
}

TEST(LibraryOverSysfsTest, ReadOnlyDriverFindsTheBoardButCannotOpenIt) {
  sim::Simulator served;
  sim::AddBoard(served, IoBoard());
  testsupport::FakeSysfs tree;
  ASSERT_TRUE(tree.ok());
  TreeOf(served, tree);
  SimServedFiles files(*served.Find(0, 5, 0), tree.root() + "/0000:00:05.0");
  sysfs::SysfsDriver driver(tree.root(), sysfs::Access::kReadOnly, &files);
  WdHosted_Install(&driver);
  EXPECT_EQ(P9050_CountCards(0x9050, 0x10b5), 1u);
  EXPECT_EQ(tamrelcheck(0, 0, 0, 1), nullptr);
  WdHosted_Install(nullptr);
  EXPECT_EQ(driver.LastError(), "read-only: card registration refused");
  EXPECT_EQ(files.port_accesses(), 0);
  EXPECT_EQ(WdHosted_OpenHandles(), 0);
}

}  // namespace
}  // namespace linux_test
