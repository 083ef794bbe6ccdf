// Board API timings on the simulated board (virtual time, request log off):
// - the access delay alone, as the DLL builds it: an ordinary call of the library's function (this
//   program links the libraries without link-time optimisation, which could inline or fold it);
//   it must take microseconds, not the few nanoseconds of a folded loop;
// - tamreljs for one group: six port reads and nine delays;
// - the same six port reads through tamrelread, without delays, to show what the delays cost.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_boards.h"
#include "board/port_map.h"
#include "sim/board.h"
#include "sim/simulator.h"
#include "zarerera.h"

namespace {

void BM_AccessDelay(benchmark::State& state) {
  for (auto _ : state) Board_AccessDelay();
  state.counters["iterations_per_delay"] = AccessDelayCount - 1;
}
BENCHMARK(BM_AccessDelay);

// An open board on a simulator installed for the length of one benchmark.
class OpenBoard {
 public:
  OpenBoard() {
    sim::AddBoard(quiet_.simulator());
    card_ = tamrelcheck(0, 0, 0, 1);
  }
  ~OpenBoard() { tamrelclose(card_); }
  ZarereraCard card() const { return card_; }

 private:
  bench::QuietSimulator quiet_;
  ZarereraCard card_ = nullptr;
};

void BM_TamreljsOneGroup(benchmark::State& state) {
  OpenBoard board;
  if (board.card() == nullptr) {
    state.SkipWithError("no board");
    return;
  }
  const uint8_t controls[3] = {0x34, 0x74, 0xB4};
  tamreljsset(board.card(), 0, controls, 0);
  uint32_t values[3];
  for (auto _ : state) {
    tamreljs(board.card(), 0, values, 0);
    benchmark::DoNotOptimize(values);
  }
}
BENCHMARK(BM_TamreljsOneGroup);

void BM_SixPortReadsWithoutDelay(benchmark::State& state) {
  OpenBoard board;
  if (board.card() == nullptr) {
    state.SkipWithError("no board");
    return;
  }
  for (auto _ : state) {
    for (uint32_t port = 0; port < 3; ++port) {
      benchmark::DoNotOptimize(tamrelread(board.card(), 0, port));
      benchmark::DoNotOptimize(tamrelread(board.card(), 0, port));
    }
  }
}
BENCHMARK(BM_SixPortReadsWithoutDelay);

}  // namespace

BENCHMARK_MAIN();
