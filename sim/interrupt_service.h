// The simulated driver's interrupt service: the library's own interrupt requests (enable, wait,
// disable; driver/int_requests.h) served against the cards' interrupt lines.
//
// A line is looked at (Evaluate) after every request, whenever a test or host changes an interrupt
// source (a pin), and, while a service waits with the clock in real time, every kRealTimePoll, so
// that sources that change with time alone (a counter's output) are seen. What happens then, for
// each enabled interrupt:
// - The card's line is asserted: the interrupt is taken. The commands run, in order, on the bus;
//   then, when no interrupt is pending, it is counted (`counter`) and becomes pending, waking the
//   waiter; when one is still pending it is counted as lost. The line is level-triggered: if the
//   commands do not mask it, it is taken again at the next look, and so on.
// - The line is not asserted, but a source of the card has just begun asking (an enabled local
//   input became active, say) while the service is busy: an interrupt is pending or has been handed
//   out and the service has not yet come back to wait. The card is masked then (the commands
//   cleared its PCI interrupt enable), so on a real machine that request would go unseen: it is
//   counted as lost.
// A wait hands out the pending interrupt (or blocks until there is one): `counter`, `lost`, and
// the data fields of the commands as last run. Disabling wakes the waiter with `stopped` 1.
//
// Not modelled: sharing of one line by several cards (each card's interrupt is its own), interrupt
// latency beyond the simulator's own, a handed-out interrupt that the service never comes back
// from (the next one simply stays pending).
#ifndef ZARERERA_SIM_INTERRUPT_SERVICE_H
#define ZARERERA_SIM_INTERRUPT_SERVICE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "driver/int_requests.h"
#include "driver/wd_records.h"

namespace sim {

class PciFunction;

// How often a waiting service looks at its line while the clock runs in real time.
constexpr std::chrono::microseconds kRealTimePoll{200};
// How long a service that comes back to wait looks for its next interrupt before it sleeps.
constexpr std::chrono::microseconds kSpin{200};

// Changes of an interrupt source that a test or host makes, outside the simulator's requests,
// reach the simulator through this: it applies them as it serves requests (one at a time) and then
// looks at the interrupt lines.
class InterruptSources {
 public:
  virtual ~InterruptSources() = default;
  // Applies `change`, looks at the lines, then applies `then` (when given) and looks again, all
  // in one go: nothing else runs between (a pulse shorter than any service's turn).
  virtual void Change(const std::function<void()>& change,
                      const std::function<void()>& then = nullptr) = 0;
};

class InterruptService {
 public:
  using RunCommand = std::function<void(WdTransfer& command)>;
  explicit InterruptService(RunCommand run) : run_(std::move(run)) {}

  // Every call below is made with the simulator's lock held; Wait releases it while it blocks.
  uint32_t Enable(const WdIntRequest& request, PciFunction* function);
  uint32_t Disable(uint32_t int_handle);
  uint32_t Wait(WdIntRequest& request, std::unique_lock<std::mutex>& lock, bool real_time);
  void Evaluate();
  // Disables everything and returns once no waiter is left.
  void StopAll(std::unique_lock<std::mutex>& lock);

  // What a test or host may look at.
  struct State {
    bool enabled = false;
    uint32_t counter = 0;
    uint32_t lost = 0;
    bool pending = false;
    bool in_service = false;  // handed out, the service not yet back
    int waiters = 0;
  };
  State state(uint32_t int_handle) const;
  // Blocks until the interrupt is disabled, or nothing is pending or handed out and its service
  // waits again; false when `timeout` passed first.
  bool WaitSettled(uint32_t int_handle, std::unique_lock<std::mutex>& lock,
                   std::chrono::milliseconds timeout);

 private:
  struct Line {
    PciFunction* function = nullptr;
    std::vector<WdTransfer> commands;
    uint32_t options = 0;
    uint64_t generation = 0;  // a new enable starts a new one; older waiters stop
    State state;
    bool requested_before = false;
  };
  void Evaluate(Line& line);
  void Notify();  // wakes every waiter, spinning or asleep

  RunCommand run_;
  std::map<uint32_t, Line> lines_;  // by interrupt handle; entries stay while waiters use them
  std::condition_variable changed_;
  std::atomic<uint64_t> notices_{0};  // counts Notify, for a waiter that spins without the lock
  uint64_t next_generation_ = 1;
  bool stopping_ = false;
};

}  // namespace sim

#endif  // ZARERERA_SIM_INTERRUPT_SERVICE_H
