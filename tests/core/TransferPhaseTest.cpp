// The transfer of the 70 blocks, tick by tick: the whole program arriving
// intact, echoes split over ticks, every kind of refusal and time-out, Stop,
// and a display that disappears mid-transfer.

#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "engine/Messages.h"

namespace brintel::testing {
namespace {

class TransferPhase : public ::testing::Test {
 protected:
  EngineHarness h;
  ScriptedDisplay display{h.port, "COM3"};
  const std::string listKey = "Zk\x01\xFF";
  std::vector<std::uint8_t> program = SampleProgram();

  // Runs a whole search, list and package; the next tick begins the transfer.
  void ReachTransfer() {
    h.port.ports = {"COM3"};
    h.http.Serve(kListUrl, listKey + "_A");
    h.http.Serve(kListUrl + "&type=A", KeyedPackage(kDeviceId, listKey, "T", "139140", program));
    h.engine.OnStart();
    h.Tick(5);
    ASSERT_EQ(h.engine.phase(), PHASE_TRANSFER);
    display.blocks.clear();
    h.host.log.clear();
    h.host.messages.clear();
  }
  // Probe, reply and frame: leaves the block prepared at step 41.
  void Identify() {
    h.Tick(3);
    ASSERT_EQ(h.engine.link().step(), 41);
  }
};

TEST_F(TransferPhase, WholeProgramArrivesIntactWithProgressAndCompletion) {
  ReachTransfer();
  const int ticks = h.TickWhileRunning(10000);
  EXPECT_EQ(ticks, 70 * 6);  // probe, reply, frame, send, echo, acknowledgement

  EXPECT_EQ(ProgramFromBlocks(display.blocks), program);
  std::vector<std::string> progress;
  for (const std::string& line : h.host.log) {
    if (line.rfind("progress", 0) == 0) {
      progress.push_back(line);
    }
  }
  ASSERT_EQ(progress.size(), 70u);
  EXPECT_EQ(progress.front(), "progress 1");
  EXPECT_EQ(progress.back(), "progress 70");
  EXPECT_EQ(h.host.statusControl, "COM3 transferring... 100%" + kDeviceLabel);
  EXPECT_EQ(h.host.messages,
            (std::vector<std::string>{std::string("No error|") + messages::kCompleted}));
  EXPECT_EQ(h.host.log.back(), std::string("message No error|") + messages::kCompleted);
  EXPECT_TRUE(h.engine.completed());
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
  display.autoEcho = false;
  display.autoAck = false;
  Identify();
  h.Tick();  // send
  const std::vector<std::uint8_t>& sent = display.blocks.back();
  ASSERT_EQ(sent.size(), BLOCK_SIZE);
  for (std::size_t k = 0; k < 300; ++k) {
    h.port.input.push_back(static_cast<std::uint8_t>(~sent[k]));
  }
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 42);
  h.Tick();  // silent
  EXPECT_EQ(h.engine.link().step(), 43);
  for (std::size_t k = 300; k < BLOCK_SIZE; ++k) {
    h.port.input.push_back(static_cast<std::uint8_t>(~sent[k]));
  }
  h.port.input.push_back(BLOCK_ACCEPT);
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 142);
  EXPECT_EQ(h.port.input.size(), 1u) << "the acknowledgement waits for the next tick";
  h.Tick();
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
}

TEST_F(TransferPhase, RefusedBlocksAreSentAgainAfterANewProbe) {
  ReachTransfer();
  // Retry acknowledgement.
  display.ack = BLOCK_RETRY;
  Identify();
  h.Tick(3);  // send, echo, acknowledgement
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  display.ack = BLOCK_ACCEPT;
  Identify();
  h.Tick(3);
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
  ASSERT_EQ(display.blocks.size(), 2u);
  EXPECT_EQ(display.blocks[0], display.blocks[1]);

  // Wrong echo at the last position.
  display.autoEcho = false;
  Identify();
  h.Tick();  // send
  const std::vector<std::uint8_t> sent = display.blocks.back();
  h.port.input.clear();
  for (std::size_t k = 0; k < BLOCK_SIZE; ++k) {
    const auto echo = static_cast<std::uint8_t>(~sent[k]);
    h.port.input.push_back(k == BLOCK_SIZE - 1 ? static_cast<std::uint8_t>(echo ^ 1) : echo);
  }
  h.port.input.push_back(BLOCK_ACCEPT);
  h.Tick();
  EXPECT_EQ(h.engine.link().step(), 0);
  display.autoEcho = true;
  Identify();  // the probe drains the rest, acknowledgement included
  h.Tick(3);
  EXPECT_EQ(h.engine.link().blockIndex(), 2);
  EXPECT_EQ(display.blocks[display.blocks.size() - 2], display.blocks.back());
  EXPECT_EQ(h.host.progress, 2);
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_EQ(h.engine.link().counts(),
            (BlockCounts{.accepted = 2, .retryAcknowledgements = 1, .wrongEchoes = 1}));
  EXPECT_EQ(h.engine.link().counts().sentAgain(), 2);
}

TEST_F(TransferPhase, StrayBytesBeforeTheAcknowledgementAreDroppedOnePerTick) {
  ReachTransfer();
  display.autoAck = false;
  Identify();
  h.Tick(2);  // send, echo
  ASSERT_EQ(h.engine.link().step(), 142);
  h.port.Queue({0x00, 0x12, BLOCK_ACCEPT, BLOCK_ACCEPT});
  h.Tick(2);
  EXPECT_EQ(h.engine.link().step(), 142);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  h.Tick();
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
  h.Tick();  // the next probe drains the second 0xA6
  EXPECT_EQ(h.engine.link().step(), 1);
  h.Tick(2);
  EXPECT_EQ(h.engine.link().blockIndex(), 1);
}

TEST_F(TransferPhase, TimeOutsAreCountedInSilentTicks) {
  ReachTransfer();
  display.autoEcho = false;
  display.autoAck = false;
  Identify();
  h.Tick();  // send
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
  display.autoEcho = true;
  Identify();
  h.Tick(2);
  ASSERT_EQ(h.engine.link().step(), 142);
  h.Tick(113);
  EXPECT_EQ(h.engine.link().step(), 255);
  h.port.Queue({BLOCK_ACCEPT});
  h.Tick();
  EXPECT_EQ(h.engine.link().blockIndex(), 1) << "the last wait still takes the acknowledgement";

  // Silence behind a whole echo is the acknowledgement's, not the echo's.
  Identify();
  h.Tick(2 + 114);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_EQ(h.engine.link().counts(),
            (BlockCounts{.accepted = 1, .echoSilences = 1, .acknowledgementSilences = 1}));
}

TEST_F(TransferPhase, IdentificationFailuresBetweenBlocksStayOnThePort) {
  ReachTransfer();
  Identify();
  h.Tick(3);
  ASSERT_EQ(h.engine.link().blockIndex(), 1);
  const std::string status = h.host.statusControl;
  display.frame[4] = 0x4F;  // invalid frame
  h.Tick(3);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_TRUE(h.port.IsOpen());
  EXPECT_EQ(h.host.statusControl, status);
  display.answerProbes = false;
  h.Tick(21);
  EXPECT_EQ(h.engine.link().step(), 0);
  EXPECT_TRUE(h.port.IsOpen());
  EXPECT_EQ(h.port.scans, 1);
  display.answerProbes = true;
  display.frame = kFrameArrival;
  Identify();
  EXPECT_EQ(h.engine.link().counts(), (BlockCounts{.accepted = 1, .identificationFailures = 2}));
  EXPECT_EQ(h.engine.link().counts().sentAgain(), 0) << "no block went out twice";
}

TEST_F(TransferPhase, AnotherDisplaysIdentityKeysTheFirstEightPositions) {
  ReachTransfer();
  display.frame.back() = 0x8B;  // identity AB27262514131211
  Identify();
  EXPECT_EQ(h.engine.link().deviceId(), "AB27262514131211");
  h.Tick();
  const std::vector<std::uint8_t>& sent = display.blocks.back();
  const std::size_t lastPayloadByte = BLOCK_SIZE * BLOCK_COUNT - BLOCK_SIZE;  // block 0, position 0
  const auto expected = static_cast<std::uint8_t>(program[lastPayloadByte] + 0x10 - 0xAB);
  EXPECT_EQ(UnpermuteByte(sent[514]), expected);
}

TEST_F(TransferPhase, StopKeepsTheCountUntilTheNextTransferBegins) {
  ReachTransfer();
  for (int b = 0; b < 3; ++b) {
    Identify();
    h.Tick(3);
  }
  ASSERT_EQ(h.engine.link().blockIndex(), 3);
  h.engine.OnStop();
  EXPECT_FALSE(h.port.IsOpen());
  EXPECT_FALSE(h.host.timerRunning);
  EXPECT_EQ(h.engine.phase(), PHASE_TRANSFER);
  EXPECT_EQ(h.engine.link().blockIndex(), 3);
  EXPECT_EQ(h.host.progress, 3);

  display.blocks.clear();
  h.engine.OnStart();
  EXPECT_EQ(h.engine.phase(), PHASE_SEARCH);
  h.Tick(5);
  EXPECT_EQ(h.engine.link().blockIndex(), 0);
  h.TickWhileRunning(10000);
  EXPECT_TRUE(h.engine.completed());
  EXPECT_EQ(ProgramFromBlocks(std::vector<std::vector<std::uint8_t>>(display.blocks.begin() + 1,
                                                                     display.blocks.end())),
            program);
}

// The display loses its power with its port and counts from block 0 again:
// the run ends with the advice, and only a new run, from block 0, writes it.
TEST_F(TransferPhase, DisplayLostMidTransferEndsTheRunAndTheNextStartBeginsAtBlockZero) {
  for (const bool atTheProbe : {false, true}) {
    SCOPED_TRACE(atTheProbe ? "lost at the probe" : "lost as the block goes out");
    ReachTransfer();
    for (int b = 0; b < 2; ++b) {
      Identify();
      h.Tick(3);
    }
    if (!atTheProbe) {
      Identify();
    }
    h.port.writesFail = true;
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
    h.Tick(5);
    EXPECT_EQ(display.blocks.size(), atTheProbe ? 2u : 3u) << "nothing more goes out";

    h.port.writesFail = false;
    h.host.messages.clear();
    h.engine.OnStart();
    h.Tick(5);
    ASSERT_EQ(h.engine.phase(), PHASE_TRANSFER) << "a whole new run, from the search";
    display.blocks.clear();
    h.TickWhileRunning(10000);
    EXPECT_TRUE(h.engine.completed());
    EXPECT_EQ(display.blocks.size(), 70u);
    EXPECT_EQ(ProgramFromBlocks(display.blocks), program);
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
  EXPECT_EQ(ProgramFromBlocks(display.blocks), program);
}

}  // namespace
}  // namespace brintel::testing
