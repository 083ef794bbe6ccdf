// Every option and subcommand the command line defines shows in the --help text of the command it
// belongs to: the test walks the same definitions the program is built from.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "p9050diag/options.h"
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
#ifdef __linux__
  ASSERT_EQ(app.get_subcommands({}).size(), 13u);  // bind and unbind besides
#else
  ASSERT_EQ(app.get_subcommands({}).size(), 11u);
#endif
  CheckHelp(app, {});
}

// The short options of every zarerera command and p9050diag's: "-x" -> its long name.
void ShortNames(const CLI::App& app, std::map<std::string, std::string>* names) {
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& s : option->get_snames()) {
      const std::string full = option->get_lnames().empty() ? "" : option->get_lnames()[0];
      (*names)["-" + s + " (" + app.get_name() + ")"] = full;
    }
  }
  for (const CLI::App* sub : app.get_subcommands({})) ShortNames(*sub, names);
}

// A letter means the same in both tools: where p9050diag's help lists "-x, --long", every
// zarerera option with that letter is --long too.
TEST(HelpTest, ShortOptionsMeanTheSameInBothTools) {
  CLI::App app{"", "zarerera"};
  zcmd::Config config;
  zcmd::DefineCommandLine(app, config);
  std::map<std::string, std::string> zarerera;
  ShortNames(app, &zarerera);
  ASSERT_GT(zarerera.size(), 5u);

  const std::regex line(R"(^\s+-([A-Za-z]), --([a-z-]+))");
  std::istringstream usage(p9050diag::Usage("p9050diag"));
  size_t compared = 0;
  for (std::string text; std::getline(usage, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    const std::string letter = "-" + m[1].str() + " (";
    for (const auto& [name, full] : zarerera) {
      if (name.rfind(letter, 0) != 0) continue;
      EXPECT_EQ(full, m[2].str()) << "zarerera " << name << " is --" << full << "; p9050diag's -"
                                  << m[1] << " is --" << m[2];
      ++compared;
    }
  }
  EXPECT_GE(compared, 2u);  // -h and -V at least
}

}  // namespace
