// The interrupt requests against the simulator with its interrupt service on: the input drives a
// board's interrupt through the bridge library (enable with a handler, pulses of LINTi1, INTCSR
// writes, disable, in any order, a second enable included) and sends the three interrupt requests
// of the hosted channel directly with records of its own making. The records' command pointer is
// kept away from the fuzzer: it is null or points at a buffer of the length the record claims.
// Every handler call must report an interrupt number that only grows while the interrupt stays
// enabled; at the end the board is
// closed and no handle, registration or running service may be left.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "driver/int_requests.h"
#include "fuzz_bus.h"
#include "p9050_lib.h"
#include "sim/board.h"
#include "sim/plx9050.h"
#include "sim/simulator.h"
#include "sim/typical_machine.h"

namespace {

uint32_t g_lastCounter = 0;
int g_calls = 0;

void Handler(P9050_Handle*, P9050_IntResult* result) {
  fuzz::Check(result->counter >= g_lastCounter, "interrupt_requests",
              "an interrupt number went back");
  g_lastCounter = result->counter;
  ++g_calls;
}

// Whether a raw enable of the card's interrupt is in force (a wait would then block until an
// interrupt came).
bool g_rawEnabled = false;

// One of the three requests, its record from the input.
void RawRequest(sim::Simulator& simulator, FuzzedDataProvider& in, uint32_t intHandle) {
  static const uint32_t kCodes[] = {WD_CODE_INT_ENABLE, WD_CODE_INT_WAIT, WD_CODE_INT_DISABLE};
  const uint32_t code = kCodes[in.ConsumeIntegralInRange<size_t>(0, 2)];
  WdIntRequest request;
  std::memset(&request, 0, sizeof request);
  request.intHandle = in.ConsumeBool() ? intHandle : in.ConsumeIntegral<uint32_t>();
  request.options = in.ConsumeIntegral<uint32_t>();
  std::vector<WdTransfer> commands(in.ConsumeIntegralInRange<size_t>(0, 4));
  for (WdTransfer& t : commands) {
    t.address = in.ConsumeIntegral<uint32_t>();
    t.command = in.ConsumeIntegralInRange<uint32_t>(0, 50);
    t.bytes = 0;
  }
  request.commandCount = static_cast<uint32_t>(commands.size());
  request.commands =
      commands.empty() ? 0 : static_cast<WdUPtr>(reinterpret_cast<uintptr_t>(commands.data()));
  if (code == WD_CODE_INT_WAIT && g_rawEnabled) return;
  uint32_t status = 0xFFFFFFFFu;
  (void)simulator.Control(code, &request, sizeof request, &status);
  if (request.intHandle == intHandle && status == 0) {
    if (code == WD_CODE_INT_ENABLE) g_rawEnabled = true;
    if (code == WD_CODE_INT_DISABLE) g_rawEnabled = false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  sim::Simulator simulator(sim::Clock::Mode::kVirtual);
  simulator.set_logging(false);
  simulator.set_interrupt_service(true);
  sim::AddTypicalMachine(simulator);
  sim::BoardConfig layout;
  layout.slot = 5;
  if (in.ConsumeBool())
    layout.bridge.bars[0] = {sim::BarKind::kIo, sim::plx9050::kRegisterBlockSize};
  const sim::SimBoard board = fuzz::AddBoard(simulator, in, layout);
  g_lastCounter = 0;
  g_calls = 0;
  g_rawEnabled = false;
  {
    sim::ScopedInstall install(simulator);
    P9050_Handle* handle = nullptr;
    if (!P9050_Open(&handle, 0x9050, 0x10b5, 0, 0) || handle == nullptr) std::abort();
    for (int steps = 0; steps < 32 && in.remaining_bytes() > 0; ++steps) {
      switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
          // Each enable counts its interrupts from the start.
          if (!g_rawEnabled && !P9050_IntIsEnabled(handle)) {
            g_lastCounter = 0;
            (void)P9050_IntEnable(handle, Handler);
          }
          break;
        case 1:
          board.bridge->PulseLocalInterrupt(sim::wiring::kCounterInput);
          // Waited out only when the bridge passes LINTi1 on (its enable and the PCI one).
          if (P9050_IntIsEnabled(handle) && (P9050_ReadReg(handle, P9050_INTCSR) & 0x41) == 0x41) {
            (void)simulator.WaitInterruptSettled(handle->intHandle, std::chrono::milliseconds(50));
          }
          break;
        case 2:
          P9050_WriteReg(handle, P9050_INTCSR, in.ConsumeIntegral<uint32_t>() & 0x7F);
          break;
        case 3:
          P9050_IntDisable(handle);
          break;
        case 4:
          board.bridge->SetLocalInterrupt(sim::wiring::kCounterInput, in.ConsumeBool());
          break;
        default:
          // Raw requests while the library's service may be running would steal its interrupts;
          // they go to a disabled interrupt or to a handle of no card.
          if (!P9050_IntIsEnabled(handle)) RawRequest(simulator, in, handle->intHandle);
          break;
      }
    }
    if (g_rawEnabled) {
      WdIntRequest off;
      std::memset(&off, 0, sizeof off);
      off.intHandle = handle->intHandle;
      uint32_t status = 0;
      (void)simulator.Control(WD_CODE_INT_DISABLE, &off, sizeof off, &status);
      g_rawEnabled = false;
    }
    P9050_Close(handle);
  }
  fuzz::CheckNothingLeft(simulator, "interrupt_requests");
  return 0;
}
