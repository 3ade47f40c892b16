// The transfer of the 70 blocks, tick by tick: the whole program arriving
// intact, echoes split over ticks, every kind of refusal and time-out, Stop,
// and a display that disappears mid-transfer.

#include <gtest/gtest.h>

#include <algorithm>

#include "EngineHarness.h"
#include "engine/Messages.h"

namespace brintel::testing {
namespace {

class TransferPhase : public ::testing::Test {
 protected:
  EngineHarness h;
  sim::DisplayProtocol& display = h.PlugIn("COM3");
  const std::string listKey = "Zk\x01\xFF";
  const std::vector<std::uint8_t>& program = TestProgram().data;

  // Runs a whole search, list and package; the next tick begins the transfer.
  void ReachTransfer(const std::vector<std::string>& ports = {"COM3"}) {
    h.http.Serve(kListUrl, listKey + "_A");
    h.http.Serve(kListUrl + "&type=A", Package(kDeviceId, listKey));
    h.Start(ports);
    h.Tick(5);
    ASSERT_EQ(h.engine.phase(), PHASE_TRANSFER);
    h.host.log.clear();
    h.host.messages.clear();
  }
  // Probe, reply and frame: leaves the block prepared to go out.
  void Identify() {
    h.Tick(3);
    ASSERT_EQ(h.engine.link().stage(), Stage::kSend);
  }
  // Identifies and sends the block; of the display's answer only the first
  // `passed` bytes reach the tool, the rest wait for Release.
  void IdentifyAndSend(std::size_t passed) {
    h.port.holding = false;
    h.port.held.clear();
    Identify();
    h.port.holding = true;
    h.Tick();
    h.port.Release(passed);
  }
};

TEST_F(TransferPhase, WholeProgramArrivesIntactWithProgressAndCompletion) {
  ReachTransfer();
  const int ticks = h.TickWhileRunning(10000);
  EXPECT_EQ(ticks, 70 * 6);  // probe, reply, frame, send, echo, acknowledgement

  EXPECT_EQ(display.Program(), program);
  EXPECT_EQ(display.AcceptedBlocks(), 70);
  const std::vector<std::string> progress = h.host.Logged("progress");
  ASSERT_EQ(progress.size(), 70u);
  EXPECT_EQ(progress.front(), "progress 1");
  EXPECT_EQ(progress.back(), "progress 70");
  EXPECT_EQ(h.host.statusControl, "COM3 transferring... 100%" + kDeviceLabel);
  EXPECT_EQ(h.host.messages,
            (std::vector<std::string>{std::string("No error|") + messages::kCompleted}));
  EXPECT_EQ(h.host.log.back(), std::string("message No error|") + messages::kCompleted);
  EXPECT_EQ(h.engine.endReason(), RunEnd::kCompleted);
  EXPECT_FALSE(h.host.timerRunning);
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_EQ(h.engine.phase(), PHASE_TRANSFER);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  EXPECT_TRUE(h.engine.link().identified());
}

TEST_F(TransferPhase, FirstIdentificationShowsFoundAndFirstAcceptanceShowsOnePercent) {
  ReachTransfer();
  h.Tick();
  EXPECT_EQ(h.host.statusControl, messages::kSearching);
  h.Tick(2);
  EXPECT_EQ(h.host.statusControl, "COM3 found... " + kDeviceLabel);
  h.Tick(3);
  EXPECT_EQ(h.host.statusControl, "COM3 transferring... 1%" + kDeviceLabel);
  EXPECT_EQ(h.host.progress, 1);
  h.Tick(6);
  EXPECT_EQ(h.host.statusControl, "COM3 transferring... 2%" + kDeviceLabel);
}

TEST_F(TransferPhase, EchoSplitOverTicksIsAcceptedAndSilentTicksAdvanceTheStep) {
  ReachTransfer();
  IdentifyAndSend(300);
  ASSERT_EQ(h.port.held.size(), BLOCK_SIZE - 300 + 1);
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 42);
  h.Tick();  // silent
  EXPECT_EQ(h.engine.link().step(), 43);
  h.port.Release();  // the other 215 and the acknowledgement
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 142);
  EXPECT_EQ(h.port.input.size(), 1u) << "the acknowledgement waits for the next tick";
  h.Tick();
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
}

TEST_F(TransferPhase, RefusedBlocksAreSentAgainAfterANewProbe) {
  ReachTransfer();
  sim::DisplayProtocol& refusing =
      h.PlugIn("COM3", {"retry-block:0", "wrong-echo:1:514", "wrong-echo:2:0"});
  // Retry acknowledgement.
  Identify();
  h.Tick(3);  // send, echo, acknowledgement
  EXPECT_EQ(h.engine.link().stage(), Stage::kIdentify);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  Identify();
  h.Tick(3);
  EXPECT_EQ(h.engine.link().blockIndex(), 1);

  // Wrong echo at the last position.
  Identify();
  h.Tick(2);  // send, echo
  EXPECT_EQ(h.engine.link().stage(), Stage::kIdentify);
  Identify();  // the probe drains the rest, the display's retry included
  h.Tick(3);
  EXPECT_EQ(h.engine.link().blockIndex(), 2);

  // Wrong echo at the first position: 514 echo bytes and the retry are queued.
  Identify();
  h.Tick(2);
  Identify();  // drained whole, so the reply to the probe is the display's
  h.Tick(3);
  EXPECT_EQ(h.engine.link().blockIndex(), 3);
  EXPECT_TRUE(std::equal(program.end() - 3 * BLOCK_SIZE, program.end(),
                         refusing.Program().end() - 3 * BLOCK_SIZE))
      << "every block taken whole when sent again";
  EXPECT_EQ(refusing.Counters().blocksReceived, 6u);
  EXPECT_EQ(refusing.Counters().retriesSent, 3u);
  EXPECT_EQ(h.host.progress, 3);
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_EQ(h.engine.link().counts(),
            (BlockCounts{.accepted = 3, .retryAcknowledgements = 1, .wrongEchoes = 2}));
  EXPECT_EQ(h.engine.link().counts().sentAgain(), 3);
}

TEST_F(TransferPhase, StrayBytesBeforeTheAcknowledgementAreDroppedOnePerTick) {
  ReachTransfer();
  h.PlugIn("COM3", {"stray-before-ack:0:2"});  // 0x00 0x12 before its 0xA6
  Identify();
  h.Tick(2);  // send, echo
  ASSERT_EQ(h.engine.link().step(), 142);
  h.port.Queue({BLOCK_ACCEPT});
  h.Tick(2);
  EXPECT_EQ(h.engine.link().step(), 142);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  h.Tick();
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
  h.Tick();  // the next probe drains the second 0xA6
  EXPECT_EQ(h.engine.link().step(), 1);
  h.Tick(2);
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
  EXPECT_EQ(h.engine.link().stage(), Stage::kSend);
}

TEST_F(TransferPhase, TimeOutsAreCountedInSilentTicks) {
  ReachTransfer();
  IdentifyAndSend(0);
  h.Tick(98);
  EXPECT_EQ(h.engine.link().step(), 140);
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 141) << "an echo time-out leads into the acknowledgement wait";
  h.port.Queue({0x12});  // a late echo byte is dropped there, not compared
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 141);
  h.Tick(114);
  EXPECT_EQ(h.engine.link().step(), 255);
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_EQ(h.engine.link().counts(), (BlockCounts{.echoSilences = 1}));

  // After a complete echo: 113 silent ticks reach 255, the 114th goes back to 0.
  IdentifyAndSend(BLOCK_SIZE);
  h.Tick();
  ASSERT_EQ(h.engine.link().step(), 142);
  h.Tick(113);
  EXPECT_EQ(h.engine.link().step(), 255);
  h.port.Release();  // the display's acknowledgement, late
  h.Tick();
  EXPECT_EQ(h.engine.link().blockIndex(), 1) << "the last wait still takes the acknowledgement";

  // Silence behind a whole echo is the acknowledgement's, not the echo's.
  IdentifyAndSend(BLOCK_SIZE);
  h.Tick(1 + 114);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_EQ(h.engine.link().counts(),
            (BlockCounts{.accepted = 1, .echoSilences = 1, .acknowledgementSilences = 1}));
}

// Only the search phase tells of a frame that fails its check.
TEST_F(TransferPhase, InvalidFrameBeforeTheDisplayIsFoundAgainLeavesTheStatusAlone) {
  ReachTransfer();
  h.PlugIn("COM3", {"invalid-frame:1"});
  h.Tick(3);
  EXPECT_EQ(h.host.statusControl, messages::kSearching);
  EXPECT_FALSE(h.engine.link().identified());
}

TEST_F(TransferPhase, IdentificationFailuresBetweenBlocksStayOnThePort) {
  ReachTransfer();
  Identify();
  h.Tick(3);
  ASSERT_EQ(h.engine.link().blockIndex(), 1);
  const std::string status = h.host.statusControl;
  h.PlugIn("COM3", {"invalid-frame:1"});
  h.Tick(3);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_TRUE(h.port.IsOpen());
  EXPECT_EQ(h.host.statusControl, status);
  h.PlugIn("COM3", {"ignore-probe:1"});
  h.Tick(21);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_TRUE(h.port.IsOpen());
  EXPECT_EQ(h.port.scans, 1);
  Identify();
  EXPECT_EQ(h.engine.link().counts(), (BlockCounts{.accepted = 1, .identificationFailures = 2}));
  EXPECT_EQ(h.engine.link().counts().sentAgain(), 0) << "no block went out twice";
}

// The package is keyed to one display: any other that answers in the transfer
// is given up like a bad frame, and the search goes on for the right one.
TEST_F(TransferPhase, AnotherDisplayBeforeIdentificationGetsNothingAndTheSearchGoesOn) {
  ReachTransfer({"COM3", "COM4"});
  const sim::DisplayProtocol& other = h.PlugIn("COM3", {}, "10272625141312AA");
  const sim::DisplayProtocol& right = h.PlugIn("COM4");
  h.port.written.clear();
  h.Tick(3);
  EXPECT_FALSE(h.port.IsOpen()) << "the other display's port is left";
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_EQ(h.engine.link().portIndex(), 1);
  EXPECT_EQ(h.engine.link().otherDeviceId(), "10272625141312AA");
  EXPECT_EQ(h.host.statusControl, messages::kSearching);
  EXPECT_EQ(h.engine.link().deviceId(), kDeviceId) << "the refused identity replaces nothing";

  h.TickWhileRunning(10000);
  EXPECT_TRUE(h.engine.completed());
  EXPECT_EQ(right.Program(), program);
  EXPECT_EQ(other.Counters().blocksReceived, 0u);
  EXPECT_EQ(h.port.WrittenTo("COM3"), std::vector<std::uint8_t>(1, PROBE_BYTE));
  EXPECT_EQ(h.engine.link().counts(), (BlockCounts{.accepted = 70, .otherDisplays = 1}));
}

// Swapped behind an adapter that stayed: the port keeps getting probes only,
// as for a silent display, until the right display answers again.
TEST_F(TransferPhase, AnotherDisplayBehindTheIdentifiedPortGetsOnlyProbes) {
  ReachTransfer();
  for (int b = 0; b < 2; ++b) {
    Identify();
    h.Tick(3);
  }
  const std::string status = h.host.statusControl;
  const sim::DisplayProtocol& other = h.PlugIn("COM3", {}, "10272625141312AA");
  h.port.written.clear();
  h.Tick(3);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_FALSE(h.engine.HasReadyWork()) << "the next probe waits for its tick";
  h.Tick(300);
  EXPECT_TRUE(h.port.IsOpen());
  EXPECT_TRUE(h.host.timerRunning);
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_EQ(h.host.statusControl, status);
  const std::vector<std::uint8_t>& sent = h.port.WrittenTo("COM3");
  EXPECT_GT(sent.size(), 20u);
  EXPECT_TRUE(
      std::all_of(sent.begin(), sent.end(), [](std::uint8_t b) { return b == PROBE_BYTE; }));
  EXPECT_EQ(other.Counters().blocksReceived, 0u);
  EXPECT_EQ(h.engine.link().blockIndex(), 2);
  EXPECT_GT(h.engine.link().counts().otherDisplays, 10);

  h.PlugIn("COM3");
  Identify();
  EXPECT_EQ(h.engine.link().deviceId(), kDeviceId);
  EXPECT_TRUE(h.engine.HasReadyWork());
  h.Tick(3);
  EXPECT_EQ(h.engine.link().blockIndex(), 3);
  EXPECT_TRUE(h.engine.HasReadyWork()) << "after an accepted block the probe goes at once";
}

TEST_F(TransferPhase, StopKeepsTheCountUntilTheNextTransferBegins) {
  ReachTransfer();
  for (int b = 0; b < 3; ++b) {
    Identify();
    h.Tick(3);
  }
  ASSERT_EQ(h.engine.link().blockIndex(), 3);
  h.engine.OnStop();
  EXPECT_EQ(h.engine.endReason(), RunEnd::kStopped);
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_FALSE(h.host.timerRunning);
  EXPECT_EQ(h.engine.phase(), PHASE_TRANSFER);
  EXPECT_EQ(h.engine.link().blockIndex(), 3);
  EXPECT_EQ(h.host.progress, 3);

  h.port.Unplug();  // the display counts on from 3 until it loses its power
  h.port.Replug();
  h.engine.OnStart();
  EXPECT_EQ(h.engine.phase(), PHASE_SEARCH);
  h.Tick(5);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  h.TickWhileRunning(10000);
  EXPECT_TRUE(h.engine.completed());
  EXPECT_EQ(display.Program(), program);
}

// The display loses its power with its port and counts from block 0 again:
// the run ends with the advice, and only a new run, from block 0, writes it.
TEST_F(TransferPhase, DisplayLostMidTransferEndsTheRunAndTheNextStartBeginsAtBlockZero) {
  for (const bool atTheProbe : {false, true}) {
    SCOPED_TRACE(atTheProbe ? "lost at the probe" : "lost as the block goes out");
    ReachTransfer({"COM3", "COM4"});
    const std::uint64_t frames = display.Counters().framesSent;
    for (int b = 0; b < 2; ++b) {
      Identify();
      h.Tick(3);
    }
    if (!atTheProbe) {
      Identify();
    }
    h.port.Unplug();
    h.pausedMs = 0;
    h.host.log.clear();
    h.Tick();
    EXPECT_LE(h.pausedMs, 2 + SEND_RETRY_LIMIT_MS + 10) << "the tick gave up within about a second";
    EXPECT_EQ(h.host.messages,
              (std::vector<std::string>{std::string("Error|") + messages::kStopMidwayHint}));
    ASSERT_GE(h.host.log.size(), 2u);
    EXPECT_EQ(h.host.log[0], "timer stop") << "no message box with the timer running";
    EXPECT_FALSE(h.port.IsOpen());
    EXPECT_FALSE(h.host.timerRunning);
    EXPECT_EQ(h.engine.phase(), PHASE_SEARCH);
    EXPECT_EQ(h.host.statusControl, "");
    EXPECT_EQ(h.host.progress, 2) << "the bar keeps its place until the next acceptance";
    EXPECT_EQ(h.engine.link().counts(), (BlockCounts{.accepted = 2, .portsLost = 1}));
    EXPECT_EQ(h.engine.endReason(), RunEnd::kPortLost);
    EXPECT_EQ(h.TickWhileRunning(5), 0);
    EXPECT_EQ(display.Counters().framesSent - frames, atTheProbe ? 2u : 3u)
        << "nothing more goes out";
    EXPECT_EQ(h.port.opens.back(), "COM3") << "no other port is tried after the loss";

    h.port.Replug();
    h.host.messages.clear();
    const std::size_t opens = h.port.opens.size();
    h.engine.OnStart();
    h.Tick(5);
    ASSERT_GT(h.port.opens.size(), opens);
    EXPECT_EQ(h.port.opens[opens], "COM3") << "the next Start probes where the display was";
    ASSERT_EQ(h.engine.phase(), PHASE_TRANSFER) << "a whole new run, from the search";
    const std::uint64_t framesOfNewRun = display.Counters().framesSent;
    h.TickWhileRunning(10000);
    EXPECT_TRUE(h.engine.completed());
    EXPECT_EQ(display.Counters().framesSent - framesOfNewRun, 70u);
    EXPECT_EQ(display.Program(), program);
    EXPECT_EQ(h.engine.link().counts(), (BlockCounts{.accepted = 70})) << "counted per run";
  }
}

// Before the display is identified in the transfer nothing has been written:
// a port lost then is searched past as in the search phase.
TEST_F(TransferPhase, PortLostBeforeTheDisplayIsFoundAgainIsSearchedPast) {
  ReachTransfer();
  h.port.failWrites = 1000000;
  h.Tick();
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_TRUE(h.host.timerRunning);
  EXPECT_EQ(h.engine.link().portIndex(), 1);
  h.port.failWrites = 0;
  h.TickWhileRunning(10000);
  EXPECT_TRUE(h.engine.completed());
  EXPECT_EQ(display.Program(), program);
}

}  // namespace
}  // namespace brintel::testing
