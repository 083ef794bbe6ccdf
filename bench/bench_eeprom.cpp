// The serial EEPROM at software pace on the simulated card.
//
// BM_DwordReadRealTime: one P9050_EEPROMReadDword with real 500 us sleeps. Its floor is 210
// sleeps, 105 ms; "x_floor" is the time taken over that floor (goal: at most 1.02).
// BM_FullReadVirtual/N: N dword reads in virtual time, what the library, the simulated driver and
// the model cost in CPU (goal: under 20 ms). 32 dwords are the whole part (64 words); 64 go round
// it twice, the offsets from 0x80 folding back onto the same words.
// BM_Sleep500us / BM_PlainNanosleep500us: one real 500 us sleep of the simulator's clock, and a
// plain nanosleep for comparison; "x_floor" as above.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <memory>

#include "bench_boards.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/eeprom93c46.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"

namespace {

constexpr double kDwordReadFloorS = 210 * 500e-6;
constexpr double kSleepFloorS = 500e-6;

class Card {
 public:
  explicit Card(sim::Clock::Mode mode) : quiet_(mode) {
    sim::Simulator& simulator = quiet_.simulator();
    sim::Plx9050& bridge = sim::AddPlx9050(simulator, 0, 3, 0);
    bridge.AttachEeprom(
        std::make_shared<sim::Eeprom93C46>(simulator.clock(), sim::DefaultEepromImage()));
    P9050_Open(&handle_, 0x9050, 0x10B5, 0, 0);
  }
  ~Card() {
    if (handle_ != nullptr) P9050_Close(handle_);
  }
  P9050_Handle* handle() const { return handle_; }

 private:
  bench::QuietSimulator quiet_;
  P9050_Handle* handle_ = nullptr;
};

void BM_DwordReadRealTime(benchmark::State& state) {
  Card card(sim::Clock::Mode::kReal);
  if (card.handle() == nullptr) {
    state.SkipWithError("no card");
    return;
  }
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    uint32_t dword = 0;
    benchmark::DoNotOptimize(P9050_EEPROMReadDword(card.handle(), 0, &dword));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["x_floor"] =
      seconds / (static_cast<double>(state.iterations()) * kDwordReadFloorS);
}
BENCHMARK(BM_DwordReadRealTime)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FullReadVirtual(benchmark::State& state) {
  Card card(sim::Clock::Mode::kVirtual);
  if (card.handle() == nullptr) {
    state.SkipWithError("no card");
    return;
  }
  for (auto _ : state) {
    const uint32_t end = static_cast<uint32_t>(state.range(0)) * 4;
    for (uint32_t offset = 0; offset < end; offset += 4) {
      uint32_t dword = 0;
      benchmark::DoNotOptimize(P9050_EEPROMReadDword(card.handle(), offset, &dword));
    }
  }
}
BENCHMARK(BM_FullReadVirtual)
    ->Arg(32)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_Sleep500us(benchmark::State& state) {
  sim::Clock clock(sim::Clock::Mode::kReal);
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    clock.Sleep(500);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["x_floor"] = seconds / (static_cast<double>(state.iterations()) * kSleepFloorS);
}
BENCHMARK(BM_Sleep500us)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(2000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_PlainNanosleep500us(benchmark::State& state) {
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    timespec ts{0, 500'000};
    nanosleep(&ts, nullptr);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["x_floor"] = seconds / (static_cast<double>(state.iterations()) * kSleepFloorS);
}
BENCHMARK(BM_PlainNanosleep500us)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(2000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
