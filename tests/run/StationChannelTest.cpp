// A station's channel on parts a factory made (here the scripted port and the
// fake server): one display after another, none written twice, none kept
// waiting.

#include <gtest/gtest.h>

#include <atomic>

#include "RunHarness.h"
#include "run/StationChannel.h"

namespace brintel::testing {
namespace {

using run::RunEvent;
using run::UnitOutcome;

TEST(StationChannel, ADisplayLeftInIsWrittenOnceAndOneSwappedInIsTheNextUnitAtOnce) {
  auto port = std::make_unique<ScriptedPort>();
  ScriptedPort& line = *port;
  line.ports = {kPort};
  FakeRunClock clock(line);
  auto http = std::make_unique<FakeHttpClient>();
  ServeProgramsFor(*http, kDisplayA);
  ServeProgramsFor(*http, kDisplayB);
  run::ChannelParts parts{.port = std::move(port),
                          .http = std::move(http),
                          .gbk = std::make_unique<FakeGbkDecoder>(),
                          .waitForInput = ScriptedWaiter(line, clock),
                          .portPresent = [] { return true; }};

  std::vector<std::unique_ptr<sim::DisplayProtocol>> displays;
  const auto plugIn = [&](const std::string& id) -> sim::DisplayProtocol& {
    sim::DisplayProtocol::Settings settings;
    settings.frame = sim::BuildIdentityFrame(id).value();
    settings.poweredAt = line.now;
    displays.push_back(std::make_unique<sim::DisplayProtocol>(std::move(settings)));
    line.Attach(kPort, *displays.back());
    return *displays.back();
  };
  const sim::DisplayProtocol& first = plugIn(kDisplayA);
  const sim::DisplayProtocol* second = nullptr;

  std::atomic<bool> stop{false};
  std::vector<RunEvent> units;
  double firstEndedAt = 0;
  constexpr double kSwapAfter = 1.0;  // left plugged in this long, then swapped
  clock.onAdvance = [&](double now) {
    stop = stop || now > 60;  // a channel stuck on a display fails, not hangs
    if (firstEndedAt > 0 && second == nullptr && now >= firstEndedAt + kSwapAfter) {
      second = &plugIn(kDisplayB);
    }
  };
  run::StationChannel::Settings settings;
  settings.channel = 2;
  settings.port = kPort;
  settings.defaultServer = kServer;
  run::StationChannel channel(std::move(settings), std::move(parts), clock,
                              [&](const RunEvent& event) {
                                if (event.kind == RunEvent::Kind::kUnitStarted ||
                                    event.kind == RunEvent::Kind::kUnitEnded) {
                                  units.push_back(event);
                                  units.back().seconds = clock.Seconds();
                                }
                                if (event.kind == RunEvent::Kind::kUnitEnded) {
                                  firstEndedAt = firstEndedAt > 0 ? firstEndedAt : clock.Seconds();
                                  stop = units.size() == 4;
                                }
                              });
  channel.Run(stop);

  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(units[0].deviceId, kDisplayA);
  EXPECT_EQ(units[1].outcome, UnitOutcome::kCompleted);
  EXPECT_EQ(units[1].channel, 2);
  EXPECT_EQ(units[2].deviceId, kDisplayB);
  EXPECT_EQ(units[3].outcome, UnitOutcome::kCompleted);
  EXPECT_EQ(first.Counters().programsCompleted, 1u) << "left plugged in, written once";
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Counters().programsCompleted, 1u);
  EXPECT_LT(units[2].seconds - (firstEndedAt + kSwapAfter), 0.5)
      << "the new display waited for no 2 s of silence";
}

}  // namespace
}  // namespace brintel::testing
