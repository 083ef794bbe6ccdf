// The zarerera command end to end, from process start to exit, on the simulated machine: `list`
// on a bus of 100 PCI functions (the most a scan returns), with and without each function's
// resources, and `di` on the default machine. The goal for each is under 20 ms. Standard output
// goes to /dev/null; a run that does not exit 0 stops the benchmark with an error.
#include <benchmark/benchmark.h>

#ifdef ZARERERA_CMD_PATH

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

int RunCommand(const std::vector<std::string>& args) {
  std::vector<std::string> keep = {ZARERERA_CMD_PATH};
  keep.insert(keep.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : keep) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_Command(benchmark::State& state, std::vector<std::string> args) {
  for (auto _ : state) {
    if (RunCommand(args) != 0) {
      state.SkipWithError("the command failed");
      return;
    }
  }
}

BENCHMARK_CAPTURE(BM_Command, list_100_functions,
                  {"--driver=sim", "--sim-functions=100", "list", "--all"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Command, list_100_functions_verbose,
                  {"--driver=sim", "--sim-functions=100", "list", "--all", "-v"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Command, di, {"--driver=sim", "di"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

#endif  // ZARERERA_CMD_PATH
BENCHMARK_MAIN();
