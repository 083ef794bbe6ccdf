// Names of parameterised test cases: stable (no addresses, no padding bytes) and made of letters,
// digits and '_' only, so that `ctest -R` and --gtest_filter can name each case.
#ifndef ZARERERA_TESTS_SUPPORT_PARAM_NAME_H
#define ZARERERA_TESTS_SUPPORT_PARAM_NAME_H

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace testsupport {

// A name for typed input: its lines joined by '_' (a line end closes a line), each with letters and
// digits as they are, '-' as "Minus", a space as "Space" and any other character as '_'; an empty
// line is "Enter", no input at all "NoInput". "3\n10\n" is 3_10, "-1" Minus1, "4\n\n" 4_Enter.
inline std::string NameFromText(std::string_view text) {
  if (text.empty()) return "NoInput";
  std::string name;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (!name.empty()) name.push_back('_');
    if (end == start) name += "Enter";
    for (char c : text.substr(start, end - start)) {
      if (std::isalnum(static_cast<unsigned char>(c))) {
        name.push_back(c);
      } else if (c == '-') {
        name += "Minus";
      } else if (c == ' ') {
        name += "Space";
      } else {
        name.push_back('_');
      }
    }
    start = end + 1;
  }
  return name;
}

// A name for a description: letters and digits as they are, every other run of characters one
// '_', with none at either end ("offset 252, 4 bytes" is offset_252_4_bytes).
inline std::string NameFromWords(std::string_view text) {
  std::string name;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      name.push_back(c);
    } else if (!name.empty() && name.back() != '_') {
      name.push_back('_');
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "Empty" : name;
}

// A number in hexadecimal, as "0x1F".
inline std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Name generators for INSTANTIATE_TEST_SUITE_P.
// The case's own `name` member.
struct ByNameMember {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return NameFromText(info.param.name);
  }
};
// A text parameter (typed input, a file name).
struct ByText {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return NameFromText(info.param);
  }
};
// The case as its PrintTo describes it.
struct ByPrinted {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return NameFromWords(::testing::PrintToString(info.param));
  }
};
// A number parameter, in hexadecimal.
struct ByHex {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return Hex(info.param);
  }
};

}  // namespace testsupport

#endif  // ZARERERA_TESTS_SUPPORT_PARAM_NAME_H
