#pragma once

// The engine wired to fakes, with the simulated display's model behind the
// scripted port and packages from the simulated server's builder, so a test
// can drive a run tick by tick.

#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "engine/UpgradeEngine.h"
#include "sim/display/DisplayFault.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/server/Catalogue.h"
#include "sim/server/PackageBuilder.h"
#include "tests/support/Fakes.h"
#include "tests/support/Faults.h"

namespace brintel::testing {

inline const std::string kDeviceId = "1027262514131211";
inline const std::string kDeviceLabel = "(sn=1027-2625-1413-1211)";
inline const std::string kDefaultServer = "programs.test";
inline const std::string kListUrl = "http://programs.test/cargetnameplovix.asp?id=1027262514131211";
inline constexpr std::chrono::milliseconds kTick{5};  // the front ends' timer period

using Stage = DeviceLink::Stage;

// The simulated server's first program: what the tests' packages carry.
inline const sim::Program& TestProgram() {
  static const sim::Program program = sim::Catalogue::Default().Programs().front();
  return program;
}

inline std::string Package(std::string_view deviceId, std::string_view listKey,
                           std::string title = "T", std::string pictures = "139140") {
  sim::Program program = TestProgram();
  program.title = std::move(title);
  program.pictures = std::move(pictures);
  return sim::BuildPackage(deviceId, listKey, program);
}

struct EngineHarness {
  ScriptedPort port;
  std::deque<sim::DisplayProtocol> displays;
  FakeHttpClient http;
  FakeHost host;
  FakeGbkDecoder gbk;
  int pausedMs = 0;
  UpgradeEngine engine{host,
                       port,
                       http,
                       gbk,
                       [this](int ms) { pausedMs += ms; },
                       UpgradeEngine::Config{kDefaultServer}};

  // A display of identity `id` on port `name`, in place of any there before,
  // with faults written as for brintel-display-sim --fault.
  sim::DisplayProtocol& PlugIn(const std::string& name,
                               std::initializer_list<const char*> faults = {},
                               std::string_view id = kDeviceId) {
    sim::DisplayProtocol::Settings settings;
    settings.frame = sim::BuildIdentityFrame(id).value();
    for (const char* fault : faults) {
      settings.faults.push_back(DisplayFault(fault));
    }
    port.Attach(name, displays.emplace_back(std::move(settings)));
    return displays.back();
  }
  // Start pressed with these ports to be found.
  void Start(std::vector<std::string> names) {
    port.ports = std::move(names);
    engine.OnStart();
  }
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      port.Advance(kTick);
      engine.tick();
    }
  }
  // Ticks while timer 1 runs, as a front end would; returns the ticks run.
  int TickWhileRunning(int limit) {
    int ticks = 0;
    while (host.timerRunning && ticks < limit) {
      Tick();
      ++ticks;
    }
    return ticks;
  }
};

}  // namespace brintel::testing
