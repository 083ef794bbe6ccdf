// Every option and subcommand the command line defines shows in the --help text of the command it
// belongs to: the test walks the same definitions the program is built from.
#include <gtest/gtest.h>

#include "run_command.h"
#include "zarerera/cli.h"

namespace {

void CheckHelp(const CLI::App& app, std::vector<std::string> path) {
  std::vector<std::string> args = path;
  args.push_back("--help");
  const cmdtest::Result r = cmdtest::Zarerera(args);
  std::string where = "zarerera";
  for (const std::string& p : path) where += " " + p;
  ASSERT_EQ(r.exitCode, 0) << where;
  EXPECT_EQ(r.err, "") << where;
  EXPECT_NE(r.out.find(app.get_description()), std::string::npos) << where;
  size_t options = 0;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      EXPECT_NE(r.out.find("--" + name), std::string::npos) << where << ": --" << name;
      ++options;
    }
    for (const std::string& name : option->get_snames()) {
      EXPECT_NE(r.out.find("-" + name + ","), std::string::npos) << where << ": -" << name;
    }
    if (option->get_positional()) {
      EXPECT_NE(r.out.find(option->get_name()), std::string::npos)
          << where << ": " << option->get_name();
      ++options;
    }
  }
  EXPECT_GT(options, 0u) << where;  // --help itself at least
  for (const CLI::App* sub : app.get_subcommands({})) {
    EXPECT_NE(r.out.find(sub->get_name()), std::string::npos) << where << ": " << sub->get_name();
    std::vector<std::string> subPath = path;
    subPath.push_back(sub->get_name());
    CheckHelp(*sub, subPath);
  }
}

TEST(HelpTest, ListsEveryOptionAndCommand) {
  CLI::App app{"", "zarerera"};
  zcmd::Config config;
  zcmd::DefineCommandLine(app, config);
  ASSERT_EQ(app.get_subcommands({}).size(), 11u);
  CheckHelp(app, {});
}

}  // namespace
