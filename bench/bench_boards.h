// What the benchmarks on the simulated driver share: a simulator installed as the process's driver
// with its request log off (the log's own cost stays out of every figure), and the peer every
// request is measured against, a 1-byte pread of /dev/zero (the cheapest real round trip into a
// kernel driver).
#ifndef ZARERERA_BENCH_BENCH_BOARDS_H
#define ZARERERA_BENCH_BENCH_BOARDS_H

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "sim/simulator.h"

namespace bench {

// The simulator, installed and quiet for the lifetime of this object.
class QuietSimulator {
 public:
  explicit QuietSimulator(sim::Clock::Mode mode = sim::Clock::Mode::kVirtual)
      : simulator_(mode), install_(simulator_) {
    simulator_.set_logging(false);
  }
  sim::Simulator& simulator() { return simulator_; }

 private:
  sim::Simulator simulator_;
  sim::ScopedInstall install_;
};

// One byte read from /dev/zero with pread per iteration.
inline void Pread1Byte(benchmark::State& state) {
  const int fd = open("/dev/zero", O_RDONLY);
  if (fd < 0) {
    state.SkipWithError("cannot open /dev/zero");
    return;
  }
  unsigned char byte = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pread(fd, &byte, 1, 0));
    benchmark::DoNotOptimize(byte);
  }
  close(fd);
}

}  // namespace bench

#endif  // ZARERERA_BENCH_BENCH_BOARDS_H
