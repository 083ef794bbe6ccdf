// The stop signals' handler notes the first signal that came; nothing else is safe in it.
#include "stop_signals.h"

#include <atomic>
#include <csignal>

namespace zcmd {

namespace {

std::atomic<int> g_signal{0};

void NoteStop(int signo) {
  int none = 0;
  g_signal.compare_exchange_strong(none, signo);
}

}  // namespace

CatchStopSignals::CatchStopSignals() {
  g_signal = 0;
#ifdef _WIN32
  // The C runtime's signals: Ctrl-C and Ctrl-Break arrive as SIGINT.
  oldInt_ = std::signal(SIGINT, NoteStop);
  oldTerm_ = std::signal(SIGTERM, NoteStop);
#else
  struct sigaction action {};
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt_);
  sigaction(SIGTERM, &action, &oldTerm_);
#endif
}

CatchStopSignals::~CatchStopSignals() {
#ifdef _WIN32
  std::signal(SIGINT, oldInt_);
  std::signal(SIGTERM, oldTerm_);
#else
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
#endif
}

bool StopRequested() {
  return g_signal != 0;
}

int StopStatus() {
  return 128 + g_signal;
}

}  // namespace zcmd
