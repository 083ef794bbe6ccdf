// How a command fails: a usage error (exit status 2: the command line cannot be carried out as
// written) or an operation that failed (exit status 1: the library's or the system's reason).
#ifndef ZARERERA_TOOLS_ZARERERA_ERRORS_H
#define ZARERERA_TOOLS_ZARERERA_ERRORS_H

#include <stdexcept>
#include <string>

namespace zcmd {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command that stopped at a safe point because a signal asked it to (stop_signals.h): the
// message says what state it left, and the program exits with `status`.
class Stopped : public std::runtime_error {
 public:
  Stopped(const std::string& what, int status) : std::runtime_error(what), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// Standard output's reader has gone (a closed pipe, as `zarerera watch di | head -1` leaves it):
// the command ends without a word, as other tools do.
class OutputGone : public std::runtime_error {
 public:
  OutputGone() : std::runtime_error("standard output: the reader has gone") {}
};

// The library's last error text without its final newline; `fallback` when it is empty.
std::string LibraryError(const std::string& fallback);
// "what: the system's reason" from errno.
std::string SystemError(const std::string& what);

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_ERRORS_H
