// The run driver tick by tick on a clock that moves only when it sleeps: its
// pacing, its search and silence limits, Stop, and what a unit came to.

#include <gtest/gtest.h>

#include <algorithm>

#include "RunHarness.h"
#include "engine/Messages.h"
#include "run/UnitWatch.h"

namespace brintel::testing {
namespace {

using run::RunEvent;
using run::UnitOutcome;
using run::UpgradeRun;
using Ending = UpgradeRun::Ending;

class UpgradeRunTest : public ::testing::Test {
 protected:
  RunHarness h;

  // Runs to the end, reporting the unit as a station does; `stopAt` blocks
  // accepted interrupt it.
  Ending Run(UpgradeRun::Settings settings, int stopAt = -1) {
    UpgradeRun upgrade(h.host, h.port, h.http, h.gbk, h.clock, std::move(settings));
    run::UnitWatch unit(upgrade, h.host, h.clock);
    const Ending ending =
        upgrade.Run([&] { return stopAt >= 0 && upgrade.engine().link().blockIndex() >= stopAt; },
                    [&] {
                      if (unit.AfterTick()) {
                        h.host.Emit(unit.Started());
                      }
                    });
    if (unit.started()) {
      h.host.Emit(unit.Ended(ending, false));
    }
    return ending;
  }
  const RunEvent* Ended() const {
    const auto it = std::find_if(h.events.begin(), h.events.end(), [](const RunEvent& event) {
      return event.kind == RunEvent::Kind::kUnitEnded;
    });
    return it == h.events.end() ? nullptr : &*it;
  }
};

// Bytes and ready work bring ticks forward: a display that answers at once is
// written in a fraction of the time ticks every 5 ms would take.
TEST_F(UpgradeRunTest, AWholeRunIsOneUnitAndBytesHurryTheTicks) {
  const sim::DisplayProtocol& display = h.PlugIn();
  ASSERT_EQ(Run(h.Settings()), Ending::kStopped);
  const double paced = h.clock.Seconds();
  EXPECT_EQ(display.Program(), sim::Catalogue::Default().ExpectedProgram(
                                   sim::Catalogue::Default().Programs().front().name));
  const RunEvent* ended = Ended();
  ASSERT_NE(ended, nullptr);
  EXPECT_EQ(ended->outcome, UnitOutcome::kCompleted);
  EXPECT_EQ(ended->counts.accepted, 70);
  EXPECT_EQ(ended->deviceId, kDisplayA);
  EXPECT_EQ(ended->transferDeviceId, kDisplayA);
  EXPECT_EQ(ended->port, kPort);
  EXPECT_EQ(ended->listUrl, "http://programs.test/cargetnameplovix.asp?id=" + kDisplayA);
  EXPECT_NEAR(ended->seconds, paced, 0.05);
  EXPECT_EQ(h.Texts(RunEvent::Kind::kUnitStarted).size(), 1u);

  RunHarness everyFiveMs;
  everyFiveMs.PlugIn();
  UpgradeRun slow(everyFiveMs.host, everyFiveMs.port, everyFiveMs.http, everyFiveMs.gbk,
                  everyFiveMs.clock, everyFiveMs.Settings(false));
  ASSERT_EQ(slow.Run([] { return false; }), Ending::kStopped);
  ASSERT_TRUE(slow.engine().completed());
  EXPECT_GE(everyFiveMs.clock.Seconds(), 70 * 4 * 0.005)
      << "a reply, a frame, an echo, an acknowledgement";
  EXPECT_LT(paced, everyFiveMs.clock.Seconds() / 2)
      << paced << " s against " << everyFiveMs.clock.Seconds();
}

TEST_F(UpgradeRunTest, ASearchThatFindsNoDisplayEndsAtItsLimit) {
  UpgradeRun::Settings settings = h.Settings();
  settings.searchTimeout = 1.5;
  EXPECT_EQ(Run(settings), Ending::kNoDisplay);
  EXPECT_GE(h.clock.Seconds(), 1.5);
  EXPECT_LT(h.clock.Seconds(), 1.6);
  EXPECT_EQ(h.Texts(RunEvent::Kind::kNote),
            (std::vector<std::string>{"no display found within 1.5 s"}));
  EXPECT_EQ(Ended(), nullptr) << "no display, no unit";
}

// Only a valid frame, echo or acknowledgement is an answer: a display that
// falls silent and one that babbles are given up alike, the advice last.
TEST_F(UpgradeRunTest, SilenceIsTimeWithoutAValidExchange) {
  for (const char* fault : {"silent-after:5", "babble-after:5"}) {
    SCOPED_TRACE(fault);
    RunHarness fresh;
    fresh.PlugIn(kDisplayA, {fault});
    UpgradeRun::Settings settings = fresh.Settings();
    settings.silenceTimeout = 2;
    UpgradeRun upgrade(fresh.host, fresh.port, fresh.http, fresh.gbk, fresh.clock, settings);
    double lastAcceptedAt = 0;
    EXPECT_EQ(upgrade.Run([] { return false; },
                          [&] {
                            if (upgrade.engine().link().blockIndex() < 5) {
                              lastAcceptedAt = fresh.clock.Seconds();
                            }
                          }),
              Ending::kDisplaySilent);
    EXPECT_EQ(upgrade.engine().link().counts().accepted, 5);
    EXPECT_GE(fresh.clock.Seconds() - lastAcceptedAt, 2.0);
    EXPECT_LT(fresh.clock.Seconds() - lastAcceptedAt, 2.2);
    const std::vector<std::string> notes = fresh.Texts(RunEvent::Kind::kNote);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "the display has not answered for 2 s");
    EXPECT_EQ(notes[1], messages::kStopMidwayHint);
    EXPECT_FALSE(fresh.port.IsOpen());
  }
}

TEST_F(UpgradeRunTest, StopMidTransferEndsTheUnitStoppedWithTheAdvice) {
  h.PlugIn();
  EXPECT_EQ(Run(h.Settings(), 3), Ending::kInterrupted);
  ASSERT_NE(Ended(), nullptr);
  EXPECT_EQ(Ended()->outcome, UnitOutcome::kStopped);
  EXPECT_EQ(Ended()->counts.accepted, 3);
  EXPECT_EQ(h.Texts(RunEvent::Kind::kNote).back(), messages::kStopMidwayHint);
  EXPECT_FALSE(h.port.IsOpen());
}

// A display swapped in before the transfer: named once, never written; a
// station's unit ends at once, a single run waits for the right one.
TEST_F(UpgradeRunTest, AnotherDisplayInTheTransferIsNamedAndNeverWritten) {
  for (const bool station : {true, false}) {
    SCOPED_TRACE(station ? "station" : "single run");
    RunHarness fresh;
    fresh.PlugIn();
    const sim::DisplayProtocol* other = nullptr;
    fresh.host = run::ChannelHost({}, [&](const RunEvent& event) {
      fresh.events.push_back(event);
      if (event.kind == RunEvent::Kind::kTitle) {
        other = &fresh.PlugIn(kDisplayB);  // while the package is taken in
      }
    });
    UpgradeRun::Settings settings = fresh.Settings();
    settings.endOnOtherDisplay = station;
    settings.silenceTimeout = 3;
    UpgradeRun upgrade(fresh.host, fresh.port, fresh.http, fresh.gbk, fresh.clock, settings);
    run::UnitWatch unit(upgrade, fresh.host, fresh.clock);
    const Ending ending = upgrade.Run([] { return false; }, [&] { unit.AfterTick(); });
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->Counters().blocksReceived, 0u);
    const std::string note = "display " + kDisplayB + " answered, but the program is for display " +
                             kDisplayA + "; nothing was written into it";
    const std::vector<std::string> notes = fresh.Texts(RunEvent::Kind::kNote);
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                            [&](const std::string& text) { return text.starts_with(note); }),
              1);
    const RunEvent ended = unit.Ended(ending, false);
    if (station) {
      EXPECT_EQ(ending, Ending::kOtherDisplay);
      EXPECT_EQ(ended.outcome, UnitOutcome::kOtherDisplay);
      EXPECT_EQ(ended.transferDeviceId, kDisplayB);
    } else {
      EXPECT_EQ(ending, Ending::kDisplaySilent);
      EXPECT_EQ(ended.outcome, UnitOutcome::kDisplaySilent);
      EXPECT_GT(fresh.clock.Seconds(), 3.0);
    }
  }
}

// The package names another display: nothing is written, and the unit ends
// as other-device with what it had asked for.
TEST_F(UpgradeRunTest, APackageMadeForAnotherDisplayEndsTheUnitOtherDevice) {
  const sim::DisplayProtocol& display = h.PlugIn();
  const sim::Program program = sim::Catalogue::Default().Programs().front();
  const std::string listUrl = ListUrl("", kServer, kDisplayA);
  h.http.Serve(PackageUrl(listUrl, program.name), sim::BuildPackage(kDisplayB, "KEY", program));
  EXPECT_EQ(Run(h.Settings()), Ending::kStopped);
  const RunEvent* ended = Ended();
  ASSERT_NE(ended, nullptr);
  EXPECT_STREQ(run::OutcomeName(ended->outcome), "other-device");
  EXPECT_EQ(ended->deviceId, kDisplayA);
  EXPECT_EQ(ended->transferDeviceId, "");
  EXPECT_EQ(ended->program, program.name);
  EXPECT_EQ(ended->listUrl, listUrl);
  EXPECT_EQ(ended->counts, BlockCounts{});
  EXPECT_EQ(display.Counters().blocksReceived, 0u);
}

// Without a program named, the first in the choice's sorted order (as the
// window offers them), not the first the list holds.
TEST(ChannelHost, ChoosesByNameInTheSortedOrderAndNamesWhatTheListHolds) {
  const std::vector<std::string> names = {"b", "A", "c"};
  std::vector<std::string> notes;
  const auto host = [&](std::optional<std::string> program) {
    return run::ChannelHost({.channel = 1, .program = std::move(program), .address = {}},
                            [&](const RunEvent& event) { notes.push_back(event.text); });
  };
  run::ChannelHost any = host(std::nullopt);
  const ProgramChoice first = any.ChooseProgram(names);
  EXPECT_TRUE(first.accepted);
  EXPECT_EQ(first.entry, 1u);
  EXPECT_EQ(any.program(), "A");
  EXPECT_EQ(host("c").ChooseProgram(names).entry, 2u);

  run::ChannelHost missing = host("C");
  EXPECT_FALSE(missing.ChooseProgram(names).accepted);
  EXPECT_EQ(missing.refusal(), run::RunHost::Refusal::kUnknownProgram);
  EXPECT_EQ(missing.offered(), names);
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back(), "the program list holds no \"C\"; it holds: A, b, c");
}

TEST(UnitOutcome, ComesFromTheDriversTheEnginesAndTheHostsReasons) {
  using run::RunHost;
  struct Case {
    Ending ending;
    RunEnd end;
    RunHost::Refusal refusal;
    bool stopped;
    UnitOutcome outcome;
  };
  const Case cases[] = {
      {Ending::kStopped, RunEnd::kCompleted, RunHost::Refusal::kNone, true,
       UnitOutcome::kCompleted},
      {Ending::kInterrupted, RunEnd::kStopped, RunHost::Refusal::kNone, false,
       UnitOutcome::kStopped},
      {Ending::kStopped, RunEnd::kPortLost, RunHost::Refusal::kNone, true, UnitOutcome::kStopped},
      {Ending::kOtherDisplay, RunEnd::kStopped, RunHost::Refusal::kNone, false,
       UnitOutcome::kOtherDisplay},
      {Ending::kDisplaySilent, RunEnd::kStopped, RunHost::Refusal::kNone, false,
       UnitOutcome::kDisplaySilent},
      {Ending::kStopped, RunEnd::kPortLost, RunHost::Refusal::kNone, false, UnitOutcome::kPortLost},
      {Ending::kStopped, RunEnd::kNoProgramChosen, RunHost::Refusal::kUnknownProgram, false,
       UnitOutcome::kProgramNotOffered},
      {Ending::kStopped, RunEnd::kNoProgramChosen, RunHost::Refusal::kNone, false,
       UnitOutcome::kStopped},
      {Ending::kStopped, RunEnd::kListServerError, RunHost::Refusal::kNone, false,
       UnitOutcome::kServerError},
      {Ending::kStopped, RunEnd::kPackageServerError, RunHost::Refusal::kNone, false,
       UnitOutcome::kServerError},
      {Ending::kStopped, RunEnd::kListRefused, RunHost::Refusal::kNone, false,
       UnitOutcome::kListRefused},
      {Ending::kStopped, RunEnd::kPackageRefused, RunHost::Refusal::kNone, false,
       UnitOutcome::kPackageRefused},
      {Ending::kStopped, RunEnd::kPackageForOtherDisplay, RunHost::Refusal::kNone, false,
       UnitOutcome::kOtherDevice},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run::UnitWatch::Outcome(c.ending, c.end, c.refusal, c.stopped), c.outcome)
        << static_cast<int>(c.ending) << " " << static_cast<int>(c.end);
  }
}

}  // namespace
}  // namespace brintel::testing
