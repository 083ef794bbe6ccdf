// The console of a fuzz target: its input stream reads the given bytes, its output goes to
// /dev/null, and the line buffer starts empty as at process start-up.
#ifndef ZARERERA_FUZZ_FUZZ_CONSOLE_H
#define ZARERERA_FUZZ_FUZZ_CONSOLE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"

namespace fuzz {

class ScopedConsole {
 public:
  explicit ScopedConsole(const std::string& input) : text_(input) {
    // fmemopen refuses an empty buffer; an empty input reads /dev/null.
    in_ = text_.empty() ? std::fopen("/dev/null", "r") : fmemopen(text_.data(), text_.size(), "r");
    static FILE* const out = std::fopen("/dev/null", "w");
    if (in_ == nullptr || out == nullptr) std::abort();
    P9050_LineBuf[0] = '\0';
    DiagConsole_SetStreams(in_, out);
  }
  ~ScopedConsole() {
    DiagConsole_SetStreams(nullptr, nullptr);
    std::fclose(in_);
  }
  ScopedConsole(const ScopedConsole&) = delete;
  ScopedConsole& operator=(const ScopedConsole&) = delete;

 private:
  std::string text_;
  FILE* in_ = nullptr;
};

inline void Check(bool ok, const char* target, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
  }
}

}  // namespace fuzz

#endif  // ZARERERA_FUZZ_FUZZ_CONSOLE_H
