// The one number parser behind every console prompt: what each conversion takes from a line, and
// that a number outside its 32-bit range is reported rather than wrapped or saturated.
#include <gtest/gtest.h>

#include <string>

#include "console/console.h"

namespace {

struct NumberCase {
  const char* text;
  DiagConsole_Conversion conversion;
  DiagConsole_Parsed parsed;
  uint32_t value;  // when parsed is DIAGCONSOLE_PARSED_NUMBER
};

const char* ConversionName(DiagConsole_Conversion c) {
  return c == DIAGCONSOLE_DEC ? "Dec" : c == DIAGCONSOLE_UNSIGNED ? "Unsigned" : "Hex";
}

void PrintTo(const NumberCase& c, std::ostream* os) {
  *os << ConversionName(c.conversion) << " \"" << c.text << "\"";
}

class ParseNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberTest, TakesTheNumberOrLeavesThePreset) {
  const NumberCase& c = GetParam();
  constexpr uint32_t kPreset = 0x5EED;
  uint32_t value = kPreset;
  EXPECT_EQ(DiagConsole_ParseNumber(c.text, c.conversion, &value), c.parsed);
  EXPECT_EQ(value, c.parsed == DIAGCONSOLE_PARSED_NUMBER ? c.value : kPreset);
}

constexpr DiagConsole_Conversion D = DIAGCONSOLE_DEC;
constexpr DiagConsole_Conversion U = DIAGCONSOLE_UNSIGNED;
constexpr DiagConsole_Conversion X = DIAGCONSOLE_HEX;
constexpr DiagConsole_Parsed N = DIAGCONSOLE_PARSED_NUMBER;
constexpr DiagConsole_Parsed NONE = DIAGCONSOLE_PARSED_NONE;
constexpr DiagConsole_Parsed BIG = DIAGCONSOLE_PARSED_TOO_BIG;

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseNumberTest,
    ::testing::Values(
        // "%d" (and "%ld"): -2^31 .. 2^31-1; beyond is no number, not a wrapped one.
        NumberCase{"99\n", D, N, 99}, NumberCase{"  \t+7x\n", D, N, 7},
        NumberCase{"-1", D, N, 0xFFFFFFFFu}, NumberCase{"2147483647", D, N, 0x7FFFFFFFu},
        NumberCase{"-2147483648", D, N, 0x80000000u}, NumberCase{"2147483648", D, BIG, 0},
        NumberCase{"-2147483649", D, BIG, 0}, NumberCase{"4294967395", D, BIG, 0},
        NumberCase{"4294967297", D, BIG, 0}, NumberCase{"-4294967295", D, BIG, 0},
        NumberCase{"99999999999999999999999999", D, BIG, 0}, NumberCase{"0x10", D, N, 0},
        NumberCase{"", D, NONE, 0}, NumberCase{"\n", D, NONE, 0}, NumberCase{"abc", D, NONE, 0},
        NumberCase{"- 5", D, NONE, 0}, NumberCase{"+", D, NONE, 0},
        // "%u": a magnitude up to 2^32-1; a '-' negates modulo 2^32 as scanf does.
        NumberCase{"4294967295", U, N, 0xFFFFFFFFu}, NumberCase{"4294967296", U, BIG, 0},
        NumberCase{"4294967297", U, BIG, 0}, NumberCase{"-1", U, N, 0xFFFFFFFFu},
        NumberCase{"-4294967295", U, N, 1}, NumberCase{"-4294967296", U, BIG, 0},
        NumberCase{" 3\n", U, N, 3}, NumberCase{"x3", U, NONE, 0},
        // "%x" (and "%lx"): hexadecimal, "0x" allowed, the same range as "%u".
        NumberCase{"ffffffff", X, N, 0xFFFFFFFFu}, NumberCase{"0XfFfFfFfF", X, N, 0xFFFFFFFFu},
        NumberCase{"100000000", X, BIG, 0}, NumberCase{"0x100009050", X, BIG, 0},
        NumberCase{"00000000000000000000ab", X, N, 0xAB}, NumberCase{"-1", X, N, 0xFFFFFFFFu},
        NumberCase{"-0x10", X, N, 0xFFFFFFF0u}, NumberCase{"-100000000", X, BIG, 0},
        NumberCase{"10b5\n", X, N, 0x10B5}, NumberCase{"0x", X, N, 0}, NumberCase{"0xg", X, N, 0},
        NumberCase{"x1", X, NONE, 0}, NumberCase{"g", X, NONE, 0}, NumberCase{"\v\f\r7", X, N, 7}),
    [](const ::testing::TestParamInfo<NumberCase>& info) {
      return std::string(ConversionName(info.param.conversion)) + std::to_string(info.index);
    });

}  // namespace
