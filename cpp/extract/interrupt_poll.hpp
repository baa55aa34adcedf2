// Asking the caller's interruption check, now and then, during long work.
#pragma once

#include <chrono>
#include <functional>

#include "extract/errors.hpp"

namespace vorlane::extract {

// The caller's check: returns true when the work should stop (the host saw
// Ctrl-C).  Empty: never stop.
using InterruptCheck = std::function<bool()>;

// Wraps an InterruptCheck so that it may be ticked once per item of work:
// the clock is read every `clock_every` ticks and the check asked at most
// once per INTERVAL, so a slow check (one that takes the host's lock) costs
// little.
class InterruptPoll {
 public:
  static constexpr std::chrono::milliseconds INTERVAL{2};

  explicit InterruptPoll(const InterruptCheck& check, unsigned clock_every = 64)
      : check_(check), every_(clock_every ? clock_every : 1), last_(Clock::now()) {}

  // Throws Interrupted when the check, asked now, says stop.
  void tick() {
    if (!check_ || ++ticks_ % every_ != 0) return;
    const auto now = Clock::now();
    if (now - last_ < INTERVAL) return;
    last_ = now;
    if (check_()) throw Interrupted("model request interrupted");
  }

 private:
  using Clock = std::chrono::steady_clock;
  const InterruptCheck& check_;
  unsigned every_;
  Clock::time_point last_;
  unsigned ticks_ = 0;
};

}  // namespace vorlane::extract
