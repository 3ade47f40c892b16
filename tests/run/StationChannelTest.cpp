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

// A channel on the scripted line and the fake server; the test plugs the
// displays in. The clock ends a channel stuck on one after a minute.
class StationChannelTest : public ::testing::Test {
 protected:
  StationChannelTest() {
    line.ports = {kPort};
    ServeProgramsFor(*http, kDisplayA);
    ServeProgramsFor(*http, kDisplayB);
  }
  sim::DisplayProtocol& PlugIn(const std::string& id,
                               std::initializer_list<const char*> faults = {}) {
    sim::DisplayProtocol::Settings settings;
    settings.frame = sim::BuildIdentityFrame(id).value();
    settings.poweredAt = line.now;
    for (const char* fault : faults) {
      settings.faults.push_back(DisplayFault(fault));
    }
    displays.push_back(std::make_unique<sim::DisplayProtocol>(std::move(settings)));
    line.Attach(kPort, *displays.back());
    return *displays.back();
  }
  // Runs channel 2 until `stop`; the units' events carry the clock's seconds.
  void Run(const std::function<void(double)>& onAdvance) {
    clock.onAdvance = [&](double now) {
      stop = stop || now > 60;
      onAdvance(now);
    };
    run::ChannelParts parts{.port = std::move(port),
                            .http = std::move(http),
                            .gbk = std::make_unique<FakeGbkDecoder>(),
                            .waitForInput = ScriptedWaiter(line, clock),
                            .portPresent = [] { return true; }};
    run::StationChannel::Settings settings;
    settings.channel = 2;
    settings.port = kPort;
    settings.defaultServer = kServer;
    run::StationChannel channel(
        std::move(settings), std::move(parts), clock, [&](const RunEvent& event) {
          if (event.kind == RunEvent::Kind::kUnitStarted ||
              event.kind == RunEvent::Kind::kUnitEnded) {
            units.push_back(event);
            units.back().seconds = clock.Seconds();
          }
          if (event.kind == RunEvent::Kind::kUnitEnded) {
            firstEndedAt = firstEndedAt > 0 ? firstEndedAt : clock.Seconds();
            stop = units.size() == unitsWanted;
          }
        });
    channel.Run(stop);
  }

  std::unique_ptr<ScriptedPort> port = std::make_unique<ScriptedPort>();
  ScriptedPort& line = *port;
  FakeRunClock clock{line};
  std::unique_ptr<FakeHttpClient> http = std::make_unique<FakeHttpClient>();
  std::vector<std::unique_ptr<sim::DisplayProtocol>> displays;
  std::atomic<bool> stop{false};
  std::vector<RunEvent> units;  // started and ended, in order
  std::size_t unitsWanted = 4;
  double firstEndedAt = 0;
};

TEST_F(StationChannelTest, ADisplayLeftInIsWrittenOnceAndOneSwappedInIsTheNextUnitAtOnce) {
  const sim::DisplayProtocol& first = PlugIn(kDisplayA);
  const sim::DisplayProtocol* second = nullptr;
  constexpr double kSwapAfter = 1.0;  // left plugged in this long, then swapped
  Run([&](double now) {
    if (firstEndedAt > 0 && second == nullptr && now >= firstEndedAt + kSwapAfter) {
      second = &PlugIn(kDisplayB);
    }
  });

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

// The station's own silence limit, whatever the search's: a display that falls
// silent mid-transfer is given up after 2 s, with what it had taken.
TEST_F(StationChannelTest, ADisplayThatFallsSilentMidTransferIsGivenUpAfterTwoSeconds) {
  PlugIn(kDisplayA, {"silent-after:5"});
  unitsWanted = 2;
  Run([](double) {});

  ASSERT_EQ(units.size(), 2u);
  EXPECT_STREQ(run::OutcomeName(units[1].outcome), "display-silent");
  EXPECT_EQ(units[1].counts.accepted, 5);
  EXPECT_EQ(units[1].deviceId, kDisplayA);
  EXPECT_EQ(units[1].transferDeviceId, kDisplayA);
  EXPECT_LT(units[1].seconds, 10.0) << "given up at the station's limit";
}

}  // namespace
}  // namespace brintel::testing
