// The cost of one driver request on the hosted channel against one system call.
//
// PortByteReadNoCardOpen sends a port byte read (transfer command 10) through DriverRequest, the
// hosted channel and the simulator (logging off) with no card registered: the floor of a request,
// a path no library call takes (every access goes to an open card). PortByteReadMapped is the same
// read with a registered card, whose memory windows are kept coherent around every request, as
// the board's tests and users pay it. SyscallPread1 reads one byte from /dev/zero with pread: the
// cheapest real round trip into a kernel driver, the peer of both.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_boards.h"
#include "driver/driver_request.h"
#include "sim/simulator.h"

namespace {

sim::FunctionConfig BoardLikeConfig() {
  sim::FunctionConfig s;
  s.vendor_id = 0x9050;
  s.device_id = 0x10B5;
  s.bars[0] = {sim::BarKind::kMemory, 128};
  s.bars[1] = {sim::BarKind::kIo, 128};
  s.bars[2] = {sim::BarKind::kMemory, 16};
  s.bars[3] = {sim::BarKind::kIo, 32};
  s.irq = 11;
  return s;
}

// A card whose every register reads as a constant: the model's own cost stays out of the figure.
class ConstantCard : public sim::CardModel {
 public:
  uint32_t BarRead(int, uint32_t, unsigned) override { return 0x5A5A5A5A; }
  void BarWrite(int, uint32_t, uint32_t, unsigned) override {}
};

constexpr uint32_t kBoardPort = 0xC080 + 0x10;  // BAR3 (assigned after BAR1's 128 ports) + 0x10

void PortByteRead(benchmark::State& state, bool registered) {
  bench::QuietSimulator quiet;
  quiet.simulator().AddFunction(0, 1, 0, BoardLikeConfig(), std::make_shared<ConstantCard>());
  WdDeviceHandle device = WdChannel_Open();
  WdCardRegister reg{};
  if (registered) {
    WdPciCardInfo info{};
    info.pciSlot = {0, 1, 0};
    DriverRequest(WD_CODE_PCI_CARD_INFO, device, &info, sizeof info, 0);
    reg.card = info.card;
    DriverRequest(WD_CODE_CARD_REGISTER, device, &reg, sizeof reg, 0);
  }
  for (auto _ : state) {
    WdTransfer t{};
    t.command = WD_RP_BYTE;
    t.address = kBoardPort;
    const uint32_t status = DriverRequest(WD_CODE_TRANSFER, device, &t, sizeof t, 0);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(t.data.byte);
  }
  if (registered) DriverRequest(WD_CODE_CARD_UNREGISTER, device, &reg, sizeof reg, 0);
  WdChannel_Close(device);
}

void BM_PortByteReadNoCardOpen(benchmark::State& state) {
  PortByteRead(state, false);
}
void BM_PortByteReadMapped(benchmark::State& state) {
  PortByteRead(state, true);
}

}  // namespace

BENCHMARK(BM_PortByteReadNoCardOpen);
BENCHMARK(BM_PortByteReadMapped);
BENCHMARK(bench::Pread1Byte)->Name("BM_SyscallPread1");

BENCHMARK_MAIN();
