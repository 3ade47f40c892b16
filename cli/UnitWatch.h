#pragma once

#include <chrono>
#include <string>

#include "cli/ChannelHost.h"
#include "cli/RunEvent.h"
#include "cli/UpgradeRun.h"

namespace brintel::cli {

// Follows one run tick by tick: when it became a unit (a display was found)
// and, once it has ended, what became of that unit. The station and a single
// run with --json report units alike.
class UnitWatch {
 public:
  UnitWatch(const UpgradeRun& run, const ChannelHost& host) : run_(run), host_(host) {}

  // Call after every tick. True on the tick the display was found.
  bool AfterTick();
  bool started() const { return started_; }

  RunEvent Started() const;
  RunEvent Ended(UpgradeRun::Ending ending, bool stopped) const;

 private:
  std::string Outcome(UpgradeRun::Ending ending, bool stopped) const;

  const UpgradeRun& run_;
  const ChannelHost& host_;
  bool started_ = false;
  bool reachedTransfer_ = false;
  std::string port_;
  std::string transferDeviceId_;
  std::chrono::steady_clock::time_point startedAt_{};
};

}  // namespace brintel::cli
