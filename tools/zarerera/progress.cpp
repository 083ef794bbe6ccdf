// The progress bar.
#include "progress.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>

#include "util.h"

namespace zcmd {

namespace {
constexpr size_t kBarWidth = 30;
}

Progress::Progress(std::string what, size_t total)
    : what_(std::move(what)),
      total_(total),
      enabled_(total > 0 && isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {
  Update(0);
}

Progress::~Progress() {
  Finish();
}

std::string Progress::Line(const std::string& what, size_t done, size_t total,
                           double elapsedSeconds) {
  const size_t filled = total == 0 ? kBarWidth : done * kBarWidth / total;
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, '.');
  std::string left = "--:--";
  if (done > 0) {
    const long seconds =
        std::lround(elapsedSeconds / static_cast<double>(done) * static_cast<double>(total - done));
    left = Format("%ld:%02ld", seconds / 60, seconds % 60);
  }
  return Format("%s [%s] %zu/%zu words, %s left", what.c_str(), bar.c_str(), done, total,
                left.c_str());
}

void Progress::Update(size_t done) {
  if (!enabled_) return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr, "\r%s", Line(what_, done, total_, elapsed).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!enabled_) return;
  if (drawn_) std::fputc('\n', stderr);
  std::fflush(stderr);
  enabled_ = false;
}

}  // namespace zcmd
