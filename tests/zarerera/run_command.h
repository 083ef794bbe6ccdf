// Runs the built zarerera program as a person or a script would: with arguments, its standard
// output and error captured separately (both pipes to files, not terminals), or on a
// pseudo-terminal.
#ifndef ZARERERA_TESTS_ZARERERA_RUN_COMMAND_H
#define ZARERERA_TESTS_ZARERERA_RUN_COMMAND_H

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/transcript.h"

extern char** environ;

namespace cmdtest {

struct Result {
  int exitCode = -1;  // -1: ended by a signal or not started
  std::string out;
  std::string err;
};

// The line a usage error ends with.
inline const std::string kTryHelp = "Run with --help for more information.\n";

inline std::vector<char*> Argv(const std::vector<std::string>& args,
                               std::vector<std::string>* keep) {
  keep->clear();
  keep->push_back(ZARERERA_CMD_PATH);
  // The simulated machine unless the case names a driver or a bus: the default is the real bus.
  bool named = false;
  for (const std::string& a : args) {
    named = named || a.rfind("--driver", 0) == 0 || a.rfind("--sysfs-root", 0) == 0;
  }
  if (!named) keep->push_back("--driver=sim");
  keep->insert(keep->end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : *keep) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

inline int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program with `args`; standard input is /dev/null or the file `stdinPath`. `stdoutPath`
// replaces the capture file for standard output (e.g. /dev/full). With `ctrlC` the program gets
// SIGINT, as from Ctrl-C at a terminal, once its standard output holds a first line (or after 10
// s).
inline Result Zarerera(const std::vector<std::string>& args, const std::string& stdoutPath = "",
                       bool ctrlC = false, const std::string& stdinPath = "") {
  testsupport::TempFile out("cmd_out");
  testsupport::TempFile err("cmd_err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.empty() ? "/dev/null" : stdinPath.c_str(),
                                   O_RDONLY, 0);
  const std::string outPath = stdoutPath.empty() ? out.path() : stdoutPath;
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> keep;
  std::vector<char*> argv = Argv(args, &keep);
  pid_t pid = -1;
  Result r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ctrlC && out.Read().find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ctrlC) kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = ExitCode(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (stdoutPath.empty()) r.out = out.Read();
  r.err = err.Read();
  return r;
}

// Runs the program with standard input, output and error on a pseudo-terminal; `out` is all the
// terminal showed.
inline Result RunOnTerminal(const std::vector<std::string>& args) {
  std::vector<std::string> keep;
  std::vector<char*> argv = Argv(args, &keep);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  Result r;
  if (pid < 0) return r;
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the child has gone and the terminal is closed
    r.out.append(buffer, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = ExitCode(status);
  return r;
}

}  // namespace cmdtest

#endif  // ZARERERA_TESTS_ZARERERA_RUN_COMMAND_H
