// The console host's command line parsed in-process: what each accepted line sets, and that
// parsing keeps nothing from one call to the next.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "p9050diag/options.h"

namespace {

using p9050diag::Options;

// argv as main() gets it: each word in its own heap block, freed with the object.
class Argv {
 public:
  explicit Argv(const std::string& line) {
    words_.push_back(std::make_unique<std::string>("p9050diag"));
    std::istringstream in(line);
    std::string word;
    while (in >> word) words_.push_back(std::make_unique<std::string>(word));
    for (auto& w : words_) pointers_.push_back(w->data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::unique_ptr<std::string>> words_;
  std::vector<char*> pointers_;
};

bool Parse(const std::string& line, Options* options, std::string* error) {
  Argv args(line);
  return p9050diag::ParseOptions(args.argc(), args.argv(), options, error);
}

struct GoodLine {
  const char* name;
  const char* line;
  int boards;
  bool realTime;
  bool space0Io;
  std::vector<std::string> eepromFiles;
  std::vector<std::string> vcdFiles;
  uint16_t lastVendorId;  // IdsOf(boards - 1), or of board 0 with no boards
};

void PrintTo(const GoodLine& c, std::ostream* os) {
  *os << "'" << c.line << "'";
}

class GoodLineTest : public ::testing::TestWithParam<GoodLine> {};

TEST_P(GoodLineTest, SetsTheOptions) {
  const GoodLine& c = GetParam();
  Options options;
  std::string error;
  ASSERT_TRUE(Parse(c.line, &options, &error)) << error;
  EXPECT_EQ(options.boards, c.boards);
  EXPECT_EQ(options.realTime, c.realTime);
  EXPECT_EQ(options.space0Io, c.space0Io);
  EXPECT_EQ(options.eepromFiles, c.eepromFiles);
  EXPECT_EQ(options.vcdFiles, c.vcdFiles);
  EXPECT_EQ(options.IdsOf(c.boards > 0 ? c.boards - 1 : 0).vendorId, c.lastVendorId);
  EXPECT_FALSE(options.help);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, GoodLineTest,
    ::testing::Values(
        // Real time is what the hardware does: the default until --fast.
        GoodLine{"Defaults", "", 1, true, false, {}, {}, 0x9050},
        GoodLine{"Fast", "--fast", 1, false, false, {}, {}, 0x9050},
        GoodLine{"FastThenRealTime", "-fr", 1, true, false, {}, {}, 0x9050},
        GoodLine{"RealTimeThenFast", "--real-time -f", 1, false, false, {}, {}, 0x9050},
        GoodLine{"PrefixOfALongOption", "--fa", 1, false, false, {}, {}, 0x9050},
        // The limits of --boards, both ends.
        GoodLine{"SixteenBoards", "--boards=16", 16, true, false, {}, {}, 0x9050},
        GoodLine{"SixteenBoardsJoined", "-b16", 16, true, false, {}, {}, 0x9050},
        GoodLine{"NoBoards", "--boards 0", 0, true, false, {}, {}, 0x9050},
        GoodLine{"Files",
                 "-b 2 -e a -eb --vcd=c -f --vcd d",
                 2,
                 false,
                 false,
                 {"a", "b"},
                 {"c", "d"},
                 0x9050},
        GoodLine{"IdsAndSpace0",
                 "-b3 --ids 1234:5678,abcd:0001 --space0 io",
                 3,
                 true,
                 true,
                 {},
                 {},
                 0xABCD},
        GoodLine{"DoubleDashEndsOptions", "-f --", 1, false, false, {}, {}, 0x9050}),
    [](const ::testing::TestParamInfo<GoodLine>& info) { return std::string(info.param.name); });

// Parsing keeps no state between calls: a second parse after a failed one in the middle of a
// cluster of short options (whose argv has gone) reads only its own argv.
TEST(OptionsTest, ParsesTwiceInOneProcess) {
  for (const char* first : {"-xf", "-fx", "-f -b", "--boards"}) {
    Options options;
    std::string error;
    {
      Argv gone(first);
      EXPECT_FALSE(p9050diag::ParseOptions(gone.argc(), gone.argv(), &options, &error)) << first;
    }
    Options again;
    ASSERT_TRUE(Parse("-rb 2 -e one", &again, &error)) << first << ": " << error;
    EXPECT_EQ(again.boards, 2);
    EXPECT_TRUE(again.realTime);
    EXPECT_EQ(again.eepromFiles, std::vector<std::string>{"one"});
  }
}

}  // namespace

namespace {

// A long or strange word is quoted cut to 40 characters and with its control characters shown,
// in every message that quotes one.
TEST(OptionsTest, QuotedWordsAreCut) {
  const std::string longWord(100, 'z');
  const std::string cut = std::string(40, 'z') + "...";
  for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
           {"--" + longWord, "unknown option --" + cut},
           {"x" + longWord, "unexpected argument 'x" + std::string(39, 'z') + "...'"},
           {"--driver=" + longWord,
            "--driver takes 'sim', 'auto', 'sysfs' or 'vfio', not '" + cut + "'"},
           {"--boards=" + longWord, "--boards takes a number from 0 to 16, not '" + cut + "'"},
           {"--ids=\x1b[2J",
            "--ids takes VVVV:DDDD pairs in hexadecimal separated by commas, "
            "not '\\x1b[2J'"}}) {
    Options options;
    std::string error;
    EXPECT_FALSE(Parse(line, &options, &error)) << line;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
