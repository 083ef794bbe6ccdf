// The VFIO driver's INTx interrupt service: an eventfd armed per line, the prepared commands run
// at each interrupt, the line unmasked when the service waits again.
#include "vfio/vfio_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/driver_calls.h"
#include "driver/precise_sleep.h"
#include "driver/transfer_kind.h"
#include "driver/transfer_run.h"
#include "driver/wd_status.h"
#include "vfio/vfio_driver_parts.h"

namespace vfio {

using namespace parts;  // NOLINT(google-build-using-namespace): the driver's own helpers

// --- Interrupts

uint32_t VfioDriver::IntEnable(WdIntRequest& r) {
  const Registration* reg = nullptr;
  for (const auto& candidate : registrations_) {
    if (r.intHandle != 0 && candidate->int_handle == r.intHandle) reg = candidate.get();
  }
  if (reg == nullptr) {
    return Fail(WD_STATUS_NO_SUCH_CARD, "unknown interrupt handle " + std::to_string(r.intHandle));
  }
  if (r.commandCount > kMaxCommands || (r.commandCount != 0 && r.commands == 0)) {
    return Fail(WD_STATUS_INVALID_PARAMETER,
                std::to_string(r.commandCount) + " interrupt commands refused");
  }
  const auto* given = WD_FROM_UPTR(const WdTransfer*, r.commands);
  std::vector<WdTransfer> commands(given, given + r.commandCount);
  if (!std::all_of(commands.begin(), commands.end(), SingleTransfer)) {
    return Fail(WD_STATUS_INVALID_PARAMETER, "interrupt commands must be single transfers");
  }
  auto existing = lines_.find(r.intHandle);
  if (existing != lines_.end()) {
    if (existing->second->enabled) {
      return Fail(WD_STATUS_RESOURCE_BUSY,
                  "interrupt " + std::to_string(r.intHandle) + " is enabled already");
    }
    AwaitLineGone(r.intHandle);  // the waiters of the last enable are still leaving
  }
  auto line = std::make_unique<Line>();
  line->int_handle = r.intHandle;
  line->device = reg->device;
  line->eventfd = kernel_->EventFd();
  if (line->eventfd < 0) return FailErrno(-line->eventfd, "creating an eventfd");
  line->wakefd = kernel_->EventFd();
  if (line->wakefd < 0) {
    kernel_->Close(line->eventfd);
    return FailErrno(-line->wakefd, "creating an eventfd");
  }
  if (const int error = kernel_->SetIntxEventfd(reg->device->fd, line->eventfd); error < 0) {
    CloseLine(*line);
    return FailErrno(-error, "arming the INTx interrupt of " + reg->device->name);
  }
  line->commands = std::move(commands);
  line->options = r.options;
  line->generation = next_generation_++;
  line->enabled = true;
  lines_[r.intHandle] = std::move(line);
  return 0;
}

void VfioDriver::CloseLine(Line& line) {
  if (line.eventfd >= 0) kernel_->Close(line.eventfd);
  if (line.wakefd >= 0) kernel_->Close(line.wakefd);
  line.eventfd = line.wakefd = -1;
}

void VfioDriver::AwaitLineGone(uint32_t intHandle) {
  std::unique_lock<std::mutex> relock(lock_, std::adopt_lock);
  waiters_left_.wait(relock, [&] { return lines_.count(intHandle) == 0; });
  relock.release();  // the caller's lock, held again
}

void VfioDriver::StopLine(Line& line) {
  if (line.enabled) {
    line.enabled = false;
    kernel_->SetIntxEventfd(line.device->fd, -1);
    kernel_->Signal(line.wakefd);
  }
  EndIfIdle(line);
}

void VfioDriver::EndIfIdle(Line& line) {
  if (line.enabled || line.waiters != 0) return;
  const uint32_t handle = line.int_handle;
  CloseLine(line);
  lines_.erase(handle);  // `line` is gone
  waiters_left_.notify_all();
}

uint32_t VfioDriver::IntDisable(WdIntRequest& r) {
  auto it = lines_.find(r.intHandle);
  if (it == lines_.end() || !it->second->enabled) {
    return Fail(WD_STATUS_NO_SUCH_CARD,
                "interrupt " + std::to_string(r.intHandle) + " is not enabled");
  }
  StopLine(*it->second);
  return 0;
}

uint32_t VfioDriver::IntWait(WdIntRequest& r) {
  std::unique_lock<std::mutex> guard(lock_);
  r.stopped = 1;
  auto it = lines_.find(r.intHandle);
  if (it == lines_.end() || !it->second->enabled) return 0;
  Line& line = *it->second;
  const uint64_t generation = line.generation;
  if (line.in_service) {
    // The service is back: its handler has dealt with the card, so the line may fire again.
    line.in_service = false;
    if (const int error = kernel_->UnmaskIntx(line.device->fd); error < 0) {
      return FailErrno(-error, "unmasking the INTx interrupt of " + line.device->name);
    }
  }
  ++line.waiters;
  uint64_t signals = 0;
  int error = 0;
  while (line.enabled && line.generation == generation) {
    const int eventfd = line.eventfd;
    const int wakefd = line.wakefd;
    guard.unlock();
    const int ready = kernel_->Poll(eventfd, wakefd, -1);
    guard.lock();
    if (!line.enabled || line.generation != generation) break;
    if (ready < 0) {
      error = -ready;
      break;
    }
    // Another waiter may have taken it first.
    if ((ready & 1) != 0 && kernel_->TakeCount(eventfd, &signals) == 0 && signals > 0) break;
    signals = 0;
  }
  --line.waiters;
  const bool ended = !line.enabled || line.generation != generation;
  if (ended) {
    EndIfIdle(line);
    return 0;
  }
  if (error != 0) return FailErrno(error, "waiting for the interrupt of " + line.device->name);
  for (WdTransfer& command : line.commands) Transfer(command);
  ++line.counter;
  line.lost += static_cast<uint32_t>(signals - 1);
  line.in_service = true;
  r.counter = line.counter;
  r.lost = line.lost;
  r.stopped = 0;
  if ((line.options & WD_INT_OPTION_COPY_DATA) != 0 && r.commands != 0) {
    auto* out = WD_FROM_UPTR(WdTransfer*, r.commands);
    const size_t n = std::min<size_t>(r.commandCount, line.commands.size());
    for (size_t i = 0; i < n; ++i) out[i].data = line.commands[i].data;
  }
  return 0;
}

}  // namespace vfio
