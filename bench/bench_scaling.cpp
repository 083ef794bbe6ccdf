// What one port access costs through the paths users take, and how that cost scales with what the
// simulator holds: the number of open boards and the bytes their memory windows map.
//
// Every figure is taken on boards opened through the libraries (tamrelcheck, P9050_Open), with the
// request log off, against a 1-byte pread of /dev/zero in the same run (a system call into a
// driver): the goal is a port read at most 0.2 times the pread, and within 1.5 times of the
// one-board figure whatever else is open or mapped.
// - TamrelRead/boards:N, ReadByteIo/boards:N: a port read of the first of N open boards;
// - TamrelRead/bar_bytes:B, ReadByteIo/bar_bytes:B: one board whose local space 0 (BAR2) is a
//   memory range of B bytes backed by as much local RAM, mapped by the open;
// - ReadBlock4/bar_bytes:B: a 4-byte block read from that memory range (goal under 2 us).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench_boards.h"
#include "console/console.h"
#include "driver/board_ids.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/simulator.h"
#include "zarerera.h"

namespace {

constexpr uint32_t kIoSpace = 3;      // BAR3: the board's ports
constexpr uint32_t kMemorySpace = 2;  // BAR2: local space 0
constexpr uint32_t kDigitalIn = 0x10;
constexpr uint32_t kSlotsPerBus = 32;
constexpr uint32_t kRamLocal = 0x01000000;

// `boards` boards on one simulator, each opened through the board API or the bridge library; the
// first one's local space 0 maps `bar_bytes` of RAM when not 0.
class OpenBoards {
 public:
  OpenBoards(int boards, uint32_t bar_bytes, bool board_api) {
    sim::Simulator& simulator = simulator_.simulator();
    for (int i = 0; i < boards; ++i) {
      sim::BoardConfig cfg;
      cfg.bus = static_cast<uint32_t>(i) / kSlotsPerBus;
      cfg.slot = static_cast<uint32_t>(i) % kSlotsPerBus;
      if (i == 0 && bar_bytes != 0)
        cfg.bridge.bars[kMemorySpace] = {sim::BarKind::kMemory, bar_bytes};
      sim::SimBoard board = sim::AddBoard(simulator, cfg);
      if (i == 0 && bar_bytes != 0) {
        // Local space 0 at a local address aligned for any size, with as much RAM there.
        board.bridge->Poke(sim::plx9050::kLas0ba, kRamLocal | sim::plx9050::kBaseEnable);
        board.bridge->AttachRam(kRamLocal, bar_bytes);
      }
    }
    // With several boards the card prompt asks which one: every answer picks the first.
    answers_ = std::tmpfile();
    for (int i = 0; i < boards; ++i) std::fputs("1\n", answers_);
    std::rewind(answers_);
    quiet_ = std::fopen("/dev/null", "w");
    DiagConsole_SetStreams(answers_, quiet_);
    for (int i = 0; i < boards; ++i) {
      ZarereraCard card = nullptr;
      P9050_Handle* handle = nullptr;
      const uint32_t index = static_cast<uint32_t>(i);
      const bool opened = board_api ? (card = tamrelcheck(0, 0, 0, index + 1)) != nullptr
                                    : P9050_Open(&handle, product_ids::kVendorId,
                                                 product_ids::kDeviceId, index, 0) != FALSE;
      if (!opened) {
        std::fprintf(stderr, "board %d did not open: %s\n", i, P9050_ErrorText);
        std::abort();
      }
      if (board_api) cards_.push_back(card);
      if (!board_api) handles_.push_back(handle);
    }
  }
  ~OpenBoards() {
    for (ZarereraCard card : cards_) tamrelclose(card);
    for (P9050_Handle* handle : handles_) P9050_Close(handle);
    DiagConsole_SetStreams(nullptr, nullptr);
    std::fclose(answers_);
    std::fclose(quiet_);
  }
  ZarereraCard card() const { return cards_.front(); }
  P9050_Handle* handle() const { return handles_.front(); }

 private:
  bench::QuietSimulator simulator_;
  std::FILE* answers_ = nullptr;
  std::FILE* quiet_ = nullptr;
  std::vector<ZarereraCard> cards_;
  std::vector<P9050_Handle*> handles_;
};

BENCHMARK(bench::Pread1Byte)->Name("BM_Pread1Byte");

void TamrelRead(benchmark::State& state, int boards, uint32_t bar_bytes) {
  OpenBoards open(boards, bar_bytes, true);
  for (auto _ : state) benchmark::DoNotOptimize(tamrelread(open.card(), 0, kDigitalIn));
}

void ReadByteIo(benchmark::State& state, int boards, uint32_t bar_bytes) {
  OpenBoards open(boards, bar_bytes, false);
  for (auto _ : state)
    benchmark::DoNotOptimize(P9050_ReadByte(open.handle(), kIoSpace, kDigitalIn));
}

void BM_TamrelRead_Boards(benchmark::State& state) {
  TamrelRead(state, static_cast<int>(state.range(0)), 0);
}
void BM_ReadByteIo_Boards(benchmark::State& state) {
  ReadByteIo(state, static_cast<int>(state.range(0)), 0);
}
void BM_TamrelRead_Bar(benchmark::State& state) {
  TamrelRead(state, 1, static_cast<uint32_t>(state.range(0)));
}
void BM_ReadByteIo_Bar(benchmark::State& state) {
  ReadByteIo(state, 1, static_cast<uint32_t>(state.range(0)));
}
BENCHMARK(BM_TamrelRead_Boards)->ArgName("boards")->Arg(1)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_ReadByteIo_Boards)->ArgName("boards")->Arg(1)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_TamrelRead_Bar)->ArgName("bar_bytes")->RangeMultiplier(16)->Range(256, 16 << 20);
BENCHMARK(BM_ReadByteIo_Bar)->ArgName("bar_bytes")->RangeMultiplier(16)->Range(256, 16 << 20);

void BM_ReadBlock4(benchmark::State& state) {
  OpenBoards open(1, static_cast<uint32_t>(state.range(0)), false);
  uint8_t buffer[4];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        P9050_ReadBlock(open.handle(), 0x40, buffer, sizeof buffer, kMemorySpace, P9050_MODE_BYTE));
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_ReadBlock4)->ArgName("bar_bytes")->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
