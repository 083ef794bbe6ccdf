// The command on the real-bus driver, over a fabricated sysfs tree (never this machine's bus): the
// Linux default, what reaches the board's port file, and the read-only mode's refusals.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "run_command.h"
#include "support/fake_sysfs.h"

namespace {

using cmdtest::Result;
using cmdtest::Zarerera;
using Bar = testsupport::FakeSysfs::Bar;

constexpr uint64_t kIo = testsupport::FakeSysfs::kIo;
constexpr uint64_t kMem = testsupport::FakeSysfs::kMem;
constexpr char kBoard[] = "0000:00:05.0";
constexpr size_t kDigitalIn = 0x10;
constexpr size_t kDigitalOut = 0x14;

class SysfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
    tree_.AddFunction("0000:00:00.0", 0x8086, 0x0d57);
    tree_.AddFunction(kBoard, 0x9050, 0x10b5,
                      {Bar{0xfe000000, 128, kMem}, Bar{0xc080, 128, kIo}, {}, Bar{0xc100, 32, kIo}},
                      10);
  }

  // The command with the tree as its bus; no --driver: the default driver is the real bus's.
  Result Run(std::vector<std::string> args) const {
    args.insert(args.begin(), "--sysfs-root=" + tree_.root());
    return Zarerera(args);
  }

  std::string Ports() const { return tree_.Read(std::string(kBoard) + "/resource3"); }
  std::string Registers() const { return tree_.Read(std::string(kBoard) + "/resource0"); }

  testsupport::FakeSysfs tree_;
};

TEST_F(SysfsTest, ListsTheTreesBoardByDefault) {
  const Result r = Run({"--read-only", "list", "-v"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0 00:05.0 9050:10b5\n"
            "\tRegion 0: Memory at fe000000 [size=128]\n"
            "\tRegion 1: I/O ports at c080 [size=128]\n"
            "\tRegion 3: I/O ports at c100 [size=32]\n"
            "\tIRQ 10\n");
  EXPECT_EQ(r.err, "");

  const Result all = Run({"--read-only", "--json", "list", "--all"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  const nlohmann::json doc = nlohmann::json::parse(all.out);
  EXPECT_EQ(doc["driver"], "sysfs");
  ASSERT_EQ(doc["functions"].size(), 2u);
  EXPECT_EQ(doc["functions"][1]["slot"], "00:05.0");
}

// The port accesses land in the board's I/O file at the board's offsets, one byte each.
// A BAR placed above 4 GiB cannot be carried by the driver's records: it is listed in its place,
// marked as not reachable, never dropped; one that ends past 4 GiB too.
TEST_F(SysfsTest, RegionsAbove4GiBShownAsNotReachable) {
  tree_.AddFunction("0000:00:06.0", 0x9050, 0x10b5,
                    {Bar{0xfe001000, 128, kMem}, Bar{0xc200, 128, kIo},
                     Bar{0x4000000000, uint64_t{1} << 30, kMem}, Bar{0xfff00000, 0x200000, kMem}},
                    11);
  const Result r = Run({"--read-only", "-s", "06", "list", "-v"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "1 00:06.0 9050:10b5\n"
            "\tRegion 0: Memory at fe001000 [size=128]\n"
            "\tRegion 1: I/O ports at c200 [size=128]\n"
            "\tRegion 2: Memory at 4000000000 [size=1G] (above 4 GiB: not reachable)\n"
            "\tRegion 3: Memory at fff00000 [size=2M] (above 4 GiB: not reachable)\n"
            "\tIRQ 11\n");

  const Result json = Run({"--read-only", "--json", "-s", "06", "list"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const nlohmann::json regions = nlohmann::json::parse(json.out)["functions"][0]["regions"];
  ASSERT_EQ(regions.size(), 4u);
  EXPECT_EQ(regions[0]["reachable"], true);
  EXPECT_EQ(regions[2], nlohmann::json({{"region", 2},
                                        {"type", "memory"},
                                        {"address", "4000000000"},
                                        {"size", uint64_t{1} << 30},
                                        {"reachable", false}}));
  EXPECT_EQ(regions[3]["reachable"], false);
}

// With no board, list says why: a function whose BARs the driver cannot reach; an empty tree.
TEST(SysfsHintTest, NoBoardSaysWhy) {
  testsupport::FakeSysfs tree;
  ASSERT_TRUE(tree.ok());
  const Result empty = Zarerera({"--sysfs-root=" + tree.root(), "--read-only", "list"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "zarerera: the bus scan found no PCI function at all under " + tree.root() +
                           ": is it the PCI devices directory, and is this user permitted to "
                           "read it?\n");

  tree.AddFunction("0000:00:00.0", 0x8086, 0x0d57);
  tree.AddFunction("0000:00:03.0", 0x1af4, 0x1041, {Bar{0x4000100000ull, 0x80000, kMem}});
  const Result r = Zarerera({"--sysfs-root=" + tree.root(), "--read-only", "list"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "zarerera: no function with IDs 9050:10b5 among the 2 functions on the bus; list "
            "--all shows them\n"
            "zarerera: 00:03.0 1af4:1041 has BARs above 4 GiB, which the driver cannot reach "
            "(list --all -v shows them)\n");
}

TEST_F(SysfsTest, PortsReachTheBoardsIoFile) {
  std::string ports(32, '\0');
  ports[kDigitalIn] = '\x3c';
  tree_.Write(std::string(kBoard) + "/resource3", ports);

  const Result di = Run({"di"});
  EXPECT_EQ(di.exitCode, 0) << di.err;
  EXPECT_EQ(di.out, "3c\n");

  const Result out = Run({"do", "a5"});
  EXPECT_EQ(out.exitCode, 0) << out.err;
  ports[kDigitalOut] = '\xa5';
  EXPECT_EQ(Ports(), ports);

  const Result write = Run({"-s", "00:05.0", "write", "1f", "7e"});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  ports[0x1f] = '\x7e';
  EXPECT_EQ(Ports(), ports);
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  bool onTree;  // with the tree as the bus (--sysfs-root)
  int exitCode;
  std::string err;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class SysfsRefusalTest : public SysfsTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SysfsRefusalTest, ChangesNothing) {
  const RefusalCase& c = GetParam();
  const std::string config = tree_.Read(std::string(kBoard) + "/config");
  const std::string ports = Ports();
  const std::string registers = Registers();
  const Result r = c.onTree ? Run(c.args) : Zarerera(c.args);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(tree_.Read(std::string(kBoard) + "/config"), config);
  EXPECT_EQ(Ports(), ports);
  EXPECT_EQ(Registers(), registers);  // INTCSR's PCI interrupt enable among them
}

using cmdtest::kTryHelp;

INSTANTIATE_TEST_SUITE_P(
    Sysfs, SysfsRefusalTest,
    ::testing::Values(
        RefusalCase{"ReadOnlyOpensNoBoard",
                    {"--read-only", "do", "ff"},
                    true,
                    1,
                    "zarerera: read-only: card registration refused\n"
                    "zarerera: cannot open board 0 with IDs 9050:10b5: no reason given\n"},
        RefusalCase{"NoBoardOnTheBus",
                    {"-d", "1234:5678", "di"},
                    true,
                    1,
                    "zarerera: cannot open board 0 with IDs 1234:5678: Could not find PCI card\n"},
        RefusalCase{"InterruptsNotServiced",
                    {"watch", "--irq", "--count", "1"},
                    true,
                    1,
                    "zarerera: unknown request 0x5a522007\n"
                    "zarerera: cannot service the board's interrupts: the sysfs driver refused "
                    "the interrupt requests (VFIO serves them once the board is bound to "
                    "vfio-pci)\n"},
        RefusalCase{"WindowsDriverOnLinux",
                    {"--driver=windows", "di"},
                    false,
                    1,
                    "zarerera: the Windows kernel driver is reachable only from the Windows "
                    "build; use --driver=sim\n"},
        RefusalCase{"RealBusOptionsNeedTheRealBus",
                    {"--driver=sim", "--read-only", "di"},
                    false,
                    2,
                    "zarerera: --sysfs-root and --read-only go with --driver=sysfs\n" + kTryHelp},
        RefusalCase{"SimOptionsNeedTheSimulator",
                    {"--sim-di=ff", "di"},
                    true,
                    2,
                    "zarerera: the simulated machine's options go with --driver=sim\n" + kTryHelp}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

}  // namespace
