// How a session of the host ends, whichever way it ends: 99 or the end of input (the menus
// return), a signal (SIGINT, SIGTERM, SIGHUP, SIGPIPE) or an error on the console's output.
//
// The signal handlers only note the signal. The host then ends at its next step, which is never
// far off: every prompt reads its line through a stream that wakes up on the signal, and every
// request to the simulated driver looks first (a real-time EEPROM display sends one every 500 us).
// Ending runs the host's end action (saving its files) once and leaves the process: through the
// signal's default action when a signal ended the session, so that the caller sees which one;
// otherwise with the action's exit status. On Windows the console's Ctrl-C and Ctrl-Break are the
// signals; a session they end leaves with the status of a program stopped by Ctrl-C.
#ifndef ZARERERA_TOOLS_P9050DIAG_SESSION_END_H
#define ZARERERA_TOOLS_P9050DIAG_SESSION_END_H

#include <cstdio>
#include <functional>
#include <string>

namespace p9050diag::session {

// Opens /dev/null on any of the descriptors 0, 1 and 2 that is closed, read-only, so that writes
// to a closed standard output still fail as they did and no file the program opens becomes its
// standard output.
void KeepStandardDescriptors();

// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE, each unless it was ignored when the program
// started (as `nohup` and background jobs ask). False with a message when that fails.
bool CatchSignals(std::string* error);

// Standard input as a stream that ends the session, instead of waiting, once an end is asked for.
// Null with a message when it cannot be made.
FILE* OpenInput(std::string* error);

// What ending does before the process goes: returns its exit status.
void SetEndAction(std::function<int()> action);

// Whether an end was asked for: a signal came, or the console's output stream has failed.
bool EndAsked();

// The signal that asked for the end; 0 when none did.
int EndSignal();

// The system's error number of the output failure seen, 0 when none was.
int OutputError();

// Ends the session now when an end was asked for; returns otherwise.
void EndIfAsked();

// Runs the end action (once) and leaves the process.
[[noreturn]] void End();

}  // namespace p9050diag::session

#endif  // ZARERERA_TOOLS_P9050DIAG_SESSION_END_H
