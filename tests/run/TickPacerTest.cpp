// The command line's pacing of ticks against the engine's time-outs, which
// count silent 5 ms ticks: bytes and ready work bring ticks forward, yet a
// time-out never ends sooner after the last byte than its count of ticks.

#include "run/TickPacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace brintel::run {
namespace {

using namespace std::chrono_literals;
using Clock = TickPacer::Clock;
using Cause = TickPacer::Cause;

const Clock::time_point kStart{};

// Drives the pacer as the run driver does, for a display whose bytes come at
// `arrivals` and then stop: the time of the `count`-th silent tick in a row,
// where the engine's echo or frame wait would give up.
Clock::time_point SilentTimeOut(const std::vector<Clock::duration>& arrivals, int count) {
  TickPacer pacer(kStart);
  std::size_t next = 0;
  int silent = 0;
  for (;;) {
    const bool byteFirst = next < arrivals.size() && kStart + arrivals[next] < pacer.regularAt();
    const Cause cause = byteFirst && pacer.inputMayWake() ? Cause::kInput : Cause::kRegular;
    const Clock::time_point at =
        cause == Cause::kInput ? kStart + arrivals[next] : pacer.regularAt();
    bool took = false;
    for (; next < arrivals.size() && kStart + arrivals[next] <= at; ++next) {
      took = true;
    }
    silent = took ? 0 : silent + 1;
    if (silent == count) {
      return at;
    }
    pacer.Ticked(at, cause, took);
  }
}

TEST(TickPacer, ASilentTimeOutLastsItsTicksAfterTheLastByteHoweverTheBytesCame) {
  const std::vector<std::vector<Clock::duration>> lines = {
      {4990us},                                // just before a tick of the 5 ms grid
      {1ms, 2ms, 3ms, 4999us},                 // a stream, its last byte at a grid edge
      {5ms, 10ms, 15ms},                       // on the grid
      {100us, 7300us, 7400us, 12ms, 14999us},  // all over it
  };
  for (const auto& arrivals : lines) {
    for (const int count : {19, 99, 113}) {
      EXPECT_GE(SilentTimeOut(arrivals, count) - (kStart + arrivals.back()), count * 5ms)
          << count << " silent ticks after a byte at " << arrivals.back().count() << " ns";
    }
  }
  EXPECT_EQ(SilentTimeOut({}, 20), kStart + 100ms) << "without bytes, ticks come every 5 ms";
}

TEST(TickPacer, EarlyTicksRestartTheFiveMillisecondsAndLateOnesCatchUp) {
  TickPacer pacer(kStart);
  EXPECT_EQ(pacer.regularAt(), kStart + 5ms);
  pacer.Ticked(kStart + 1ms, Cause::kReadyWork, false);
  EXPECT_EQ(pacer.regularAt(), kStart + 6ms);
  pacer.Ticked(kStart + 6ms, Cause::kRegular, false);
  EXPECT_EQ(pacer.regularAt(), kStart + 11ms);
  pacer.Ticked(kStart + 40ms, Cause::kRegular, false);  // a tick held up, by a request say
  EXPECT_EQ(pacer.regularAt(), kStart + 40ms);
}

// Bytes the engine does not read at its step stay queued: waking for them
// again and again would spin until the next regular tick.
TEST(TickPacer, InputThatBroughtATickButWasNotTakenWaitsForTheRegularTick) {
  TickPacer pacer(kStart);
  pacer.Ticked(kStart + 1ms, Cause::kInput, true);
  EXPECT_TRUE(pacer.inputMayWake());
  pacer.Ticked(kStart + 2ms, Cause::kInput, false);
  EXPECT_FALSE(pacer.inputMayWake());
  pacer.Ticked(pacer.regularAt(), Cause::kRegular, false);
  EXPECT_TRUE(pacer.inputMayWake());
}

}  // namespace
}  // namespace brintel::run
