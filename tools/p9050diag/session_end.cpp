// The end of a session: signal handlers, the waking input stream and the way out. On Windows the
// console's Ctrl-C and Ctrl-Break take the signals' place.
#include "session_end.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/console.h"

namespace p9050diag::session {

#ifndef _WIN32

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile sig_atomic_t g_signal = 0;
int g_wake[2] = {-1, -1};  // written by the handler, polled by the input stream
int g_outputError = 0;
std::function<int()> g_endAction;
bool g_ending = false;

void Caught(int signo) {
  const int saved = errno;
  if (g_signal == 0) g_signal = signo;
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = write(g_wake[1], &byte, 1);
  errno = saved;
}

// The input stream's read: waits for standard input or the handler's wake-up, whichever comes
// first, and ends the session in the second case.
ssize_t ReadInput(void*, char* buffer, size_t size) {
  for (;;) {
    EndIfAsked();
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (fds[1].revents != 0) {
      EndIfAsked();
      return 0;  // no end action: the end of input
    }
    const ssize_t n = read(STDIN_FILENO, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

}  // namespace

void KeepStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);  // lower ones are open: cannot happen
  }
}

bool CatchSignals(std::string* error) {
  if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  for (int signo : kEndSignals) {
    struct sigaction old {};
    sigaction(signo, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = Caught;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signo, &action, nullptr);
  }
  // A blocked signal would wait until the end.
  sigset_t set;
  sigemptyset(&set);
  for (int signo : kEndSignals) sigaddset(&set, signo);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  return true;
}

FILE* OpenInput(std::string* error) {
  cookie_io_functions_t io{};
  io.read = ReadInput;
  FILE* in = fopencookie(nullptr, "r", io);
  if (in == nullptr) *error = std::string("cannot open the input: ") + std::strerror(errno);
  return in;
}

#else  // _WIN32

namespace {

volatile sig_atomic_t g_signal = 0;
int g_outputError = 0;
std::function<int()> g_endAction;
bool g_ending = false;

// Runs on a thread of its own. The console's read, which the prompt waits in, returns at Ctrl-C
// with nothing, which ends the input; requests to the simulated driver look before they go.
BOOL WINAPI Caught(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (g_signal == 0) g_signal = SIGINT;
  return TRUE;
}

}  // namespace

// The C runtime gives every process its three standard streams.
void KeepStandardDescriptors() {}

bool CatchSignals(std::string* error) {
  if (!SetConsoleCtrlHandler(Caught, TRUE)) {
    *error = "cannot catch Ctrl-C: error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

FILE* OpenInput(std::string*) {
  return stdin;
}

#endif  // _WIN32

void SetEndAction(std::function<int()> action) {
  g_endAction = std::move(action);
}

bool EndAsked() {
  if (g_signal != 0) return true;
  if (g_outputError == 0 && std::ferror(DiagConsole_Out()) != 0) {
    g_outputError = errno != 0 ? errno : EIO;
  }
  return g_outputError != 0;
}

int EndSignal() {
  return g_signal;
}

int OutputError() {
  return g_outputError;
}

void EndIfAsked() {
  if (g_endAction && !g_ending && EndAsked()) End();
}

void End() {
  int status = 0;
  if (!g_ending && g_endAction) {
    g_ending = true;
    status = g_endAction();
  }
  std::fflush(stderr);
  const int signo = g_signal;
#ifdef _WIN32
  // Ended by Ctrl-C: the status a console program stopped by it has.
  if (signo != 0) ExitProcess(STATUS_CONTROL_C_EXIT);
#else
  if (signo != 0) {
    signal(signo, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signo);
  }
#endif
  std::exit(status);
}

}  // namespace p9050diag::session
