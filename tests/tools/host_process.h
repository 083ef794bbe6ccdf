// The console host started as a child process the test talks to: its standard input and output
// are pipes the test holds, its standard error a file, so that a test can type, wait for a prompt,
// send a signal or close the reading end of the output at a chosen moment.
#ifndef ZARERERA_TESTS_TOOLS_HOST_PROCESS_H
#define ZARERERA_TESTS_TOOLS_HOST_PROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/transcript.h"

namespace hosttest {

// How long any wait lasts before the test gives up (a host that hangs fails, it does not stall).
constexpr int kPatienceSeconds = 60;

struct HostSetup {
  std::string directory;           // working directory; empty: the test's
  bool pipeSignalIgnored = false;  // start with SIGPIPE ignored
};

class HostProcess {
 public:
  HostProcess(const std::string& program, const std::vector<std::string>& args,
              const HostSetup& setup = {})
      : err_("host_err") {
    signal(SIGPIPE, SIG_IGN);  // a test writing to a host that has gone gets EPIPE
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string errPath = err_.path();
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // The child: only async-signal-safe calls until exec.
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err, 2);
      if (!setup.directory.empty() && chdir(setup.directory.c_str()) != 0) _exit(126);
      for (int signo : {SIGINT, SIGTERM, SIGHUP}) signal(signo, SIG_DFL);
      signal(SIGPIPE, setup.pipeSignalIgnored ? SIG_IGN : SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }

  ~HostProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return pid_ > 0; }

  void Type(const std::string& text) {
    size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
      const ssize_t n = write(in_, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  // The reader of the host's output goes away, as `head` does.
  void CloseOutput() {
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

  // Reads the output until `text` has appeared `times` times in all of it; false when the output
  // ends or the patience runs out first.
  bool WaitForOutput(const std::string& text, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kPatienceSeconds);
    for (;;) {
      if (Occurrences(text) >= times) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (out_ < 0 || left.count() <= 0) return false;
      pollfd fd{out_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return Occurrences(text) >= times;
      output_.append(buffer, static_cast<size_t>(n));
    }
  }

  void Signal(int signo) { kill(pid_, signo); }

  // Waits for the host to end and returns its wait status; -1 when it had to be killed.
  int Wait() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kPatienceSeconds);
    int status = 0;
    rusage usage{};
    while (wait4(pid_, &status, WNOHANG, &usage) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;  // the destructor kills it
      // Keep the output pipe drained, so a host printing much does not block on it.
      if (out_ >= 0) {
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, 10) > 0) {
          char buffer[4096];
          const ssize_t n = read(out_, buffer, sizeof buffer);
          if (n > 0) output_.append(buffer, static_cast<size_t>(n));
        }
      } else {
        usleep(10000);
      }
    }
    reaped_ = true;
    max_rss_kb_ = usage.ru_maxrss;
    return status;
  }

  // The host's peak resident memory, once it has ended.
  long maxRssKb() const { return max_rss_kb_; }

  const std::string& output() const { return output_; }
  std::string errors() const { return err_.Read(); }

 private:
  int Occurrences(const std::string& text) const {
    int n = 0;
    for (size_t at = output_.find(text); at != std::string::npos;
         at = output_.find(text, at + text.size())) {
      ++n;
    }
    return n;
  }

  testsupport::TempFile err_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int in_ = -1;
  int out_ = -1;
  std::string output_;
  long max_rss_kb_ = 0;
};

}  // namespace hosttest

#endif  // ZARERERA_TESTS_TOOLS_HOST_PROCESS_H
