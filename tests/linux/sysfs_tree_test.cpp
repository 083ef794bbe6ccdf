// Parsing of what a PCI function's sysfs directory holds: names, `resource` lines, number files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linux/sysfs_tree.h"

namespace {

using sysfs::FunctionAddress;
using sysfs::ResourceLine;

struct NameCase {
  const char* label;
  const char* name;
  bool valid;
  FunctionAddress address;
};

void PrintTo(const NameCase& c, std::ostream* os) {
  *os << c.label << " '" << c.name << "'";
}

class FunctionNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FunctionNameTest, Parses) {
  FunctionAddress a{9, 9, 9, 9};
  EXPECT_EQ(sysfs::ParseFunctionName(GetParam().name, &a), GetParam().valid);
  if (GetParam().valid) {
    EXPECT_EQ(a, GetParam().address);
  } else {
    EXPECT_EQ(a, (FunctionAddress{9, 9, 9, 9})) << "left untouched";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, FunctionNameTest,
    ::testing::Values(NameCase{"Plain", "0000:00:05.0", true, {0, 0, 5, 0}},
                      NameCase{"HighParts", "0000:ff:1f.7", true, {0, 0xff, 0x1f, 7}},
                      NameCase{"UpperCase", "0000:0A:1F.2", true, {0, 0x0a, 0x1f, 2}},
                      NameCase{"OtherDomain", "10de:01:00.1", true, {0x10de, 1, 0, 1}},
                      NameCase{"SlotTooHigh", "0000:00:20.0", false, {}},
                      NameCase{"FunctionTooHigh", "0000:00:05.8", false, {}},
                      NameCase{"NoFunction", "0000:00:05", false, {}},
                      NameCase{"NoDomain", "00:05.0", false, {}},
                      NameCase{"Trailing", "0000:00:05.0x", false, {}},
                      NameCase{"NotHex", "0000:0g:05.0", false, {}},
                      NameCase{"Dot", ".", false, {}}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(FunctionNameTest, NamesAreLowerCaseAndPadded) {
  EXPECT_EQ(sysfs::FunctionName({0, 0x0a, 0x1f, 2}), "0000:0a:1f.2");
  EXPECT_EQ(sysfs::FunctionName({0, 0, 5, 0}), "0000:00:05.0");
}

TEST(ResourceTest, KernelLinesGiveStartEndFlagsByIndex) {
  const std::string text =
      "0x00000000fe000000 0x00000000fe00007f 0x0000000000040200\n"
      "0x000000000000c080 0x000000000000c0ff 0x0000000000040101\n"
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
      "\n"
      "0x0000004000000000 0x000000400007ffff 0x0000000000140204\n";
  std::vector<ResourceLine> lines;
  unsigned bad = 0;
  ASSERT_TRUE(sysfs::ParseResource(text, &lines, &bad));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].start, 0xfe000000u);
  EXPECT_EQ(lines[0].bytes(), 0x80u);
  EXPECT_TRUE(lines[0].used());
  EXPECT_FALSE(lines[0].io());
  EXPECT_TRUE(lines[1].io());
  EXPECT_EQ(lines[1].bytes(), 0x80u);
  EXPECT_FALSE(lines[2].used()) << "all zero";
  EXPECT_FALSE(lines[3].used()) << "a blank line keeps its index";
  EXPECT_EQ(lines[4].start, 0x4000000000ull);
  EXPECT_EQ(lines[4].flags, 0x140204u);
}

struct BadResource {
  const char* label;
  const char* text;
  unsigned line;
};

void PrintTo(const BadResource& c, std::ostream* os) {
  *os << c.label;
}

class BadResourceTest : public ::testing::TestWithParam<BadResource> {};

TEST_P(BadResourceTest, NamesTheLine) {
  std::vector<ResourceLine> lines(1);
  unsigned bad = 0;
  EXPECT_FALSE(sysfs::ParseResource(GetParam().text, &lines, &bad));
  EXPECT_EQ(bad, GetParam().line);
  EXPECT_EQ(lines.size(), 1u) << "left untouched";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadResourceTest,
    ::testing::Values(BadResource{"TwoNumbers", "0x1 0x2\n", 1},
                      BadResource{"FourNumbers", "0x0 0x0 0x0\n0x1 0x2 0x3 0x4\n", 2},
                      BadResource{"Word", "0x0 0x0 0x0\n0x0 0x0 0x0\nstart end flags\n", 3},
                      BadResource{"Overflow", "0x10000000000000000 0x0 0x0\n", 1},
                      BadResource{"BadDigit", "0x12g4 0x0 0x0\n", 1}),
    [](const ::testing::TestParamInfo<BadResource>& info) {
      return std::string(info.param.label);
    });

struct NumberCase {
  const char* text;
  bool ok;
  uint32_t value;
};

class NumberFileBaseTest : public ::testing::TestWithParam<NumberCase> {};

// What strtoul with base 0 reads: every base, the 32-bit bound, the line ends a file may have.
TEST_P(NumberFileBaseTest, ReadsWhatStrtoulReads) {
  uint32_t v = 7;
  EXPECT_EQ(sysfs::ParseNumberFile(GetParam().text, &v), GetParam().ok);
  EXPECT_EQ(v, GetParam().ok ? GetParam().value : 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Bases, NumberFileBaseTest,
    ::testing::Values(
        NumberCase{"4294967295\n", true, 0xffffffffu}, NumberCase{"4294967296\n", false, 0},
        NumberCase{"0xffffffff", true, 0xffffffffu}, NumberCase{"0XAbCd\n", true, 0xabcdu},
        NumberCase{"037777777777\n", true, 0xffffffffu}, NumberCase{"040000000000\n", false, 0},
        NumberCase{"017\n", true, 15}, NumberCase{"08\n", false, 0}, NumberCase{"0x\n", false, 0},
        NumberCase{"11\r\n", true, 11}, NumberCase{" \t10\n\n", true, 10},
        NumberCase{"1 0\n", false, 0}, NumberCase{"+1\n", false, 0}));

TEST(ResourceTest, CarriageReturnsEndLinesAndBlankLines) {
  std::vector<ResourceLine> lines;
  unsigned bad = 0;
  ASSERT_TRUE(sysfs::ParseResource("0x10 0x1f 0x200\r\n\r\n0X20 0x2f 0x101\r\n", &lines, &bad));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].bytes(), 0x10u);
  EXPECT_FALSE(lines[1].used());
  EXPECT_EQ(lines[2].start, 0x20u);
  EXPECT_TRUE(lines[2].io());
}

TEST(NumberFileTest, ReadsIrqAndIdFiles) {
  uint32_t v = 7;
  EXPECT_TRUE(sysfs::ParseNumberFile("10\n", &v));
  EXPECT_EQ(v, 10u);
  EXPECT_TRUE(sysfs::ParseNumberFile("0x1af4\n", &v));
  EXPECT_EQ(v, 0x1af4u);
  EXPECT_TRUE(sysfs::ParseNumberFile("0\n", &v));
  EXPECT_EQ(v, 0u);
  for (const char* bad : {"", "\n", "ten\n", "10 11\n", "0x100000000\n", "-1\n"}) {
    v = 7;
    EXPECT_FALSE(sysfs::ParseNumberFile(bad, &v)) << bad;
    EXPECT_EQ(v, 7u) << bad;
  }
}

}  // namespace
