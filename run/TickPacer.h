#pragma once

#include <algorithm>
#include <chrono>

namespace brintel::run {

// When the run driver's next tick comes. Bytes from the display and work that
// waits for none (a probe or block to send) bring a tick forward; any other
// tick comes 5 ms after the tick before it, so a time-out counted in silent
// ticks never lasts less than its count of 5 ms ticks.
class TickPacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kTick = std::chrono::milliseconds(5);

  enum class Cause {
    kRegular,    // the 5 ms came
    kInput,      // bytes were queued
    kReadyWork,  // the engine had work that needs no input
  };

  explicit TickPacer(Clock::time_point start) : regularAt_(start + kTick) {}

  // The latest time of the next tick.
  Clock::time_point regularAt() const { return regularAt_; }

  // False after a tick that queued bytes brought but that took none (the
  // engine does not read at that step): waiting on them again would spin.
  bool inputMayWake() const { return inputMayWake_; }

  // A tick began at `at` for `cause`; `tookBytes` when it read any.
  void Ticked(Clock::time_point at, Cause cause, bool tookBytes) {
    // A late regular tick catches up at once, as a fixed 5 ms timer would.
    regularAt_ = cause == Cause::kRegular ? std::max(regularAt_ + kTick, at) : at + kTick;
    inputMayWake_ = cause != Cause::kInput || tookBytes;
  }

 private:
  Clock::time_point regularAt_;
  bool inputMayWake_ = true;
};

}  // namespace brintel::run
