// --json: each command's standard output is exactly one JSON document (parsing fails on anything
// after it), checked field by field.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "run_command.h"

namespace {

using cmdtest::Result;
using cmdtest::Zarerera;
using nlohmann::json;

json RunJson(std::vector<std::string> args, int exitCode = 0) {
  args.insert(args.begin(), {"--fast", "--json"});
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, exitCode) << r.err;
  try {
    return json::parse(r.out);
  } catch (const json::exception& e) {
    ADD_FAILURE() << e.what() << "\n" << r.out;
    return json();
  }
}

TEST(JsonTest, ListEveryFunctionWithRegionsAndIrq) {
  const json doc = RunJson({"list", "--all"});
  EXPECT_EQ(doc["driver"], "sim");
  const json& f = doc["functions"];
  ASSERT_EQ(f.size(), 4u);
  for (size_t i = 0; i < f.size(); ++i) EXPECT_EQ(f[i]["index"], i);
  EXPECT_EQ(f[0]["slot"], "00:00.0");
  EXPECT_TRUE(f[0]["regions"].empty());
  EXPECT_TRUE(f[0]["irq"].is_null());
  const json& board = f[1];
  EXPECT_EQ(board["slot"], "00:05.0");
  EXPECT_EQ(board["device"], 5);
  EXPECT_EQ(board["vendor_id"], "9050");
  EXPECT_EQ(board["device_id"], "10b5");
  EXPECT_EQ(board["irq"], 10);
  ASSERT_EQ(board["regions"].size(), 3u);
  EXPECT_EQ(board["regions"][1],
            json({{"region", 1}, {"type", "io"}, {"address", 0xc080}, {"size", 128}}));
  EXPECT_EQ(board["regions"][0]["type"], "memory");
  EXPECT_EQ(board["regions"][0]["address"], 0xfe021800u);
  EXPECT_EQ(f[3]["function"], 2);
}

TEST(JsonTest, ListOnlyTheBoards) {
  const json doc = RunJson({"--boards=2", "list"});
  ASSERT_EQ(doc["functions"].size(), 2u);
  EXPECT_EQ(doc["functions"][1]["slot"], "00:06.0");
}

TEST(JsonTest, RegsReadAndWrite) {
  json doc = RunJson({"regs"});
  EXPECT_EQ(doc["slot"], "00:05.0");
  ASSERT_EQ(doc["registers"].size(), 21u);
  EXPECT_EQ(doc["registers"][0]["name"], "LAS0RR");
  EXPECT_EQ(doc["registers"][20],
            json({{"name", "CNTRL"}, {"offset", 0x50}, {"value", 0x18000000}}));
  EXPECT_FALSE(doc.contains("writes"));

  doc = RunJson({"regs", "INTCSR=ff:40", "LAS1BA"});
  ASSERT_EQ(doc["writes"].size(), 1u);
  EXPECT_EQ(doc["writes"][0], json({{"name", "INTCSR"},
                                    {"offset", 0x4c},
                                    {"old", 0},
                                    {"new", 0x40},
                                    {"written", true},
                                    {"read_back", 0x40}}));
  EXPECT_EQ(doc["registers"], json::array({{{"name", "LAS1BA"}, {"offset", 0x18}, {"value", 1}}}));

  doc = RunJson({"regs", "--dry-run", "CNTRL", "0"});
  EXPECT_EQ(doc["writes"][0]["written"], false);
  EXPECT_FALSE(doc["writes"][0].contains("read_back"));
}

TEST(JsonTest, PortsAndCounters) {
  EXPECT_EQ(RunJson({"--sim-di=7e", "di"}), json({{"slot", "00:05.0"}, {"di", 0x7e}}));
  EXPECT_EQ(RunJson({"--sim-di=7e", "read", "10"}),
            json({{"slot", "00:05.0"}, {"offset", 0x10}, {"value", 0x7e}}));
  EXPECT_EQ(RunJson({"do", "ff"}), json({{"slot", "00:05.0"}, {"do", 0xff}}));
  EXPECT_EQ(RunJson({"write", "14", "3"}),
            json({{"slot", "00:05.0"}, {"offset", 0x14}, {"value", 3}}));
  EXPECT_EQ(RunJson({"counters", "-g", "1"}),
            json({{"slot", "00:05.0"}, {"group", 1}, {"counters", {0, 0, 0}}}));
  EXPECT_EQ(RunJson({"counter-set", "30", "70", "b0"}),
            json({{"slot", "00:05.0"}, {"group", 0}, {"controls", {0x30, 0x70, 0xb0}}}));
}

TEST(JsonTest, EepromDumpHasTheWords) {
  const json doc = RunJson({"eeprom", "dump"});
  ASSERT_EQ(doc["words"].size(), 64u);
  EXPECT_EQ(doc["words"][0], 0x10b5);
  EXPECT_EQ(doc["words"][1], 0x9050);
  EXPECT_EQ(doc["words"][63], 0xffff);
}

// A stream: one JSON object on each line.
TEST(JsonTest, WatchPrintsOneObjectPerLine) {
  const Result r =
      Zarerera({"--fast", "--json", "--sim-di=1", "watch", "di", "-c", "2", "-i", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t eol = r.out.find('\n');
  ASSERT_NE(eol, std::string::npos);
  for (const std::string& line : {r.out.substr(0, eol + 1), r.out.substr(eol + 1)}) {
    const json sample = json::parse(line);
    EXPECT_EQ(sample["di"], 1);
    EXPECT_EQ(sample["time"].get<std::string>().size(), 23u);
  }
}

// Each interrupt its own object: numbered from 1 in order, none lost, INTCSR as read at the
// interrupt with LINTi1's status (bit 2) and the PCI interrupt enable (bit 6).
TEST(JsonTest, WatchIrqPrintsOneObjectPerInterrupt) {
  const Result r = Zarerera({"--fast", "--json", "--sim-irq-every=5", "watch", "--irq", "-c", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream out(r.out);
  unsigned n = 0;
  for (std::string line; std::getline(out, line); ++n) {
    const json irq = json::parse(line);
    EXPECT_EQ(irq["interrupt"], n + 1);
    EXPECT_EQ(irq["lost"], 0);
    EXPECT_EQ(irq["intcsr"].get<unsigned>() & 0x44u, 0x44u) << irq;
    EXPECT_EQ(irq["time"].get<std::string>().size(), 23u);
  }
  EXPECT_EQ(n, 3u);
}

}  // namespace
