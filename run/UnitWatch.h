#pragma once

#include <string>

#include "engine/RunEnd.h"
#include "run/ChannelHost.h"
#include "run/RunClock.h"
#include "run/RunEvent.h"
#include "run/UnitOutcome.h"
#include "run/UpgradeRun.h"

namespace brintel::run {

// Follows one run tick by tick: when it became a unit (a display was found)
// and, once it has ended, what became of that unit. The station and a single
// run with --json report units alike.
class UnitWatch {
 public:
  UnitWatch(const UpgradeRun& run, const ChannelHost& host, const RunClock& clock)
      : run_(run), host_(host), clock_(clock) {}

  // Call after every tick. True on the tick the display was found.
  bool AfterTick();
  bool started() const { return started_; }

  RunEvent Started() const;
  RunEvent Ended(UpgradeRun::Ending ending, bool stopped) const;

  // What a unit came to: from why the driver ended the run, why the engine
  // ended it, and why the host refused a choice. `stopped`: the station was.
  static UnitOutcome Outcome(UpgradeRun::Ending ending, RunEnd end, RunHost::Refusal refusal,
                             bool stopped);

 private:
  const UpgradeRun& run_;
  const ChannelHost& host_;
  const RunClock& clock_;
  bool started_ = false;
  std::string port_;
  std::string deviceId_;
  std::string transferDeviceId_;
  RunClock::time_point startedAt_{};
};

}  // namespace brintel::run
