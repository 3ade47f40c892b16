#pragma once

#include <chrono>
#include <thread>

namespace brintel::run {

// The run driver's time: the steady clock, or a test's that moves only when
// the driver sleeps, so nothing in a test waits.
class RunClock {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  using duration = std::chrono::steady_clock::duration;

  virtual ~RunClock() = default;
  virtual time_point Now() const = 0;
  // Returns once `until` has come; at once when it has.
  virtual void SleepUntil(time_point until) = 0;
  void SleepFor(duration length) { SleepUntil(Now() + length); }
};

class SteadyRunClock final : public RunClock {
 public:
  time_point Now() const override { return std::chrono::steady_clock::now(); }
  void SleepUntil(time_point until) override { std::this_thread::sleep_until(until); }
};

}  // namespace brintel::run
