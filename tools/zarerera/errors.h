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

// The library's last error text without its final newline; `fallback` when it is empty.
std::string LibraryError(const std::string& fallback);
// "what: the system's reason" from errno.
std::string SystemError(const std::string& what);

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_ERRORS_H
