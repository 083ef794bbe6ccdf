// Which dwords of a small register block changed since a moment: the bookkeeping behind a model's
// WindowVersion and WindowChanges (window_model.h), so that a window over the block rewrites only
// what changed.
//
// Each change starts a new generation and names the dword it changed, or none (a change that
// moves no stored register, such as a moved BAR), or everything (the whole block may read
// differently). ChangedSince(seen) answers from the latest generations' record while `seen` is
// among them, otherwise from each dword's stamp.
#ifndef ZARERERA_SIM_CHANGE_LOG_H
#define ZARERERA_SIM_CHANGE_LOG_H

#include <cstdint>

namespace sim {

class ChangeLog {
 public:
  static constexpr uint32_t kDwords = 64;  // the most a window's change mask can name
  static constexpr uint32_t kNone = 0xFF;  // a change that names no dword

  uint64_t generation() const { return generation_; }
  // A new generation in which dword `dword` changed (kNone, or any dword past kDwords: none).
  void Changed(uint32_t dword) {
    ++generation_;
    const bool named = dword < kDwords;
    if (named) changed_in_[dword] = generation_;
    recent_[generation_ % kRecent] = named ? static_cast<uint8_t>(dword) : kNone;
  }
  // The latest generation changed everything.
  void ChangedEverything() { everything_changed_in_ = generation_; }
  // The dwords changed in the generations after `seen` (bit i: dword i); all ones when everything
  // did.
  uint64_t ChangedSince(uint64_t seen) const {
    if (everything_changed_in_ > seen) return ~uint64_t{0};
    uint64_t changed = 0;
    if (generation_ - seen <= kRecent) {
      for (uint64_t g = seen + 1; g <= generation_; ++g) {
        const uint8_t dword = recent_[g % kRecent];
        if (dword < kDwords) changed |= uint64_t{1} << dword;
      }
      return changed;
    }
    for (uint32_t i = 0; i < kDwords; ++i) {
      if (changed_in_[i] > seen) changed |= uint64_t{1} << i;
    }
    return changed;
  }

 private:
  // The dword each of the latest generations changed, so that a window a few generations behind
  // learns what changed without looking at every stamp.
  static constexpr uint32_t kRecent = 16;
  uint64_t generation_ = 1;
  uint64_t changed_in_[kDwords] = {};  // the generation in which each dword last changed
  uint64_t everything_changed_in_ = 0;
  uint8_t recent_[kRecent] = {};
};

}  // namespace sim

#endif  // ZARERERA_SIM_CHANGE_LOG_H
