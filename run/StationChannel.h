#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "run/ChannelHost.h"
#include "run/ChannelParts.h"
#include "run/RunClock.h"
#include "run/RunEvent.h"
#include "run/UpgradeRun.h"

namespace brintel::run {

// One adapter of a station: the designed run on its own port, again and again,
// one display after another. It opens no other port, also while searching.
class StationChannel {
 public:
  struct Settings {
    int channel = 1;
    std::string port;
    std::optional<std::string> program;
    std::string address;
    std::string defaultServer = BRINTEL_DEFAULT_SERVER;
    // A unit found: true to go on with it, false when the station wants no
    // more units (the channel then ends without touching the display).
    std::function<bool()> admitUnit;
    // Why no unit may start now (the records cannot be written, say); empty:
    // one may. Meanwhile the channel waits, saying why once.
    std::function<std::string()> hold;
    // The station is winding down: a unit in progress ends as it would, and
    // the channel then ends instead of starting another.
    std::function<bool()> windingDown;
  };

  StationChannel(Settings settings, ChannelParts parts, RunClock& clock, RunListener listener);

  // Runs units until `stop` is set or no unit is admitted; on the caller's thread.
  void Run(const std::atomic<bool>& stop);

 private:
  // One unit: the run, from the search for a display to its end. False when
  // no unit began: the station stopped or wound down, or a hold came first.
  bool RunUnit(const std::atomic<bool>& stop);
  // While a hold lasts; false when the station stopped meanwhile.
  bool WaitWhileHeld(const std::atomic<bool>& stop);
  std::string Held() const { return settings_.hold ? settings_.hold() : std::string(); }
  bool WindingDown() const { return settings_.windingDown && settings_.windingDown(); }
  // After a unit the display may stay plugged in: wait until its port is gone,
  // it has answered no probe for a while, or another display answers, so it is
  // not upgraded twice and a new one is not kept waiting.
  void WaitUntilGone(const std::string& deviceId, const std::atomic<bool>& stop);
  // The identity of the display that answers a probe now; empty: none does.
  std::string ProbeIdentity();

  Settings settings_;
  ChannelParts parts_;
  RunClock& clock_;
  ChannelHost host_;
  UpgradeRun run_;
  bool refused_ = false;      // the station wanted no more units
  std::string unitDeviceId_;  // the latest unit's display, as the search read it
};

}  // namespace brintel::run
