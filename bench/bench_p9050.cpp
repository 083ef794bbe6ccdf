// Single accesses through the bridge library on the simulated 9050: a dword read of a memory range
// (one load through the mapping) against a raw volatile load from the same mapping, and a byte read
// of an I/O range (one driver request) for reference. Like an application, this program is
// compiled apart from the libraries and linked without link-time optimisation, so P9050_ReadDword
// is an ordinary call into the library with its checks: its figure beside the raw load is what a
// user's program pays (reported, no goal). Both loops only sum what they read: a volatile load
// cannot be optimised away, and no per-iteration memory barrier penalises one side.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "bench_boards.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"

namespace {

constexpr uint32_t kMemorySpace = 2;  // BAR2: local space 0, memory
constexpr uint32_t kIoSpace = 3;      // BAR3: local space 1, I/O
constexpr uint32_t kOffset = 0x40;

// One simulated card, opened, for the length of one benchmark.
class OpenCard {
 public:
  OpenCard() {
    sim::Plx9050& card = sim::AddPlx9050(quiet_.simulator(), 0, 4, 0);
    card.AttachRam(0, 0x100);
    card.AttachRam(sim::plx9050::kDefaultLocalBase[0], 0x100);
    if (!P9050_Open(&handle_, 0x9050, 0x10B5, 0, 0)) {
      std::fprintf(stderr, "open failed: %s", P9050_ErrorText);
      std::abort();
    }
  }
  ~OpenCard() { P9050_Close(handle_); }
  P9050_Handle* handle() const { return handle_; }

 private:
  bench::QuietSimulator quiet_;
  P9050_Handle* handle_ = nullptr;
};

void BM_RawVolatileLoad(benchmark::State& state) {
  OpenCard card;
  const P9050_AddrDesc& desc = card.handle()->addrDesc[kMemorySpace];
  volatile uint32_t* at =
      reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(desc.userAddress) + kOffset);
  uint32_t sum = 0;
  for (auto _ : state) sum += *at;
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_RawVolatileLoad);

void BM_ReadDwordMemory(benchmark::State& state) {
  OpenCard card;
  P9050_Handle* h = card.handle();
  uint32_t sum = 0;
  for (auto _ : state) sum += P9050_ReadDword(h, kMemorySpace, kOffset);
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_ReadDwordMemory);

void BM_ReadByteIo(benchmark::State& state) {
  OpenCard card;
  P9050_Handle* h = card.handle();
  for (auto _ : state) {
    uint8_t v = P9050_ReadByte(h, kIoSpace, 0x10);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ReadByteIo);

}  // namespace

BENCHMARK_MAIN();
