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
using testsupport::TempFile;

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
  EXPECT_EQ(board["bus"], "00");
  EXPECT_EQ(board["device"], "05");
  EXPECT_EQ(board["function"], "0");
  EXPECT_EQ(board["vendor_id"], "9050");
  EXPECT_EQ(board["device_id"], "10b5");
  EXPECT_EQ(board["irq"], 10);
  ASSERT_EQ(board["regions"].size(), 3u);
  EXPECT_EQ(board["regions"][1], json({{"region", 1},
                                       {"type", "io"},
                                       {"address", "c080"},
                                       {"size", 128},
                                       {"reachable", true}}));
  EXPECT_EQ(board["regions"][0]["type"], "memory");
  EXPECT_EQ(board["regions"][0]["address"], "fe021800");
  EXPECT_EQ(f[3]["device"], "1f");
  EXPECT_EQ(f[3]["function"], "2");
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
            json({{"name", "CNTRL"}, {"offset", "50"}, {"value", "18000000"}}));
  EXPECT_FALSE(doc.contains("writes"));

  doc = RunJson({"regs", "INTCSR=ff:40", "LAS1BA"});
  ASSERT_EQ(doc["writes"].size(), 1u);
  EXPECT_EQ(doc["writes"][0], json({{"name", "INTCSR"},
                                    {"offset", "4c"},
                                    {"old", "00000000"},
                                    {"new", "00000040"},
                                    {"written", true},
                                    {"read_back", "00000040"}}));
  EXPECT_EQ(doc["registers"],
            json::array({{{"name", "LAS1BA"}, {"offset", "18"}, {"value", "00000001"}}}));

  doc = RunJson({"regs", "--dry-run", "CNTRL", "0"});
  EXPECT_EQ(doc["writes"][0]["written"], false);
  EXPECT_FALSE(doc["writes"][0].contains("read_back"));
}

TEST(JsonTest, PortsAndCounters) {
  EXPECT_EQ(RunJson({"--sim-di=7e", "di"}), json({{"slot", "00:05.0"}, {"di", "7e"}}));
  EXPECT_EQ(RunJson({"--sim-di=7e", "read", "10"}),
            json({{"slot", "00:05.0"}, {"offset", "10"}, {"value", "7e"}}));
  EXPECT_EQ(RunJson({"do", "ff"}), json({{"slot", "00:05.0"}, {"do", "ff"}}));
  EXPECT_EQ(RunJson({"write", "14", "3"}),
            json({{"slot", "00:05.0"}, {"offset", "14"}, {"value", "03"}}));
  EXPECT_EQ(RunJson({"counters", "-g", "1"}),
            json({{"slot", "00:05.0"}, {"group", 1}, {"counters", {0, 0, 0}}}));
  EXPECT_EQ(RunJson({"counter-set", "30", "70", "b0"}),
            json({{"slot", "00:05.0"}, {"group", 0}, {"controls", {"30", "70", "b0"}}}));
}

TEST(JsonTest, EepromDumpHasTheWords) {
  const json doc = RunJson({"eeprom", "dump"});
  ASSERT_EQ(doc["words"].size(), 64u);
  EXPECT_EQ(doc["words"][0], "10b5");
  EXPECT_EQ(doc["words"][1], "9050");
  EXPECT_EQ(doc["words"][4], "0000");
  EXPECT_EQ(doc["words"][63], "ffff");
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
    EXPECT_EQ(sample["di"], "01");
    EXPECT_EQ(sample["slot"], "00:05.0");
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
    EXPECT_EQ(std::stoul(irq["intcsr"].get<std::string>(), nullptr, 16) & 0x44u, 0x44u) << irq;
    EXPECT_EQ(irq["intcsr"].get<std::string>().size(), 8u);
    EXPECT_EQ(irq["slot"], "00:05.0");
    EXPECT_EQ(irq["time"].get<std::string>().size(), 23u);
  }
  EXPECT_EQ(n, 3u);
}

TEST(JsonTest, WatchCountersLinesCarryTheSlot) {
  const Result r =
      Zarerera({"--fast", "--json", "--boards=2", "-s", "06", "watch", "counters", "-c", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(json::parse(r.out), json({{"time", json::parse(r.out)["time"]},
                                      {"slot", "00:06.0"},
                                      {"group", 0},
                                      {"counters", {0, 0, 0}}}));
}

// A failure is one JSON object on standard output too (besides the message on standard error):
// the message as standard error shows it, without the program's name, and the exit status.
struct ErrorCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class JsonErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(JsonErrorTest, OneErrorObject) {
  const ErrorCase& c = GetParam();
  std::vector<std::string> args = {"--fast"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Result r = Zarerera(args);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(json::parse(r.out), json({{"error", c.message}, {"exit_status", c.exitCode}}));
  EXPECT_NE(r.err.find("zarerera: " + c.message + "\n"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, JsonErrorTest,
    ::testing::Values(ErrorCase{"NoBoard",
                                {"--json", "--boards=0", "di"},
                                1,
                                "cannot open board 0 with IDs 9050:10b5: Could not find PCI card"},
                      ErrorCase{"BadValue",
                                {"--json", "do", "1ff"},
                                2,
                                "do takes a hexadecimal number from 0 to ff, not '1ff'"},
                      ErrorCase{"ParseErrorBeforeJson",
                                {"lsit", "--json"},
                                2,
                                "unknown command 'lsit'; did you mean 'list'?"},
                      ErrorCase{"ParseErrorAfterJson", {"--json", "do"}, 2, "value is required"},
                      ErrorCase{"MissingFile",
                                {"--json", "eeprom", "verify", "/nonexistent/x.txt"},
                                1,
                                "/nonexistent/x.txt: No such file or directory"}));

// After a stream of lines the error is one more line; after a document, the document tells.
TEST(JsonTest, ErrorAfterLinesIsALineAndAfterADocumentNothing) {
  Result r = Zarerera(
      {"--fast", "--json", "--sim-irq-every=5", "watch", "--irq", "-c", "1000", "-t", "30"});
  EXPECT_EQ(r.exitCode, 1);
  std::istringstream lines(r.out);
  std::string line;
  std::string last;
  size_t count = 0;
  while (std::getline(lines, line)) {
    EXPECT_NO_THROW(json::parse(line)) << line;
    last = line;
    ++count;
  }
  ASSERT_GE(count, 1u);
  const json error = json::parse(last);
  EXPECT_EQ(error["exit_status"], 1);
  EXPECT_NE(error["error"].get<std::string>().find("of 1000 interrupts came within 30 ms"),
            std::string::npos);

  TempFile image("image");
  std::string text;  // a well-formed text image that differs from the part
  for (int i = 0; i < 64; ++i) text += i % 8 == 7 ? "1234\n" : "1234 ";
  image.Write(text);
  r = Zarerera({"--fast", "--json", "eeprom", "verify", image.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(json::parse(r.out)["equal"], false);  // one document only: parse fails otherwise
}

}  // namespace
