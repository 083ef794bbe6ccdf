// The console host's main menu with a choice beyond 32 bits: no number, so the menu is drawn
// again, whatever the C runtime (with glibc's and msvcrt's "%d" 4294967395 became 99, and the
// program ended).
#ifdef P9050DIAG_PATH

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/transcript.h"

namespace {

using testsupport::TempFile;

// What the host printed on standard output for `input`, and its exit code.
std::string RunMenu(const std::string& input, int* exitCode) {
  TempFile in("menu_in");
  TempFile out("menu_out");
  in.Write(input);
  const std::string command = "timeout 120 '" + std::string(P9050DIAG_PATH) + "' --fast < '" +
                              in.path() + "' > '" + out.path() + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out.Read();
}

class MainMenuNumberTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MainMenuNumberTest, ChoiceBeyond32BitsRedrawsTheMenu) {
  int exitCode = -1;
  const std::string once = RunMenu("99\n", &exitCode);
  ASSERT_EQ(exitCode, 0);
  const std::string out = RunMenu(std::string(GetParam()) + "\n99\n", &exitCode);
  EXPECT_EQ(exitCode, 0);
  const size_t menu = once.find("\nPLX 9050 diagnostics");  // after the start-up lines
  ASSERT_NE(menu, std::string::npos);
  EXPECT_EQ(out, once + once.substr(menu)) << "drawn again after the ignored answer";
}

INSTANTIATE_TEST_SUITE_P(Answers, MainMenuNumberTest,
                         ::testing::Values("4294967395", "-4294967197", "2147483648"),
                         [](const auto& info) { return "Answer" + std::to_string(info.index); });

}  // namespace

#endif  // P9050DIAG_PATH
