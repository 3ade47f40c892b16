#pragma once

// The run driver on the scripted port with the display model behind it, the
// fake server and a clock that moves only when the driver sleeps: a whole run
// takes no real time.

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "run/ChannelHost.h"
#include "run/RunClock.h"
#include "run/UpgradeRun.h"
#include "server/ProgramList.h"
#include "sim/display/DisplayFault.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/server/Catalogue.h"
#include "sim/server/PackageBuilder.h"
#include "tests/support/Fakes.h"
#include "tests/support/Faults.h"

namespace brintel::testing {

inline const std::string kDisplayA = "1027262514131211";
inline const std::string kDisplayB = "10272625141312AA";
inline const std::string kServer = "programs.test";
inline const std::string kPort = "/dev/ttyUSB0";

// Moves the scripted line's time along with its own.
class FakeRunClock final : public run::RunClock {
 public:
  explicit FakeRunClock(ScriptedPort& port) : port_(port) {}
  time_point Now() const override { return now_; }
  void SleepUntil(time_point until) override {
    if (until <= now_) {
      return;
    }
    const auto before = std::chrono::floor<std::chrono::milliseconds>(now_.time_since_epoch());
    now_ = until;
    const auto after = std::chrono::floor<std::chrono::milliseconds>(now_.time_since_epoch());
    port_.Advance(after - before);
    if (onAdvance) {
      onAdvance(Seconds());
    }
  }
  // Called after the time moved, with the seconds since the clock began.
  std::function<void(double)> onAdvance;
  // Seconds since the clock began.
  double Seconds() const { return std::chrono::duration<double>(now_ - time_point{}).count(); }

 private:
  ScriptedPort& port_;
  time_point now_{};
};

// Ready when bytes are queued; otherwise the time passes until the deadline.
inline std::function<bool(run::RunClock::time_point)> ScriptedWaiter(ScriptedPort& port,
                                                                     run::RunClock& clock) {
  return [&port, &clock](run::RunClock::time_point until) {
    if (!port.input.empty()) {
      return true;
    }
    clock.SleepUntil(until);
    return false;
  };
}

// The server's list and package for a display, as the simulated server makes them.
inline void ServeProgramsFor(FakeHttpClient& http, const std::string& id) {
  static const sim::Catalogue catalogue = sim::Catalogue::Default();
  const sim::Program& program = catalogue.Programs().front();
  const std::string listUrl = ListUrl("", kServer, id);
  http.Serve(listUrl, "KEY_" + program.name);
  http.Serve(PackageUrl(listUrl, program.name), sim::BuildPackage(id, "KEY", program));
}

struct RunHarness {
  ScriptedPort port;
  std::vector<std::unique_ptr<sim::DisplayProtocol>> displays;
  FakeHttpClient http;
  FakeGbkDecoder gbk;
  FakeRunClock clock{port};
  std::vector<run::RunEvent> events;
  run::ChannelHost host{{.channel = 1, .program = std::nullopt, .address = {}},
                        [this](const run::RunEvent& event) { events.push_back(event); }};

  RunHarness() {
    port.ports = {kPort};
    ServeProgramsFor(http, kDisplayA);
    ServeProgramsFor(http, kDisplayB);
  }
  // A display of identity `id` behind the port, in place of any there before.
  sim::DisplayProtocol& PlugIn(std::string_view id = kDisplayA,
                               std::initializer_list<const char*> faults = {}) {
    sim::DisplayProtocol::Settings settings;
    settings.frame = sim::BuildIdentityFrame(id).value();
    settings.poweredAt = port.now;
    for (const char* fault : faults) {
      settings.faults.push_back(DisplayFault(fault));
    }
    displays.push_back(std::make_unique<sim::DisplayProtocol>(std::move(settings)));
    port.Attach(kPort, *displays.back());
    return *displays.back();
  }
  run::UpgradeRun::Settings Settings(bool waiter = true) {
    run::UpgradeRun::Settings settings;
    settings.defaultServer = kServer;
    if (waiter) {
      settings.waitForInput = ScriptedWaiter(port, clock);
    }
    return settings;
  }
  // The texts of the events of `kind`, in order.
  std::vector<std::string> Texts(run::RunEvent::Kind kind) const {
    std::vector<std::string> texts;
    for (const run::RunEvent& event : events) {
      if (event.kind == kind) {
        texts.push_back(event.text);
      }
    }
    return texts;
  }
};

}  // namespace brintel::testing
