// Ctrl-C and SIGTERM as a request to stop at the next safe point, for the commands that run long
// (watch, eeprom write): while a CatchStopSignals lives, the signals only note themselves, and the
// command looks at StopRequested() between steps, so that a word being written is finished and
// the simulated machine's files are still saved. Outside it the signals end the program as usual.
#ifndef ZARERERA_TOOLS_ZARERERA_STOP_SIGNALS_H
#define ZARERERA_TOOLS_ZARERERA_STOP_SIGNALS_H

#include <signal.h>

namespace zcmd {

class CatchStopSignals {
 public:
  CatchStopSignals();  // forgets any earlier request
  ~CatchStopSignals();
  CatchStopSignals(const CatchStopSignals&) = delete;
  CatchStopSignals& operator=(const CatchStopSignals&) = delete;

 private:
#ifdef _WIN32
  void (*oldInt_)(int);
  void (*oldTerm_)(int);
#else
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
#endif
};

bool StopRequested();
// The exit status of a command stopped by that signal, as a shell shows one killed by it:
// 128 + the signal's number (130 for SIGINT, 143 for SIGTERM).
int StopStatus();

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_STOP_SIGNALS_H
