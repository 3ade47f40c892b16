// The search for the display over the ports, tick by tick: probes, time-outs
// counted in ticks, frames split over ticks, bad replies, and the handover to
// the list phase.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "EngineHarness.h"
#include "device/SerialLink.h"
#include "engine/Messages.h"

namespace brintel::testing {
namespace {

class SearchPhase : public ::testing::Test {
 protected:
  EngineHarness h;
};

TEST_F(SearchPhase, WorkedRunOnTheFirstPort) {
  h.PlugIn("COM3");
  h.port.holding = true;
  h.Start({"COM3"});
  EXPECT_TRUE(h.host.timerRunning);
  EXPECT_EQ(h.host.statusControl, messages::kSearching);

  h.Tick();  // probe
  EXPECT_EQ(h.port.openPort, "COM3");
  EXPECT_EQ(h.port.WrittenTo("COM3"), std::vector<std::uint8_t>{PROBE_BYTE});
  EXPECT_EQ(h.pausedMs, 2);
  EXPECT_EQ(h.engine.link().step(), 1);

  h.Tick();  // nothing yet
  EXPECT_EQ(h.engine.link().step(), 2);
  h.port.Release();
  h.Tick();  // the reply; the frame waits for the next tick
  EXPECT_EQ(h.engine.link().step(), 21);
  EXPECT_EQ(h.port.input.size(), IDENTITY_FRAME_SIZE);

  h.port.Queue({0xEE, 0xEE});  // trailing bytes are drained
  h.Tick();
  EXPECT_EQ(h.host.statusControl, "COM3 found... " + kDeviceLabel);
  EXPECT_EQ(h.engine.phase(), PHASE_LIST);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_FALSE(h.engine.link().identified());
  EXPECT_EQ(h.engine.link().deviceId(), kDeviceId);
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_TRUE(h.host.timerRunning);
  EXPECT_TRUE(h.port.input.empty());
}

TEST_F(SearchPhase, SilentPortIsLeftAfterTwentyTicksAndTheThirdPortAnswers) {
  h.Start({"COM1", "COM2", "COM7"});
  h.PlugIn("COM7");
  h.Tick(20);
  EXPECT_EQ(h.port.openPort, "COM1");
  EXPECT_EQ(h.engine.link().step(), 20);
  h.Tick();  // time-out
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_EQ(h.engine.link().portIndex(), 1);

  h.Tick(21);
  EXPECT_EQ(h.port.opens, (std::vector<std::string>{"COM1", "COM2"}));
  h.Tick(3);  // probe, reply, frame
  EXPECT_EQ(h.engine.phase(), PHASE_LIST);
  EXPECT_EQ(h.host.statusControl, "COM7 found... " + kDeviceLabel);
  EXPECT_EQ(h.engine.link().portIndex(), 2);
}

TEST_F(SearchPhase, WrongReplyByteGivesUpAtOnce) {
  h.Start({"COM1", "COM2"});
  h.PlugIn("COM1", {"wrong-reply:1"});
  h.Tick(2);
  EXPECT_FALSE(h.port.IsOpen());
  h.Tick();
  EXPECT_EQ(h.port.openPort, "COM2");
}

TEST_F(SearchPhase, FrameMaySpreadOverTicksButNineteenSilentTicksEndIt) {
  h.Start({"COM1", "COM2"});
  h.port.Attach("COM2", h.PlugIn("COM1"));  // one display, answering on either port
  h.port.holding = true;
  h.Tick();
  h.port.Release(4);
  h.Tick(2);  // reply, then three frame bytes
  EXPECT_EQ(h.engine.link().step(), 21);
  h.Tick();  // silent
  h.port.Release(4);
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 22) << "a tick with bytes does not advance the step";
  h.Tick(18);  // silent up to step 40
  EXPECT_EQ(h.engine.link().step(), 40);
  EXPECT_EQ(h.port.openPort, "COM1");
  h.Tick();
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_EQ(h.engine.phase(), PHASE_SEARCH);

  // The same frame, completed before the time-out, is accepted.
  h.Tick();
  h.port.Release(4);
  h.Tick(2);
  h.Tick(17);
  h.port.Release();
  h.Tick();
  EXPECT_EQ(h.engine.phase(), PHASE_LIST);
}

TEST_F(SearchPhase, InvalidFrameShowsNoSerialThenSearchesOn) {
  h.Start({"COM3", "COM4"});
  h.PlugIn("COM3", {"invalid-frame:1"});
  h.Tick(3);
  EXPECT_EQ(h.host.statusControl, "COM3 found but no sn sent.");
  EXPECT_FALSE(h.port.IsOpen());
  h.Tick();
  EXPECT_EQ(h.host.statusControl, messages::kSearching);
  EXPECT_EQ(h.port.openPort, "COM4");
}

TEST_F(SearchPhase, NoPortsRescansEveryTickUntilStop) {
  h.Start({});
  h.Tick(5);
  EXPECT_EQ(h.port.scans, 6);  // Start, then every probe tick
  EXPECT_EQ(h.host.statusControl, messages::kSearching);
  EXPECT_EQ(h.engine.phase(), PHASE_SEARCH);

  h.port.ports = {"COM9"};  // plugged in meanwhile
  h.Tick(2);
  EXPECT_EQ(h.port.openPort, "COM9");
}

TEST_F(SearchPhase, UnopenablePortIsSkippedWithoutAProbe) {
  h.Start({"COM1", "COM2"});
  h.port.unopenable = {"COM1"};
  h.Tick();
  EXPECT_FALSE(h.port.IsOpen());
  h.Tick();
  EXPECT_EQ(h.port.openPort, "COM2");
  EXPECT_TRUE(h.port.WrittenTo("COM1").empty());
}

TEST_F(SearchPhase, NextStartProbesTheLastPortFirstWhileItIsStillListed) {
  h.Start({"COM1", "COM2", "COM3"});
  h.PlugIn("COM3");
  h.Tick(21 + 21 + 3);
  ASSERT_EQ(h.engine.phase(), PHASE_LIST);
  h.engine.OnStop();

  h.engine.OnStart();
  h.Tick();
  EXPECT_EQ(h.port.opens.back(), "COM3");

  h.engine.OnStop();
  h.port.ports = {"COM1"};  // the list shrank below the old index
  h.engine.OnStart();
  h.Tick();
  EXPECT_EQ(h.port.opens.back(), "COM1");
}

TEST_F(SearchPhase, StopClosesThePortAndStartAgainRescansWithThePortReleased) {
  h.Start({"COM1"});
  h.Tick();
  ASSERT_TRUE(h.port.IsOpen());

  h.port.ports = {"COM1", "COM2"};
  const int scansBefore = h.port.scans;
  h.engine.OnStart();  // pressed again while COM1 is held
  EXPECT_EQ(h.port.scans, scansBefore + 1);
  EXPECT_FALSE(h.port.openAtLastScan);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_EQ(h.engine.link().portCount(), 2);

  h.engine.OnStop();
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_FALSE(h.host.timerRunning);
  EXPECT_EQ(h.host.statusControl, "");
}

TEST_F(SearchPhase, StopBeforeAnyStartOnlyEmptiesTheStatus) {
  h.host.statusControl = "typed by the user";
  h.engine.OnStop();
  EXPECT_EQ(h.host.statusControl, "");
  EXPECT_EQ(h.port.scans, 0);
  EXPECT_EQ(h.host.log, (std::vector<std::string>{"timer stop"}));
}

TEST_F(SearchPhase, PortWhoseWritesKeepFailingIsGivenUpWithinAboutASecond) {
  h.Start({"COM1", "COM2"});
  h.port.writesFail = true;
  h.Tick();
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_EQ(h.engine.link().portIndex(), 1);
  EXPECT_GE(h.pausedMs, SEND_RETRY_LIMIT_MS);
  EXPECT_LE(h.pausedMs, SEND_RETRY_LIMIT_MS + 10);
  EXPECT_GT(h.port.clearErrors, 0);
  EXPECT_TRUE(h.host.messages.empty());
}

// A pause of 1 ms after each refusal, up to the limit. Windows' Sleep(1) lasts
// up to 15.6 ms: 1000 such pauses would hold the window 16 s, so the time
// passed bounds it too, whatever one pause takes.
TEST_F(SearchPhase, SendByteGivesUpAfterItsPausesOrAboutASecondWhicheverComesFirst) {
  h.port.ports = {"COM1"};
  ASSERT_TRUE(h.port.OpenPort("COM1"));
  h.port.writesFail = true;
  int pauses = 0;
  EXPECT_FALSE(SendByte(h.port, PROBE_BYTE, [&pauses](int ms) { pauses += ms; }));
  EXPECT_EQ(pauses, SEND_RETRY_LIMIT_MS);

  pauses = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendByte(h.port, PROBE_BYTE, [&pauses](int) {
    ++pauses;
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
  }));
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(SEND_RETRY_LIMIT_MS));
  EXPECT_LE(pauses, SEND_RETRY_LIMIT_MS / 16 + 1);
}

// A line that never runs dry (a babbling device) must not hold the tick.
TEST_F(SearchPhase, DrainInputStopsAt64KiBOnALineThatNeverRunsDry) {
  h.port.ports = {"COM1"};
  ASSERT_TRUE(h.port.OpenPort("COM1"));
  h.port.endless = 0x5A;
  EXPECT_EQ(DrainInput(h.port), 64u * 1024);
  h.port.endless.reset();
  h.port.Queue({1, 2, 3});
  EXPECT_EQ(DrainInput(h.port), 3u);
  EXPECT_EQ(DrainInput(h.port), 0u);
}

TEST_F(SearchPhase, WriteRefusedUntilTheErrorIsClearedStillGoesOut) {
  h.Start({"COM1"});
  h.port.failWrites = 3;
  h.Tick();
  EXPECT_EQ(h.port.WrittenTo("COM1"), std::vector<std::uint8_t>{PROBE_BYTE});
  EXPECT_EQ(h.engine.link().step(), 1);
  EXPECT_GE(h.port.clearErrors, 1);
}

}  // namespace
}  // namespace brintel::testing
