// The board's commands: the bridge registers, the digital input and output, the counters, single
// bytes of the port window, and watching the inputs or the interrupts over time. Each goes through
// the board API or the bridge library, one call per value.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "board/port_map.h"
#include "commands.h"
#include "diag/p9050_diag.h"
#include "errors.h"
#include "machine/options.h"
#include "stop_signals.h"
#include "zarerera.h"

namespace zcmd {

namespace {

// The bridge registers, named as the register editor names them; every one a dword.
using Register = P9050Diag_RegEntry;
using port_map::kCounterGroups;

// A register by name, in any case. Offsets are not taken: in `regs NAME VALUE` a value could not
// be told from an offset, and a read must never turn into a write.
const Register& FindRegister(const std::string& text) {
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (const Register& r : P9050Diag_Registers) {
    if (upper == r.name) return r;
  }
  throw UsageError("no bridge register '" + machine::Shown(text) +
                   "' (the names are LAS0RR to CNTRL)");
}

bool IsRegisterName(const std::string& text) {
  try {
    FindRegister(text);
    return true;
  } catch (const UsageError&) {
    return false;
  }
}

struct RegOp {
  const Register* reg;
  bool write = false;
  uint32_t value = 0;
  uint32_t mask = 0xFFFFFFFFu;
};

// NAME, NAME=VALUE[:MASK], or the pair NAME VALUE (two words, the second not a register name).
// Everything is checked before anything runs.
std::vector<RegOp> ParseRegArgs(const std::vector<std::string>& args) {
  std::vector<RegOp> ops;
  if (args.size() == 2 && args[0].find('=') == std::string::npos &&
      args[1].find('=') == std::string::npos && !IsRegisterName(args[1])) {
    RegOp op{&FindRegister(args[0])};
    op.write = true;
    op.value = ParseHex(args[1], 0xFFFFFFFFu, std::string("the value for ") + op.reg->name);
    ops.push_back(op);
    return ops;
  }
  for (const std::string& arg : args) {
    const size_t equals = arg.find('=');
    RegOp op{&FindRegister(arg.substr(0, equals))};
    if (equals != std::string::npos) {
      op.write = true;
      ParseMaskedValue(arg.substr(equals + 1), 0xFFFFFFFFu, op.reg->name, &op.value, &op.mask);
    }
    ops.push_back(op);
  }
  return ops;
}

uint32_t PortWindowBytes(P9050_Handle* board) {
  return board->addrDesc[port_map::kSpace].bytes;
}

void CheckPort(P9050_Handle* board, uint32_t offset) {
  const uint32_t bytes = PortWindowBytes(board);
  if (offset >= bytes) {
    throw Failure(
        Format("offset 0x%x is outside the board's port window (%u bytes)", offset, bytes));
  }
}

uint32_t CheckGroup(P9050_Handle* board, int group) {
  if (group < 0 || static_cast<uint32_t>(group) >= kCounterGroups) {
    throw UsageError("--group takes a number from 0 to " + std::to_string(kCounterGroups - 1));
  }
  const uint32_t g = static_cast<uint32_t>(group);
  CheckPort(board, port_map::kGroupStride * g + port_map::kGroupControl);
  return g;
}

std::array<uint32_t, 3> ReadCounters(P9050_Handle* board, uint32_t group) {
  tamrelwrite(board, 0, port_map::kGroupStride * group + port_map::kGroupControl,
              port_map::kReadBackLatchCounts);
  uint32_t values[port_map::kGroupCounters * kCounterGroups] = {};
  tamreljs(board, 0, values, group);
  return {values[3 * group], values[3 * group + 1], values[3 * group + 2]};
}

std::string Timestamp(
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm local = LocalTime(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return Format("%s.%03d", text, static_cast<int>(ms));
}

// How long a watch sleeps at most before it looks for a stop request again.
constexpr auto kStopLatency = std::chrono::milliseconds(50);

// Interrupts, from the library's service thread (the handler) to the thread that prints them.
struct Interrupt {
  std::chrono::system_clock::time_point time;  // when the handler was called
  P9050_IntResult result;
};
struct InterruptQueue {
  std::mutex lock;
  std::condition_variable arrived;
  std::deque<Interrupt> interrupts;
};
// The handler has no argument of its own: the queue of the running watch. Set before the
// interrupt is enabled and cleared after it is disabled (the service thread is joined by then).
std::atomic<InterruptQueue*> g_interrupts{nullptr};

void QueueInterrupt(P9050_Handle*, P9050_IntResult* result) {
  InterruptQueue* queue = g_interrupts.load();
  if (queue == nullptr) return;
  Interrupt interrupt{std::chrono::system_clock::now(), *result};
  {
    std::lock_guard<std::mutex> guard(queue->lock);
    queue->interrupts.push_back(interrupt);
  }
  queue->arrived.notify_one();
}

// Enables the board's interrupt with the queue as its handler's; on every way out disables it
// again, so that nothing is serviced any more and INTCSR's PCI interrupt enable is clear.
class EnabledInterrupt {
 public:
  EnabledInterrupt(P9050_Handle* board, InterruptQueue* queue, Driver driver) : board_(board) {
    const uint32_t before = P9050_ReadReg(board, P9050_INTCSR);
    g_interrupts = queue;
    if (!P9050_IntEnable(board, QueueInterrupt)) {
      g_interrupts = nullptr;
      throw Failure("cannot enable the board's interrupt: " +
                    LibraryError("it is serviced already"));
    }
    if (!P9050_IntIsEnabled(board)) {
      // The library has set the PCI interrupt enable on its way; with no service behind it, the
      // register goes back to what it was, or the line would stay asserted unserviced.
      g_interrupts = nullptr;
      const uint32_t now = P9050_ReadReg(board, P9050_INTCSR);
      P9050_WriteReg(board, P9050_INTCSR,
                     (now & ~P9050_INTCSR_PCI_INT_ENABLE) | (before & P9050_INTCSR_PCI_INT_ENABLE));
      // Automatically chosen, a board not bound to vfio-pci is the sysfs driver's, which has no
      // interrupts.
      throw Failure("cannot service the board's interrupts: " +
                    LibraryError(driver == Driver::kAuto
                                     ? std::string("the sysfs driver refused the interrupt "
                                                   "requests (VFIO serves them once the board is "
                                                   "bound to vfio-pci)")
                                     : std::string("the ") + DriverName(driver) +
                                           " driver refused the interrupt requests"));
    }
  }
  ~EnabledInterrupt() {
    P9050_IntDisable(board_);  // ends and joins the service
    g_interrupts = nullptr;
  }
  EnabledInterrupt(const EnabledInterrupt&) = delete;
  EnabledInterrupt& operator=(const EnabledInterrupt&) = delete;

 private:
  P9050_Handle* board_;
};

// One line per interrupt as the service hands it over: the time the handler ran, the interrupt's
// number, the interrupts lost before it and INTCSR as the acknowledge command read it.
int WatchInterrupts(Session& session, const Config& config) {
  P9050_Handle* board = session.Board();
  const CatchStopSignals signals;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      config.timeoutMs == 0 ? Clock::time_point::max()
                            : Clock::now() + std::chrono::milliseconds(config.timeoutMs);
  InterruptQueue queue;
  const EnabledInterrupt enabled(board, &queue, config.driver);
  unsigned printed = 0;
  bool timedOut = false;
  while (!StopRequested() && (config.count == 0 || printed < config.count)) {
    std::deque<Interrupt> arrived;
    {
      std::unique_lock<std::mutex> lock(queue.lock);
      queue.arrived.wait_until(lock, std::min(deadline, Clock::now() + kStopLatency),
                               [&queue] { return !queue.interrupts.empty(); });
      arrived.swap(queue.interrupts);
    }
    for (const Interrupt& i : arrived) {
      if (config.count != 0 && printed == config.count) break;
      const std::string time = Timestamp(i.time);
      const P9050_IntResult& r = i.result;
      if (config.json) {
        PrintJsonLine({{"time", time},
                       {"slot", SlotText(session.BoardSlot())},
                       {"interrupt", r.counter},
                       {"lost", r.lost},
                       {"intcsr", Hex(r.status, 8)}});
      } else {
        Print(Format("%s interrupt %u lost %u INTCSR %08x\n", time.c_str(),
                     static_cast<unsigned>(r.counter), static_cast<unsigned>(r.lost),
                     static_cast<unsigned>(r.status)));
      }
      ++printed;
    }
    FlushOutput();
    // Checked whether or not interrupts keep coming: they may come faster than the naps end.
    if (Clock::now() >= deadline) {
      timedOut = true;
      break;
    }
  }
  if (timedOut && config.count != 0 && printed < config.count) {
    throw Failure(
        Format("%u of %u interrupts came within %u ms", printed, config.count, config.timeoutMs));
  }
  return kExitOk;
}

}  // namespace

int RunRegs(Session& session, const Config& config) {
  const std::vector<RegOp> ops = ParseRegArgs(config.regArgs);
  if (config.raw && !ops.empty()) throw UsageError("--raw shows every register; it takes no names");
  if (config.dryRun &&
      std::none_of(ops.begin(), ops.end(), [](const RegOp& op) { return op.write; })) {
    throw UsageError("--dry-run goes with a register write");
  }
  P9050_Handle* board = session.Board();

  nlohmann::ordered_json registers = nlohmann::ordered_json::array();
  nlohmann::ordered_json writes = nlohmann::ordered_json::array();
  std::string text;
  auto show = [&](const Register& r, uint32_t value, bool alone) {
    registers.push_back({{"name", r.name}, {"offset", Hex(r.offset, 2)}, {"value", Hex(value, 8)}});
    text += alone ? Format("%08x\n", value) : Format("%02x %-7s %08x\n", r.offset, r.name, value);
  };

  if (ops.empty() && config.raw) {
    for (const Register& r : P9050Diag_Registers) {
      const uint32_t value = P9050_ReadReg(board, r.offset);
      registers.push_back(
          {{"name", r.name}, {"offset", Hex(r.offset, 2)}, {"value", Hex(value, 8)}});
      if (r.offset % 16 == 0) text += Format("%02x:", r.offset);
      text += Format(" %08x", value);
      if (r.offset % 16 == 12 || r.offset == P9050_CNTRL) text += "\n";
    }
  } else if (ops.empty()) {
    for (const Register& r : P9050Diag_Registers) show(r, P9050_ReadReg(board, r.offset), false);
  }
  for (const RegOp& op : ops) {
    const uint32_t old = P9050_ReadReg(board, op.reg->offset);
    if (!op.write) {
      show(*op.reg, old, ops.size() == 1);
      continue;
    }
    const uint32_t value = (old & ~op.mask) | (op.value & op.mask);
    nlohmann::ordered_json w = {{"name", op.reg->name},
                                {"offset", Hex(op.reg->offset, 2)},
                                {"old", Hex(old, 8)},
                                {"new", Hex(value, 8)},
                                {"written", !config.dryRun}};
    text += Format("%02x %-7s %08x -> %08x", op.reg->offset, op.reg->name, old, value);
    if (config.dryRun) {
      text += " (dry run: not written)\n";
    } else {
      P9050_WriteReg(board, op.reg->offset, value);
      const uint32_t readBack = P9050_ReadReg(board, op.reg->offset);
      w["read_back"] = Hex(readBack, 8);
      text += Format(", reads %08x\n", readBack);
    }
    writes.push_back(w);
  }
  if (config.json) {
    nlohmann::ordered_json doc = {{"slot", SlotText(session.BoardSlot())}};
    if (!registers.empty()) doc["registers"] = registers;
    if (!writes.empty()) doc["writes"] = writes;
    PrintJson(doc);
  } else {
    Print(text);
  }
  return kExitOk;
}

int RunDi(Session& session, const Config& config) {
  const int value = tamreldi(session.Board());
  if (config.json) {
    PrintJson(
        {{"slot", SlotText(session.BoardSlot())}, {"di", Hex(static_cast<uint32_t>(value), 2)}});
  } else {
    Print(Format("%02x\n", static_cast<unsigned>(value)));
  }
  return kExitOk;
}

int RunDo(Session& session, const Config& config) {
  const uint32_t value = ParseHex(config.value, 0xFF, "do");
  tamreldo(session.Board(), 0, value);
  if (config.json) PrintJson({{"slot", SlotText(session.BoardSlot())}, {"do", Hex(value, 2)}});
  return kExitOk;
}

int RunCounters(Session& session, const Config& config) {
  P9050_Handle* board = session.Board();
  const uint32_t group = CheckGroup(board, config.group);
  const std::array<uint32_t, 3> values = ReadCounters(board, group);
  if (config.json) {
    PrintJson({{"slot", SlotText(session.BoardSlot())}, {"group", group}, {"counters", values}});
  } else {
    Print(Format("%u %u %u\n", values[0], values[1], values[2]));
  }
  return kExitOk;
}

int RunCounterSet(Session& session, const Config& config) {
  uint8_t controls[port_map::kGroupCounters];
  for (size_t i = 0; i < port_map::kGroupCounters; ++i) {
    controls[i] = static_cast<uint8_t>(
        ParseHex(config.controls[i], 0xFF, "control byte " + std::to_string(i)));
  }
  P9050_Handle* board = session.Board();
  const uint32_t group = CheckGroup(board, config.group);
  tamreljsset(board, 0, controls, group);
  if (config.json) {
    PrintJson({{"slot", SlotText(session.BoardSlot())},
               {"group", group},
               {"controls", {Hex(controls[0], 2), Hex(controls[1], 2), Hex(controls[2], 2)}}});
  }
  return kExitOk;
}

int RunRead(Session& session, const Config& config) {
  const uint32_t offset = ParseHex(config.offset, 0xFFFFFFFFu, "read");
  P9050_Handle* board = session.Board();
  CheckPort(board, offset);
  const int value = tamrelread(board, 0, offset);
  if (config.json) {
    PrintJson({{"slot", SlotText(session.BoardSlot())},
               {"offset", Hex(offset, 2)},
               {"value", Hex(static_cast<uint32_t>(value), 2)}});
  } else {
    Print(Format("%02x\n", static_cast<unsigned>(value)));
  }
  return kExitOk;
}

int RunWrite(Session& session, const Config& config) {
  const uint32_t offset = ParseHex(config.offset, 0xFFFFFFFFu, "write's offset");
  const uint32_t value = ParseHex(config.value, 0xFF, "write's value");
  P9050_Handle* board = session.Board();
  CheckPort(board, offset);
  tamrelwrite(board, 0, offset, value);
  if (config.json) {
    PrintJson({{"slot", SlotText(session.BoardSlot())},
               {"offset", Hex(offset, 2)},
               {"value", Hex(value, 2)}});
  }
  return kExitOk;
}

// One line per sample: the time, then the value(s). With --json each line is a JSON object of
// its own, so that a reader can take the samples as they come.
int RunWatch(Session& session, const Config& config) {
  if (config.irq) return WatchInterrupts(session, config);
  if (config.watchWhat.empty()) throw UsageError("watch needs di, counters or --irq");
  P9050_Handle* board = session.Board();
  const bool counters = config.watchWhat == "counters";
  const uint32_t group = counters ? CheckGroup(board, config.group) : 0;
  const std::string slot = SlotText(session.BoardSlot());

  const CatchStopSignals signals;

  const auto interval = std::chrono::milliseconds(config.intervalMs);
  auto next = std::chrono::steady_clock::now();
  for (unsigned n = 0; !StopRequested() && (config.count == 0 || n < config.count); ++n) {
    if (n > 0) {
      next += interval;
      // Short naps, so that Ctrl-C ends the watch at once.
      while (!StopRequested() && std::chrono::steady_clock::now() < next) {
        const auto left = next - std::chrono::steady_clock::now();
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, kStopLatency));
      }
      if (StopRequested()) break;
    }
    const std::string time = Timestamp();
    if (counters) {
      const std::array<uint32_t, 3> v = ReadCounters(board, group);
      if (config.json) {
        PrintJsonLine({{"time", time}, {"slot", slot}, {"group", group}, {"counters", v}});
      } else {
        Print(Format("%s %u %u %u\n", time.c_str(), v[0], v[1], v[2]));
      }
    } else {
      const int value = tamreldi(board);
      if (config.json) {
        PrintJsonLine(
            {{"time", time}, {"slot", slot}, {"di", Hex(static_cast<uint32_t>(value), 2)}});
      } else {
        Print(Format("%s %02x\n", time.c_str(), static_cast<unsigned>(value)));
      }
    }
    FlushOutput();
  }
  return kExitOk;
}

}  // namespace zcmd
