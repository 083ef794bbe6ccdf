// The simulated driver's interrupt service (see interrupt_service.h).
#include "sim/interrupt_service.h"

#include <algorithm>
#include <cstring>

#include "driver/wd_status.h"
#include "sim/pci_function.h"

namespace sim {

namespace {

// More commands than a card's acknowledgement could need are refused.
constexpr uint32_t kMaxCommands = 64;

// Block transfers would dereference the caller's buffers at interrupt time: refused.
bool SingleTransfer(const WdTransfer& t) {
  uint32_t c = t.command;
  if (c >= WD_RM_BYTE) c -= WD_MEMORY_COMMAND_OFFSET;
  return c >= WD_RP_BYTE && c <= WD_WP_DWORD;
}

}  // namespace

uint32_t InterruptService::Enable(const WdIntRequest& request, PciFunction* function) {
  if (function == nullptr) return WD_STATUS_NO_SUCH_CARD;
  if (request.commandCount > kMaxCommands || (request.commandCount != 0 && request.commands == 0)) {
    return WD_STATUS_INVALID_PARAMETER;
  }
  const auto* given = WD_FROM_UPTR(const WdTransfer*, request.commands);
  std::vector<WdTransfer> commands(given, given + request.commandCount);
  if (!std::all_of(commands.begin(), commands.end(), SingleTransfer)) {
    return WD_STATUS_INVALID_PARAMETER;
  }
  Line& line = lines_[request.intHandle];
  if (line.state.enabled) return WD_STATUS_RESOURCE_BUSY;
  const int waiters = line.state.waiters;
  line.function = function;
  line.commands = std::move(commands);
  line.options = request.options;
  line.generation = next_generation_++;
  line.state = State{};
  line.state.enabled = true;
  line.state.waiters = waiters;
  line.requested_before = function->InterruptRequested();
  Notify();  // waiters of an older enable stop; the line is looked at after this request
  return 0;
}

uint32_t InterruptService::Disable(uint32_t int_handle) {
  auto it = lines_.find(int_handle);
  if (it == lines_.end() || !it->second.state.enabled) return WD_STATUS_NO_SUCH_CARD;
  it->second.state.enabled = false;
  it->second.state.pending = false;
  it->second.state.in_service = false;
  Notify();
  return 0;
}

uint32_t InterruptService::Wait(WdIntRequest& request, std::unique_lock<std::mutex>& lock,
                                bool real_time) {
  auto it = lines_.find(request.intHandle);
  request.stopped = 1;
  if (it == lines_.end() || !it->second.state.enabled || stopping_) return 0;
  Line& line = it->second;
  const uint64_t generation = line.generation;
  auto ended = [&] { return stopping_ || !line.state.enabled || line.generation != generation; };
  line.state.in_service = false;
  ++line.state.waiters;
  Notify();  // the service is back: WaitSettled may be waiting for that
  // Waking a thread that sleeps costs tens of microseconds on an idle machine: a service that has
  // just come back from an interrupt looks for the next one for a while before it sleeps.
  const auto spin_until = std::chrono::steady_clock::now() + kSpin;
  while (!ended() && !line.state.pending) {
    if (std::chrono::steady_clock::now() < spin_until) {
      const uint64_t seen = notices_.load(std::memory_order_acquire);
      lock.unlock();
      for (uint32_t i = 1; notices_.load(std::memory_order_acquire) == seen; ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= spin_until) break;
      }
      lock.lock();
      continue;
    }
    if (real_time) {
      changed_.wait_for(lock, kRealTimePoll);
      if (!ended()) Evaluate(line);
    } else {
      changed_.wait(lock);
    }
  }
  --line.state.waiters;
  Notify();
  if (ended()) return 0;
  line.state.pending = false;
  line.state.in_service = true;
  request.counter = line.state.counter;
  request.lost = line.state.lost;
  request.stopped = 0;
  if ((line.options & WD_INT_OPTION_COPY_DATA) != 0 && request.commands != 0) {
    auto* out = WD_FROM_UPTR(WdTransfer*, request.commands);
    const size_t n = std::min<size_t>(request.commandCount, line.commands.size());
    for (size_t i = 0; i < n; ++i) out[i].data = line.commands[i].data;
  }
  return 0;
}

void InterruptService::Notify() {
  notices_.fetch_add(1, std::memory_order_release);
  changed_.notify_all();
}

void InterruptService::Evaluate() {
  for (auto& [handle, line] : lines_) Evaluate(line);
}

void InterruptService::Evaluate(Line& line) {
  if (!line.state.enabled) return;
  State& s = line.state;
  const bool requested = line.function->InterruptRequested();
  const bool rising = requested && !line.requested_before;
  line.requested_before = requested;
  if (line.function->InterruptAsserted()) {
    for (WdTransfer& command : line.commands) run_(command);
    if (s.pending) {
      ++s.lost;
    } else {
      ++s.counter;
      s.pending = true;
      Notify();
    }
    line.requested_before = line.function->InterruptRequested();
  } else if (rising && (s.pending || s.in_service)) {
    ++s.lost;
  }
}

void InterruptService::StopAll(std::unique_lock<std::mutex>& lock) {
  stopping_ = true;
  Notify();
  changed_.wait(lock, [this] {
    return std::all_of(lines_.begin(), lines_.end(),
                       [](const auto& entry) { return entry.second.state.waiters == 0; });
  });
}

InterruptService::State InterruptService::state(uint32_t int_handle) const {
  auto it = lines_.find(int_handle);
  return it == lines_.end() ? State{} : it->second.state;
}

bool InterruptService::WaitSettled(uint32_t int_handle, std::unique_lock<std::mutex>& lock,
                                   std::chrono::milliseconds timeout) {
  return changed_.wait_for(lock, timeout, [&] {
    const State s = state(int_handle);
    return !s.enabled || (!s.pending && !s.in_service && s.waiters > 0);
  });
}

}  // namespace sim
