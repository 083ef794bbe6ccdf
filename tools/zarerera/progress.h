// A progress bar on standard error for long EEPROM operations: words done of the total and the
// time left, redrawn in place. Drawn only when standard error is a terminal; anywhere else (a
// pipe, a file, a log) it prints nothing at all.
#ifndef ZARERERA_TOOLS_ZARERERA_PROGRESS_H
#define ZARERERA_TOOLS_ZARERERA_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <string>

namespace zcmd {

class Progress {
 public:
  Progress(std::string what, size_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(size_t done);
  // Ends the bar's line; nothing is drawn after.
  void Finish();

  // The bar's line for `done` of `total` after `elapsedSeconds`, without the carriage return.
  static std::string Line(const std::string& what, size_t done, size_t total,
                          double elapsedSeconds);

 private:
  std::string what_;
  size_t total_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_PROGRESS_H
