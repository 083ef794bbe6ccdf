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
#include <functional>
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

// Starts the program with `args`, standard input from `inPath`, standard output and error into the
// files named; -1 when it cannot be started.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath,
                   const std::string& errPath, const std::string& inPath = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> keep;
  std::vector<char*> argv = Argv(args, &keep);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits, looking every 5 ms, until `ready()` holds or `patience` has passed.
inline void WaitUntil(const std::function<bool()>& ready, std::chrono::seconds patience) {
  const auto giveUp = std::chrono::steady_clock::now() + patience;
  while (!ready() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs the program with `args`; standard input is /dev/null, or the file `stdinPath`.
// `stdoutPath` replaces the capture file for standard output (e.g. /dev/full). With `ctrlC` the
// program gets SIGINT, as from Ctrl-C at a terminal, once its standard output holds a first line
// (or after 10 s).
inline Result Zarerera(const std::vector<std::string>& args, const std::string& stdoutPath = "",
                       bool ctrlC = false, const std::string& stdinPath = "/dev/null") {
  testsupport::TempFile out("cmd_out");
  testsupport::TempFile err("cmd_err");
  const pid_t pid = Spawn(args, stdoutPath.empty() ? out.path() : stdoutPath, err.path(),
                          stdinPath.empty() ? "/dev/null" : stdinPath);
  Result r;
  if (pid > 0) {
    if (ctrlC) {
      WaitUntil([&out] { return out.Read().find('\n') != std::string::npos; },
                std::chrono::seconds(10));
      kill(pid, SIGINT);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = ExitCode(status);
  }
  if (stdoutPath.empty()) r.out = out.Read();
  r.err = err.Read();
  return r;
}

struct Ending {
  int status = -1;  // the wait status; -1: not started
  std::string out;  // what standard output held (a file, or with a pipe what was read of it)
  std::string err;
};

// Runs the program and, once `ready()` holds (for 30 s at most) and `after` has passed, sends it
// `signo`.
inline Ending ZarereraSignalled(const std::vector<std::string>& args, int signo,
                                const std::function<bool()>& ready,
                                std::chrono::milliseconds after) {
  testsupport::TempFile out("cmd_out");
  testsupport::TempFile err("cmd_err");
  const pid_t pid = Spawn(args, out.path(), err.path());
  Ending e;
  if (pid > 0) {
    WaitUntil(ready, std::chrono::seconds(30));
    std::this_thread::sleep_for(after);
    kill(pid, signo);
    waitpid(pid, &e.status, 0);
  }
  e.out = out.Read();
  e.err = err.Read();
  return e;
}

// Runs the program with its standard output a pipe, reads until the first line has come, then
// closes the reading end as `head -1` does and waits for the program to end.
inline Ending ZarereraIntoClosedPipe(const std::vector<std::string>& args) {
  testsupport::TempFile err("cmd_err");
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, err.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  // The program starts with SIGPIPE at its default action, as under a shell.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> keep;
  std::vector<char*> argv = Argv(args, &keep);
  pid_t pid = -1;
  Ending e;
  const bool started = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0;
  close(pipeFds[1]);
  if (started) {
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1) {
      e.out.push_back(c);
      if (c == '\n') break;
    }
    close(pipeFds[0]);
    waitpid(pid, &e.status, 0);
  } else {
    close(pipeFds[0]);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  e.err = err.Read();
  return e;
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
